// The rider's setup as the bike physics uses it: reset values, one clamping setter per
// value or group, the assist flags, the display texts of the "Suspension and Gearing"
// page, and the connection to the settings layer's setup hand-over (files/setup.h).
#pragma once
#include <cstdint>
#include <string>

struct Bike;
struct BikeModel;

struct BikeSetup {
    // Stability and steering assists.
    float leveling;                // 0..100, lb*ft per radian of lean
    float roll_damping;            // 0..100
    float roll_limit_factor;       // 0..64
    float roll_limit_angle;        // 0..pi
    float steering_damping;        // 0..100
    float steering_strength;       // 0..100
    float max_steering_force;      // 0..1000 lb*ft
    float direct_steering;         // 0..1
    float slow_damping_speed;      // 0..100 ft/s
    float slow_damping_factor;     // 1..10
    float landing_damping_falloff; // 0..0.5 s
    float landing_damping_factor;  // 1..3
    float full_lock_speed;         // 1..100 ft/s
    float restricted_lock_speed;   // 1..100 ft/s
    float restricted_lock_angle;   // 0..pi/4
    // Engine, brakes, dab.
    float auto_clutch_rpm;    // 0..5000
    float front_brake_torque; // 0..500 lb*ft
    float rear_brake_torque;  // 0..500 lb*ft
    float max_dab_speed;      // 7..100 ft/s
    // Gearing: the adjustments (teeth, -2..2) and the resulting rear / front ratio.
    float front_sprocket_adjustment, rear_sprocket_adjustment;
    float sprocket_ratio;
    // Suspension, within the model's ranges (see the setters).
    float fork_hs_compression, fork_ls_compression, fork_hs_rebound, fork_ls_rebound;
    float fork_spring, fork_preload, fork_oil;
    float shock_hs_compression, shock_ls_compression, shock_hs_rebound, shock_ls_rebound;
    float shock_spring, shock_preload;
    // Rider springs and dampers, 0..1.
    float rider_vertical_spring, rider_vertical_damping;
    float rider_forward_spring, rider_forward_damping;
    float rider_mass_distribution; // share of the rider's mass on the torso, 0.33..0.5
    // Flags.
    std::uint8_t stop_wheelies; // bit 1: no drive in a wheelie; bit 2: stoppie guard
    bool front_antilock, rear_antilock, auto_shift, auto_dab, auto_align, arcade;
    bool spare;
};

// The reset values for the bike's model (masses are not touched).
void bike_setup_reset(Bike *bike);
void bike_setup_reset(BikeSetup &setup, const BikeModel &model);

// Setters: each clamps its argument to the value's range; a NaN keeps the old value.
void bike_set_leveling(Bike *bike, float v);
void bike_set_roll_damping(Bike *bike, float v);
void bike_set_roll_limit_factor(Bike *bike, float v);
void bike_set_roll_limit_angle(Bike *bike, float radians);
void bike_set_steering_damping(Bike *bike, float v);
void bike_set_steering_strength(Bike *bike, float v);
void bike_set_max_steering_force(Bike *bike, float v);
void bike_set_direct_steering(Bike *bike, float v);
void bike_set_slow_damping_speed(Bike *bike, float v);
void bike_set_slow_damping_factor(Bike *bike, float v);
void bike_set_landing_damping_falloff(Bike *bike, float v);
void bike_set_landing_damping_factor(Bike *bike, float v);
void bike_set_full_lock_speed(Bike *bike, float v);
void bike_set_restricted_lock_speed(Bike *bike, float v);
void bike_set_restricted_lock_angle(Bike *bike, float radians);
void bike_set_auto_clutch_rpm(Bike *bike, float v);
void bike_set_front_brake_torque(Bike *bike, float v);
void bike_set_rear_brake_torque(Bike *bike, float v);
// Feet per second, clamped 7..100.
void bike_set_max_dab_speed(Bike *bike, float v);
// Adjustments clamped -2..2; ratio = max(3, floor(rear + rear adj)) /
// max(3, floor(front + front adj)).
void bike_set_sprockets(Bike *bike, float front_adjustment, float rear_adjustment);
// High-speed factors clamped 0.25..4 and low-speed factors -1..1 times the model's bases;
// spring, preload and oil level as fractions 0..1 of the model's ranges.
void bike_set_fork(Bike *bike, float hs_compression, float ls_compression, float hs_rebound,
                   float ls_rebound, float spring, float preload, float oil);
void bike_set_shock(Bike *bike, float hs_compression, float ls_compression, float hs_rebound,
                    float ls_rebound, float spring, float preload);
// Each 0..1.
void bike_set_rider_springs(Bike *bike, float vertical, float forward);
void bike_set_rider_dampings(Bike *bike, float vertical, float forward);
// d clamped 0.33..0.5; re-masses at once: frame = frame_mass + (1 - d) rider_mass,
// torso = d rider_mass.
void bike_set_rider_mass_distribution(Bike *bike, float d);
// 0..3 (other values are clamped).
void bike_set_stop_wheelies(Bike *bike, int v);
// Non-zero = on.
void bike_set_front_antilock(Bike *bike, int on);
void bike_set_rear_antilock(Bike *bike, int on);
void bike_set_auto_shift(Bike *bike, int on);
void bike_set_auto_dab(Bike *bike, int on);
void bike_set_auto_align(Bike *bike, int on);
void bike_set_arcade(Bike *bike, int on);

// Registers the setters with the settings layer's setup_apply (again on every call).
void bike_setup_connect();

// Display texts of the "Suspension and Gearing" page, from the model and the profile
// value v (0..100, used as 0.01 v clamped 0..1; the sprocket helpers take the
// adjustment in teeth).
std::string setup_text_fork_spring(const BikeModel &m, double v);             // "%.3f kg/mm"
std::string setup_text_fork_preload(const BikeModel &m, double v);            // "%.2f mm"
std::string setup_text_fork_oil(const BikeModel &m, double v);                // "%.2f mm"
std::string setup_text_shock_spring(const BikeModel &m, double v);            // "%.2f kg/mm"
std::string setup_text_shock_preload(const BikeModel &m, double v);           // "%.2f mm"
std::string setup_text_front_sprocket(const BikeModel &m, double adjustment); // "%.2f teeth"
std::string setup_text_rear_sprocket(const BikeModel &m, double adjustment);  // "%.2f teeth"
