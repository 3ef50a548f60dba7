#include "core/cmdline.h"

#include "platform/log.h"
#include "platform/process.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

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
    Flag,     // no value
    Int,      // "%d", a bad value ends the process with the option's message
    Real,     // "%f", the same
    IntLoose, // "%d", a bad value is ignored
    Atoi,     // leading digits, 0 if none, never an error
    Text,     // any text; absent when the option is the last argument
    Any,      // consumes a value, absent or not
    Triple,   // "%f,%f,%f"
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
};

double clampd(double v, double lo, double hi) {
    return std::min(hi, std::max(lo, v));
}
int clampi(int v, int lo, int hi) {
    return std::min(hi, std::max(lo, v));
}

// The options in the order they are tried: the classic set, then the program's own
// additions (from --headless on). Each row's index is its case in apply_option.
const OptionDef kOptions[] = {
    {"--fugly", Kind::Flag, "flat shading"},
    {"--nosound", Kind::Flag, "no audio output"},
    {"--novertexarrays", Kind::Flag, "do not use vertex arrays"},
    {"--learn", Kind::Flag, "robot riders learn lines; learned lines are written at exit"},
    {"--nolearn", Kind::Flag, "robot riders do not learn"},
    {"--nommx", Kind::Flag, "do not use the MMX paths"},
    {"--debug", Kind::Flag, "extra logging"},
    {"--super-debug", Kind::Flag, "even more logging"},
    {"--practice", Kind::Flag, "practice race starts"},
    {"--warp", Kind::Flag, "run races back to back as fast as possible"},
    {"--texture-detail", Kind::Int, "N: model and ground texture reduction, 0..4"},
    {"--ground-texture-detail", Kind::Int, "N: ground texture reduction, 0..4"},
    {"--roostfrequency", Kind::Int, "N: roost particles, 0..1000"},
    {"--erode", Kind::Real, "F: terrain erosion rate, 0..100"},
    {"--detail", Kind::Real, "F: ground level-of-detail error"},
    {"--max-detail-distance", Kind::Real, "F: accepted, no effect"},
    {"--lod-scale", Kind::Real, "F: model level-of-detail scale"},
    {"--lod-bias", Kind::Real, "F: model level-of-detail bias"},
    {"--lock-fps", Kind::Real, "F: advance exactly 1/F s per frame; 0 is off"},
    {"--fake-lag", Kind::Real, "MS: simulated network delay, 0..1000 ms"},
    {"--fake-loss", Kind::Int, "P: simulated packet loss, 0..100 percent"},
    {"--record-audio", Kind::Text, "FILE: record the mixed sound"},
    {"--record-video", Kind::Flag, "write every frame to standard output"},
    {"--rotate-lineup", Kind::IntLoose, "N: rotate the lineup by N places after each race start"},
    {"--editor", Kind::Flag, "make the track editor reachable with TAB"},
    {"--hidden-pause", Kind::Flag, "do not draw the Paused banner"},
    {"--hidden-hud", Kind::Flag, "do not draw the HUD"},
    {"--bikes", Kind::Any, "X: obsolete, does nothing"},
    {"--width", Kind::IntLoose, "N: window width"},
    {"--height", Kind::IntLoose, "N: window height"},
    {"--depth", Kind::Atoi, "N: colour bits"},
    {"--zdepth", Kind::Atoi, "N: depth-buffer bits"},
    {"--draw-fps", Kind::Atoi, "N: frame-rate display level"},
    {"--draw-time", Kind::Atoi, "N: time display level"},
    {"--draw-ping", Kind::Atoi, "N: ping display level"},
    {"--draw-render-stats", Kind::Atoi, "N: render statistics level"},
    {"--accurate-skip", Kind::Flag, "skip forward in demos by simulating"},
    {"--track", Kind::Text, "ID: start-up track"},
    {"--connect", Kind::Text, "HOST[:PORT]: connect to a race server"},
    {"--password", Kind::Text, "TEXT: server password"},
    {"--chase-center", Kind::Triple, "X,Y,Z: orbit camera centre in the bike's frame"},
    {"--open-home", Kind::Flag, "create the home folder, show it, and exit"},
    {"--glfinish", Kind::Flag, "call glFinish after each frame"},
    {"--print-orientation", Kind::Flag, "print the rider camera each time it is set up"},
    {"--headless", Kind::Flag, "run without window, GL, sound or dialogs, as fast as possible"},
    {"--max-seconds", Kind::Real, "S: headless: stop after S simulated seconds (default 3600)"},
    {"--list-tracks", Kind::Flag, "print the track list (identifier, tab, name) and exit"},
    {"--laps", Kind::Int, "N: headless race: laps (0..1000)"},
    {"--minutes", Kind::Int, "M: headless race: time limit in minutes (0..1440)"},
    {"--skill", Kind::Text, "novice|amateur|expert: headless race: robot skill"},
    {"--robots", Kind::Int, "N: headless race: N robots around gate 20, no human (0..40)"},
    {"--record", Kind::Flag, "headless race: record it as a demo"},
    {"--demo-info", Kind::Any, "FILE: print a demo's head, duration and blocks, and exit"},
};

