#include "sim/bike.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <numbers>

#include "platform/log.h"
#include "platform/memory.h"
#include "sim/assists.h"
#include "sim/engine.h"
#include "sim/ground.h"
#include "sim/parts.h"
#include "sim/rider.h"
#include "sim/suspension.h"
#include "sim/world.h"

namespace {

constexpr double kPi = std::numbers::pi;

// The fork and swingarm high stops lie this far beyond the fully extended reset pose. A
// joint resting exactly on a stop with no relative motion makes a degenerate row for the
// engine's LCP solver ("LCP internal error, s <= 0"), which then drops the remaining
// constraint forces of the step, contacts included.
constexpr double kStopMargin = 1.0 / 65536;

float clampf(float v, float lo, float hi) {
    if (std::isnan(v)) return lo > 0 ? lo : hi < 0 ? hi : 0;
    return v < lo ? lo : v > hi ? hi : v;
}

// The model-space position of each body.
Vec3 model_position(const BikeModel &m, int body) {
    switch (body) {
    case kBodyFrame:
        return vec3(m.frame_pos);
    case kBodyFrontWheel:
        return vec3(m.front_wheel.axle);
    case kBodyRearWheel:
        return vec3(m.rear_wheel.axle);
    case kBodyForkUpper:
        return vec3(m.steer_head);
    case kBodyForkLower:
        return vec3(m.fork_lower_pos);
    case kBodySwingarm:
        return vec3(m.swingarm_pos);
    default:
        return vec3(m.torso_pos);
    }
}

// Puts the centre of mass at the body's origin, as the engine requires, and sets it.
void set_mass(dBodyID body, dMass &mass) {
    dMassTranslate(&mass, -mass.c[0], -mass.c[1], -mass.c[2]);
    dBodySetMass(body, &mass);
}

void set_frame_mass(Bike *b, double distribution) {
    const BikeModel &m = b->model;
    dMass mass;
    dMassSetBoxTotal(&mass, m.frame_mass + (1 - distribution) * m.rider_mass, m.frame_box[0],
                     m.frame_box[1], m.frame_box[2]);
    set_mass(b->body[kBodyFrame], mass);
}

void set_torso_mass(Bike *b, double distribution) {
    dMass mass;
    dMassSetSphereTotal(&mass, distribution * b->model.rider_mass, 1.0);
    set_mass(b->body[kBodyTorso], mass);
}

// A hub sphere and a ring of sixteen small spheres at the rim.
void set_wheel_mass(dBodyID body, const WheelSpec &w) {
    dMass mass, s;
    dMassSetSphereTotal(&mass, w.hub_mass, w.hub_radius);
    for (int k = 0; k < 16; ++k) {
        double a = k * (kPi / 8);
        dMassSetSphereTotal(&s, w.rim_mass / 16.0, w.tube_radius);
        dMassTranslate(&s, 0, w.rim_radius * std::cos(a), w.rim_radius * std::sin(a));
        dMassAdd(&mass, &s);
    }
    set_mass(body, mass);
}

// Two fork legs: cylinders along z at x = +-spacing / 2, turned about x.
void set_fork_mass(dBodyID body, const BikeModel &m) {
    dMass mass, leg;
    dMassSetZero(&mass);
    for (int side = -1; side <= 1; side += 2) {
        dMassSetCylinderTotal(&leg, m.fork_mass / 2.0, 3, m.fork_leg_spacing / 8.0,
                              2.0 / 3.0 * m.fork_length);
        dMassTranslate(&leg, side * m.fork_leg_spacing / 2.0, 0, 0);
        dMassAdd(&mass, &leg);
    }
    double dy = double(m.fork_lower_pos[1]) - m.steer_head[1];
    double dz = double(m.fork_lower_pos[2]) - m.steer_head[2];
    dMatrix3 r;
    dRFromAxisAndAngle(r, 1, 0, 0, std::atan(dz / dy));
    dMassRotate(&mass, r);
    set_mass(body, mass);
}

// Two boxes of swingarm_mass each, as long as the pivot-to-axle distance, turned about x
// to point from the pivot to the rear axle.
void set_swingarm_mass(dBodyID body, const BikeModel &m) {
    double dy = double(m.rear_wheel.axle[1]) - m.swingarm_pivot[1];
    double dz = double(m.rear_wheel.axle[2]) - m.swingarm_pivot[2];
    double len = std::sqrt(dy * dy + dz * dz);
    double side = 0.25 * m.frame_box[0];
    dMass mass, box;
    dMassSetZero(&mass);
    for (int s = -1; s <= 1; s += 2) {
        dMassSetBoxTotal(&box, m.swingarm_mass, side, side, len);
        dMassTranslate(&box, s * m.frame_box[0] / 2.0, 0, 0);
        dMassAdd(&mass, &box);
    }
    dMatrix3 r;
    dRFromAxisAndAngle(r, 1, 0, 0, -std::atan(dy / dz));
    dMassRotate(&mass, r);
    set_mass(body, mass);
}

bool bodies_usable(const Bike *b) {
    return b && b->body[kBodyFrame] && physics_world_exists() &&
           b->world_generation == physics_world_generation();
}

// ---- The stages of bike_step that the suspension, engine, rider and assist modules fill ----

// 4: crash checks on the torso (ejection, impact).
void stage_crash_checks(Bike *b) {
    rider_crash_check_motion(b);
}
// 5: while the rider is off: ropes, countdown, and putting the rider back.
void stage_fallen_rider(Bike *b) {
    rider_fall_update(b);
}
// 7: back-up mode, or automatic dab and stopping.
void stage_stop_helpers(Bike *b) {
    rider_stop_update(b);
}
// 8: rider coupling springs.
void stage_rider_coupling(Bike *b) {
    rider_coupling_update(b);
}
// 9: fork force, then shock torque.
void stage_suspension(Bike *b) {
    fork_update(b);
    shock_update(b);
}
// 10: steering assists and steering torque, or the arcade assists.
void stage_steering(Bike *b) {
    if (!b->setup.arcade)
        steering_assist_update(b);
    else if (b->crash_timer <= 0)
        arcade_assist_update(b);
}
// 11: automatic shifting.
void stage_auto_shift(Bike *b) {
    auto_shift_update(b);
}
// 12: engine torque, clutch coupling, brakes.
void stage_drivetrain(Bike *b) {
    drivetrain_update(b);
    brakes_update(b);
}
// 13: steering damping torque.
void stage_steering_damping(Bike *b) {
    steering_damping_apply(b);
}
// 15: foot-down push and realignment.
void stage_dab(Bike *b) {
    rider_dab_update(b);
}
// 17: the feet (also for frozen bikes).
void stage_feet(Bike *b) {
    rider_feet_update(b);
}

// 2: a bike slower than 5 ft/s more than 2 s after the race start counts as touched down.
void stage_touched_down(Bike *b) {
    if (b->touched_down) return;
    const SimClock &c = sim_clock();
    if (double(c.race_start) * kStepSeconds + 2 < double(c.race_clock) * kStepSeconds &&
        bike_frame_speed(b) < 5)
        b->touched_down = 1;
}

// 3: the bump timer moves one unit toward 0.
void stage_bump_timer(Bike *b) {
    float t = b->bump_timer;
    b->bump_timer = t > 1 ? t - 1 : t < -1 ? t + 1 : 0;
}

// 18: the torso velocity of this step, for the impact check four steps on.
void stage_torso_history(Bike *b) {
    Vec3 v = body_linear_vel(b->body[kBodyTorso]);
    float *slot = b->torso_velocity_history[sim_clock().step & (kTorsoHistory - 1)];
    slot[0] = float(v.x);
    slot[1] = float(v.y);
    slot[2] = float(v.z);
}

void wheel_contact_init(WheelContact &w, dBodyID body, const WheelSpec &wheel) {
    w = WheelContact{};
    w.body = body;
    w.rim_radius = wheel.rim_radius;
    w.tube_radius = wheel.tube_radius;
}

} // namespace

