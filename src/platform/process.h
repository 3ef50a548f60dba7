// Process-wide flags that command-line options set and many subsystems read.
#pragma once
#include <string>

struct ProcessFlags {
    int debug_level = 0;         // 1 = --debug, 2 = --super-debug
    bool practice = false;       // --practice: practice race starts
    bool learn = false;          // --learn: robots learn lines, written at shutdown
    bool editor_enabled = false; // --editor: TAB reaches the editor
    bool accurate_skip = false;  // --accurate-skip
    bool print_orientation = false;
    int lineup_rotation = 0;    // --rotate-lineup
    bool stock_physics = false; // set by the physics-file check
    bool mmx = false;           // set by the CPU check (cleared by --nommx)
    int draw_fps = 0, draw_time = 0, draw_ping = 0, draw_render_stats = 0;
    double erosion_rate = 0.0;   // --erode, 0..100
    double fake_lag = 0.0;       // simulated network delay in seconds, 0..1
    int fake_loss = 0;           // simulated packet loss in percent, 0..100
    std::string startup_track;   // --track, empty for none
    std::string connect_address; // --connect, empty for none
    std::string password;        // --password
    bool has_password = false;
    std::string play_file; // the demo file to play, empty for none
    bool headless = false; // --headless: no window, GL, sound or dialogs
};

ProcessFlags &process_flags();
