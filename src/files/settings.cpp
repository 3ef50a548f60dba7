#include "files/settings.h"

#include "files/stream.h"
#include "platform/memory.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

BikeSkinSource g_bike_skin_source = nullptr;

const std::vector<std::string> kNoYes = {"No", "Yes"};

ChoiceSetting choice(const char *label, std::vector<std::string> texts, int index) {
    ChoiceSetting c;
    c.label = label;
    c.choices = std::move(texts);
    c.index = index;
    return c;
}

// A list filled from outside: no texts yet, the default held as text.
ChoiceSetting external_choice(const char *label, const char *held) {
    ChoiceSetting c;
    c.label = label;
    c.held_text = held;
    return c;
}

NumberSetting number(const char *label, double value, double min, double max, double step) {
    NumberSetting n;
    n.label = label;
    n.value = value;
    n.step = step;
    n.min = min;
    n.max = max;
    return n;
}

TextSetting text(const char *label, int max_length, const char *value, bool insert) {
    TextSetting t;
    t.label = label;
    t.max_length = max_length;
    t.text = value;
    t.insert = insert;
    return t;
}

void set_defaults(Settings &s) {
    s.xres = 640;
    s.yres = 480;
    s.draw_fps = 0;
    s.draw_time = 0;
    s.draw_ping = 1;
    s.spy = 0;

    s.track = external_choice("Track", "rabbithill");
    s.track_ids.clear();
    s.record = choice("Record Demo", kNoYes, 0);
    s.skill = choice("Robot Skill", {"Novice", "Amateur", "Expert"}, 0);
    s.minutes = number("Minutes", 0, 0, 60, 1);
    s.laps = number("Laps", 5, 0, 50, 1);
    for (int i = 0; i < kGateCount; i++) {
        char label[16];
        std::snprintf(label, sizeof label, "Gate %d", i + 1);
        int gate = i + 1;
        int def = 0; // "Empty"
        if (gate == 18 || gate == 19 || gate == 21 || gate == 22 || gate == 23) def = 2;
        if (gate == 20) def = 1;
        s.gates[i] =
            choice(label, {"Empty", "Human", "Robot", "Robot (2 stroke)", "Robot (4 stroke)"}, def);
    }
    s.ghost_fade_distance = number("Ghost Fade Distance", 10, 0, 40, 1);
    s.time_trial_abort = choice("Backing Up Aborts Attempt", kNoYes, 1);

    SetupSettings &u = s.setup;
    u.bike = external_choice("Bike", "450sxf(2013)");
    u.name = text("Name", 63, "Vrok Motocross", true);
    u.number = text("Number", 3, "999", false);
    u.rider_texture = external_choice("Riding Gear", "");
    u.head_texture = external_choice("Helmet", "");
    u.bike_texture = external_choice("Bike Graphics", "");
    u.wheel_texture = external_choice("Wheel Graphics", "");
    u.stability = number("Stability", 100, 0, 100, 1);
    u.leveling = number("Leveling", 20, 0, 100, 1);
    u.roll_damping = number("Roll Damping", 60, 0, 100, 1);
    u.roll_limit_angle = number("Roll Limit Angle", 45, 0, 180, 1);
    u.roll_limit_factor = number("Roll Limit Factor", 10, 0, 64, 1);
    u.steering_damping = number("Steering Damping", 45, 0, 100, 1);
    u.steering_strength = number("Steering Strength", 75, 0, 100, 1);
    u.max_steering_force = number("Max Steering Force", 400, 0, 1000, 5);
    u.direct_steering = number("Direct Steering", 1, 0, 1, 0.125);
    u.slow_damping_speed = number("Slow Damping Speed", 40, 0, 100, 1);
    u.slow_damping_factor = number("Slow Damping Factor", 2, 1, 10, 0.25);
    u.land_damping_falloff = number("Landing Damping Falloff", 0.25, 0, 0.5, 0.0625);
    u.land_damping_factor = number("Landing Damping Factor", 2, 1, 3, 0.25);
    u.full_lock_speed = number("Full Lock Speed", 10, 1, 100, 1);
    u.restricted_lock_speed = number("Restricted Lock Speed", 50, 1, 100, 1);
    u.restricted_lock = number("Restricted Lock Angle", 7.5, 0, 45, 0.125);
    u.arcade = choice("Arcade Physics", kNoYes, 1);
    u.front_brake = choice("Front Brake", {"Normal", "Antilock"}, 1);
    u.rear_brake = choice("Rear Brake", {"Normal", "Antilock"}, 0);
    u.stop_wheelies = choice("Stop Wheelies", {"No", "Yes", "Front Only"}, 0);
    u.auto_shift = choice("Automatic Shifting", kNoYes, 1);
    u.auto_dab = choice("Dab When Stopped", kNoYes, 1);
    u.auto_align = choice("Realign After Fall", kNoYes, 1);
    u.sticky_dab = choice("Sticky Sit/Dab", kNoYes, 0);
    u.reverse_steering = choice("Reversed Steering", kNoYes, 1);
    u.lean_indicator = choice("Lean Indicator", kNoYes, 1);
    u.auto_clutch_rpms = number("Auto Clutch RPMs", 5000, 0, 5000, 100);
    u.brake_torque = number("Braking Torque (Front)", 250, 0, 500, 10);
    u.rear_brake_torque = number("Braking Torque (Rear)", 250, 0, 500, 10);
    u.max_dab_speed = number("Max Dab Speed (MPH)", 20, 5, 60, 1);
    u.front_sprocket_adjustment = number("Countershaft Sprocket", 0, -2, 2, 1);
    u.rear_sprocket_adjustment = number("Rear Sprocket", 0, -2, 2, 1);
    u.fork_compression_adjustment = number("Fork High Speed Compression Damping", 50, 0, 100, 1);
    u.fork_slow_compression_adjustment =
        number("Fork Low Speed Compression Damping", 50, 0, 100, 1);
    u.fork_rebound_adjustment = number("Fork High Speed Rebound Damping", 50, 0, 100, 1);
    u.fork_slow_rebound_adjustment = number("Fork Low Speed Rebound Damping", 50, 0, 100, 1);
    u.fork_spring_rate_adjustment = number("Fork Spring Rate", 50, 0, 100, 1);
    u.fork_preload_adjustment = number("Fork Preload", 50, 0, 100, 1);
    u.fork_oil_level_adjustment = number("Fork Oil Level", 50, 0, 100, 1);
    u.shock_compression_adjustment = number("Shock High Speed Compression Damping", 50, 0, 100, 1);
    u.shock_slow_compression_adjustment =
        number("Shock Low Speed Compression Damping", 50, 0, 100, 1);
    u.shock_rebound_adjustment = number("Shock High Speed Rebound Damping", 50, 0, 100, 1);
    u.shock_slow_rebound_adjustment = number("Shock Low Speed Rebound Damping", 50, 0, 100, 1);
    u.shock_spring_rate_adjustment = number("Shock Spring Rate", 50, 0, 100, 1);
    u.shock_preload_adjustment = number("Shock Preload", 50, 0, 100, 1);
    u.rider_yspring = number("Rider Vertical Spring", 50, 0, 100, 1);
    u.rider_ydamping = number("Rider Vertical Damping", 50, 0, 100, 1);
    u.rider_zspring = number("Rider Forward Spring", 50, 0, 100, 1);
    u.rider_zdamping = number("Rider Forward Damping", 50, 0, 100, 1);
    u.rider_mass_distribution = number("Rider Mass Distribution", 0.33, 0.33, 0.5, 0.01);

    s.video_mode = external_choice("Video Mode", "Default Fullscreen");
    s.video_mode_sizes.clear();
    s.server_name = text("Server", kServerNameMax, "localhost", true);
    for (std::string &h : s.server_history) h.clear();

    s.ground_detail = number("Ground Geometric Detail", 50, 0, 100, 1);
    s.ground_texture_detail = number("Ground Texture Levels", 9, 0, 10, 1);
    s.ground_texture_dim =
        choice("Ground Texture Resolution",
               {"32x32", "64x64", "128x128", "256x256", "512x512", "1024x1024"}, 2);
    s.ground_mipmaps = choice("Enable Ground Mipmaps", kNoYes, 1);
    s.texture_compress = choice("Compress Textures", {"No", "Yes", "Always"}, 1);
    s.render_texture = choice(
        "Terrain Rendering Method",
        {"Software", "Hardware/Copy", "Hardware/Direct", "Shaders/Copy", "Shaders/Direct"}, 2);
    s.use_shader = choice("Use Shader Programs", kNoYes, 1);
    s.roost_density = number("Roost Density", 250, 0, 1000, 10);
    s.lens_flare = choice("Enable Lens Flares", kNoYes, 1);
    s.reflections = choice("Enable Reflections", kNoYes, 1);
    s.hide_rider = choice("Hide 1st Person Rider", kNoYes, 0);
    s.rigid_camera = choice("Rigid 3rd person camera", kNoYes, 0);
    s.model_detail = number("Model Geometric Detail", 50, 0, 100, 1);
    s.model_texture_detail = number("Model Texture Detail", 9, 0, 10, 1);
    s.fov = number("Field Of View", 110, 10, 170, 1);
    s.first_person_height = number("1st Person Height", 0, 0, 1, 0.03125);
    s.first_person_angle = number("1st Person Angle", 0, 0, 40, 1);
    s.third_person_height = number("3rd Person Height", 5, 0, 20, 1);
    s.third_person_distance = number("3rd Person Distance", 10, 5, 40, 1);
    s.volume = number("Volume", 10, 0, 10, 1);
    s.comp_volume = number("Competitor Volume", 8, 0, 10, 1);
    s.playback_mode = choice("Playback Mode", {"Playback Only", "Race Against"}, 0);
    s.billboard_optimize_lookahead = 8;
    s.message_lines = 5;
    s.demo_backups = 0;
    s.map_scale = 1.0;

    static const struct {
        const char *label, *key;
    } kControls[kControlCount] = {
        {"Throttle", "x"},  {"Front Brake", "c"},   {"Rear Brake", "v"},
        {"Left", "left"},   {"Right", "right"},     {"Clutch", "z"},
        {"Upshift", "up"},  {"Downshift", "down"},  {"Sit/Dab", "right ctrl"},
        {"Back up", "b"},   {"Lean Forward", "n"},  {"Lean Backward", "m"},
        {"Pause", "pause"}, {"Step", "."},          {"Rewind", "\\"},
        {"Skip", "/"},      {"Previous Bike", "["}, {"Next Bike", "]"},
        {"Chat", "t"},      {"Screenshot", "s"},
    };
    for (int i = 0; i < kControlCount; i++) {
        ControlBinding b;
        b.label = kControls[i].label;
        b.key_name = intern_string(kControls[i].key);
        s.controls[i] = b;
    }
}

