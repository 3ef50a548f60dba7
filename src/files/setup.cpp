#include "files/setup.h"

#include "files/settings.h"
#include "platform/messages.h"

#include <cmath>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

enum class Kind { Choice, Number, Text };

struct SetupKey {
    const char *key;
    Kind kind;
    void *target;
};

// The setup keys in file order.
const std::vector<SetupKey> &setup_keys() {
    static const std::vector<SetupKey> keys = [] {
        SetupSettings &u = settings().setup;
        auto c = [](const char *k, ChoiceSetting &s) { return SetupKey{k, Kind::Choice, &s}; };
        auto n = [](const char *k, NumberSetting &s) { return SetupKey{k, Kind::Number, &s}; };
        auto t = [](const char *k, TextSetting &s) { return SetupKey{k, Kind::Text, &s}; };
        return std::vector<SetupKey>{
            c("bike", u.bike),
            t("name", u.name),
            t("number", u.number),
            c("rider_texture", u.rider_texture),
            c("head_texture", u.head_texture),
            c("bike_texture", u.bike_texture),
            c("wheel_texture", u.wheel_texture),
            n("stability", u.stability),
            n("leveling", u.leveling),
            n("roll_damping", u.roll_damping),
            n("roll_limit_angle", u.roll_limit_angle),
            n("roll_limit_factor", u.roll_limit_factor),
            n("steering_damping", u.steering_damping),
            n("steering_strength", u.steering_strength),
            n("max_steering_force", u.max_steering_force),
            n("direct_steering", u.direct_steering),
            n("slow_damping_speed", u.slow_damping_speed),
            n("slow_damping_factor", u.slow_damping_factor),
            n("land_damping_falloff", u.land_damping_falloff),
            n("land_damping_factor", u.land_damping_factor),
            n("full_lock_speed", u.full_lock_speed),
            n("restricted_lock_speed", u.restricted_lock_speed),
            n("restricted_lock", u.restricted_lock),
            c("arcade", u.arcade),
            c("front_brake", u.front_brake),
            c("rear_brake", u.rear_brake),
            c("stop_wheelies", u.stop_wheelies),
            c("auto_shift", u.auto_shift),
            c("auto_dab", u.auto_dab),
            c("auto_align", u.auto_align),
            c("sticky_dab", u.sticky_dab),
            c("reverse_steering", u.reverse_steering),
            c("lean_indicator", u.lean_indicator),
            n("auto_clutch_rpms", u.auto_clutch_rpms),
            n("brake_torque", u.brake_torque),
            n("rear_brake_torque", u.rear_brake_torque),
            n("max_dab_speed", u.max_dab_speed),
            n("front_sprocket_adjustment", u.front_sprocket_adjustment),
            n("rear_sprocket_adjustment", u.rear_sprocket_adjustment),
            n("fork_compression_adjustment", u.fork_compression_adjustment),
            n("fork_slow_compression_adjustment", u.fork_slow_compression_adjustment),
            n("fork_rebound_adjustment", u.fork_rebound_adjustment),
            n("fork_slow_rebound_adjustment", u.fork_slow_rebound_adjustment),
            n("fork_spring_rate_adjustment", u.fork_spring_rate_adjustment),
            n("fork_preload_adjustment", u.fork_preload_adjustment),
            n("fork_oil_level_adjustment", u.fork_oil_level_adjustment),
            n("shock_compression_adjustment", u.shock_compression_adjustment),
            n("shock_slow_compression_adjustment", u.shock_slow_compression_adjustment),
            n("shock_rebound_adjustment", u.shock_rebound_adjustment),
            n("shock_slow_rebound_adjustment", u.shock_slow_rebound_adjustment),
            n("shock_spring_rate_adjustment", u.shock_spring_rate_adjustment),
            n("shock_preload_adjustment", u.shock_preload_adjustment),
            n("rider_yspring", u.rider_yspring),
            n("rider_ydamping", u.rider_ydamping),
            n("rider_zspring", u.rider_zspring),
            n("rider_zdamping", u.rider_zdamping),
            n("rider_mass_distribution", u.rider_mass_distribution),
        };
    }();
    return keys;
}

