#include "core/cmdline.h"

#include "platform/log.h"
#include "platform/process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool option_match(OptionCursor &c, const char *name, bool takes_value, const char **value) {
    if (value) *value = nullptr;
    if (c.remaining <= 0 || c.options_ended) return false;
    const char *arg = *c.position;
    if (!takes_value) {
        if (std::strcmp(arg, name) != 0) return false;
        c.position++;
        c.remaining--;
        return true;
    }
    if (std::strcmp(arg, "--") == 0) {
        c.position++;
        c.remaining--;
        c.options_ended = true;
        return false;
    }
    std::size_t n = std::strlen(name);
    if (std::strcmp(arg, name) == 0) {
        if (c.remaining >= 2) {
            if (value) *value = c.position[1];
            c.position += 2;
            c.remaining -= 2;
        } else {
            c.position++;
            c.remaining--;
        }
        return true;
    }
    if (std::strncmp(arg, name, n) == 0 && arg[n] == '=') {
        if (value) *value = arg + n + 1;
        c.position++;
        c.remaining--;
        return true;
    }
    return false;
}

namespace {

enum class Kind {
    Flag,      // no value
    Int,       // "%d", a bad value ends the process with the option's message
    Real,      // "%f", the same
    IntLoose,  // "%d", a bad value is ignored
    Atoi,      // leading digits, 0 if none, never an error
    Text,      // any text; absent when the option is the last argument
    Any,       // consumes a value, absent or not
    Triple,    // "%f,%f,%f"
};

struct OptionValue {
    int i = 0;
    double r = 0;
    const char *text = nullptr;
    double v3[3] = {0, 0, 0};
};

struct OptionDef {
    const char *name;
    Kind kind;
    const char *help;
    void (*apply)(CommandLine &cl, ProcessFlags &pf, const OptionValue &v, std::string &err);
};

double clampd(double v, double lo, double hi) { return std::min(hi, std::max(lo, v)); }
int clampi(int v, int lo, int hi) { return std::min(hi, std::max(lo, v)); }

#define APPLY [](CommandLine & cl, ProcessFlags & pf, const OptionValue &v, std::string &err)

// The options in the order they are tried. The first block is the classic set; the
// program's own additions follow it.
const OptionDef kOptions[] = {
    {"--fugly", Kind::Flag, "flat shading", APPLY { cl.flat_shading = true; (void)pf, (void)v, (void)err; }},
    {"--nosound", Kind::Flag, "no audio output", APPLY { cl.startup.nosound = true; (void)pf, (void)v, (void)err; }},
    {"--novertexarrays", Kind::Flag, "do not use vertex arrays", APPLY { cl.no_vertex_arrays = true; (void)pf, (void)v, (void)err; }},
    {"--learn", Kind::Flag, "robot riders learn lines; learned lines are written at exit", APPLY { pf.learn = true; (void)cl, (void)v, (void)err; }},
    {"--nolearn", Kind::Flag, "robot riders do not learn", APPLY { pf.learn = false; (void)cl, (void)v, (void)err; }},
    {"--nommx", Kind::Flag, "do not use the MMX paths", APPLY {
         if (pf.mmx) log_printf("Ignoring MMX\n");
         pf.mmx = false; (void)cl, (void)v, (void)err; }},
    {"--debug", Kind::Flag, "extra logging", APPLY { pf.debug_level = 1; (void)cl, (void)v, (void)err; }},
    {"--super-debug", Kind::Flag, "even more logging", APPLY { pf.debug_level = 2; (void)cl, (void)v, (void)err; }},
    {"--practice", Kind::Flag, "practice race starts", APPLY { pf.practice = true; (void)cl, (void)v, (void)err; }},
    {"--warp", Kind::Flag, "run races back to back as fast as possible", APPLY { cl.startup.warp = true; (void)pf, (void)v, (void)err; }},
    {"--texture-detail", Kind::Int, "N: model and ground texture reduction, 0..4", APPLY {
         cl.model_texture_reduction = cl.ground_texture_reduction = clampi(v.i, 0, 4); (void)pf, (void)err; }},
    {"--ground-texture-detail", Kind::Int, "N: ground texture reduction, 0..4", APPLY {
         cl.ground_texture_reduction = clampi(v.i, 0, 4); (void)pf, (void)err; }},
    {"--roostfrequency", Kind::Int, "N: roost particles, 0..1000", APPLY {
         cl.roost_count = clampi(v.i, 0, 1000); (void)pf, (void)err; }},
    {"--erode", Kind::Real, "F: terrain erosion rate, 0..100", APPLY {
         pf.erosion_rate = clampd(v.r, 0, 100); (void)cl, (void)err; }},
    {"--detail", Kind::Real, "F: ground level-of-detail error", APPLY { cl.ground_lod_error = v.r; (void)pf, (void)err; }},
    {"--max-detail-distance", Kind::Real, "F: accepted, no effect", APPLY { (void)cl, (void)pf, (void)v, (void)err; }},
    {"--lod-scale", Kind::Real, "F: model level-of-detail scale", APPLY {
         cl.model_lod_scale = clampd(v.r, 0.000001, 1000000); (void)pf, (void)err; }},
    {"--lod-bias", Kind::Real, "F: model level-of-detail bias", APPLY { cl.model_lod_bias = v.r; (void)pf, (void)err; }},
    {"--lock-fps", Kind::Real, "F: advance exactly 1/F s per frame; 0 is off", APPLY { cl.startup.lock_fps = v.r; (void)pf, (void)err; }},
    {"--fake-lag", Kind::Real, "MS: simulated network delay, 0..1000 ms", APPLY {
         pf.fake_lag = clampd(v.r * 0.001, 0, 1); (void)cl, (void)err; }},
    {"--fake-loss", Kind::Int, "P: simulated packet loss, 0..100 percent", APPLY {
         pf.fake_loss = clampi(v.i, 0, 100); (void)cl, (void)err; }},
    {"--record-audio", Kind::Text, "FILE: record the mixed sound", APPLY { cl.startup.record_audio = v.text; (void)pf, (void)err; }},
    {"--record-video", Kind::Flag, "write every frame to standard output", APPLY { cl.startup.record_video = true; (void)pf, (void)v, (void)err; }},
    {"--rotate-lineup", Kind::IntLoose, "N: rotate the lineup by N places after each race start", APPLY {
         pf.lineup_rotation = v.i; (void)cl, (void)err; }},
    {"--editor", Kind::Flag, "make the track editor reachable with TAB", APPLY { pf.editor_enabled = true; (void)cl, (void)v, (void)err; }},
    {"--hidden-pause", Kind::Flag, "do not draw the Paused banner", APPLY { cl.startup.draw_paused = false; (void)pf, (void)v, (void)err; }},
    {"--hidden-hud", Kind::Flag, "do not draw the HUD", APPLY { cl.startup.draw_hud = false; (void)pf, (void)v, (void)err; }},
    {"--bikes", Kind::Any, "X: obsolete, does nothing", APPLY {
         err += "--bikes doesn't do anything anymore\n"; (void)cl, (void)pf, (void)v; }},
    {"--width", Kind::IntLoose, "N: window width", APPLY { cl.xres = v.i; (void)pf, (void)err; }},
    {"--height", Kind::IntLoose, "N: window height", APPLY { cl.yres = v.i; (void)pf, (void)err; }},
    {"--depth", Kind::Atoi, "N: colour bits", APPLY { cl.startup.colour_bits = v.i; (void)pf, (void)err; }},
    {"--zdepth", Kind::Atoi, "N: depth-buffer bits", APPLY { cl.startup.depth_bits = v.i; (void)pf, (void)err; }},
    {"--draw-fps", Kind::Atoi, "N: frame-rate display level", APPLY { cl.draw_fps = v.i; (void)pf, (void)err; }},
    {"--draw-time", Kind::Atoi, "N: time display level", APPLY { cl.draw_time = v.i; (void)pf, (void)err; }},
    {"--draw-ping", Kind::Atoi, "N: ping display level", APPLY { cl.draw_ping = v.i; (void)pf, (void)err; }},
    {"--draw-render-stats", Kind::Atoi, "N: render statistics level", APPLY { cl.draw_render_stats = v.i; (void)pf, (void)err; }},
    {"--accurate-skip", Kind::Flag, "skip forward in demos by simulating", APPLY { pf.accurate_skip = true; (void)cl, (void)v, (void)err; }},
    {"--track", Kind::Text, "ID: start-up track", APPLY { pf.startup_track = v.text; (void)cl, (void)err; }},
    {"--connect", Kind::Text, "HOST[:PORT]: connect to a race server", APPLY {
         const char *a = v.text;
         if (std::strncmp(a, "vantorq:", 8) == 0) a += 8;
         pf.connect_address = a; (void)cl, (void)err; }},
    {"--password", Kind::Text, "TEXT: server password", APPLY {
         pf.password = v.text; pf.has_password = true; (void)cl, (void)err; }},
    {"--chase-center", Kind::Triple, "X,Y,Z: orbit camera centre in the bike's frame", APPLY {
         for (int k = 0; k < 3; ++k) cl.startup.chase_center[k] = v.v3[k];
         (void)pf, (void)err; }},
    {"--open-home", Kind::Flag, "create the home folder, show it, and exit", APPLY { cl.open_home = true; (void)pf, (void)v, (void)err; }},
    {"--glfinish", Kind::Flag, "call glFinish after each frame", APPLY { cl.startup.glfinish = true; (void)pf, (void)v, (void)err; }},
    {"--print-orientation", Kind::Flag, "print the rider camera each time it is set up", APPLY { pf.print_orientation = true; (void)cl, (void)v, (void)err; }},
    // The program's own additions.
    {"--headless", Kind::Flag, "run without window, GL, sound or dialogs, as fast as possible", APPLY {
         cl.headless = true; pf.headless = true; (void)v, (void)err; }},
    {"--max-seconds", Kind::Real, "S: headless: stop after S simulated seconds (default 3600)", APPLY {
         cl.max_seconds = std::max(0.0, v.r); (void)pf, (void)err; }},
    {"--list-tracks", Kind::Flag, "print the track list (identifier, tab, name) and exit", APPLY { cl.list_tracks = true; (void)pf, (void)v, (void)err; }},
};
#undef APPLY

// "%d": optional blanks, sign and at least one digit; trailing text is ignored.
bool parse_int(const char *s, int &out) {
    int v = 0;
    if (std::sscanf(s, "%d", &v) != 1) return false;
    out = v;
    return true;
}

// "%f", restricted to finite values: an infinite or NaN setting is never useful and
// would poison clamps and timing.
bool parse_real(const char *s, double &out) {
    double v = 0;
    if (std::sscanf(s, "%lf", &v) != 1 || !std::isfinite(v)) return false;
    out = v;
    return true;
}

} // namespace

