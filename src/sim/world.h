// The one rigid-body world of the program, its joint group for the joints that live one
// step (contacts, ropes, springs, assist motors), the step counters, bike activity
// (simulated or frozen), and guarded entry points to the physics engine.
//
// The engine aborts the process on a NaN force or a zero quaternion, so every value this
// program hands to it goes through the guarded calls below, which drop non-finite input.
#pragma once
#include <cstdint>

#include <ode/ode.h>

#include "sim/vec3.h"

struct Bike;

constexpr double kStepSeconds = 1.0 / 128.0; // h
constexpr double kGravity = 32.0;            // ft/s^2, along -y

// Creates the world (gravity (0, -32, 0), default ERP and CFM, no auto-disabling) and
// the contact group, and routes the engine's messages to the log. Idempotent.
void physics_world_create();
// Destroys group and world and closes the engine. Bikes still alive must not be used
// with the physics afterwards (bike_destroy then only frees memory).
void physics_world_destroy();
// The world and the contact group (created on first use when missing).
dWorldID physics_world();
dJointGroupID physics_contact_group();
// Incremented by every physics_world_create; bikes remember the one they were built in.
std::uint32_t physics_world_generation();
bool physics_world_exists();
// One world step of 1/128 s, then the contact group is emptied and the global step
// counter advances.
void physics_step();
// Empties the contact group (after placement checks and at a session reset).
void physics_contacts_clear();

// Messages (warnings, debug and error reports) the engine produced since start-up.
int physics_message_count();

// Step counters read by the bike step. The race session keeps race_clock and
// race_start current; physics_step advances step.
struct SimClock {
    std::int64_t step = 0;       // global step counter
    std::int64_t race_clock = 0; // the race clock, in steps
    std::int64_t race_start = 0; // the race's start step
};
SimClock &sim_clock();

// ---- Activity ----
// enable: clears the force accumulators when frozen (activity <= 0.25), activity = 1,
// bodies enabled. disable: clears the accumulators, activity = 0, bodies disabled.
void bike_enable(Bike *bike);
void bike_disable(Bike *bike);
// A simulated bike hit this one: 0 -> enabled at 1; 0 < a <= 0.25 -> 0.25 and disabled;
// above 0.25 nothing.
void bike_wake(Bike *bike);
// For remote bikes, once per step: nothing at 0; else activity -= 1/128 (clamped 0..1)
// and the bodies are disabled at or below 0.25, enabled above.
void bike_activity_decay(Bike *bike);

// ---- Guarded engine calls (non-finite input is dropped; nothing happens for a null body) ----
void body_add_force(dBodyID b, Vec3 f);
void body_add_torque(dBodyID b, Vec3 t);
void body_add_rel_torque(dBodyID b, Vec3 t);
void body_add_force_at_pos(dBodyID b, Vec3 f, Vec3 p);
void body_add_force_at_rel_pos(dBodyID b, Vec3 f, Vec3 p);
void body_add_rel_force_at_rel_pos(dBodyID b, Vec3 f, Vec3 p);
void body_set_position(dBodyID b, Vec3 p);
// A zero or non-finite quaternion becomes the identity; others are normalised.
void body_set_quaternion(dBodyID b, Quat q);
void body_set_linear_vel(dBodyID b, Vec3 v);
void body_set_angular_vel(dBodyID b, Vec3 w);
// Joint parameter with a finite check.
void joint_set_param(dJointID j, int parameter, double value);

// ---- Reading bodies ----
Vec3 body_position(dBodyID b);
Quat body_quaternion(dBodyID b);
Vec3 body_linear_vel(dBodyID b);
Vec3 body_angular_vel(dBodyID b);
// Body-relative point / vector to world, and world vector to body coordinates.
Vec3 body_point_to_world(dBodyID b, Vec3 p);
Vec3 body_vector_to_world(dBodyID b, Vec3 v);
Vec3 body_vector_from_world(dBodyID b, Vec3 v);
// Velocity of the body at a world point.
Vec3 body_point_velocity(dBodyID b, Vec3 p);
