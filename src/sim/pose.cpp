#include "sim/pose.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/bike.h"
#include "sim/forces.h"
#include "sim/world.h"
#include "track/terrain.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kTiny = 1e-9;

double clamp(double v, double lo, double hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

Vec3 unit_or(Vec3 v, Vec3 fallback) {
    double l = length(v);
    return l > kTiny && std::isfinite(l) ? v * (1.0 / l) : fallback;
}

// A unit vector perpendicular to the unit vector u.
Vec3 any_perpendicular(Vec3 u) {
    Vec3 axis = std::fabs(u.x) < 0.6 ? Vec3{1, 0, 0} : Vec3{0, 1, 0};
    return unit_or(cross(u, axis), Vec3{0, 0, 1});
}

// The unit part of v perpendicular to the unit vector to (any perpendicular when v has
// none): keeps every bone basis orthonormal even for degenerate limbs.
Vec3 perp_unit(Vec3 v, Vec3 to) {
    Vec3 w = v - to * dot(v, to);
    double l = length(w);
    return l > kTiny && std::isfinite(l) ? w * (1.0 / l) : any_perpendicular(to);
}

void store_bone(RiderBone &bone, Vec3 translation, Vec3 c0, Vec3 c1, Vec3 c2) {
    bone.translation[0] = float(translation.x);
    bone.translation[1] = float(translation.y);
    bone.translation[2] = float(translation.z);
    const Vec3 cols[3] = {c0, c1, c2};
    for (int c = 0; c < 3; ++c) {
        bone.rotation[c * 3 + 0] = float(cols[c].x);
        bone.rotation[c * 3 + 1] = float(cols[c].y);
        bone.rotation[c * 3 + 2] = float(cols[c].z);
    }
}

bool posable(const Bike *b) {
    return b && b->body[kBodyFrame] && b->body[kBodyTorso] && b->body[kBodyForkUpper];
}

Vec3 torso_point(const Bike *b, Vec3 p) {
    return body_point_to_world(b->body[kBodyTorso], p);
}

} // namespace

Vec3 two_bone_ik(Vec3 a, Vec3 b, double l1, double l2, Vec3 hint) {
    if (!finite(a)) return Vec3{};
    if (!finite(b)) b = a;
    if (!finite(hint)) hint = a;
    l1 = std::isfinite(l1) && l1 > 0 ? l1 : 0;
    l2 = std::isfinite(l2) && l2 > 0 ? l2 : 0;
    Vec3 ab = b - a;
    double d = length(ab);
    Vec3 u = d > kTiny ? ab * (1.0 / d) : unit_or(hint - a, Vec3{0, -1, 0});
    double dp = std::min(d, 0.95 * (l1 + l2));
    // Closer than |l1 - l2| the triangle has no solution: the joint folds onto the line.
    double along = dp > kTiny ? clamp((dp * dp + l1 * l1 - l2 * l2) / (2 * dp), -l1, l1) : 0;
    double h = std::sqrt(std::max(0.0, l1 * l1 - along * along));
    Vec3 w = perp_unit(hint - a, u);
    return a + u * along + w * h;
}

FeetPose rider_feet_pose(const Bike *b) {
    FeetPose pose{};
    if (!posable(b)) return pose;
    const RiderGeometry &g = b->model.rider;
    dBodyID frame = b->body[kBodyFrame];
    Vec3 pegs[2] = {vec3(g.footpegs[0]), vec3(g.footpegs[1])};
    if (b->crash_timer > 0) {
        double c = clamp(b->crash_timer, 1, 128) / 128.0;
        double spread = 0.5 * clamp((c - 0.5) * 2, 0, 1);
        double lift = 1.75 * clamp(2 * c, 0, 1);
        double back = clamp(c * 4 / 3, 0, 1);
        pegs[0] += Vec3{-spread, lift, back};
        pegs[1] += Vec3{spread, lift, back};
    }
    Vec3 p[2] = {body_point_to_world(frame, pegs[0]), body_point_to_world(frame, pegs[1])};
    pose.foot[0] = p[0];
    pose.foot[1] = p[1];

    if (b->dab_pose != 0 && b->crash_timer <= 127) {
        Vec3 q0 = torso_point(b, vec3(g.hips[0])), q1 = torso_point(b, vec3(g.hips[1]));
        Vec3 q = q1 - q0;
        Vec3 n = -body_vector_to_world(frame, {0, 0, 1});
        double lean = roll_angle(frame);
        double f = clamp(dot(body_linear_vel(frame), n) / 15, 0, 1);
        double gl = clamp(std::fabs(lean) * 4 / kPi, 0, 1);
        Vec3 o = n * ((1.25 * f - 0.25) * gl * 2.5);
        double dab = b->dab_pose;
        const Terrain &t = terrain();
        auto lower = [&](int side, Vec3 target) {
            target.y = terrain_height(t, target.x, target.z) + 0.125;
            pose.foot[side] = p[side] + (target - p[side]) * dab;
            pose.weight[side] = dab;
        };
        if (lean > -0.1) lower(0, q0 + q * (0.5 * gl - 0.5) + o);
        if (lean < 0.1) lower(1, q1 + q * (0.5 - 0.5 * gl) + o);
    }

    if (b->crash_timer > 0) {
        double t = clamp(2.0 * b->crash_timer - 128, 1, 128) / 128.0;
        for (int i = 0; i < 2; ++i) {
            Vec3 free_foot = vec3(b->feet[i].position);
            if (finite(free_foot)) pose.foot[i] = pose.foot[i] + (free_foot - pose.foot[i]) * t;
            pose.weight[i] = 1;
        }
    }
    return pose;
}