Vec3 bike_steering_axis(const BikeModel &m) {
    return normalised(vec3(m.steer_head) - vec3(m.fork_lower_pos));
}

double bike_frame_speed(const Bike *bike) {
    if (!bike || !bike->body[kBodyFrame]) return 0;
    return length(body_linear_vel(bike->body[kBodyFrame]));
}

void bike_bodies_create(Bike *b) {
    if (!b) return;
    const BikeModel &m = b->model;
    dWorldID world = physics_world();
    for (int i = 0; i < kBodyCount; ++i) {
        b->body[i] = dBodyCreate(world);
        body_set_position(b->body[i], model_position(m, i));
        dBodySetData(b->body[i], b);
    }
    for (int i : {kBodyFrontWheel, kBodyRearWheel}) {
        dBodySetFiniteRotationMode(b->body[i], 1);
        dBodySetFiniteRotationAxis(b->body[i], 0, 0, 0);
    }
    set_frame_mass(b, 1.0 / 3.0);
    set_torso_mass(b, 1.0 / 3.0);
    set_wheel_mass(b->body[kBodyFrontWheel], m.front_wheel);
    set_wheel_mass(b->body[kBodyRearWheel], m.rear_wheel);
    set_fork_mass(b->body[kBodyForkUpper], m);
    set_fork_mass(b->body[kBodyForkLower], m);
    set_swingarm_mass(b->body[kBodySwingarm], m);

    Vec3 steer = bike_steering_axis(m);
    dJointID j;

    j = b->joint[kJointFrontAxle] = dJointCreateHinge(world, nullptr);
    dJointAttach(j, b->body[kBodyForkLower], b->body[kBodyFrontWheel]);
    dJointSetHingeAnchor(j, m.front_wheel.axle[0], m.front_wheel.axle[1], m.front_wheel.axle[2]);
    dJointSetHingeAxis(j, 1, 0, 0);

    j = b->joint[kJointRearAxle] = dJointCreateHinge(world, nullptr);
    dJointAttach(j, b->body[kBodySwingarm], b->body[kBodyRearWheel]);
    dJointSetHingeAnchor(j, m.rear_wheel.axle[0], m.rear_wheel.axle[1], m.rear_wheel.axle[2]);
    dJointSetHingeAxis(j, 1, 0, 0);

    j = b->joint[kJointSteering] = dJointCreateHinge(world, nullptr);
    dJointAttach(j, b->body[kBodyForkUpper], b->body[kBodyFrame]);
    dJointSetHingeAnchor(j, m.steer_head[0], m.steer_head[1], m.steer_head[2]);
    dJointSetHingeAxis(j, steer.x, steer.y, steer.z);
    dJointSetHingeParam(j, dParamLoStop, -kPi / 4);
    dJointSetHingeParam(j, dParamHiStop, kPi / 4);

    j = b->joint[kJointFork] = dJointCreateSlider(world, nullptr);
    dJointAttach(j, b->body[kBodyForkUpper], b->body[kBodyForkLower]);
    dJointSetSliderAxis(j, steer.x, steer.y, steer.z);
    dJointSetSliderParam(j, dParamBounce, 0);
    dJointSetSliderParam(j, dParamLoStop, -m.fork_travel);
    dJointSetSliderParam(j, dParamHiStop, kStopMargin);

    j = b->joint[kJointSwingarm] = dJointCreateHinge(world, nullptr);
    dJointAttach(j, b->body[kBodySwingarm], b->body[kBodyFrame]);
    dJointSetHingeAnchor(j, m.swingarm_pivot[0], m.swingarm_pivot[1], m.swingarm_pivot[2]);
    dJointSetHingeAxis(j, 1, 0, 0);
    dJointSetHingeParam(j, dParamBounce, 0);
    dJointSetHingeParam(j, dParamLoStop, -m.swingarm_travel);
    dJointSetHingeParam(j, dParamHiStop, kStopMargin);

    j = b->joint[kJointRider] = dJointCreateHinge2(world, nullptr);
    dJointAttach(j, b->body[kBodyTorso], b->body[kBodyFrame]);
    dJointSetHinge2Anchor(j, 0, m.torso_pos[1], -50);
    const dReal axis1[3] = {0, 1, 1}, axis2[3] = {1, 0, 0};
    dJointSetHinge2Axes(j, axis1, axis2);
    dJointSetHinge2Param(j, dParamLoStop, 0);
    dJointSetHinge2Param(j, dParamHiStop, 0);
    b->rider_attached = true;

    for (int i = 0; i < kJointCount; ++i) dJointSetFeedback(b->joint[i], &b->feedback[i]);
    wheel_contact_init(b->wheels[0], b->body[kBodyFrontWheel], m.front_wheel);
    wheel_contact_init(b->wheels[1], b->body[kBodyRearWheel], m.rear_wheel);
    b->world_generation = physics_world_generation();
}

