#include "files/config.h"

#include "files/setup.h"
#include "files/vfs.h"
#include "platform/log.h"
#include "platform/memory.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

enum class Kind {
    Integer,
    Track,
    Choice,
    Number,
    Text,
    SetupBlock, // where the setup keys are written
    History,    // a server history entry: values of 127 characters or more are ignored
    MapScale,   // real, clamped to 0.125..8 on every reading
    Binding,
    Ignored, // older key, read and dropped
    UseFbo,  // older key: sets the terrain rendering method
};

struct ConfigKey {
    std::string key;
    Kind kind;
    void *target;
};

// Every configuration key in writing order (the older keys, never written, at the end).
const std::vector<ConfigKey> &config_keys() {
    static const std::vector<ConfigKey> keys = [] {
        Settings &s = settings();
        std::vector<ConfigKey> k;
        auto add = [&k](std::string key, Kind kind, void *target) {
            k.push_back({std::move(key), kind, target});
        };
        char key[32];
        add("xres", Kind::Integer, &s.xres);
        add("yres", Kind::Integer, &s.yres);
        add("draw_fps", Kind::Integer, &s.draw_fps);
        add("draw_time", Kind::Integer, &s.draw_time);
        add("draw_ping", Kind::Integer, &s.draw_ping);
        add("spy", Kind::Integer, &s.spy);
        add("track", Kind::Track, &s.track);
        add("record", Kind::Choice, &s.record);
        add("skill", Kind::Choice, &s.skill);
        add("minutes", Kind::Number, &s.minutes);
        add("laps", Kind::Number, &s.laps);
        for (int i = 0; i < kGateCount; i++) {
            std::snprintf(key, sizeof key, "slot%02d", i);
            add(key, Kind::Choice, &s.gates[i]);
        }
        add("ghost_fade_distance", Kind::Number, &s.ghost_fade_distance);
        add("time_trial_abort", Kind::Choice, &s.time_trial_abort);
        add("", Kind::SetupBlock, nullptr);
        add("video_mode", Kind::Choice, &s.video_mode);
        add("server_name", Kind::Text, &s.server_name);
        for (int i = 0; i < kServerHistoryCount; i++) {
            std::snprintf(key, sizeof key, "server_name_hist%02d", i);
            add(key, Kind::History, &s.server_history[i]);
        }
        add("ground_detail", Kind::Number, &s.ground_detail);
        add("ground_texture_detail", Kind::Number, &s.ground_texture_detail);
        add("ground_texture_dim", Kind::Choice, &s.ground_texture_dim);
        add("ground_mipmaps", Kind::Choice, &s.ground_mipmaps);
        add("texture_compress", Kind::Choice, &s.texture_compress);
        add("render_texture", Kind::Choice, &s.render_texture);
        add("use_shader", Kind::Choice, &s.use_shader);
        add("roost_density", Kind::Number, &s.roost_density);
        add("lens_flare", Kind::Choice, &s.lens_flare);
        add("reflections", Kind::Choice, &s.reflections);
        add("hide_rider", Kind::Choice, &s.hide_rider);
        add("rigid_camera", Kind::Choice, &s.rigid_camera);
        add("model_detail", Kind::Number, &s.model_detail);
        add("model_texture_detail", Kind::Number, &s.model_texture_detail);
        add("fov", Kind::Number, &s.fov);
        add("first_person_height", Kind::Number, &s.first_person_height);
        add("first_person_angle", Kind::Number, &s.first_person_angle);
        add("third_person_height", Kind::Number, &s.third_person_height);
        add("third_person_distance", Kind::Number, &s.third_person_distance);
        add("volume", Kind::Number, &s.volume);
        add("comp_volume", Kind::Number, &s.comp_volume);
        add("playback_mode", Kind::Choice, &s.playback_mode);
        add("billboard_optimize_lookahead", Kind::Integer, &s.billboard_optimize_lookahead);
        add("message_lines", Kind::Integer, &s.message_lines);
        add("demo_backups", Kind::Integer, &s.demo_backups);
        add("map_scale", Kind::MapScale, &s.map_scale);
        static const char *const kBindingKeys[kControlCount] = {
            "throttle_key", "front_brake_key", "rear_brake_key",   "left_key",
            "right_key",    "clutch_key",      "upshift_key",      "downshift_key",
            "dab_key",      "back_up_key",     "lean_forward_key", "lean_backward_key",
            "pause_key",    "step_key",        "rewind_key",       "skip_key",
            "prev_key",     "next_key",        "console_key",      "screenshot_key",
        };
        for (int i = 0; i < kControlCount; i++) add(kBindingKeys[i], Kind::Binding, &s.controls[i]);
        add("ground_texture_distance", Kind::Ignored, nullptr);
        add("use_fbo", Kind::UseFbo, nullptr);
        return k;
    }();
    return keys;
}

const ConfigKey *find_config_key(const char *key) {
    static const std::unordered_map<std::string_view, const ConfigKey *> index = [] {
        std::unordered_map<std::string_view, const ConfigKey *> m;
        for (const ConfigKey &k : config_keys())
            if (k.kind != Kind::SetupBlock) m.emplace(k.key, &k);
        return m;
    }();
    auto it = index.find(key);
    return it == index.end() ? nullptr : it->second;
}

void read_track(const char *value) {
    Settings &s = settings();
    if (s.track_ids.empty()) {
        s.track.held_text = value;
        return;
    }
    for (std::size_t i = 0; i < s.track_ids.size(); i++) {
        if (s.track_ids[i] == value) {
            s.track.index = int(i);
            return;
        }
    }
}