// Applies option index. False when its value is out of range (the caller reports the
// option's message).
bool apply_option(int index, CommandLine &cl, ProcessFlags &pf, const OptionValue &v,
                  std::string &err) {
    switch (index) {
    case 0: // --fugly
        cl.flat_shading = true;
        break;
    case 1: // --nosound
        cl.startup.nosound = true;
        break;
    case 2: // --novertexarrays
        cl.no_vertex_arrays = true;
        break;
    case 3: // --learn
        pf.learn = true;
        break;
    case 4: // --nolearn
        pf.learn = false;
        break;
    case 5: // --nommx
        if (pf.mmx) log_printf("Ignoring MMX\n");
        pf.mmx = false;
        break;
    case 6: // --debug
        pf.debug_level = 1;
        break;
    case 7: // --super-debug
        pf.debug_level = 2;
        break;
    case 8: // --practice
        pf.practice = true;
        break;
    case 9: // --warp
        cl.startup.warp = true;
        break;
    case 10: // --texture-detail
        cl.model_texture_reduction = cl.ground_texture_reduction = clampi(v.i, 0, 4);
        break;
    case 11: // --ground-texture-detail
        cl.ground_texture_reduction = clampi(v.i, 0, 4);
        break;
    case 12: // --roostfrequency
        cl.roost_count = clampi(v.i, 0, 1000);
        break;
    case 13: // --erode
        pf.erosion_rate = clampd(v.r, 0, 100);
        break;
    case 14: // --detail
        cl.ground_lod_error = v.r;
        break;
    case 15: // --max-detail-distance
        break;
    case 16: // --lod-scale
        cl.model_lod_scale = clampd(v.r, 0.000001, 1000000);
        break;
    case 17: // --lod-bias
        cl.model_lod_bias = v.r;
        break;
    case 18: // --lock-fps
        cl.startup.lock_fps = v.r;
        break;
    case 19: // --fake-lag
        pf.fake_lag = clampd(v.r * 0.001, 0, 1);
        break;
    case 20: // --fake-loss
        pf.fake_loss = clampi(v.i, 0, 100);
        break;
    case 21: // --record-audio
        cl.startup.record_audio = v.text;
        break;
    case 22: // --record-video
        cl.startup.record_video = true;
        break;
    case 23: // --rotate-lineup
        pf.lineup_rotation = v.i;
        break;
    case 24: // --editor
        pf.editor_enabled = true;
        break;
    case 25: // --hidden-pause
        cl.startup.draw_paused = false;
        break;
    case 26: // --hidden-hud
        cl.startup.draw_hud = false;
        break;
    case 27: // --bikes
        err += "--bikes doesn't do anything anymore\n";
        break;
    case 28: // --width
        cl.xres = v.i;
        break;
    case 29: // --height
        cl.yres = v.i;
        break;
    case 30: // --depth
        cl.startup.colour_bits = v.i;
        break;
    case 31: // --zdepth
        cl.startup.depth_bits = v.i;
        break;
    case 32: // --draw-fps
        cl.draw_fps = v.i;
        break;
    case 33: // --draw-time
        cl.draw_time = v.i;
        break;
    case 34: // --draw-ping
        cl.draw_ping = v.i;
        break;
    case 35: // --draw-render-stats
        cl.draw_render_stats = v.i;
        break;
    case 36: // --accurate-skip
        pf.accurate_skip = true;
        break;
    case 37: // --track
        pf.startup_track = v.text;
        break;
    case 38: // --connect
        pf.connect_address = std::strncmp(v.text, "vantorq:", 8) == 0 ? v.text + 8 : v.text;
        break;
    case 39: // --password
        pf.password = v.text;
        pf.has_password = true;
        break;
    case 40: // --chase-center
        for (int k = 0; k < 3; ++k) cl.startup.chase_center[k] = v.v3[k];
        break;
    case 41: // --open-home
        cl.open_home = true;
        break;
    case 42: // --glfinish
        cl.startup.glfinish = true;
        break;
    case 43: // --print-orientation
        pf.print_orientation = true;
        break;
    case 44: // --headless
        cl.headless = true;
        pf.headless = true;
        break;
    case 45: // --max-seconds
        cl.max_seconds = std::max(0.0, v.r);
        break;
    case 46: // --list-tracks
        cl.list_tracks = true;
        break;
    case 47: // --laps
        if (v.i < 0 || v.i > 1000) return false;
        cl.laps = v.i;
        break;
    case 48: // --minutes
        if (v.i < 0 || v.i > 1440) return false;
        cl.minutes = v.i;
        break;
    case 49: { // --skill
        static const char *const kSkills[] = {"novice", "amateur", "expert"};
        int skill = -1;
        for (int k = 0; k < 3; ++k)
            if (std::strcmp(v.text, kSkills[k]) == 0) skill = k;
        if (skill < 0) return false;
        cl.skill = skill;
        break;
    }
    case 50: // --robots
        if (v.i < 0 || v.i > 40) return false;
        cl.robots = v.i;
        break;
    case 51: // --record
        cl.record = true;
        break;
    case 52: // --demo-info
        if (!v.text || !*v.text) return false;
        cl.demo_info = v.text;
        break;
    }
    return true;
}

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
        for (int index = 0; index < int(std::size(kOptions)); ++index) {
            const OptionDef &d = kOptions[index];
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
                if (!value ||
                    std::sscanf(value, "%lf,%lf,%lf", &v.v3[0], &v.v3[1], &v.v3[2]) != 3 ||
                    !std::isfinite(v.v3[0]) || !std::isfinite(v.v3[1]) || !std::isfinite(v.v3[2]))
                    return err += message, 1;
                break;
            }
            if (!apply_option(index, out, pf, v, err)) return err += message, 1;
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