Settings &global_settings() {
    static Settings *s = [] {
        Settings *p = new Settings; // lives until exit
        set_defaults(*p);
        return p;
    }();
    return *s;
}

} // namespace

Settings &settings() {
    return global_settings();
}

void settings_reset() {
    Settings &s = settings();
    // The lists other subsystems filled survive; only the selections go back.
    std::vector<std::string> bikes = s.setup.bike.choices;
    std::vector<std::string> rider = s.setup.rider_texture.choices;
    std::vector<std::string> head = s.setup.head_texture.choices;
    std::vector<std::string> wheel = s.setup.wheel_texture.choices;
    std::vector<std::string> modes = s.video_mode.choices;
    std::vector<VideoMode> sizes = s.video_mode_sizes;
    std::vector<std::string> track_ids = s.track_ids;
    std::vector<std::string> track_names = s.track.choices;
    set_defaults(s);
    choice_set_texts(s.setup.bike, std::move(bikes));
    choice_set_texts(s.setup.rider_texture, std::move(rider));
    choice_set_texts(s.setup.head_texture, std::move(head));
    choice_set_texts(s.setup.wheel_texture, std::move(wheel));
    if (!modes.empty()) {
        s.video_mode_sizes = std::move(sizes);
        choice_set_texts(s.video_mode, std::move(modes));
    }
    if (!track_ids.empty()) settings_set_track_list(track_ids, track_names);
    settings_bike_changed();
}

