// Demo playback and recording costs with 40 riders:
//  - BM_SeekBackward / BM_SeekForward: one rewind or skip of 1 s in a replay of a
//    40-rider demo (the skip rides 128 race steps on; the rewind walks the blocks back and
//    reads them again);
//  - BM_RaceStep/0 and /1: one race step of 40 simulated riders without and with the
//    demo being recorded; BM_RecordStep: the recording's own share of a step, which is
//    what recording adds to a headless race (the race steps alone are too noisy to show it).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "files/stream.h"
#include "files/vfs.h"
#include "race/demo.h"
#include "race/history.h"
#include "race/session.h"
#include "sim/bike.h"
#include "sim/state_record.h"
#include "sim/world.h"
#include "track/terrain.h"

namespace {

constexpr int kRiders = 40;
constexpr int kDemoSeconds = 30;

std::string g_home;

// A private home folder, so that recording writes nowhere that matters; removed at exit.
void private_home() {
    if (!g_home.empty()) return;
    char tmpl[] = "/tmp/vqbenchXXXXXX";
    if (!mkdtemp(tmpl)) return;
    g_home = tmpl;
    setenv("XDG_DATA_HOME", g_home.c_str(), 1);
    vfs_reset_for_tests();
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(g_home, ec);
    });
}

void world_up() {
    private_home();
    terrain_init_flat(terrain(), 8, 2.0f, 10.0f); // 512 ft square
    physics_world_create();
    session() = RaceSession{};
    SessionHooks h;
    demo_fill_session_hooks(h);
    session_hooks_install(h);
}

void world_down() {
    demo_close();
    session_free_riders();
    session_hooks_install(SessionHooks{});
    physics_world_destroy();
    terrain_clear(terrain());
}

std::string le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[std::size_t(i)] = char((v >> (8 * i)) & 0xff);
    return s;
}

// A 40-rider demo as the recorder writes it: a state per rider every 4 steps, a block
// every 16 steps; the riders ride circles. The records come from a real bike's pose.
std::string forty_rider_demo() {
    Bike *b = bike_create("crf450(2013)", 0, "1", "", "", "", "");
    std::string bytes = "VQ06 40 0 3 1792\ntracks/bench\n";
    for (int i = 0; i < kRiders; ++i)
        bytes += "crf450(2013)||||\n" + std::to_string(i + 1) + "\nrider\n\n";
    std::uint32_t previous = 0;
    for (int t = 0; t <= kDemoSeconds * 128; t += 16) {
        std::string payload;
        for (int i = 0; i < kRiders; ++i) {
            for (int e = t - 12; e <= t; e += 4) {
                if (e < 0) continue;
                double a = e / 128.0 * 0.3 + i;
                bike_state_reset(b);
                bike_rotate(b, {0, 1, 0}, a);
                bike_translate(b, 256 + 100 * std::cos(a), 12, 256 + 100 * std::sin(a));
                BikeStateRecord r = bike_state_encode(b);
                payload += char(i);
                payload += le32(std::uint32_t(e));
                payload.append(reinterpret_cast<const char *>(r.bytes), kStateRecordSize);
            }
        }
        bytes += le32(previous ^ std::uint32_t(payload.size())) + le32(std::uint32_t(t)) + '\1' +
                 payload;
        previous = std::uint32_t(payload.size());
    }
    bike_destroy(b);
    return bytes;
}

// The demo played with its 40 riders in slots 0 .. 39, at clock 10 s.
void playback_up() {
    world_up();
    static const std::string bytes = forty_rider_demo();
    demo_open_stream(stream_open_memory(bytes.data(), bytes.size(), false), "bench.vqdemo", false);
    for (int m = 0; m < kRiders; ++m) {
        DemoRider r;
        demo_take_next_rider(m, r);
        RiderIdentity who;
        who.bike = r.bike;
        who.number = r.number;
        session_create_rider(m, who, kRiderRecorded);
    }
    session().playback = true;
    demo_read_step();
    demo_reposition(10 * 128);
}

void BM_SeekBackward(benchmark::State &state) {
    playback_up();
    for (auto _ : state) {
        state.PauseTiming();
        demo_reposition(20 * 128);
        state.ResumeTiming();
        if (!demo_seek(-1.0)) state.SkipWithError("seek refused");
    }
    world_down();
}
BENCHMARK(BM_SeekBackward)->Unit(benchmark::kMillisecond);

void BM_SeekForward(benchmark::State &state) {
    playback_up();
    for (auto _ : state) {
        state.PauseTiming();
        demo_reposition(10 * 128);
        state.ResumeTiming();
        if (!demo_seek(1.0)) state.SkipWithError("seek refused");
    }
    world_down();
}
BENCHMARK(BM_SeekForward)->Unit(benchmark::kMillisecond);

// 40 simulated riders standing on their start positions.
void race_up() {
    world_up();
    for (int m = 0; m < kRiders; ++m) {
        RiderIdentity who;
        who.bike = "crf450(2013)";
        who.number = std::to_string(m + 1);
        session_create_rider(m, who, kRiderRobot);
        place_bike(session_slot(m).bike, 40 + 40 * (m % 10), 40 + 40 * (m / 10), 0.3 * m);
    }
}

void BM_RaceStep(benchmark::State &state) {
    const bool record = state.range(0) != 0;
    race_up();
    if (record && !demo_record_start()) state.SkipWithError("no recording");
    for (auto _ : state) session_step();
    demo_close();
    world_down();
}
BENCHMARK(BM_RaceStep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond)->MinTime(3.0);

// The recording's own work per race step (averaged over the 4- and 16-step cycles):
// compare with BM_RaceStep/0.
void BM_RecordStep(benchmark::State &state) {
    race_up();
    if (!demo_record_start()) state.SkipWithError("no recording");
    for (auto _ : state) {
        session().clock++;
        demo_record_step(false);
    }
    demo_close();
    world_down();
}
BENCHMARK(BM_RecordStep)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