const SetupKey *find_setup_key(const char *key) {
    static const std::unordered_map<std::string_view, const SetupKey *> index = [] {
        std::unordered_map<std::string_view, const SetupKey *> m;
        for (const SetupKey &k : setup_keys()) m.emplace(k.key, &k);
        return m;
    }();
    auto it = index.find(key);
    return it == index.end() ? nullptr : it->second;
}

// Bike names of older versions and the models they stand for now.
const char *translate_bike_name(const char *name) {
    static const struct {
        const char *old_name, *new_name;
    } kOld[] = {{"crf250", "crf250(2008)"},
                {"kx250f", "kx250f(2008)"},
                {"rmz250", "rmz250(2008)"},
                {"yz250f", "yz250f(2008)"}};
    for (const auto &o : kOld)
        if (std::strcmp(name, o.old_name) == 0) return o.new_name;
    return name;
}

struct ApplyState {
    SetupHooks hooks{};
    bool registered = false;
    bool arcade_locked = false;
    double last_refusal = -20.0;
};
ApplyState g_apply;

} // namespace

bool setup_read_line(const char *key, const char *value) {
    if (!key || !value) return false;
    const SetupKey *k = find_setup_key(key);
    if (!k) return false;
    SetupSettings &u = settings().setup;
    switch (k->kind) {
    case Kind::Choice: {
        ChoiceSetting &c = *static_cast<ChoiceSetting *>(k->target);
        if (&c == &u.bike) {
            // The skins belong to the model, so the bike's skin list starts over.
            if (choice_read(c, translate_bike_name(value))) settings_bike_changed();
        } else {
            choice_read(c, value);
        }
        break;
    }
    case Kind::Number: {
        NumberSetting &n = *static_cast<NumberSetting *>(k->target);
        if (number_read(n, value) && &n == &u.stability) assist_from_stability(n.value);
        break;
    }
    case Kind::Text:
        text_read(*static_cast<TextSetting *>(k->target), value);
        break;
    }
    return true;
}

std::string setup_text() {
    std::string out;
    for (const SetupKey &k : setup_keys()) {
        switch (k.kind) {
        case Kind::Choice:
            append_setting_line(out, k.key, choice_text(*static_cast<ChoiceSetting *>(k.target)));
            break;
        case Kind::Number:
            append_setting_line(out, k.key,
                                number_format(static_cast<NumberSetting *>(k.target)->value));
            break;
        case Kind::Text:
            append_setting_line(out, k.key, static_cast<TextSetting *>(k.target)->text);
            break;
        }
    }
    return out;
}

bool setup_write(Stream *s) {
    if (!s) return false;
    std::string text = setup_text();
    return stream_write(s, text.data(), text.size()) == text.size();
}

void assist_from_stability(double stability) {
    SetupSettings &u = settings().setup;
    struct Row {
        NumberSetting *setting;
        double level[6];
    };
    const Row rows[] = {
        {&u.leveling, {20, 20, 20, 20, 20, 20}},
        {&u.roll_damping, {40, 50, 60, 70, 75, 80}},
        {&u.roll_limit_angle, {90, 45, 45, 40, 35, 35}},
        {&u.roll_limit_factor, {0, 5, 10, 32, 32, 32}},
        {&u.steering_damping, {45, 45, 45, 45, 45, 45}},
        {&u.steering_strength, {75, 75, 75, 75, 75, 75}},
        {&u.direct_steering, {1, 1, 1, 1, 1, 0}},
        {&u.max_steering_force, {400, 400, 400, 400, 400, 400}},
        {&u.slow_damping_speed, {40, 40, 40, 40, 40, 40}},
        {&u.slow_damping_factor, {1, 1, 1.5, 2, 2, 2}},
        {&u.land_damping_falloff, {0, 0.125, 0.25, 0.25, 0.25, 0.25}},
        {&u.land_damping_factor, {1, 1.5, 2, 2, 2, 2}},
        {&u.full_lock_speed, {10, 10, 10, 10, 10, 10}},
        {&u.restricted_lock_speed, {50, 50, 50, 50, 50, 50}},
        {&u.restricted_lock, {45, 15, 10, 5, 5, 5}},
    };
    double whole = std::isfinite(stability) ? std::trunc(stability) : 0.0;
    double level = whole * 5 * 0.01;
    if (!(level >= 0)) level = 0;
    if (level > 5) level = 5;
    int i = int(level);
    if (i > 4) i = 4;
    double f = level - i;
    // Slider values are single-precision numbers (as read from the file and as the menu
    // rounds them), so the file written later reads back to the same values.
    for (const Row &r : rows)
        r.setting->value = float(r.level[i] + f * (r.level[i + 1] - r.level[i]));
}

