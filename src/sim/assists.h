// Stability and steering assists: every step they turn the rider's steering input, the
// bike's lean and its motion into one torque about the steering axis, applied between
// the front wheel and the frame.
//
// Standard assists: a self-balancing steering law (roll damping and leveling, stiffer
// beyond a lean limit, harder at low speed and after a landing), a speed- and grip-
// dependent steering lock, a slide limit that refuses torque feeding a front slide, and a
// blend of direct steering with lean steering (the input sets a target lean). Arcade
// assists: a lean motor toward a target set by the input, a steering servo along the
// front wheel's path, and a drag far behind the bike. Steering damping acts in every mode.
//
// Signs (x points to the rider's right): a positive steering torque or steering angle
// turns the front wheel's heading toward -x (left); roll is positive with the up axis
// tilted toward -x; steer = -1 asks for a lean and turn to the left in lean steering and
// arcade mode.
#pragma once
#include <ode/ode.h>

#include "sim/vec3.h"

struct Bike;
struct BikeSetup;

// ---- Pieces of the standard law (pure, for tests and the robots) ----

// Steering lock for the front rolling speed vf and the surface grip: pi/4 up to
// full_lock_speed, falling with 1/speed to restricted_lock_angle / grip (never above
// pi/4) from max(full_lock_speed + 1, restricted_lock_speed) on. vf enters as at least 1,
// grip as at least 0.125.
double steering_lock(const BikeSetup &setup, double vf, double grip);
// The lean lean steering allows at frame speed v: 0 at rest, rising to roll_limit_angle
// as 1 - (1 - v^2/m^2)^exponent up to 15 ft/s, then toward 2 pi, and 2 pi (any lean) from
// m = max_dab_speed on. The assists use exponent 4, the foot-down push 32.
double allowed_lean(double v, double roll_limit_angle, double max_dab_speed, int exponent);
// The slide limit: narrows the torque bounds lo/hi when the front slip angle beta runs
// beyond the lock L (widened toward pi/4 as the wheel leaves the ground), down to at least
// 0.25 of the bound against the slide beyond W = 1.125 L + 0.015.
void slide_limit(double lock, double clearance, double beta, double &lo, double &hi);
// How far the front tyre washes out or the front wheel is turned into the lean (0..1).
// A lock of 0 makes the slide part a step: 1 for any slip to the outside of the lean.
double dab_weight_of(double vf, double lock, double roll, double beta, double steer_angle);
// Lean-steering torque for the wanted lean -steer * lean_max from roll and roll rate wz.
double lean_steering_torque(double strength, double steer, double lean_max, double roll, double wz);

// Arcade lean motor speed toward the target lean -steer * pi/4: at most 1.5 rad/s (roll
// damping 40 or less) down to 1 rad/s (80 or more), proportional within 0.0625 rad.
double arcade_lean_speed(double roll_damping, double steer, double roll);

// ---- Per step ----

// The standard assists (step 10 when arcade is off, every step); with the rider off the
// bike it only clears dab_weight.
void steering_assist_update(Bike *bike);
// The arcade assists (step 10 with arcade on and the rider on the bike).
void arcade_assist_update(Bike *bike);
// Damps the front wheel's rotation other than its spin about the axle, with the
// reaction on the frame (step 13, every step).
void steering_damping_apply(Bike *bike);
// Applies T lb*ft about the steering axis: +T on the front wheel, -T on the frame.
void steer_torque_apply(Bike *bike, double T);
// Front slip angle, radians: positive when the wheel moves toward its own -x side of
// where it points; 0 below 1 ft/s in the wheel plane.
double steer_slip_angle(const Bike *bike);
// Steering servo toward a target steering angle: a value in -2/3..2/3 to be multiplied
// by a gain (8 rad/s of wanted steering speed per radian of error, with dead bands).
double steer_servo(const Bike *bike, double target);

// An angular motor for one world step (in the contact group) on body alone, about the
// world axis: it turns the body at vel rad/s with at most fmax lb*ft.
void body_axis_motor(dBodyID body, Vec3 axis, double vel, double fmax);
