#include "sim/rider.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/assists.h"
#include "sim/bike.h"
#include "sim/contact.h"
#include "sim/forces.h"
#include "sim/ground.h"
#include "sim/pose.h"
#include "sim/world.h"
#include "track/gates.h"
#include "track/terrain.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double h = kStepSeconds;

struct RiderModule {
    int knockout[kKnockoutEntries] = {};
    RiderCourseHooks hooks;
};

RiderModule &module() {
    static RiderModule m;
    return m;
}

double clamp(double v, double lo, double hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

bool usable(const Bike *b) {
    return b && b->body[kBodyFrame] && b->body[kBodyTorso];
}

bool riding(const Bike *b) {
    return b->crash_timer <= 0;
}

// Every throw-off check needs the rider on the bike and a bump timer that is not negative.
bool may_fall(const Bike *b) {
    return usable(b) && riding(b) && b->bump_timer >= 0;
}

void store(float *out, Vec3 v) {
    out[0] = float(v.x);
    out[1] = float(v.y);
    out[2] = float(v.z);
}

// The torso's rest point on the frame (frame coordinates).
Vec3 seat_point(const Bike *b) {
    return vec3(b->model.torso_pos) - vec3(b->model.frame_pos);
}

// R = max_dab_speed, raised to at least 75 ft/s while the bump timer is at -512 or below.
double dab_speed_limit(const Bike *b) {
    double R = b->setup.max_dab_speed;
    if (b->bump_timer <= -512) R = std::max(R, 75.0);
    return R;
}

bool wheel_down(const Bike *b, int i) {
    return b->wheels[i].depth > 0;
}

// A soft one-sided spring as a contact joint between torso (body 1) and frame (body 2),
// pushing the torso along normal by depth.
void rider_spring(Bike *b, Vec3 normal, double depth, double k, double c) {
    SoftParams sp = soft_params(k, c);
    Vec3 p = body_position(b->body[kBodyTorso]);
    if (!finite(p) || !finite(normal) || !std::isfinite(depth)) return;
    dContact ct{};
    ct.surface.mode = dContactSoftERP | dContactSoftCFM;
    ct.surface.mu = 0;
    ct.surface.soft_erp = sp.erp;
    ct.surface.soft_cfm = sp.cfm;
    ct.geom.pos[0] = p.x;
    ct.geom.pos[1] = p.y;
    ct.geom.pos[2] = p.z;
    ct.geom.normal[0] = normal.x;
    ct.geom.normal[1] = normal.y;
    ct.geom.normal[2] = normal.z;
    ct.geom.depth = depth;
    dJointID j = dJointCreateContact(physics_world(), physics_contact_group(), &ct);
    dJointAttach(j, b->body[kBodyTorso], b->body[kBodyFrame]);
}

} // namespace

// ---- Knockout times and hooks ----

void rider_knockout_set(const int *values, int count) {
    RiderModule &m = module();
    for (int i = 0; i < kKnockoutEntries; ++i) {
        int v = values && i < count ? values[i] : 0;
        m.knockout[i] = v < 0 ? 0 : v > kKnockoutMaxExtra ? kKnockoutMaxExtra : v;
    }
}

int rider_knockout_extra(int i) {
    return module().knockout[i < 0 ? 0 : i >= kKnockoutEntries ? kKnockoutEntries - 1 : i];
}

void rider_course_hooks_set(const RiderCourseHooks &hooks) {
    module().hooks = hooks;
}

bool rider_course_point(const Bike *b, Vec3 *out) {
    if (!b || !out) return false;
    const RiderCourseHooks &hooks = module().hooks;
    if (hooks.course_point && hooks.course_point(b, out) && finite(*out)) return true;
    const GateData &g = gates();
    if (g.checkpoints.empty() || g.first_lap.empty() || g.normal_lap.empty()) return false;
    int cp = gate_checkpoint(g, std::max(0, b->gates.next_gate));
    if (cp < 0 || cp >= int(g.checkpoints.size())) return false;
    *out = vec3(g.checkpoints[std::size_t(cp)].centre);
    return true;
}