SetupValues setup_values() {
    const SetupSettings &u = settings().setup;
    const double kDegrees = 0.017453292519943295;
    auto hs = [](const NumberSetting &n) { return float(std::pow(2.0, 0.04 * n.value - 2)); };
    auto ls = [](const NumberSetting &n) { return float(0.02 * n.value - 1); };
    auto pc = [](const NumberSetting &n) { return float(0.01 * n.value); };
    auto f = [](const NumberSetting &n) { return float(n.value); };
    SetupValues v;
    v.leveling = f(u.leveling);
    v.roll_damping = f(u.roll_damping);
    v.roll_limit_angle = float(u.roll_limit_angle.value * kDegrees);
    v.roll_limit_factor = f(u.roll_limit_factor);
    v.steering_damping = f(u.steering_damping);
    v.steering_strength = f(u.steering_strength);
    v.max_steering_force = f(u.max_steering_force);

    v.arcade = g_apply.arcade_locked ? 0 : u.arcade.index;
    v.front_antilock = u.front_brake.index;
    v.rear_antilock = u.rear_brake.index;
    static const int kWheelies[3] = {0, 3, 2}; // "No", "Yes", "Front Only"
    int w = u.stop_wheelies.index;
    v.stop_wheelies = (w >= 0 && w < 3) ? kWheelies[w] : 0;
    v.auto_shift = u.auto_shift.index;
    v.auto_dab = u.auto_dab.index;
    v.auto_align = u.auto_align.index;

    v.direct_steering = f(u.direct_steering);
    v.slow_damping_speed = f(u.slow_damping_speed);
    v.slow_damping_factor = f(u.slow_damping_factor);
    v.landing_damping_falloff = f(u.land_damping_falloff);
    v.landing_damping_factor = f(u.land_damping_factor);
    v.full_lock_speed = f(u.full_lock_speed);
    v.restricted_lock_speed = f(u.restricted_lock_speed);
    v.restricted_lock_angle = float(u.restricted_lock.value * kDegrees);
    v.auto_clutch_rpm = f(u.auto_clutch_rpms);
    v.front_brake_torque = f(u.brake_torque);
    v.rear_brake_torque = f(u.rear_brake_torque);
    v.max_dab_speed = float(u.max_dab_speed.value * 1.4666666666666666);

    v.front_sprocket = f(u.front_sprocket_adjustment);
    v.rear_sprocket = f(u.rear_sprocket_adjustment);

    v.fork_hs_compression = hs(u.fork_compression_adjustment);
    v.fork_ls_compression = ls(u.fork_slow_compression_adjustment);
    v.fork_hs_rebound = hs(u.fork_rebound_adjustment);
    v.fork_ls_rebound = ls(u.fork_slow_rebound_adjustment);
    v.fork_spring = pc(u.fork_spring_rate_adjustment);
    v.fork_preload = pc(u.fork_preload_adjustment);
    v.fork_oil = pc(u.fork_oil_level_adjustment);

    v.shock_hs_compression = hs(u.shock_compression_adjustment);
    v.shock_ls_compression = ls(u.shock_slow_compression_adjustment);
    v.shock_hs_rebound = hs(u.shock_rebound_adjustment);
    v.shock_ls_rebound = ls(u.shock_slow_rebound_adjustment);
    v.shock_spring = pc(u.shock_spring_rate_adjustment);
    v.shock_preload = pc(u.shock_preload_adjustment);

    v.rider_vertical_spring = pc(u.rider_yspring);
    v.rider_forward_spring = pc(u.rider_zspring);
    v.rider_vertical_damping = pc(u.rider_ydamping);
    v.rider_forward_damping = pc(u.rider_zdamping);
    v.rider_mass_distribution = f(u.rider_mass_distribution);
    return v;
}