void rider_arm_bones(const Bike *b, RiderBones &bones) {
    if (!posable(b)) return;
    const RiderGeometry &g = b->model.rider;
    dBodyID torso = b->body[kBodyTorso], fork = b->body[kBodyForkUpper];
    Vec3 s0 = vec3(g.shoulders[0]), s1 = vec3(g.shoulders[1]);
    Vec3 S0 = body_point_to_world(torso, s0), S1 = body_point_to_world(torso, s1);
    Vec3 G0 = body_point_to_world(fork, vec3(g.grips[0]));
    Vec3 G1 = body_point_to_world(fork, vec3(g.grips[1]));
    Vec3 spine = body_vector_to_world(torso, {0, double(g.shoulders[0][1]) - g.hips[0][1],
                                              double(g.shoulders[0][2]) - g.hips[0][2]});
    Vec3 dS = S1 - S0, dG = G1 - G0;
    double throttle = b->input.throttle;

    Vec3 hint0 = body_point_to_world(
                     torso, {s0.x - 0.5, s0.y - (1.5 * std::max(0.0, dS.y) + 1.0), s0.z + 2.0}) -
                 dG;
    Vec3 hint1 =
        body_point_to_world(torso, {s1.x + 0.5,
                                    s1.y - (0.125 * throttle + 1.5 * std::max(0.0, -dS.y) + 0.9),
                                    s1.z + 2.0}) +
        dG;
    Vec3 E0 = two_bone_ik(S0, G0, g.upper_arm, g.forearm, hint0);
    Vec3 E1 = two_bone_ik(S1, G1, g.upper_arm, g.forearm, hint1);

    // Fallback directions for limbs of zero length: along the torso's sides.
    Vec3 side = unit_or(body_vector_to_world(torso, {1, 0, 0}), Vec3{1, 0, 0});

    Vec3 c0 = unit_or(E0 - G0, side);
    Vec3 c1 = perp_unit(cross(-dG, E0 - G0), c0);
    store_bone(bones.bone[0], E0, c0, c1, cross(c0, c1));

    c0 = unit_or(G1 - E1, side);
    c1 = perp_unit(cross(dG, G1 - E1), c0);
    store_bone(bones.bone[1], E1, c0, c1, cross(c0, c1));

    c0 = unit_or(S0 - E0, side);
    Vec3 c2 = perp_unit(cross(S0 - E0, spine), c0);
    store_bone(bones.bone[2], S0, c0, cross(c2, c0), c2);

    c0 = unit_or(E1 - S1, side);
    c2 = perp_unit(cross(E1 - S1, spine), c0);
    store_bone(bones.bone[3], S1, c0, cross(c2, c0), c2);
}