const std::string &choice_text(const ChoiceSetting &c) {
    if (c.index >= 0 && c.index < int(c.choices.size())) return c.choices[c.index];
    return c.held_text;
}

void choice_set_texts(ChoiceSetting &c, std::vector<std::string> texts) {
    std::string wanted = choice_text(c);
    c.choices = std::move(texts);
    c.index = 0;
    c.held_text.clear();
    if (c.choices.empty()) {
        c.held_text = std::move(wanted);
        return;
    }
    for (std::size_t i = 0; i < c.choices.size(); i++) {
        if (c.choices[i] == wanted) {
            c.index = int(i);
            break;
        }
    }
}

bool choice_select(ChoiceSetting &c, const std::string &text) {
    if (c.choices.empty()) {
        c.index = 0;
        c.held_text = text;
        return true;
    }
    for (std::size_t i = 0; i < c.choices.size(); i++) {
        if (c.choices[i] == text) {
            c.index = int(i);
            return true;
        }
    }
    return false;
}

void settings_set_bike_models(const char *const *names, int count) {
    std::vector<std::string> models;
    for (int i = 0; i < count; i++)
        if (names && names[i]) models.emplace_back(names[i]);
    choice_set_texts(settings().setup.bike, std::move(models));
}

void settings_set_bike_skin_source(BikeSkinSource source) {
    g_bike_skin_source = source;
}

