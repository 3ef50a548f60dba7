#include "core/startup.h"

#include "core/cmdline.h"
#include "core/datacheck.h"
#include "core/mainloop.h"
#include "files/config.h"
#include "files/settings.h"
#include "files/setup.h"
#include "files/vfs.h"
#include "platform/clock.h"
#include "platform/dialog.h"
#include "platform/log.h"
#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/system.h"
#include "race/demo.h"
#include "race/session.h"
#include "race/standings.h"
#include "race/timing.h"
#include "robot/pursuit.h"
#include "sim/bike.h"
#include "sim/catalogue.h"
#include "sim/rider_input.h"
#include "sim/roost.h"
#include "sim/setup.h"
#include "sim/world.h"
#include "track/track.h"
#include "ui/menu.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct App {
    CommandLine cl;
    std::string home;
    bool window_open = false;
    bool audio_open = false;
    int exit_code = 0;
    std::string config_track; // the configured track, kept when --track chose another
    std::string cli_track;    // the track named by --track
    bool headless_race = false;
    bool headless_playback = false; // headless_race is the playback of a demo
    int progress_lap = 0;           // leader laps last reported
    double loop_start = 0;          // wall-clock start of the main loop
};
App g_app;

double clock_now(void *) {
    return clock_seconds();
}
void clock_wait(void *, double seconds) {
    clock_sleep(seconds);
}

// ---- The race as the main loop sees it ----

bool hook_track_loaded() {
    return track_state().loaded;
}
bool hook_viewed_riding() {
    return session_slot_riding(session().camera_slot);
}
bool hook_viewed_has_bike() {
    return session_slot(session().camera_slot).bike != nullptr;
}
std::int64_t hook_local_step() {
    return session().clock;
}
std::int64_t hook_race_start_step() {
    return session().gate_drop;
}
bool hook_time_trial() {
    return session().practice;
}
bool hook_time_trial_abort_enabled() {
    return settings().time_trial_abort.index == 1;
}
void hook_warp_restart() {
    const Settings &st = settings();
    lineup_rotate(race_lineup(), 1);
    session_start(race_lineup(), false, st.record.index == 1, int(st.minutes.value) * 60 * 128,
                  int(st.laps.value), st.skill.index);
}
void hook_controls(const ControlVector &cv) {
    const RiderSlot &rs = session_slot(session().camera_slot);
    if (!rs.bike || rs.kind != kRiderLocal) return;
    RiderControls rc;
    rc.steer = float(cv.steer);
    rc.throttle = float(cv.throttle);
    rc.front_brake = float(cv.brake_front);
    rc.rear_brake = float(cv.brake_rear);
    rc.shift = float(cv.shift);
    rc.clutch = float(cv.clutch);
    rc.dab = float(cv.dab);
    rc.back_up = float(cv.back_up);
    rc.lean = float(cv.lean);
    rider_controls_apply(rs.bike, rc);
}
// The previous or next rider of the running order becomes the viewed one.
void view_step(int direction) {
    const std::vector<StandingRecord> &order = standings().live;
    if (order.empty()) return;
    int at = 0;
    for (std::size_t i = 0; i < order.size(); ++i)
        if (order[i].slot == session().camera_slot) at = int(i);
    at = std::clamp(at + direction, 0, int(order.size()) - 1);
    session().camera_slot = order[std::size_t(at)].slot;
    if (session_hooks().camera_follow) session_hooks().camera_follow(session().camera_slot);
}
void hook_view_previous() {
    view_step(-1);
}
void hook_view_next() {
    view_step(+1);
}
// The rewind and skip keys (only during pure playback).
void hook_playback_seek(double seconds) {
    demo_seek(seconds);
}

// The pursuit driver rides robot and autopilot slots until the robot riders exist.
void pursuit_lines_load_hook(int skill) {
    pursuit_lines_load(skill);
}
void robot_hooks_join() {
    SessionHooks h = session_hooks();
    h.lines_load = pursuit_lines_load_hook;
    h.lines_clear = pursuit_lines_clear;
    h.robot_create = pursuit_robot_create;
    h.robot_step = pursuit_robot_step;
    session_hooks_install(h);
}

// Headless races report about one line per leader lap on stderr.
void headless_progress() {
    int leader = standings_leader();
    if (leader < 0) return;
    const Bike *b = session_slot(leader).bike;
    int laps = lap_of(gates(), b->gates).lap;
    if (laps <= g_app.progress_lap) return;
    g_app.progress_lap = laps;
    const RaceSession &rs = session();
    double simulated = double(loop_state().steps_run) * kStep;
    double wall = std::max(clock_seconds() - g_app.loop_start, 1e-6);
    char total[32] = "";
    if (rs.total_laps < kOpenLaps) std::snprintf(total, sizeof total, "/%d", rs.total_laps);
    std::fprintf(stderr, "lap %d%s  race time %.1f s  leader %s (%s)  %.1fx real time\n", laps,
                 total, (rs.clock - rs.gate_drop) / 128.0, b->number_text,
                 b->model.name ? b->model.name : "", simulated / wall);
}

