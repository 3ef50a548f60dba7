#include "core/startup.h"

#include "core/cmdline.h"
#include "core/datacheck.h"
#include "core/mainloop.h"
#include "files/config.h"
#include "files/settings.h"
#include "files/setup.h"
#include "files/vfs.h"
#include "platform/clock.h"
#include "sim/catalogue.h"
#include "sim/setup.h"
#include "sim/world.h"
#include "track/track.h"
#include "platform/dialog.h"
#include "platform/log.h"
#include "platform/memory.h"
#include "platform/messages.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/system.h"
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
};
App g_app;

double clock_now(void *) {
    return clock_seconds();
}
void clock_wait(void *, double seconds) {
    clock_sleep(seconds);
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
    {
        Settings &st = settings();
        const CommandLine &cl = g_app.cl;
        if (cl.xres) st.xres = *cl.xres;
        if (cl.yres) st.yres = *cl.yres;
        if (cl.draw_fps) pf.draw_fps = st.draw_fps = *cl.draw_fps;
        if (cl.draw_time) pf.draw_time = st.draw_time = *cl.draw_time;
        if (cl.draw_ping) pf.draw_ping = st.draw_ping = *cl.draw_ping;
        if (cl.draw_render_stats) pf.draw_render_stats = *cl.draw_render_stats;
    }
    if (g_app.cl.open_home) {
        if (!g_app.home.empty()) make_folders(g_app.home);
        if (g_app.home.empty() || !open_folder_in_browser(g_app.home))
            std::fprintf(stderr, "vantorq: home folder: %s\n",
                         g_app.home.empty() ? "(none: neither XDG_DATA_HOME nor HOME is set)"
                                            : g_app.home.c_str());
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

    // 12. demo discovery and the points-series list: wired in by the demo and series layers.

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
    // 20. demo file, 21. rider slots: wired in by the demo and race layers.
    // 22. the first race on the start-up track. Until the race session exists this
    //     loads the track the session would start on.
    if (!pf.startup_track.empty() && !track_load(pf.startup_track.c_str(), 0))
        log_printf("Can't load track %s\n", pf.startup_track.c_str());

    // 23. the menu opens on its main page, unless connecting
    menu_state().page = pf.connect_address.empty() ? kMenuMainPage : kMenuClosed;
    if (pf.headless) menu_state().page = kMenuClosed;
    return -1;
}

void run_loop() {
    ProcessFlags &pf = process_flags();
    LoopClock clock{clock_now, clock_wait, nullptr};
    LoopHooks hooks{};
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
    mainloop_run();
    log_printf("Main loop ended after %lld steps (%.1f s simulated, %.2f s real)\n",
               (long long)s.steps_run, double(s.steps_run) * kStep, clock_seconds() - start);
}

void shutdown() {
    ProcessFlags &pf = process_flags();
    // 1. leave the server; 2. series result and learned lines; 3. bikes; 4. demo,
    // track and physics world; 5. per-race containers and input axes; 6. audio and
    // window: each is wired in by its layer.
    log_printf("Deallocating bikes\n");
    log_printf("Finished deallocating bikes\n");
    // 4. the track and the physics world
    track_free();
    physics_world_destroy();
    // 7. the configuration (a safe save: the old file survives a failed write)
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
    return 0;
}