void setup_set_hooks(const SetupHooks *hooks) {
    g_apply.registered = hooks != nullptr;
    g_apply.hooks = hooks ? *hooks : SetupHooks{};
}

void setup_set_arcade_locked(bool locked) {
    g_apply.arcade_locked = locked;
}

void setup_reset_for_tests() {
    g_apply.last_refusal = -20.0;
    g_apply.arcade_locked = false;
}

bool setup_apply(Bike *bike) {
    if (!bike || !g_apply.registered) return false;
    const SetupHooks &h = g_apply.hooks;
    double speed = h.linear_speed ? h.linear_speed(bike) : 0.0;
    if (speed > 0.125) {
        double now = messages_state().run_time;
        if (now - g_apply.last_refusal < 10.0)
            show_message("Settings not applied.  Mechanic can't keep up error.");
        g_apply.last_refusal = now;
        return false;
    }
    SetupValues v = setup_values();
    auto call = [bike](auto hook, auto... args) {
        if (hook) hook(bike, args...);
    };
    call(h.leveling, v.leveling);
    call(h.roll_damping, v.roll_damping);
    call(h.roll_limit_angle, v.roll_limit_angle);
    call(h.roll_limit_factor, v.roll_limit_factor);
    call(h.steering_damping, v.steering_damping);
    call(h.steering_strength, v.steering_strength);
    call(h.max_steering_force, v.max_steering_force);

    call(h.arcade, v.arcade);
    call(h.front_antilock, v.front_antilock);
    call(h.rear_antilock, v.rear_antilock);
    call(h.stop_wheelies, v.stop_wheelies);
    call(h.auto_shift, v.auto_shift);
    call(h.auto_dab, v.auto_dab);
    call(h.auto_align, v.auto_align);

    call(h.direct_steering, v.direct_steering);
    call(h.slow_damping_speed, v.slow_damping_speed);
    call(h.slow_damping_factor, v.slow_damping_factor);
    call(h.landing_damping_falloff, v.landing_damping_falloff);
    call(h.landing_damping_factor, v.landing_damping_factor);
    call(h.full_lock_speed, v.full_lock_speed);
    call(h.restricted_lock_speed, v.restricted_lock_speed);
    call(h.restricted_lock_angle, v.restricted_lock_angle);
    call(h.auto_clutch_rpm, v.auto_clutch_rpm);
    call(h.front_brake_torque, v.front_brake_torque);
    call(h.rear_brake_torque, v.rear_brake_torque);
    call(h.max_dab_speed, v.max_dab_speed);

    call(h.sprockets, v.front_sprocket, v.rear_sprocket);
    call(h.fork, v.fork_hs_compression, v.fork_ls_compression, v.fork_hs_rebound, v.fork_ls_rebound,
         v.fork_spring, v.fork_preload, v.fork_oil);
    call(h.shock, v.shock_hs_compression, v.shock_ls_compression, v.shock_hs_rebound,
         v.shock_ls_rebound, v.shock_spring, v.shock_preload);
    call(h.rider_springs, v.rider_vertical_spring, v.rider_forward_spring);
    call(h.rider_dampings, v.rider_vertical_damping, v.rider_forward_damping);
    call(h.rider_mass_distribution, v.rider_mass_distribution);
    return true;
}