void bike_bodies_destroy(Bike *b) {
    if (!b) return;
    if (bodies_usable(b)) {
        for (dJointID &j : b->joint)
            if (j) dJointDestroy(j);
        for (dBodyID &body : b->body)
            if (body) dBodyDestroy(body);
    }
    for (dJointID &j : b->joint) j = nullptr;
    for (dBodyID &body : b->body) body = nullptr;
    b->wheels[0].body = b->wheels[1].body = nullptr;
}

void bike_rider_masses_apply(Bike *b) {
    if (!bodies_usable(b)) return;
    set_frame_mass(b, b->setup.rider_mass_distribution);
    set_torso_mass(b, b->setup.rider_mass_distribution);
}

double bike_mass_total(const Bike *b) {
    if (!bodies_usable(b)) return 0;
    double total = 0;
    for (dBodyID body : b->body) {
        dMass m;
        dBodyGetMass(body, &m);
        total += m.mass;
    }
    return total;
}

Bike *bike_create(const char *model_name, int rider_id, const char *number_text,
                  const char *rider_texture, const char *head_texture, const char *bike_texture,
                  const char *wheel_texture) {
    const BikeModel &model = bike_model_resolve(model_name);
    Bike *b = new (alloc_or_die(sizeof(Bike))) Bike();
    b->model = model;

    const char **names[] = {&rider_texture, &head_texture, &bike_texture, &wheel_texture};
    for (const char **name : names) {
        if (!*name) {
            *name = "";
        } else if (!texture_name_safe(*name)) {
            log_printf("Ignoring unsafe texture name '%.200s'\n", *name);
            *name = "";
        }
    }

    const BikePartFile shape_files[kShapeCount] = {
        kPartFrameShape,      kPartForkUpperShape, kPartForkLowerShape, kPartSwingarmShape,
        kPartFrontWheelShape, kPartRearWheelShape, kPartRiderShape};
    for (int i = 0; i < kShapeCount; ++i)
        b->shapes[i].shape = shape_load(b->model.part_files[shape_files[i]]);

    if (number_text) {
        std::strncpy(b->number_text, number_text, kNumberTextMax);
        b->number_text[kNumberTextMax] = 0;
    }
    bike_parts_load(b, rider_texture, head_texture, bike_texture, wheel_texture);

    bike_bodies_create(b);
    b->work_indices.reserve(16);
    for (auto &list : b->work_lists) list.reserve(16);
    bike_setup_reset(b);
    b->total_mass = float(bike_mass_total(b));
    bike_state_reset(b);
    b->rider_id = rider_id;
    bike_setup_connect();
    return b;
}

