// The command line: option matching, the option table and its effects.
#pragma once
#include <optional>
#include <string>

// Walks the argument vector while options are parsed.
struct OptionCursor {
    int remaining;      // arguments not yet consumed
    char **position;    // next argument
    bool options_ended; // "--" was consumed: no argument is an option any more
};

// Settings that live only in the entry routine and the main loop.
struct StartupSettings {
    int colour_bits = 16;
    int depth_bits = 16;
    double lock_fps = 0;      // frames per second; 0 or less is off
    std::string record_audio; // file name, empty for none
    bool record_video = false;
    bool draw_paused = true;
    bool draw_hud = true;
    bool glfinish = false;
    bool warp = false;
    bool nosound = false;
    double chase_center[3] = {0, 2.52, 0.52};
    double orbit_distance = 10, orbit_height = 5, orbit_angle = 0;
};

// Everything the command line decided. Values that override the configuration or the
// derived render settings are optional: absent means "keep what the configuration says".
struct CommandLine {
    StartupSettings startup;
    bool flat_shading = false, no_vertex_arrays = false;
    std::optional<int> model_texture_reduction, ground_texture_reduction, roost_count;
    std::optional<double> ground_lod_error, model_lod_scale, model_lod_bias;
    std::optional<int> xres, yres, draw_fps, draw_time, draw_ping, draw_render_stats;
    bool open_home = false; // --open-home: create and show the home folder, then exit 0
    // The program's own additions.
    bool headless = false;
    double max_seconds = 3600;
    bool list_tracks = false;
    // Headless races: the race the menu's "New Race" starts, with these overrides for
    // this run only (the configuration keeps its values).
    std::optional<int> laps, minutes; // laps 0..1000, minutes 0..1440
    std::optional<int> skill;         // 0 novice, 1 amateur, 2 expert
    std::optional<int> robots;        // the lineup becomes this many robots (0..40)
    bool record = false;              // record the race as a demo
    std::string demo_info;            // --demo-info: the demo whose head is printed
};

// Matches the current argument against name (see the rules in cmdline.cpp). With
// takes_value, *value receives the value or null when the option was the last argument.
// Returns whether the option matched; consumed arguments advance the cursor.
bool option_match(OptionCursor &cursor, const char *name, bool takes_value, const char **value);

// Parses argv into out and the process flags. Diagnostics go to err (the caller prints
// them to stderr, "--help"/"--version" text to out_text for stdout). Returns -1 to go
// on starting, or the exit code to end the process with.
int parse_command_line(int argc, char **argv, CommandLine &out, std::string &err,
                       std::string &out_text);

// The text printed by --help: every option, one line each.
std::string command_line_help();