std::string command_line_help() {
    std::string text = "usage: vantorq [options] [demo-file]\n";
    for (const OptionDef &d : kOptions) {
        char line[256];
        std::snprintf(line, sizeof line, "  %-24s %s\n", d.name, d.help);
        text += line;
    }
    text += "  --help                   print this list and exit\n";
    text += "  --version                print the version and exit\n";
    text += "  --                       end of options; the next argument is a demo file\n";
    return text;
}

int parse_command_line(int argc, char **argv, CommandLine &out, std::string &err,
                       std::string &out_text) {
    ProcessFlags &pf = process_flags();
    OptionCursor c{argc - 1, argv + 1, false};
    bool have_file = false;
    while (c.remaining > 0) {
        bool matched = false;
        for (const OptionDef &d : kOptions) {
            const char *value = nullptr;
            bool takes_value = d.kind != Kind::Flag;
            if (!option_match(c, d.name, takes_value, &value)) {
                if (c.remaining <= 0) break; // "--" was the last argument
                continue;
            }
            matched = true;
            OptionValue v;
            char message[128];
            std::snprintf(message, sizeof message, "Bad arg for %s\n", d.name);
            switch (d.kind) {
            case Kind::Flag:
                break;
            case Kind::Int:
                if (!value || !parse_int(value, v.i)) return err += message, 1;
                break;
            case Kind::Real:
                if (!value || !parse_real(value, v.r)) return err += message, 1;
                break;
            case Kind::IntLoose:
                if (!value || !parse_int(value, v.i)) goto next_argument;
                break;
            case Kind::Atoi:
                v.i = value ? std::atoi(value) : 0;
                break;
            case Kind::Text:
                if (!value) goto next_argument;
                v.text = value;
                break;
            case Kind::Any:
                v.text = value;
                break;
            case Kind::Triple:
                if (!value || std::sscanf(value, "%lf,%lf,%lf", &v.v3[0], &v.v3[1], &v.v3[2]) != 3 ||
                    !std::isfinite(v.v3[0]) || !std::isfinite(v.v3[1]) || !std::isfinite(v.v3[2]))
                    return err += message, 1;
                break;
            }
            d.apply(out, pf, v, err);
            goto next_argument;
        }
        if (matched || c.remaining <= 0) continue;
        {
            const char *arg = *c.position;
            if (!c.options_ended && std::strcmp(arg, "--help") == 0) {
                out_text += command_line_help();
                return 0;
            }
            if (!c.options_ended && std::strcmp(arg, "--version") == 0) {
                out_text += "vantorq " VQ_VERSION "\n";
                return 0;
            }
            if (!c.options_ended && std::strcmp(arg, "--") == 0) {
                // Only value options consume "--"; a flag-only prefix never reaches here
                // because every value option is tried first.
                c.options_ended = true;
                c.position++;
                c.remaining--;
                continue;
            }
            if (arg[0] == '-' && !c.options_ended) {
                err += "bad option '";
                err += arg;
                err += "'\n";
                return 1;
            }
            if (have_file) {
                err += "Too many files!\n";
                return 1;
            }
            have_file = true;
            pf.play_file = arg;
            c.position++;
            c.remaining--;
        }
    next_argument:;
    }
    return -1;
}