void bike_destroy(Bike *bike) {
    if (!bike) return;
    bike_bodies_destroy(bike);
    bike->~Bike();
    std::free(bike);
}

void bike_rider_detach(Bike *b) {
    if (!b || !b->joint[kJointRider]) return;
    dJointAttach(b->joint[kJointRider], nullptr, nullptr);
    b->rider_attached = false;
}

void bike_rider_seat(Bike *b) {
    if (!bodies_usable(b)) return;
    dBodyID frame = b->body[kBodyFrame], torso = b->body[kBodyTorso];
    Vec3 rest = vec3(b->model.torso_pos) - vec3(b->model.frame_pos);
    body_set_position(torso, body_point_to_world(frame, rest));
    body_set_quaternion(torso, body_quaternion(frame));
    dJointAttach(b->joint[kJointRider], torso, frame);
    b->rider_attached = true;
}

void bike_state_reset(Bike *b) {
    if (!b) return;
    if (bodies_usable(b)) {
        for (int i = 0; i < kBodyCount; ++i) {
            dBodyID body = b->body[i];
            body_set_position(body, model_position(b->model, i));
            body_set_quaternion(body, Quat{});
            dBodySetLinearVel(body, 0, 0, 0);
            dBodySetAngularVel(body, 0, 0, 0);
            dBodySetForce(body, 0, 0, 0);
            dBodySetTorque(body, 0, 0, 0);
            dBodyEnable(body);
        }
        bike_rider_seat(b);
    }
    b->input = RiderInput{};
    b->gear = 0;
    b->last_shift = 0;
    b->engine_speed = 0;
    b->clutch_phase = 0;
    b->crash_timer = 0;
    b->crash_count = 0;
    b->touched_down = 0;
    b->bump_timer = 0;
    b->landing_factor = 1;
    b->dab_weight = 0;
    b->dab_pose = 0;
    b->gates.finished = false;
    b->activity = 1;
    std::memset(b->feedback, 0, sizeof b->feedback);
    std::memset(b->torso_velocity_history, 0, sizeof b->torso_velocity_history);
    rut_ring_clear(b->ruts);
    b->work_indices.clear();
    for (auto &list : b->work_lists) list.clear();
    for (WheelContact &w : b->wheels) {
        w.depth = 0;
        std::memset(w.point_velocity, 0, sizeof w.point_velocity);
        std::memset(&w.force, 0, sizeof w.force);
    }
    b->fork_position = b->fork_speed = 0;
    b->swingarm_angle = b->swingarm_rate = 0;
    b->shock_compression = b->shock_ratio = 0;
    b->last_bike_contact_step = -1;
    b->first_contact_step = -1;
}

