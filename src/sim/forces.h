// Force helpers shared by the contact, suspension, engine, rider and assist code: soft
// constraint parameters, ropes, speed servos, joint motors and the lean angle.
#pragma once
#include <ode/ode.h>

#include "sim/vec3.h"

struct SoftParams {
    double erp, cfm;
};

// (erp, cfm) = (h k / (h k + c), 1 / (h k + c)), h = 1/128: a contact or limit with these
// behaves as a spring of stiffness k (lb/ft) and a damper c (lb*s/ft). k and c must not
// both be 0 (then erp 0 and cfm 1e10 are returned, a constraint that does nothing).
SoftParams soft_params(double k, double c);

// A rope of `length` between point_a on body a and point_b on body b (both body-relative;
// with b null, point_b is a world point). Taut (distance > length), it becomes a contact
// joint in the contact group: position = a's point, normal = b's point - a's point (not
// normalised), depth = distance - length, no friction, soft parameters of k 5000, c 500.
// Nothing for a null a, a non-finite point or length, or a slack rope.
void rope(dBodyID a, Vec3 point_a, dBodyID b, Vec3 point_b, double length);

// Pushes the body's horizontal velocity towards target: d = velocity - target; nothing
// when |d| < 0.25 ft/s; else the force -(d/|d|) s max_force, s = clamp((|d| - 0.25) 0.8,
// 0, 1), with its y component dropped.
void speed_servo(dBodyID body, double max_force, Vec3 target);

// Drives a hinge, slider, hinge-2 (axis 1) or angular motor (axis 0) joint with force or
// torque F: F >= 0 pushes toward the positive limit with exactly F (velocity 100, max
// |F|); F < 0 brakes with |F| in both directions (velocity 0). A non-finite F acts as 0.
void motor_force(dJointID joint, double F);

// Signed lean of a body: with u its up axis and f its forward axis (-z) in world
// coordinates and s the horizontal direction (-f.z, f.x) normalised, roll =
// acos(clamp(u.x s.x + u.z s.z, -1, 1)) - pi/2; negative when u tilts toward the body's
// +x side. With f vertical, s comes from the body's x axis instead.
double roll_angle(dBodyID body);