// ---- Throw-off checks and the fall ----

void rider_crash_check_motion(Bike *b) {
    if (!may_fall(b)) return;
    dBodyID torso = b->body[kBodyTorso], frame = b->body[kBodyFrame];
    Vec3 vt = body_linear_vel(torso);
    Vec3 rel = vt - body_point_velocity(frame, body_position(torso));
    if (length(rel) > 31) {
        rider_fall(b);
        return;
    }
    const float *old = b->torso_velocity_history[sim_clock().step & (kTorsoHistory - 1)];
    Vec3 a = (vt - vec3(old)) * (1.0 / (4 * h)) + Vec3{0, kGravity, 0};
    if (length(a) > 1376) rider_fall(b);
}

void rider_crash_check_ground(Bike *b) {
    if (!may_fall(b)) return;
    dBodyID torso = b->body[kBodyTorso];
    const dReal *R = dBodyGetRotation(torso);
    if (R[1 * 4 + 1] < 0 && length(body_linear_vel(torso)) > 5) rider_fall(b);
}

void rider_crash_check_scenery(Bike *b, dBodyID object) {
    if (!may_fall(b)) return;
    dBodyID torso = b->body[kBodyTorso];
    Vec3 p = body_position(torso);
    Vec3 rel = body_linear_vel(torso) - (object ? body_point_velocity(object, p) : Vec3{});
    if (length(rel) > 20) rider_fall(b);
}

void rider_fall(Bike *b) {
    if (!usable(b)) return;
    bike_rider_detach(b);
    FeetPose feet = rider_feet_pose(b);
    for (int i = 0; i < 2; ++i) {
        store(b->feet[i].position, feet.foot[i]);
        store(b->feet[i].velocity, body_point_velocity(b->body[kBodyTorso], feet.foot[i]));
    }
    b->crash_timer = kFallSteps + rider_knockout_extra(std::min(b->crash_count, 15));
    b->crash_count += 1;
    // A thrown rider lets go of everything it held.
    b->input.throttle = 0;
    b->input.sit_dab = 0;
    b->input.back_up = 0;
    b->input.lean = 0;
}

void rider_fall_update(Bike *b) {
    if (!usable(b) || b->crash_timer <= 0) return;
    const RiderGeometry &g = b->model.rider;
    dBodyID torso = b->body[kBodyTorso], frame = b->body[kBodyFrame];
    dBodyID fork = b->body[kBodyForkUpper];

    if (length(body_linear_vel(torso)) >= 2) {
        // Tumbling: the hands stay near the grips and the rider near the bike.
        double arm = 0.875 * (double(g.upper_arm) + g.forearm);
        for (int i = 0; i < 2; ++i) rope(torso, vec3(g.shoulders[i]), fork, vec3(g.grips[i]), arm);
        if (b->crash_timer > kFallSteps - 1)
            rope(torso, {0, -0.570887, 0.670607}, fork, {0, 1.145, 10.753}, 8);
        PosedShape rider = bike_posed_shape(b, kShapeRider);
        shape_pair_contact(rider, bike_posed_shape(b, kShapeFrame), kContactJoint);
        shape_pair_contact(rider, bike_posed_shape(b, kShapeForkUpper), kContactJoint);
    } else {
        b->crash_timer -= 1;
    }

    if (b->crash_timer > 0 && b->crash_timer < kFallSteps) {
        // Getting up: three shrinking ropes pull the torso to its seat and upright.
        double L = 5 * clamp((b->crash_timer - 128) / 384.0, 0, 1);
        Vec3 seat = seat_point(b);
        rope(frame, seat, torso, {0, 0, 0}, L);
        rope(frame, seat + Vec3{-5, 10, 0}, torso, {-5, 10, 0}, L);
        rope(frame, seat + Vec3{5, 10, 0}, torso, {5, 10, 0}, L);
        if (b->crash_timer <= 319) {
            // One foot toward a point above and behind its footpeg, the one on the high side.
            int side = roll_angle(frame) < 0 ? 0 : 1;
            Vec3 target = body_point_to_world(frame, vec3(g.footpegs[side]) + Vec3{0, 3, 1});
            Vec3 dir = (target - vec3(b->feet[side].position)) * 32.0;
            double l = length(dir);
            if (l > 1) dir = dir * (1.0 / l);
            store(b->feet[side].velocity, dir * 4.0);
        }
    }

    if (b->crash_timer <= 0) {
        b->crash_timer = 0;
        bike_rider_seat(b);
        // Seated with the frame's motion, so the joint does not jerk the torso.
        body_set_linear_vel(torso, body_point_velocity(frame, body_position(torso)));
        body_set_angular_vel(torso, body_angular_vel(frame));
    }
}