void rider_leg_bones(const Bike *b, RiderBones &bones) {
    if (!posable(b)) return;
    const RiderGeometry &g = b->model.rider;
    dBodyID torso = b->body[kBodyTorso];
    Vec3 h[2] = {vec3(g.hips[0]), vec3(g.hips[1])};
    Vec3 Q[2] = {body_point_to_world(torso, h[0]), body_point_to_world(torso, h[1])};
    Vec3 q = Q[1] - Q[0];
    FeetPose feet = rider_feet_pose(b);
    Vec3 hints[2] = {body_point_to_world(torso, {h[0].x - 0.5, h[0].y, h[0].z - 2.0}),
                     body_point_to_world(torso, {h[1].x + 0.5, h[1].y, h[1].z - 2.0})};
    Vec3 down = unit_or(body_vector_to_world(torso, {0, -1, 0}), Vec3{0, -1, 0});
    for (int i = 0; i < 2; ++i) {
        Vec3 foot = feet.foot[i];
        Vec3 K = two_bone_ik(Q[i], foot, g.thigh, g.shin, hints[i]);
        Vec3 m = cross(Q[i] - K, foot - K);
        Vec3 side = dot(m, m) >= 0.001 ? q + (m - q) * feet.weight[i] : q;

        Vec3 c1 = unit_or(K - foot, -down);
        Vec3 c2 = perp_unit(cross(side, K - foot), c1);
        store_bone(bones.bone[4 + i], K, cross(c1, c2), c1, c2);

        c1 = unit_or(Q[i] - K, -down);
        c2 = perp_unit(cross(q, Q[i] - K), c1);
        store_bone(bones.bone[6 + i], Q[i], cross(c1, c2), c1, c2);
    }
}

void rider_torso_bone(const Bike *b, RiderBones &bones) {
    if (!posable(b)) return;
    const RiderGeometry &g = b->model.rider;
    dBodyID torso = b->body[kBodyTorso];
    Vec3 Ms = body_point_to_world(torso, {0, g.shoulders[0][1], g.shoulders[0][2]});
    Vec3 Mh = body_point_to_world(torso, {0, g.hips[0][1], g.hips[0][2]});
    Vec3 c0 = unit_or(body_vector_to_world(torso, {1, 0, 0}), Vec3{1, 0, 0});
    Vec3 c1 = perp_unit(Ms - Mh, c0);
    store_bone(bones.bone[8], Mh, c0, c1, cross(c0, c1));
}

HeadPose rider_head_pose(const Bike *b) {
    HeadPose pose{};
    pose.rotation[0] = pose.rotation[4] = pose.rotation[8] = 1;
    if (!posable(b)) return pose;
    dBodyID torso = b->body[kBodyTorso];
    pose.position = body_point_to_world(torso, vec3(b->model.rider.head));
    Vec3 yt = body_vector_to_world(torso, {0, 1, 0});
    Vec3 zt = body_vector_to_world(torso, {0, 0, 1});
    Vec3 v = body_linear_vel(torso);
    if (!finite(v)) v = Vec3{};

    // Moving backward relative to the torso does not turn the head round.
    if (dot(v, zt) >= 0) v = v - zt * dot(v, zt);
    Vec3 d = zt - v;
    double dl = length(d);
    if (dl * dl < 1024) {
        d.x = zt.x + (d.x - zt.x) * dl / 32;
        d.z = zt.z + (d.z - zt.z) * dl / 32;
    }
    double r = std::hypot(d.x, d.z);
    double e = std::max(0.0, (60 - r) * r * 7 / 1200) + 0.25 * r;
    Vec3 L = unit_or({d.x, e, d.z}, yt);

    Vec3 a = unit_or(yt * 1.5 - zt, Vec3{0, 1, 0});
    Vec3 bb = unit_or(yt * 1.5 + zt, Vec3{0, 1, 0});
    Vec3 U{0, 1, 0};
    Vec3 ua = U - a;
    double ul = length(ua);
    if (ul > 0.5) U = a + ua * (0.5 / ul);

    Vec3 L1 = L + a * (2 * dot(L, a));
    Vec3 lb = L1 - bb;
    double lbl = length(lb);
    if (lbl > 0.75) L1 = bb + lb * (0.75 / lbl);
    Vec3 L2 = L1 - a * (dot(L1, a) * 2 / 3);

    Vec3 zh = unit_or(L2, zt);
    Vec3 xh = perp_unit(cross(U, L2), zh);
    Vec3 yh = cross(zh, xh);
    const Vec3 cols[3] = {xh, yh, zh};
    for (int c = 0; c < 3; ++c) {
        pose.rotation[c * 3 + 0] = cols[c].x;
        pose.rotation[c * 3 + 1] = cols[c].y;
        pose.rotation[c * 3 + 2] = cols[c].z;
    }
    return pose;
}