void hook_race_step() {
    session_step();
    if (!g_app.headless_race) return;
    headless_progress();
    if (session().results_final) menu_state().quit_requested = true;
    // A replay ends with its recording, once the standings had time to become final.
    if (g_app.headless_playback && demo_playback_done(kDemoEndMargin))
        menu_state().quit_requested = true;
}

// The race the menu's "New Race" starts, with the command line's overrides for this run.
bool headless_race_start() {
    const CommandLine &cl = g_app.cl;
    const Settings &st = settings();
    int *lineup = race_lineup();
    if (cl.robots)
        lineup_robots(lineup, *cl.robots);
    else
        lineup_from_settings(lineup);
    bool record = cl.record || st.record.index == 1;
    int minutes = cl.minutes ? *cl.minutes : int(st.minutes.value);
    int laps = cl.laps ? *cl.laps : int(st.laps.value);
    int skill = cl.skill ? *cl.skill : st.skill.index;
    session_options().autopilot_humans = true;
    off_course_settings().scale = 1.5;
    g_app.headless_race = true;
    if (!session_hooks().robot_step)
        std::fputs("vantorq: no autopilot in this build: robot and autopilot riders stand still\n",
                   stderr);
    return session_start(lineup, false, record, minutes * 60 * 128, laps, skill);
}

// The end of a headless race: the results as written to "@results.txt", then the summary.
void headless_report(double wall) {
    const LoopState &ls = loop_state();
    double simulated = double(ls.steps_run) * kStep;
    wall = std::max(wall, 1e-6);
    if (session().results_final && !standings().results.empty())
        std::fputs(standings().results.c_str(), stdout);
    else if (session().results_final)
        std::fputs("vantorq: the race ended without a finisher; no results\n", stderr);
    else
        std::fprintf(stderr,
                     "vantorq: the race was not over after %.1f simulated seconds; no results\n",
                     simulated);
    std::printf("simulated %.1f s in %.2f s (%.1fx real time), %d riders, %d steps\n", simulated,
                wall, simulated / wall, session_rider_count(), int(ls.steps_run));
    std::fflush(stdout);
}

void fatal_cleanup() {
    // Closing audio and the window belongs here once those layers exist.
}

// The first start-up steps need to know about --headless and --help before the
// command line proper is parsed (step 9): a headless run never shows a dialog, and
// help and version work without game data.
bool early_flag(int argc, char **argv, const char *name) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--") == 0) return false;
        if (std::strcmp(argv[i], name) == 0) return true;
    }
    return false;
}

