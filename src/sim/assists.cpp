#include "sim/assists.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/bike.h"
#include "sim/forces.h"
#include "sim/world.h"
#include "track/terrain.h"

namespace {

constexpr double kPi = std::numbers::pi;

double clamp(double v, double lo, double hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

// clamp(num / den, 0, 1), or a step at 0 when den is 0 (no NaN for a lock of 0).
double ratio01(double num, double den) {
    if (den > 0) return clamp(num / den, 0, 1);
    return num > 0 ? 1 : 0;
}

// Moves v by amount toward 0, stopping at 0.
double dead_band(double v, double amount) {
    if (v > amount) return v - amount;
    if (v < -amount) return v + amount;
    return 0;
}

bool usable(const Bike *b) {
    return b && b->body[kBodyFrame] && b->body[kBodyFrontWheel] && b->body[kBodyForkUpper] &&
           b->joint[kJointSteering] && b->joint[kJointFrontAxle];
}

// The frame's angular velocity in frame coordinates, z component: positive makes roll grow.
double roll_rate(const Bike *b) {
    dBodyID frame = b->body[kBodyFrame];
    return body_vector_from_world(frame, body_angular_vel(frame)).z;
}

double front_rolling_speed(const Bike *b) {
    const WheelSpec &w = b->model.front_wheel;
    return (double(w.rim_radius) + w.tube_radius) *
           dJointGetHingeAngleRate(b->joint[kJointFrontAxle]);
}

} // namespace

double steering_lock(const BikeSetup &s, double vf, double grip) {
    double full = std::max(1.0, double(s.full_lock_speed));
    double M = std::max(full + 1, double(s.restricted_lock_speed));
    double k = clamp((1 / std::max(1.0, vf) - 1 / M) / (1 / full - 1 / M), 0, 1);
    if (!(grip >= 0.125)) grip = 0.125;
    double lock0 = std::min(double(s.restricted_lock_angle) / grip, kPi / 4);
    return lock0 + (kPi / 4 - lock0) * k;
}

double allowed_lean(double v, double l, double m, int exponent) {
    if (!(v > 0)) return 0;
    if (v >= m) return 2 * kPi;
    if (v <= 15) return l * (1 - std::pow(1 - std::min(1.0, v * v / (m * m)), exponent));
    return l + clamp((v * v - 225) / (m * m - 225), 0, 1) * (2 * kPi - l);
}

void slide_limit(double lock, double clearance, double beta, double &lo, double &hi) {
    double L = lock + (kPi / 4 - lock) * clamp(2 * clearance, 0, 1);
    double W = 1.125 * L + 0.015;
    if (beta > L) lo = lo * (1.25 * clamp((beta - W) / (L - W), 0, 1) - 0.25);
    if (beta < -L) hi = hi * (1.25 * clamp((beta + W) / (W - L), 0, 1) - 0.25);
}

double dab_weight_of(double vf, double lock, double roll, double beta, double steer_angle) {
    double q = clamp((vf - 5) / 10, 0, 1);
    double k1 = 0.25 * q * lock;
    double k2 = (0.625 * q + 0.125) * lock;
    double s1, s2;
    if (roll >= 0) {
        s1 = ratio01(-beta - k1, k2 - k1);
        s2 = clamp((steer_angle - kPi / 12) * 12 / kPi, 0, 1);
    } else {
        s1 = ratio01(beta - k1, k2 - k1);
        s2 = clamp(-(steer_angle + kPi / 12) * 12 / kPi, 0, 1);
    }
    return std::max(s1, s2);
}

double lean_steering_torque(double strength, double steer, double lean_max, double roll,
                            double wz) {
    double rho = 2.5 * (-steer * lean_max - roll);
    bool to_upright = (rho < 0 && roll >= 0) || (rho >= 0 && roll < 0);
    double limit = to_upright ? 25 * kPi / 8 : 5 * kPi / 4;
    rho = clamp(rho, -limit, limit);
    double e = clamp(rho - wz, -0.125, 0.125);
    double x = clamp(4 * (wz - rho + e), -1, 1);
    return strength * x;
}

double arcade_lean_speed(double roll_damping, double steer, double roll) {
    double kappa = clamp((roll_damping - 40) * 0.025, 0, 1);
    double phi = -steer * kPi / 4;
    double speed = (1.5 - 0.5 * kappa) * 16 * std::min(std::fabs(roll - phi), 0.0625);
    return phi > roll ? speed : -speed;
}

void steer_torque_apply(Bike *b, double T) {
    if (!usable(b) || !std::isfinite(T)) return;
    Vec3 a = body_vector_to_world(b->body[kBodyFrame], bike_steering_axis(b->model));
    body_add_torque(b->body[kBodyFrontWheel], a * T);
    body_add_torque(b->body[kBodyFrame], a * -T);
}

double steer_slip_angle(const Bike *b) {
    if (!usable(b)) return 0;
    Vec3 u =
        body_vector_from_world(b->body[kBodyForkUpper], body_linear_vel(b->body[kBodyFrontWheel]));
    Vec3 a = bike_steering_axis(b->model);
    Vec3 p{0, -a.z, a.y};
    double d = dot(u, p);
    if (u.x * u.x + d * d > 1) return -std::atan2(u.x, -d);
    return 0;
}

double steer_servo(const Bike *b, double target) {
    if (!usable(b) || !std::isfinite(target)) return 0;
    double e = clamp(target - dJointGetHingeAngle(b->joint[kJointSteering]), -0.25, 0.25);
    e = dead_band(e, 1.0 / 32);
    double r = 8 * e - dJointGetHingeAngleRate(b->joint[kJointSteering]);
    r = dead_band(r, 1.0 / 2400);
    return clamp(0.5 * r, -2.0 / 3, 2.0 / 3);
}

void body_axis_motor(dBodyID body, Vec3 axis, double vel, double fmax) {
    if (!body || !finite(axis) || !std::isfinite(vel) || !std::isfinite(fmax)) return;
    dJointID j = dJointCreateAMotor(physics_world(), physics_contact_group());
    dJointAttach(j, body, nullptr);
    dJointSetAMotorNumAxes(j, 1);
    dJointSetAMotorAxis(j, 0, 0, axis.x, axis.y, axis.z);
    dJointSetAMotorParam(j, dParamVel, vel);
    dJointSetAMotorParam(j, dParamFMax, fmax);
}

void steering_assist_update(Bike *b) {
    if (!usable(b)) return;
    b->dab_weight = 0;
    if (b->crash_timer > 0) return;
    const BikeSetup &s = b->setup;
    dBodyID frame = b->body[kBodyFrame], front = b->body[kBodyFrontWheel];
    const WheelSpec &fw = b->model.front_wheel;
    double steer = b->input.steer;
    double steer_angle = dJointGetHingeAngle(b->joint[kJointSteering]);
    double vf = front_rolling_speed(b);
    double roll = roll_angle(frame);
    double wz = roll_rate(b);
    double v = length(body_linear_vel(frame));
    double beta = steer_slip_angle(b);
    Vec3 fc = body_position(front);
    double grip = surface_friction(terrain_tile(fc.x, fc.z), 0);
    double clearance =
        fc.y - terrain_height(fc.x, fc.z) - double(fw.rim_radius) - double(fw.tube_radius);

    // 2. Bounds and the direct term.
    double hi = s.max_steering_force, lo = -hi;
    double D = s.steering_strength * steer * s.direct_steering;
    // 3. Steering lock.
    double lock = steering_lock(s, vf, grip);
    // 4. Slide limit.
    if (vf > 1 && clearance < 0.5) slide_limit(lock, clearance, beta, lo, hi);

    double T;
    double axle_rate = dJointGetHingeAngleRate(b->joint[kJointFrontAxle]);
    if (!(b->wheels[0].depth > 0) || axle_rate <= kPi / 4) {
        // 5. Front wheel not gripping: a centring spring; the landing boost is armed.
        b->landing_factor = s.landing_damping_factor;
        T = -50 * steer_angle;
    } else {
        // 6. Front wheel gripping.
        T = wz * s.roll_damping * b->landing_factor;
        if (b->landing_factor > 1) {
            if (s.landing_damping_falloff != 0)
                b->landing_factor = float(std::max(
                    1.0, b->landing_factor - (s.landing_damping_factor - 1.0) * kStepSeconds /
                                                 s.landing_damping_falloff));
            else
                b->landing_factor = 1;
        }
        double G = roll * s.leveling;
        if (v < s.slow_damping_speed) {
            double g = s.slow_damping_factor +
                       (1 - s.slow_damping_factor) * clamp(v / s.slow_damping_speed, 0, 1);
            T *= g;
            G *= g;
        }
        bool rolling_in = (wz >= 0 && roll >= 0) || (wz < 0 && roll < 0);
        if (rolling_in && std::fabs(roll) > s.roll_limit_angle)
            T *= (std::fabs(roll) - s.roll_limit_angle) * s.roll_limit_factor + 1;
        T += G;
        if (s.direct_steering < 1) {
            double lean_max = allowed_lean(v, s.roll_limit_angle, s.max_dab_speed, 4);
            double lambda = lean_steering_torque(s.steering_strength, steer, lean_max, roll, wz);
            D = lambda + s.direct_steering * (D - lambda);
        }
    }
    // 7. Right after a bike-to-bike bump only the direct term acts.
    if (b->bump_timer > 0) {
        double c = 200 * clamp((192 - b->bump_timer) / 192, 0, 1);
        T = clamp(T, -c, c);
    }
    double total = 1.5 * (T + D);
    // 9. How far the front is washing out or turned into the lean (the foot-down push).
    b->dab_weight = float(dab_weight_of(vf, lock, roll, beta, steer_angle));
    // 10.
    if (total < lo)
        total = lo;
    else if (total > hi)
        total = hi;
    steer_torque_apply(b, total);
}

void arcade_assist_update(Bike *b) {
    if (!usable(b)) return;
    const BikeSetup &s = b->setup;
    dBodyID frame = b->body[kBodyFrame];
    double steer = b->input.steer;
    double speed = arcade_lean_speed(s.roll_damping, steer, roll_angle(frame));
    body_axis_motor(frame, body_vector_to_world(frame, {0, 0, 1}), speed, 1000);

    double T = steer_servo(b, steer_slip_angle(b) - 0.5 * steer) * s.steering_strength;
    steer_torque_apply(b, T);

    const Vec3 tail{0, 0, 20};
    Vec3 u = body_point_velocity(frame, body_point_to_world(frame, tail));
    body_add_force_at_rel_pos(frame, u * -0.25, tail);
}

void steering_damping_apply(Bike *b) {
    if (!usable(b)) return;
    dBodyID wheel = b->body[kBodyFrontWheel];
    Vec3 w = body_angular_vel(wheel);
    Vec3 x = body_vector_to_world(wheel, {1, 0, 0});
    Vec3 Td = (x * dot(x, w) - w) * double(b->setup.steering_damping);
    body_add_torque(wheel, Td);
    body_add_torque(b->body[kBodyFrame], -Td);
}