bool scan_axis_range(const char *value, float *low, float *high) {
    Stream *s = stream_open_memory(value, std::strlen(value), false);
    if (!s) return false;
    bool ok = stream_scan(s, "(%f,%f)", low, high) == 2;
    stream_free(s);
    // An infinite end would turn every axis reading into nonsense.
    return ok && std::isfinite(*low) && std::isfinite(*high);
}

} // namespace

void binding_parse(ControlBinding &b, const char *value) {
    while (*value && std::isspace(static_cast<unsigned char>(*value))) value++;
    b.key_name = nullptr;
    b.key_code = -1;
    b.axis_name = nullptr;
    b.axis_handle = nullptr;
    b.low = 0;
    b.high = 1;
    const char *close = value[0] == '(' ? std::strchr(value, ')') : nullptr;
    float low = 0, high = 1;
    if (close && scan_axis_range(value, &low, &high)) {
        b.low = low;
        b.high = high;
        if (close[1]) b.axis_name = intern_string(close + 1);
        return;
    }
    if (std::strncmp(value, "(k)", 3) == 0) value += 3;
    if (*value) b.key_name = intern_string(value);
}

std::string binding_text(const ControlBinding &b) {
    if (b.key_name) return std::string("(k)") + b.key_name;
    if (b.axis_name) {
        char range[128];
        std::snprintf(range, sizeof range, "(%f,%f)", b.low, b.high);
        return range + std::string(b.axis_name);
    }
    return std::string();
}

bool config_split_line(const char *line, std::string &key, std::string &value) {
    const char *eq = std::strchr(line, '=');
    if (!eq) return false;
    key.assign(line, eq - line);
    value.assign(eq + 1);
    while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.pop_back();
    return true;
}

void config_read_line(const char *key, const char *value) {
    if (setup_read_line(key, value)) return;
    const ConfigKey *k = find_config_key(key);
    if (!k) return;
    Settings &s = settings();
    switch (k->kind) {
    case Kind::Integer:
        integer_read(*static_cast<int *>(k->target), value);
        break;
    case Kind::Track:
        read_track(value);
        break;
    case Kind::Choice:
        choice_read(*static_cast<ChoiceSetting *>(k->target), value);
        break;
    case Kind::Number:
        number_read(*static_cast<NumberSetting *>(k->target), value);
        break;
    case Kind::Text:
        text_read(*static_cast<TextSetting *>(k->target), value);
        break;
    case Kind::History:
        if (std::strlen(value) < std::size_t(kServerNameMax))
            *static_cast<std::string *>(k->target) = value;
        break;
    case Kind::MapScale: {
        double &v = *static_cast<double *>(k->target);
        real_read(v, value);
        if (!(v >= 0.125)) v = 0.125;
        if (v > 8) v = 8;
        break;
    }
    case Kind::Binding:
        binding_parse(*static_cast<ControlBinding *>(k->target), value);
        break;
    case Kind::UseFbo:
        choice_read(s.render_texture,
                    std::strcmp(value, "Yes") == 0 ? "Hardware/Direct" : "Hardware/Copy");
        break;
    case Kind::Ignored:
    case Kind::SetupBlock:
        break;
    }
}

void config_read_stream(Stream *s) {
    if (!s) return;
    char line[1024];
    std::string key, value;
    while (stream_gets(s, line, sizeof line)) {
        if (!config_split_line(line, key, value)) continue;
        config_read_line(key.c_str(), value.c_str());
    }
}

void config_read() {
    Stream *s = vfs_open("@config", "rb");
    if (!s) return;
    config_read_stream(s);
    vfs_close(s);
}

std::string config_text() {
    std::string out;
    char buf[32];
    for (const ConfigKey &k : config_keys()) {
        switch (k.kind) {
        case Kind::Integer:
            std::snprintf(buf, sizeof buf, "%d", *static_cast<const int *>(k.target));
            append_setting_line(out, k.key.c_str(), buf);
            break;
        case Kind::Track:
            append_setting_line(out, k.key.c_str(), settings_track_id());
            break;
        case Kind::Choice:
            append_setting_line(out, k.key.c_str(),
                                choice_text(*static_cast<const ChoiceSetting *>(k.target)));
            break;
        case Kind::Number:
            append_setting_line(out, k.key.c_str(),
                                number_format(static_cast<const NumberSetting *>(k.target)->value));
            break;
        case Kind::Text:
            append_setting_line(out, k.key.c_str(),
                                static_cast<const TextSetting *>(k.target)->text);
            break;
        case Kind::SetupBlock:
            out += setup_text();
            break;
        case Kind::History:
            append_setting_line(out, k.key.c_str(), *static_cast<const std::string *>(k.target));
            break;
        case Kind::MapScale:
            append_setting_line(out, k.key.c_str(),
                                number_format(*static_cast<const double *>(k.target)));
            break;
        case Kind::Binding: {
            std::string v = binding_text(*static_cast<const ControlBinding *>(k.target));
            if (!v.empty()) append_setting_line(out, k.key.c_str(), v);
            break;
        }
        case Kind::Ignored:
        case Kind::UseFbo:
            break;
        }
    }
    return out;
}

bool config_write() {
    Stream *s = vfs_open("@config", "wb");
    if (!s) {
        log_printf("Can't write the configuration file\n");
        return false;
    }
    std::string text = config_text();
    if (stream_write(s, text.data(), text.size()) != text.size()) {
        vfs_close_discard(s);
        log_printf("Can't write the configuration file\n");
        return false;
    }
    if (!vfs_close(s)) {
        log_printf("Can't write the configuration file\n");
        return false;
    }
    return true;
}