// ---- Stopping, backing up and the automatic dab ----

bool auto_dab_wanted(const Bike *b) {
    if (!usable(b) || !b->setup.auto_dab) return false;
    double s = length(body_linear_vel(b->body[kBodyFrame]));
    double R = dab_speed_limit(b);
    if (s > R) return false;
    double lean = std::fabs(roll_angle(b->body[kBodyFrame]));
    if (s > 15) {
        double k = clamp((s - 15) / 15, 0, 1);
        if (lean < k * kPi / 4) return false;
    }
    if (b->input.throttle != 0 && b->input.clutch != 0) return s < 5 || lean > kPi / 16;
    return true;
}

void rider_stop_update(Bike *b) {
    if (!usable(b)) return;
    dBodyID frame = b->body[kBodyFrame];
    double s = length(body_linear_vel(frame));
    if (b->input.back_up > 0 && s < 5) {
        const SimClock &c = sim_clock();
        std::int64_t n = c.step;
        double w = (1 - std::cos(double(n % 128) * 2 * kPi / 127)) / 2;
        std::int64_t start = (c.race_start + 128) & ~std::int64_t(127);
        if (n < start && (n & (128 | 256)) != 0) w = 0;
        b->input.sit_dab = riding(b) ? 1 : 0;
        speed_servo(frame, 2000, body_vector_to_world(frame, {0, 0, 1}) * (4 * w));
        body_axis_motor(frame, {0, 1, 0}, -b->input.steer * w * kPi / 2, 2000);
        return;
    }
    if (!auto_dab_wanted(b)) return;
    double R = dab_speed_limit(b);
    double d = clamp((s - R) / (0 - R), 0, 1);
    b->input.sit_dab = riding(b) ? float(std::max(double(b->input.sit_dab), d)) : 0.0f;
    if (s < 5 && (b->input.throttle == 0 || b->input.clutch == 0) && wheel_down(b, 0) &&
        wheel_down(b, 1)) {
        b->input.front_brake = 1;
        b->input.rear_brake = 1;
        speed_servo(frame, 1000, {0, 0, 0});
    }
}

// ---- The rider springs ----

