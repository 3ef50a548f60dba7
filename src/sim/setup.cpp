#include "sim/setup.h"

#include <cmath>
#include <cstdio>
#include <numbers>

#include "files/setup.h"
#include "sim/bike.h"
#include "sim/catalogue.h"

namespace {

// v clamped to lo..hi; a NaN keeps old.
float clamp_keep(float v, float lo, float hi, float old) {
    if (std::isnan(v)) return old;
    return v < lo ? lo : v > hi ? hi : v;
}

float mix(float a, float b, float t) {
    return a + t * (b - a);
}

float fraction(double v) {
    double t = 0.01 * v;
    if (std::isnan(t)) t = 0;
    return float(t < 0 ? 0 : t > 1 ? 1 : t);
}

float sprocket_ratio(const BikeModel &m, float front_adj, float rear_adj) {
    float rear = std::floor(m.rear_sprocket + rear_adj);
    float front = std::floor(m.front_sprocket + front_adj);
    if (rear < 3) rear = 3;
    if (front < 3) front = 3;
    return rear / front;
}

std::string format(const char *fmt, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

// setup_apply hands over the linear speed to decide whether a change is allowed.
double frame_speed(const Bike *bike) {
    return bike_frame_speed(bike);
}

} // namespace

void bike_setup_reset(BikeSetup &s, const BikeModel &m) {
    s = BikeSetup{};
    s.leveling = 20;
    s.roll_damping = 60;
    s.roll_limit_factor = 10;
    s.roll_limit_angle = float(std::numbers::pi / 4);
    s.steering_damping = 45;
    s.steering_strength = 75;
    s.max_steering_force = 400;
    s.direct_steering = 1;
    s.slow_damping_speed = 0;
    s.slow_damping_factor = 1;
    s.landing_damping_falloff = 0.25f;
    s.landing_damping_factor = 2;
    s.full_lock_speed = 10;
    s.restricted_lock_speed = 50;
    s.restricted_lock_angle = 0.0872665f; // 5 degrees
    s.auto_clutch_rpm = 5000;
    s.front_brake_torque = 250;
    s.rear_brake_torque = 250;
    s.max_dab_speed = 30;
    s.front_sprocket_adjustment = 0;
    s.rear_sprocket_adjustment = 0;
    s.sprocket_ratio = sprocket_ratio(m, 0, 0);
    s.fork_hs_compression = m.fork_hs_compression;
    s.fork_ls_compression = 0;
    s.fork_hs_rebound = m.fork_hs_rebound;
    s.fork_ls_rebound = 0;
    s.fork_spring = mix(m.fork_spring_min, m.fork_spring_max, 0.5f);
    s.fork_preload = mix(m.fork_preload_min, m.fork_preload_max, 0.5f);
    s.fork_oil = m.fork_oil_min;
    s.shock_hs_compression = m.shock_hs_compression;
    s.shock_ls_compression = 0;
    s.shock_hs_rebound = m.shock_hs_rebound;
    s.shock_ls_rebound = 0;
    s.shock_spring = mix(m.shock_spring_min, m.shock_spring_max, 0.5f);
    s.shock_preload = mix(m.shock_preload_min, m.shock_preload_max, 0.5f);
    s.rider_vertical_spring = 0.5f;
    s.rider_vertical_damping = 0.5f;
    s.rider_forward_spring = 0.5f;
    s.rider_forward_damping = 0.5f;
    s.rider_mass_distribution = 1.0f / 3.0f; // the bodies are built with a third
    s.stop_wheelies = 2;
    s.front_antilock = true;
    s.rear_antilock = false;
    s.auto_shift = false;
    s.auto_dab = false;
    s.auto_align = true;
    s.arcade = false;
    s.spare = true;
}

void bike_setup_reset(Bike *bike) {
    if (bike) bike_setup_reset(bike->setup, bike->model);
}

#define SIMPLE_SETTER(fn, field, lo, hi)                                                           \
    void fn(Bike *bike, float v) {                                                                 \
        if (bike) bike->setup.field = clamp_keep(v, lo, hi, bike->setup.field);                    \
    }

SIMPLE_SETTER(bike_set_leveling, leveling, 0, 100)
SIMPLE_SETTER(bike_set_roll_damping, roll_damping, 0, 100)
SIMPLE_SETTER(bike_set_roll_limit_factor, roll_limit_factor, 0, 64)
SIMPLE_SETTER(bike_set_roll_limit_angle, roll_limit_angle, 0, float(std::numbers::pi))
SIMPLE_SETTER(bike_set_steering_damping, steering_damping, 0, 100)
SIMPLE_SETTER(bike_set_steering_strength, steering_strength, 0, 100)
SIMPLE_SETTER(bike_set_max_steering_force, max_steering_force, 0, 1000)
SIMPLE_SETTER(bike_set_direct_steering, direct_steering, 0, 1)
SIMPLE_SETTER(bike_set_slow_damping_speed, slow_damping_speed, 0, 100)
SIMPLE_SETTER(bike_set_slow_damping_factor, slow_damping_factor, 1, 10)
SIMPLE_SETTER(bike_set_landing_damping_falloff, landing_damping_falloff, 0, 0.5f)
SIMPLE_SETTER(bike_set_landing_damping_factor, landing_damping_factor, 1, 3)
SIMPLE_SETTER(bike_set_full_lock_speed, full_lock_speed, 1, 100)
SIMPLE_SETTER(bike_set_restricted_lock_speed, restricted_lock_speed, 1, 100)
SIMPLE_SETTER(bike_set_restricted_lock_angle, restricted_lock_angle, 0, float(std::numbers::pi / 4))
SIMPLE_SETTER(bike_set_auto_clutch_rpm, auto_clutch_rpm, 0, 5000)
SIMPLE_SETTER(bike_set_front_brake_torque, front_brake_torque, 0, 500)
SIMPLE_SETTER(bike_set_rear_brake_torque, rear_brake_torque, 0, 500)
SIMPLE_SETTER(bike_set_max_dab_speed, max_dab_speed, 7, 100)

#undef SIMPLE_SETTER

void bike_set_sprockets(Bike *bike, float front_adjustment, float rear_adjustment) {
    if (!bike) return;
    BikeSetup &s = bike->setup;
    s.front_sprocket_adjustment = clamp_keep(front_adjustment, -2, 2, s.front_sprocket_adjustment);
    s.rear_sprocket_adjustment = clamp_keep(rear_adjustment, -2, 2, s.rear_sprocket_adjustment);
    s.sprocket_ratio =
        sprocket_ratio(bike->model, s.front_sprocket_adjustment, s.rear_sprocket_adjustment);
}

namespace {

// A high-speed factor (0.25..4) times base; keeps old for a NaN.
float high_speed(float factor, float base, float old) {
    if (std::isnan(factor)) return old;
    return clamp_keep(factor, 0.25f, 4, 1) * base;
}
// A low-speed factor (-1..1) times base.
float low_speed(float factor, float base, float old) {
    if (std::isnan(factor)) return old;
    return clamp_keep(factor, -1, 1, 0) * base;
}
// A fraction 0..1 of the range lo..hi.
float in_range(float t, float lo, float hi, float old) {
    if (std::isnan(t)) return old;
    return mix(lo, hi, clamp_keep(t, 0, 1, 0));
}

} // namespace

void bike_set_fork(Bike *bike, float hs_compression, float ls_compression, float hs_rebound,
                   float ls_rebound, float spring, float preload, float oil) {
    if (!bike) return;
    BikeSetup &s = bike->setup;
    const BikeModel &m = bike->model;
    s.fork_hs_compression =
        high_speed(hs_compression, m.fork_hs_compression, s.fork_hs_compression);
    s.fork_ls_compression = low_speed(ls_compression, m.fork_ls_compression, s.fork_ls_compression);
    s.fork_hs_rebound = high_speed(hs_rebound, m.fork_hs_rebound, s.fork_hs_rebound);
    s.fork_ls_rebound = low_speed(ls_rebound, m.fork_ls_rebound, s.fork_ls_rebound);
    s.fork_spring = in_range(spring, m.fork_spring_min, m.fork_spring_max, s.fork_spring);
    s.fork_preload = in_range(preload, m.fork_preload_min, m.fork_preload_max, s.fork_preload);
    s.fork_oil = in_range(oil, m.fork_oil_min, m.fork_oil_max, s.fork_oil);
}

void bike_set_shock(Bike *bike, float hs_compression, float ls_compression, float hs_rebound,
                    float ls_rebound, float spring, float preload) {
    if (!bike) return;
    BikeSetup &s = bike->setup;
    const BikeModel &m = bike->model;
    s.shock_hs_compression =
        high_speed(hs_compression, m.shock_hs_compression, s.shock_hs_compression);
    s.shock_ls_compression =
        low_speed(ls_compression, m.shock_ls_compression, s.shock_ls_compression);
    s.shock_hs_rebound = high_speed(hs_rebound, m.shock_hs_rebound, s.shock_hs_rebound);
    s.shock_ls_rebound = low_speed(ls_rebound, m.shock_ls_rebound, s.shock_ls_rebound);
    s.shock_spring = in_range(spring, m.shock_spring_min, m.shock_spring_max, s.shock_spring);
    s.shock_preload = in_range(preload, m.shock_preload_min, m.shock_preload_max, s.shock_preload);
}

void bike_set_rider_springs(Bike *bike, float vertical, float forward) {
    if (!bike) return;
    BikeSetup &s = bike->setup;
    s.rider_vertical_spring = clamp_keep(vertical, 0, 1, s.rider_vertical_spring);
    s.rider_forward_spring = clamp_keep(forward, 0, 1, s.rider_forward_spring);
}

void bike_set_rider_dampings(Bike *bike, float vertical, float forward) {
    if (!bike) return;
    BikeSetup &s = bike->setup;
    s.rider_vertical_damping = clamp_keep(vertical, 0, 1, s.rider_vertical_damping);
    s.rider_forward_damping = clamp_keep(forward, 0, 1, s.rider_forward_damping);
}

void bike_set_rider_mass_distribution(Bike *bike, float d) {
    if (!bike) return;
    BikeSetup &s = bike->setup;
    s.rider_mass_distribution = clamp_keep(d, 0.33f, 0.5f, s.rider_mass_distribution);
    bike_rider_masses_apply(bike);
}

void bike_set_stop_wheelies(Bike *bike, int v) {
    if (bike) bike->setup.stop_wheelies = std::uint8_t(v < 0 ? 0 : v > 3 ? 3 : v);
}
void bike_set_front_antilock(Bike *bike, int on) {
    if (bike) bike->setup.front_antilock = on != 0;
}
void bike_set_rear_antilock(Bike *bike, int on) {
    if (bike) bike->setup.rear_antilock = on != 0;
}
void bike_set_auto_shift(Bike *bike, int on) {
    if (bike) bike->setup.auto_shift = on != 0;
}
void bike_set_auto_dab(Bike *bike, int on) {
    if (bike) bike->setup.auto_dab = on != 0;
}
void bike_set_auto_align(Bike *bike, int on) {
    if (bike) bike->setup.auto_align = on != 0;
}
void bike_set_arcade(Bike *bike, int on) {
    if (bike) bike->setup.arcade = on != 0;
}

void bike_setup_connect() {
    SetupHooks h{};
    h.linear_speed = frame_speed;
    h.leveling = bike_set_leveling;
    h.roll_damping = bike_set_roll_damping;
    h.roll_limit_angle = bike_set_roll_limit_angle;
    h.roll_limit_factor = bike_set_roll_limit_factor;
    h.steering_damping = bike_set_steering_damping;
    h.steering_strength = bike_set_steering_strength;
    h.max_steering_force = bike_set_max_steering_force;
    h.arcade = bike_set_arcade;
    h.front_antilock = bike_set_front_antilock;
    h.rear_antilock = bike_set_rear_antilock;
    h.stop_wheelies = bike_set_stop_wheelies;
    h.auto_shift = bike_set_auto_shift;
    h.auto_dab = bike_set_auto_dab;
    h.auto_align = bike_set_auto_align;
    h.direct_steering = bike_set_direct_steering;
    h.slow_damping_speed = bike_set_slow_damping_speed;
    h.slow_damping_factor = bike_set_slow_damping_factor;
    h.landing_damping_falloff = bike_set_landing_damping_falloff;
    h.landing_damping_factor = bike_set_landing_damping_factor;
    h.full_lock_speed = bike_set_full_lock_speed;
    h.restricted_lock_speed = bike_set_restricted_lock_speed;
    h.restricted_lock_angle = bike_set_restricted_lock_angle;
    h.auto_clutch_rpm = bike_set_auto_clutch_rpm;
    h.front_brake_torque = bike_set_front_brake_torque;
    h.rear_brake_torque = bike_set_rear_brake_torque;
    h.max_dab_speed = bike_set_max_dab_speed;
    h.sprockets = bike_set_sprockets;
    h.fork = bike_set_fork;
    h.shock = bike_set_shock;
    h.rider_springs = bike_set_rider_springs;
    h.rider_dampings = bike_set_rider_dampings;
    h.rider_mass_distribution = bike_set_rider_mass_distribution;
    setup_set_hooks(&h);
}

std::string setup_text_fork_spring(const BikeModel &m, double v) {
    return format("%.3f kg/mm",
                  mix(m.fork_spring_min, m.fork_spring_max, fraction(v)) * 0.00074408197);
}
std::string setup_text_fork_preload(const BikeModel &m, double v) {
    return format("%.2f mm", mix(m.fork_preload_min, m.fork_preload_max, fraction(v)) * 304.8);
}
std::string setup_text_fork_oil(const BikeModel &m, double v) {
    return format("%.2f mm", mix(m.fork_oil_min, m.fork_oil_max, fraction(v)) * 304.8);
}
std::string setup_text_shock_spring(const BikeModel &m, double v) {
    return format("%.2f kg/mm",
                  mix(m.shock_spring_min, m.shock_spring_max, fraction(v)) * 0.0014881639);
}
std::string setup_text_shock_preload(const BikeModel &m, double v) {
    return format("%.2f mm", mix(m.shock_preload_min, m.shock_preload_max, fraction(v)) * 304.8);
}
std::string setup_text_front_sprocket(const BikeModel &m, double adjustment) {
    return format("%.2f teeth", m.front_sprocket + adjustment);
}
std::string setup_text_rear_sprocket(const BikeModel &m, double adjustment) {
    return format("%.2f teeth", m.rear_sprocket + adjustment);
}