int startup(int argc, char **argv, const DataDigests &digests) {
    ProcessFlags &pf = process_flags();
    // 1. start-up settings and the message ring
    g_app.cl = CommandLine{};
    messages_clear();
    set_fatal_cleanup(fatal_cleanup);
    if (early_flag(argc, argv, "--help") || early_flag(argc, argv, "--version")) {
        std::string err, out;
        int rc = parse_command_line(argc, argv, g_app.cl, err, out);
        std::fputs(err.c_str(), stderr);
        std::fputs(out.c_str(), stdout);
        return rc < 0 ? 0 : rc;
    }
    dialog_set_headless(early_flag(argc, argv, "--headless"));

    // 2. standard output carries raw video frames with --record-video; on this
    //    system streams are always binary.

    // 3. home folder, log, data check
    g_app.home = home_folder();
    if (!g_app.home.empty()) {
        make_folders(g_app.home);
        log_printf("ZELK_LOGFILE=%slastlog.txt", g_app.home.c_str());
    } else {
        log_printf("ZELK_LOGFILE=");
    }
    int data_root = data_check(digests.game_data);
    if (data_root < 0) {
        show_error_box("Problem starting Vantorq", "Can't find game data\n");
        return 0;
    }
    if (pf.debug_level > 0 || early_flag(argc, argv, "--debug"))
        log_printf("Game data found in %s\n", vfs_root(data_root));

    // 4. physics-file digest (stock physics flag); the video-mode list from the display
    //    modes (none without a display: just "Default Fullscreen" and "Windowed").
    pf.stock_physics = physics_files_digest() == digests.physics_files;
    video_modes_build(nullptr, 0);

    // 5. processor features
    pf.mmx = cpu_has_mmx();
    if (!pf.mmx) log_printf("This CPU does not have MMX!\n");

    // 6. assists from the default Stability (the graphics preset and the skin lists are
    //    wired in by the render layer)
    assist_from_stability(settings().setup.stability.value);
    settings_set_bike_models(bike_model_names(), kBikeModelCount);
    bike_setup_connect();

    // 7. the configuration file overrides the defaults
    config_read();
    g_app.config_track = settings_track_id();
    {
        Settings &st = settings();
        pf.draw_fps = st.draw_fps;
        pf.draw_time = st.draw_time;
        pf.draw_ping = st.draw_ping;
        messages_state().max_shown = std::max(0, std::min(st.message_lines, kMessageRingSize));
    }

    // 8. derived render settings: wired in by the render layer.

    // 9. command line
    {
        std::string err, out;
        int rc = parse_command_line(argc, argv, g_app.cl, err, out);
        std::fputs(err.c_str(), stderr);
        std::fputs(out.c_str(), stdout);
        if (rc >= 0) return rc;
    }
    g_app.cli_track = pf.startup_track;
    {
        Settings &st = settings();
        const CommandLine &cl = g_app.cl;
        if (cl.xres) st.xres = *cl.xres;
        if (cl.yres) st.yres = *cl.yres;
        if (cl.draw_fps) pf.draw_fps = st.draw_fps = *cl.draw_fps;
        if (cl.draw_time) pf.draw_time = st.draw_time = *cl.draw_time;
        if (cl.draw_ping) pf.draw_ping = st.draw_ping = *cl.draw_ping;
        if (cl.draw_render_stats) pf.draw_render_stats = *cl.draw_render_stats;
        // Roost particles per wheel and step: the "Roost Density" setting, or the
        // command line's count for this run.
        roost_count_set(cl.roost_count ? *cl.roost_count
                                       : std::clamp(int(st.roost_density.value), 0, 1000));
    }
    if (g_app.cl.open_home) {
        if (!g_app.home.empty()) make_folders(g_app.home);
        if (g_app.home.empty() || !open_folder_in_browser(g_app.home))
            std::fprintf(stderr, "vantorq: home folder: %s\n",
                         g_app.home.empty() ? "(none: neither XDG_DATA_HOME nor HOME is set)"
                                            : g_app.home.c_str());
        return 0;
    }
    if (!g_app.cl.demo_info.empty()) {
        std::string text, error;
        if (!demo_info_text(g_app.cl.demo_info, text, error)) {
            std::fprintf(stderr, "vantorq: %s\n", error.c_str());
            return 1;
        }
        std::fputs(text.c_str(), stdout);
        return 0;
    }

    // 10. the server chooses the track
    if (!pf.connect_address.empty()) pf.startup_track.clear();

    // 11. track discovery
    if (track_list_build() == 0) {
        std::fputs("No tracks found\n", stderr);
        return 1;
    }
    if (g_app.cl.list_tracks) {
        const TrackList &tl = track_list();
        for (int i = 0; i < tl.count; ++i)
            std::printf("%s\t%s\n", tl.dirs[i].c_str(), tl.long_names[i].c_str());
        return 0;
    }

    // 12. demo discovery; the points-series list: wired in by the series layer.
    demo_list_build();

    // 13. the start-up track: the one named on the command line, else the configured one
    {
        const TrackList &tl = track_list();
        std::string wanted = !pf.startup_track.empty() ? pf.startup_track : settings_track_id();
        settings_set_track_list(tl.dirs, tl.long_names, wanted);
        // Without a server the first race runs on the selected entry (the first track
        // when the wanted one is not installed); a server chooses its own track.
        pf.startup_track = pf.connect_address.empty() ? settings_track_id() : std::string();
        if (track_list_find(pf.startup_track.c_str()) < 0) pf.startup_track.clear();
    }

    // 14.-17. window, audio, first frame with GL set-up
    if (pf.headless) {
        log_printf("Window and OpenGL context skipped (headless)\n");
        log_printf("Audio output skipped (headless)\n");
        log_printf("OpenGL set-up, fonts and HUD textures skipped (headless)\n");
    } else {
        // No window layer is built in yet: the simulation runs without a display.
        std::fprintf(stderr, "vantorq: no display support in this build yet; running headless\n");
        log_printf("Window layer not available; running headless\n");
        pf.headless = true;
        dialog_set_headless(true);
    }

    // 18. input bindings: wired in by the input layer.
    // 19. the physics world with its contact group (the per-race containers of the
    //     scenery are wired in by the scenery layer)
    physics_world_create();
    robot_hooks_join();
    // 20. the demo layer joins the race session; a demo file named on the command line is
    //     opened and its track becomes the start-up track.
    {
        SessionHooks h = session_hooks();
        demo_fill_session_hooks(h);
        session_hooks_install(h);
    }
    if (!pf.play_file.empty()) {
        demo_set_play_file(pf.play_file);
        if (demo_open()) {
            pf.startup_track = demo_header().track;
        } else if (pf.headless) {
            std::fprintf(stderr, "vantorq: can't play '%s': not a readable demo\n",
                         pf.play_file.c_str());
            g_app.exit_code = 1;
            pf.startup_track.clear();
        }
    }
    // 21. the rider slots: the local human in slot 0 unless a demo is played.
    int *lineup = race_lineup();
    std::fill(lineup, lineup + kSlotCount, int(kSlotEmpty));
    if (pf.play_file.empty()) lineup[0] = kSlotHuman;
    // 22. the first race on the start-up track; headless, the race the menu's "New Race"
    //     would start, run until its standings are final.
    if (!pf.startup_track.empty()) {
        bool race = pf.headless && pf.play_file.empty();
        bool started = race ? headless_race_start()
                            : session_start(lineup, !pf.play_file.empty(), false, 0, 1000,
                                            settings().skill.index);
        if (started && !race && pf.headless && !pf.play_file.empty())
            g_app.headless_race = g_app.headless_playback = true;
        if (!started) {
            log_printf("Can't load track %s\n", pf.startup_track.c_str());
            if (race) {
                std::fprintf(stderr, "vantorq: can't load track '%s'\n", pf.startup_track.c_str());
                g_app.exit_code = 1;
                g_app.headless_race = false;
            }
        }
    }

    // 23. the menu opens on its main page, unless connecting
    menu_state().page = pf.connect_address.empty() ? kMenuMainPage : kMenuClosed;
    if (pf.headless) menu_state().page = kMenuClosed;
    return -1;
}