void rider_coupling_update(Bike *b) {
    if (!usable(b) || !riding(b)) return;
    const BikeSetup &s = b->setup;
    dBodyID frame = b->body[kBodyFrame], torso = b->body[kBodyTorso];
    Vec3 P = body_point_to_world(frame, seat_point(b));
    Vec3 e = P - body_position(torso);
    Vec3 fy = body_vector_to_world(frame, {0, 1, 0});
    Vec3 fz = body_vector_to_world(frame, {0, 0, 1});
    double y_off = dot(e, fy), z_off = dot(e, fz);
    double mass = double(b->model.rider_mass) * 0.21333333;
    double sit = b->input.sit_dab;

    // Fore and aft: the torso moves back as it sits and with a backward lean.
    double q = clamp(y_off * (0.5 + 0.5 * sit) - b->input.lean, -0.75, 0.75);
    double error = z_off - q;
    double k, c;
    if (std::fabs(z_off) <= 0.75) {
        k = s.rider_forward_spring * 600 + std::fabs(error) * 100;
        c = 0;
    } else {
        k = c = 2500;
    }
    k *= mass;
    c *= mass;
    if (k > 0) rider_spring(b, error < 0 ? -fz : fz, std::fabs(error), k, c);

    // Vertical: standing 0.125 ft above the seat point, seated 0.375 ft below it.
    error = y_off + 0.125 - 0.5 * sit;
    if (y_off >= -0.75 && y_off <= 0.5) {
        k = s.rider_vertical_spring * 400;
        c = s.rider_vertical_damping * 100;
    } else {
        k = c = 2500;
    }
    k *= mass;
    c *= mass;
    if (k + c > 0) rider_spring(b, error < 0 ? -fy : fy, std::fabs(error), k, c);

    dJointID j = b->joint[kJointRider];
    if (j) {
        joint_set_param(j, dParamSuspensionERP, 0);
        joint_set_param(j, dParamSuspensionCFM, 1 / ((s.rider_forward_damping * 30 + 5) * mass));
    }
}

// ---- Foot down ----

bool rider_realign(Bike *b) {
    if (!usable(b)) return false;
    dBodyID frame = b->body[kBodyFrame];
    Vec3 T;
    if (!rider_course_point(b, &T)) return false;
    Vec3 d = T - body_position(frame);
    Vec3 z = body_vector_to_world(frame, {0, 0, 1});
    double hl2 = z.x * z.x + z.z * z.z;
    if (!(hl2 > 1.0 / 1024)) return false;
    double hl = std::sqrt(hl2);
    double bx = z.x / hl, bz = z.z / hl;
    double a = d.x * bx + d.z * bz;    // positive when the point lies behind
    double side = d.x * bz - d.z * bx; // the sideways component
    double rate = b->bump_timer < 0 ? kPi : kPi / 2;
    double vel = side >= 0 ? -rate : rate;
    double mass = b->total_mass;
    if (a >= 0 || std::fabs(side) >= -a / 4) {
        body_axis_motor(frame, {0, 1, 0}, vel, mass * 320);
        for (int i = 0; i < 2; ++i)
            if (wheel_down(b, i)) body_add_force(b->wheels[i].body, {0, mass * kGravity, 0});
        return true;
    }
    // Nearly lined up: the turn slows as the bike lines up, and the roll push may right it.
    body_axis_motor(frame, {0, 1, 0}, vel, std::fabs(side / (a / 4)) * mass * 320);
    return false;
}