void settings_bike_changed() {
    SetupSettings &u = settings().setup;
    std::vector<std::string> skins;
    if (g_bike_skin_source) skins = g_bike_skin_source(choice_text(u.bike));
    u.bike_texture.choices = std::move(skins);
    u.bike_texture.index = 0;
    u.bike_texture.held_text.clear();
}

void settings_set_track_list(const std::vector<std::string> &ids,
                             const std::vector<std::string> &names,
                             const std::string &selected_id) {
    Settings &s = settings();
    std::string wanted = selected_id.empty() ? settings_track_id() : selected_id;
    s.track_ids = ids;
    s.track.choices = names;
    s.track.choices.resize(ids.size());
    s.track.index = 0;
    s.track.held_text.clear();
    if (ids.empty()) {
        s.track.held_text = wanted;
        return;
    }
    for (std::size_t i = 0; i < ids.size(); i++) {
        if (ids[i] == wanted) {
            s.track.index = int(i);
            break;
        }
    }
}

const std::string &settings_track_id() {
    const Settings &s = settings();
    if (s.track.index >= 0 && s.track.index < int(s.track_ids.size()))
        return s.track_ids[s.track.index];
    return s.track.held_text;
}

void video_modes_build(const VideoMode *modes, int count) {
    Settings &s = settings();
    std::vector<std::string> texts = {"Default Fullscreen", "Windowed"};
    std::vector<VideoMode> sizes = {{0, 0, 0}, {0, 0, 0}};
    if (modes && count > 0) {
        int bits = modes[0].bits;
        for (int i = 0; i < count; i++) {
            const VideoMode &m = modes[i];
            if (m.bits != bits || m.width <= 0 || m.height <= 0) continue;
            bool seen = false;
            for (std::size_t j = 2; j < sizes.size(); j++)
                if (sizes[j].width == m.width && sizes[j].height == m.height) seen = true;
            if (seen) continue;
            char name[32];
            std::snprintf(name, sizeof name, "%dx%d", m.width, m.height);
            texts.emplace_back(name);
            sizes.push_back(m);
        }
    }
    s.video_mode_sizes = std::move(sizes);
    choice_set_texts(s.video_mode, std::move(texts));
}

double number_clamp(const NumberSetting &n, double v) {
    if (std::isnan(v)) return n.min;
    if (v < n.min) return n.min;
    if (v > n.max) return n.max;
    return v;
}

bool choice_read(ChoiceSetting &c, const char *value) {
    return choice_select(c, value);
}

namespace {
// Scans one value of text with the program's scanner.
template <typename T> bool scan_value(const char *value, const char *format, T *out) {
    Stream *s = stream_open_memory(value, std::strlen(value), false);
    if (!s) return false;
    bool ok = stream_scan(s, format, out) == 1;
    stream_free(s);
    return ok;
}
} // namespace

bool number_read(NumberSetting &n, const char *value) {
    float f = 0;
    if (!scan_value(value, "%f", &f)) return false;
    n.value = number_clamp(n, f);
    return true;
}

bool integer_read(int &v, const char *value) {
    int i = 0;
    if (!scan_value(value, "%d", &i)) return false;
    v = i;
    return true;
}

bool real_read(double &v, const char *value) {
    float f = 0;
    if (!scan_value(value, "%f", &f)) return false;
    v = f;
    return true;
}

void text_read(TextSetting &t, const char *value) {
    std::string text(value);
    if (t.max_length >= 0 && text.size() > std::size_t(t.max_length)) text.resize(t.max_length);
    // The file's reader drops line ends at the end of a value; keep the stored text so
    // that it reads back the same.
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.pop_back();
    t.text = std::move(text);
    if (t.cursor > int(t.text.size())) t.cursor = int(t.text.size());
}

void append_setting_line(std::string &out, const char *key, const std::string &value) {
    out += key;
    out += '=';
    out += value;
    out += '\n';
}

std::string number_format(double v) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%f", v);
    return buf;
}