void bike_rotate(Bike *b, Vec3 axis, double angle) {
    if (!bodies_usable(b) || !finite(axis) || !std::isfinite(angle)) return;
    Vec3 a = normalised(axis);
    if (dot(a, a) == 0) return;
    Quat q = quat_axis_angle(a, angle);
    for (dBodyID body : b->body) {
        body_set_position(body, rotate(q, body_position(body)));
        body_set_quaternion(body, q);
        body_set_linear_vel(body, rotate(q, body_linear_vel(body)));
        body_set_angular_vel(body, rotate(q, body_angular_vel(body)));
    }
}

void bike_translate(Bike *b, double dx, double dy, double dz) {
    if (!bodies_usable(b)) return;
    Vec3 d{dx, dy, dz};
    if (!finite(d)) return;
    for (dBodyID body : b->body) body_set_position(body, body_position(body) + d);
}

int bike_place(Bike *b, double x, double y, double z, double heading) {
    if (!bodies_usable(b)) return 0;
    bike_state_reset(b);
    bike_rotate(b, {0, 1, 0}, heading);
    bike_translate(b, x, y, z);
    // Raise out of the ground; the bound keeps a broken terrain from hanging the start.
    constexpr int kMaxRaises = 4096;
    int raises = 0;
    while (bike_collide_ground(b) && raises < kMaxRaises) {
        physics_contacts_clear();
        bike_translate(b, 0, 0.25, 0);
        ++raises;
    }
    physics_contacts_clear();
    if (raises == kMaxRaises) log_printf("bike_place: still touching after %d raises\n", raises);
    for (dBodyID body : b->body) {
        dBodySetForce(body, 0, 0, 0);
        dBodySetTorque(body, 0, 0, 0);
    }
    b->touched_down = 0;
    return raises;
}

