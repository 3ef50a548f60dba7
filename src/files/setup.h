// The rider and bike setup: its keys as a setup file (the same lines as in the
// configuration file), the assist values derived from the Stability slider, and the
// hand-over of the setup to a bike.
//
// The bike simulation lives above this layer, so it registers a table of setter hooks
// (SetupHooks) that setup_apply calls in a fixed order with converted values.
#pragma once
#include <string>

#include "files/stream.h"

struct Bike;

// Reads one setup key. Returns false when key is not a setup key. Values that do not
// parse or name no choice leave the setting unchanged. "bike" translates the older names
// ("crf250" -> "crf250(2008)", ...) and then rebuilds the bike skins, selecting the first
// one; "stability" then rewrites the fifteen assist values.
bool setup_read_line(const char *key, const char *value);
// The setup lines, in file order ("key=value\n" each).
std::string setup_text();
// Writes setup_text() to s. Returns false when the write failed.
bool setup_write(Stream *s);

// Sets the fifteen assist sliders from a Stability value (0..100, cut to a whole number):
// level = stability x 0.05 clamped to 0..5, interpolated between the rows of the table
// (each result rounded to single precision, like every slider value).
void assist_from_stability(double stability);

// The setup as a bike receives it, converted, in hand-over order.
struct SetupValues {
    // 1. stability
    float leveling, roll_damping, roll_limit_angle; // angle in radians
    float roll_limit_factor, steering_damping, steering_strength, max_steering_force;
    // 2. flags (choice indexes; stop_wheelies 0 "No", 3 "Yes", 2 "Front Only")
    int arcade, front_antilock, rear_antilock, stop_wheelies, auto_shift, auto_dab, auto_align;
    // 3. steering, clutch, brakes, dab
    float direct_steering, slow_damping_speed, slow_damping_factor;
    float landing_damping_falloff, landing_damping_factor;
    float full_lock_speed, restricted_lock_speed, restricted_lock_angle; // angle in radians
    float auto_clutch_rpm, front_brake_torque, rear_brake_torque;
    float max_dab_speed; // feet per second
    // 4. sprocket adjustments (teeth)
    float front_sprocket, rear_sprocket;
    // 5. fork: high-speed factors 2^(0.04 v - 2), low-speed 0.02 v - 1, the rest 0.01 v
    float fork_hs_compression, fork_ls_compression, fork_hs_rebound, fork_ls_rebound;
    float fork_spring, fork_preload, fork_oil;
    // 6. shock, the same forms
    float shock_hs_compression, shock_ls_compression, shock_hs_rebound, shock_ls_rebound;
    float shock_spring, shock_preload;
    // 7. rider
    float rider_vertical_spring, rider_forward_spring;
    float rider_vertical_damping, rider_forward_damping;
    float rider_mass_distribution;
};

// The bike module's setters, registered once; setup_apply calls them in field order.
struct SetupHooks {
    double (*linear_speed)(const Bike *bike); // the bike's speed, ft/s
    void (*leveling)(Bike *, float);
    void (*roll_damping)(Bike *, float);
    void (*roll_limit_angle)(Bike *, float);
    void (*roll_limit_factor)(Bike *, float);
    void (*steering_damping)(Bike *, float);
    void (*steering_strength)(Bike *, float);
    void (*max_steering_force)(Bike *, float);
    void (*arcade)(Bike *, int);
    void (*front_antilock)(Bike *, int);
    void (*rear_antilock)(Bike *, int);
    void (*stop_wheelies)(Bike *, int);
    void (*auto_shift)(Bike *, int);
    void (*auto_dab)(Bike *, int);
    void (*auto_align)(Bike *, int);
    void (*direct_steering)(Bike *, float);
    void (*slow_damping_speed)(Bike *, float);
    void (*slow_damping_factor)(Bike *, float);
    void (*landing_damping_falloff)(Bike *, float);
    void (*landing_damping_factor)(Bike *, float);
    void (*full_lock_speed)(Bike *, float);
    void (*restricted_lock_speed)(Bike *, float);
    void (*restricted_lock_angle)(Bike *, float);
    void (*auto_clutch_rpm)(Bike *, float);
    void (*front_brake_torque)(Bike *, float);
    void (*rear_brake_torque)(Bike *, float);
    void (*max_dab_speed)(Bike *, float);
    void (*sprockets)(Bike *, float front, float rear);
    void (*fork)(Bike *, float hs_compression, float ls_compression, float hs_rebound,
                 float ls_rebound, float spring, float preload, float oil);
    void (*shock)(Bike *, float hs_compression, float ls_compression, float hs_rebound,
                  float ls_rebound, float spring, float preload);
    void (*rider_springs)(Bike *, float vertical, float forward);
    void (*rider_dampings)(Bike *, float vertical, float forward);
    void (*rider_mass_distribution)(Bike *, float);
};

// Registers the setters (the table is copied; null hooks are skipped). Null unregisters.
void setup_set_hooks(const SetupHooks *hooks);
// While the race server forbids arcade physics, "arcade" is handed over as "No".
void setup_set_arcade_locked(bool locked);
// The current setup converted for a bike.
SetupValues setup_values();
// Hands the current setup to bike. Refused (false) while the bike moves faster than
// 0.125 ft/s: a refusal within 10 s of run time of the previous one shows "Settings not
// applied.  Mechanic can't keep up error.". Also false with no hooks or no bike.
bool setup_apply(Bike *bike);
// Test support: forgets the last refusal time.
void setup_reset_for_tests();
