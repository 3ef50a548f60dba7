// One race step on the generated track "rabbithill" with 1, 10 and 40 robots ridden by
// the pursuit driver, measured 20 s after the gate drop (the field strung out on the
// first lap). Reports the simulation speed as a multiple of real time ("x_real_time").
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <unistd.h>

#include "files/settings.h"
#include "race/session.h"
#include "robot/pursuit.h"
#include "sim/world.h"
#include "track/track.h"

namespace {

void lines_load(int skill) {
    pursuit_lines_load(skill);
}

// A private home folder, so that nothing the session writes reaches the user's.
void private_home() {
    static std::string home;
    if (!home.empty()) return;
    char tmpl[] = "/tmp/vqbenchXXXXXX";
    if (mkdtemp(tmpl)) home = tmpl;
    setenv("XDG_DATA_HOME", home.c_str(), 1);
}

bool start_race(int robots) {
    int lineup[kSlotCount];
    lineup_robots(lineup, robots);
    return session_start(lineup, false, false, 0, 1, 0);
}

void BM_RaceStep(benchmark::State &state) {
    const int robots = int(state.range(0));
    private_home();
    settings_reset();
    track_list_build();
    const TrackList &tl = track_list();
    if (track_list_find("rabbithill") < 0) {
        state.SkipWithError("the generated track rabbithill is not installed beside the benchmark");
        return;
    }
    settings_set_track_list(tl.dirs, tl.long_names, "rabbithill");
    physics_world_create();
    SessionHooks hooks;
    hooks.lines_load = lines_load;
    hooks.lines_clear = pursuit_lines_clear;
    hooks.robot_create = pursuit_robot_create;
    hooks.robot_step = pursuit_robot_step;
    session_hooks_install(hooks);
    auto warm_up = [&] {
        start_race(robots);
        while (session().clock < session().gate_drop + 20 * 128) session_step();
    };
    warm_up();
    for (auto _ : state) {
        session_step();
        if (session().results_final) {
            state.PauseTiming();
            warm_up();
            state.ResumeTiming();
        }
    }
    state.counters["x_real_time"] =
        benchmark::Counter(double(state.iterations()) / 128.0, benchmark::Counter::kIsRate);
    session_free_riders();
    session_hooks_install(SessionHooks{});
    track_free();
    physics_world_destroy();
}

} // namespace

BENCHMARK(BM_RaceStep)->Arg(1)->Arg(10)->Arg(40)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