void rider_dab_update(Bike *b) {
    if (!usable(b)) return;
    if (!riding(b)) {
        b->dab_pose = float(std::min(1.0, b->dab_pose + 8 * h));
        return;
    }
    if (b->input.sit_dab == 0) return;
    dBodyID frame = b->body[kBodyFrame];
    const Terrain &t = terrain();
    if (!wheel_down(b, 0)) {
        GroundHit hit;
        if (!sphere_terrain_deepest(t, body_position(b->body[kBodyTorso]),
                                    double(b->model.torso_pos[1]) + 1, hit))
            return; // the foot cannot reach the ground
    }
    double s = length(body_linear_vel(frame));
    double R = dab_speed_limit(b);
    if (s > R) return;
    double lean = roll_angle(frame);
    double alean = std::fabs(lean);
    if (s > 15 && !(wheel_down(b, 0) && wheel_down(b, 1) && alean >= 0.589)) return;

    b->dab_pose = float(std::min(1.0, b->dab_pose + 8 * h));
    if (b->setup.arcade) return;

    if (s >= 5) {
        if (b->bump_timer > 0) return;
    } else if (alean > kPi / 8 && alean < 63 * kPi / 180) {
        bool finished_now = false;
        const GateData &g = gates();
        const RiderCourseHooks &hooks = module().hooks;
        if (!g.checkpoints.empty() && b->gates.next_gate > 0 && !b->gates.finished &&
            hooks.finish_test && hooks.finish_test(b)) {
            b->gates.finished = true;
            finished_now = true;
        }
        if (!finished_now && b->setup.auto_align && b->input.back_up <= 0.125 && rider_realign(b))
            return;
    }

    // Roll push toward upright.
    Vec3 w = body_vector_from_world(frame, body_angular_vel(frame));
    double K = lean >= 0 ? -kPi / 8 : kPi / 8;
    if (b->setup.auto_dab && b->bump_timer < 0) K *= 3;
    if (alean < kPi / 16) K *= alean / (kPi / 16);
    double m = 0;
    if (K > 0 && w.z < K) m = -400;
    if (K < 0 && w.z > K) m = 400;
    if (alean < kPi / 32) m *= alean / (kPi / 32);

    if (!(b->input.back_up >= 0.125 && s <= 5)) {
        const BikeSetup &su = b->setup;
        double l = allowed_lean(s, su.roll_limit_angle, su.max_dab_speed, 32);
        double steer = b->input.steer;
        double tt = clamp(((K >= 0 ? -steer : steer) - 0.5) * 2, 0, 1);
        double o = clamp((alean - 1.25 * l) / 0.25, 0, 1);
        m *= o + tt * (1 - o);
        if (s > 5) m *= b->dab_weight;
    }

    if (m != 0) {
        const Vec3 at{0, 4, 0};
        if (body_vector_to_world(frame, {0, 1, 0}).y >= 0.707) {
            body_add_force_at_rel_pos(frame, {0, std::fabs(m) / 8, 0}, at);
            body_add_rel_force_at_rel_pos(frame, {m, 0, 0}, at);
        } else {
            body_add_force_at_rel_pos(frame, {0, std::fabs(m), 0}, at);
        }
    }
}

// ---- Feet ----

void rider_feet_update(Bike *b) {
    if (!usable(b)) return;
    b->dab_pose = float(std::max(0.0, b->dab_pose - 4 * h));
    dBodyID torso = b->body[kBodyTorso];
    if (riding(b)) {
        FeetPose pose = rider_feet_pose(b);
        for (int i = 0; i < 2; ++i) {
            store(b->feet[i].position, pose.foot[i]);
            store(b->feet[i].velocity, body_point_velocity(torso, pose.foot[i]));
        }
        return;
    }
    const RiderGeometry &g = b->model.rider;
    const Terrain &t = terrain();
    double reach = double(g.thigh) + g.shin;
    Vec3 down = body_vector_to_world(torso, {0, -1, 0});
    Vec3 vt = body_linear_vel(torso);
    for (int i = 0; i < 2; ++i) {
        Vec3 p = vec3(b->feet[i].position), v = vec3(b->feet[i].velocity);
        if (!finite(p) || !finite(v)) {
            p = body_point_to_world(torso, vec3(g.hips[i])) + down * reach;
            v = vt;
        }
        p += v * h;
        v.y -= kGravity * h;
        double ground = terrain_height(t, p.x, p.z) + 0.25;
        if (p.y < ground) {
            p.y = ground;
            v = Vec3{};
        }
        v = v * 0.9375;
        // Within the leg's reach of the hip.
        Vec3 hip = body_point_to_world(torso, vec3(g.hips[i]));
        Vec3 r = p - hip;
        double rl = length(r);
        if (rl > reach && rl > 0) {
            Vec3 n = r * (1.0 / rl);
            p = hip + n * reach;
            Vec3 vh = body_point_velocity(torso, hip);
            v = v - n * dot(v, n) + n * dot(vh, n);
        }
        // Not above the plane 1 ft below the hip along the torso's downward axis.
        Vec3 p0 = hip + down * 1.0;
        double above = dot(p - p0, down);
        if (above < 0) {
            p = p - down * above;
            v = v - down * dot(v, down) + down * dot(vt, down);
        }
        store(b->feet[i].position, p);
        store(b->feet[i].velocity, v);
    }
}