void bike_internal_force_cancel(Bike *b) {
    if (!bodies_usable(b) || sim_clock().step <= 1 || b->crash_timer > 0) return;
    Vec3 p0 = body_position(b->body[kBodyFrame]);
    Vec3 F{}, T{};
    for (int i = 0; i < kJointCount; ++i) {
        dJointID j = b->joint[i];
        dBodyID b1 = dJointGetBody(j, 0), b2 = dJointGetBody(j, 1);
        if (!b1 || !b2) return;
        const dJointFeedback &fb = b->feedback[i];
        Vec3 f1 = vec3(fb.f1), t1 = vec3(fb.t1), f2 = vec3(fb.f2), t2 = vec3(fb.t2);
        F += f1 + f2;
        T += t1 + t2 + cross(body_position(b1) - p0, f1) + cross(body_position(b2) - p0, f2);
    }
    body_add_force(b->body[kBodyFrame], -F);
    body_add_torque(b->body[kBodyFrame], -T);
}

void bike_step(Bike *b) {
    if (!bodies_usable(b)) return;
    if (b->activity <= 0.25f) { // 1. frozen: only the feet
        stage_feet(b);
        return;
    }
    stage_touched_down(b); // 2
    stage_bump_timer(b);   // 3
    stage_crash_checks(b); // 4
    stage_fallen_rider(b); // 5
    // 6. Inputs this step may override, restored at 16.
    const float front_brake = b->input.front_brake, rear_brake = b->input.rear_brake;
    const float sit_dab = b->input.sit_dab;
    stage_stop_helpers(b);              // 7
    stage_rider_coupling(b);            // 8
    stage_suspension(b);                // 9
    stage_steering(b);                  // 10
    stage_auto_shift(b);                // 11
    stage_drivetrain(b);                // 12
    stage_steering_damping(b);          // 13
    bike_internal_force_cancel(b);      // 14
    stage_dab(b);                       // 15
    b->input.front_brake = front_brake; // 16
    b->input.rear_brake = rear_brake;
    b->input.sit_dab = sit_dab;
    stage_feet(b);          // 17
    stage_torso_history(b); // 18
}

void rider_set_throttle(Bike *b, float v) {
    if (b) b->input.throttle = b->crash_timer > 0 ? 0 : clampf(v, 0, 1);
}
void rider_set_clutch(Bike *b, float v) {
    if (b) b->input.clutch = clampf(v, 0, 1);
}
void rider_set_front_brake(Bike *b, float v) {
    if (b) b->input.front_brake = clampf(v, 0, 1);
}
void rider_set_rear_brake(Bike *b, float v) {
    if (b) b->input.rear_brake = clampf(v, 0, 1);
}
void rider_set_steer(Bike *b, float v) {
    if (b) b->input.steer = clampf(v, -1, 1);
}
void rider_set_sit_dab(Bike *b, float v) {
    if (b) b->input.sit_dab = b->crash_timer > 0 ? 0 : clampf(v, 0, 1);
}
void rider_set_back_up(Bike *b, float v) {
    if (b) b->input.back_up = b->crash_timer > 0 ? 0 : clampf(v, 0, 1);
}
void rider_set_lean(Bike *b, float v) {
    if (b) b->input.lean = b->crash_timer >= 1 ? 0 : clampf(v, -1, 1);
}