void run_loop() {
    ProcessFlags &pf = process_flags();
    LoopClock clock{clock_now, clock_wait, nullptr};
    LoopHooks hooks{};
    hooks.track_loaded = hook_track_loaded;
    hooks.viewed_riding = hook_viewed_riding;
    hooks.viewed_has_bike = hook_viewed_has_bike;
    hooks.local_step = hook_local_step;
    hooks.race_start_step = hook_race_start_step;
    hooks.time_trial = hook_time_trial;
    hooks.time_trial_abort_enabled = hook_time_trial_abort_enabled;
    hooks.time_trial_restart = practice_restart;
    hooks.leader_finished_race = session_leader_finished_race;
    hooks.warp_restart = hook_warp_restart;
    hooks.race_step = hook_race_step;
    hooks.rider_controls_apply = hook_controls;
    hooks.view_previous = hook_view_previous;
    hooks.view_next = hook_view_next;
    hooks.playback_seek = hook_playback_seek;
    mainloop_init(clock, hooks);
    LoopState &s = loop_state();
    s.lock_fps = g_app.cl.startup.lock_fps;
    s.warp = g_app.cl.startup.warp;
    s.editor_enabled = pf.editor_enabled;
    s.headless = pf.headless;
    if (pf.headless) s.max_steps = std::llround(g_app.cl.max_seconds * 128.0);
    s.orbit_distance = g_app.cl.startup.orbit_distance;
    s.orbit_height = g_app.cl.startup.orbit_height;
    s.orbit_angle = g_app.cl.startup.orbit_angle;
    double start = clock_seconds();
    g_app.loop_start = start;
    if (g_app.exit_code == 0) mainloop_run();
    double wall = clock_seconds() - start;
    log_printf("Main loop ended after %lld steps (%.1f s simulated, %.2f s real)\n",
               (long long)s.steps_run, double(s.steps_run) * kStep, wall);
    if (g_app.headless_race) headless_report(wall);
}

void shutdown() {
    ProcessFlags &pf = process_flags();
    // 1. leave the server: wired in by the network layer. 2. series result and learned
    // lines, 3. bikes: the race session. 5. per-race containers and input axes; 6. audio
    // and window: each is wired in by its layer.
    session_shutdown();
    // 4. the track and the physics world
    track_free();
    physics_world_destroy();
    // 7. the configuration (a safe save: the old file survives a failed write). A track
    //    chosen with --track is for this run only.
    if (!g_app.cli_track.empty() && settings_track_id() == g_app.cli_track &&
        g_app.config_track != g_app.cli_track) {
        const TrackList &tl = track_list();
        settings_set_track_list(tl.dirs, tl.long_names, g_app.config_track);
    }
    config_write();
    // 8. close the log; the pause lets a leave message reach the server.
    log_printf(nullptr);
    if (!pf.headless) clock_sleep(1.0);
}

} // namespace

int app_main(int argc, char **argv, const DataDigests &digests) {
    int rc = startup(argc, argv, digests);
    if (rc >= 0) {
        log_printf(nullptr);
        return rc;
    }
    run_loop();
    shutdown();
    return g_app.exit_code;
}
