#include "sim/state_record.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/bike.h"
#include "sim/world.h"
#include "track/terrain.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kMax24 = 16777215.0, kMax16 = 65535.0, kMax8 = 255.0;
constexpr double kTorsoRange = 16.0;
constexpr double kMaxRpm = 32768.0;
// Quantisation rounds down, with a tolerance of 1/64 of a step so that a decoded value
// (which passes through float fields and the physics engine's arithmetic) encodes to the
// same integer again.
constexpr double kTolerance = 1.0 / 64;

// Byte offsets of the current layout.
enum {
    kOffX = 0,
    kOffY = 3,
    kOffZ = 6,
    kOffQuat = 9,
    kOffSteer = 17,
    kOffSwingarm = 18,
    kOffFork = 19,
    kOffTorso = 20,
    kOffTorsoQuat = 26,
    kOffFrontWheel = 34,
    kOffRearWheel = 35,
    kOffStatus = 36,
    kOffRpm = 37,
};
// Version 4 keeps bytes 0-19, then these.
enum {
    kOffTorso4 = 20,
    kOffFrontWheel4 = 21,
    kOffRearWheel4 = 22,
    kOffStatus4 = 23,
    kOffRpm4 = 24
};

struct Offsets {
    int front_wheel, rear_wheel, status, rpm;
};

Offsets offsets(int version) {
    if (version == 4) return {kOffFrontWheel4, kOffRearWheel4, kOffStatus4, kOffRpm4};
    return {kOffFrontWheel, kOffRearWheel, kOffStatus, kOffRpm};
}

std::uint32_t get24(const std::uint8_t *p) {
    return p[0] | (p[1] << 8) | (std::uint32_t(p[2]) << 16);
}
std::uint32_t get16(const std::uint8_t *p) {
    return p[0] | (p[1] << 8);
}
void put24(std::uint8_t *p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
    p[2] = std::uint8_t(v >> 16);
}
void put16(std::uint8_t *p, std::uint32_t v) {
    p[0] = std::uint8_t(v);
    p[1] = std::uint8_t(v >> 8);
}

// floor of fraction * max (fraction clamped 0..1), with the tolerance; NaN gives nan_raw.
std::uint32_t quantise(double fraction, double max, std::uint32_t nan_raw) {
    if (std::isnan(fraction)) return nan_raw;
    if (fraction < 0) fraction = 0;
    if (fraction > 1) fraction = 1;
    double r = std::floor(fraction * max + kTolerance);
    return std::uint32_t(r > max ? max : r);
}

// v over lo..hi as raw.
std::uint32_t quantise_range(double v, double lo, double hi, double max) {
    if (!(hi > lo)) return 0;
    return quantise((v - lo) / (hi - lo), max, std::uint32_t(max / 2));
}

double dequantise(std::uint32_t raw, double lo, double hi, double max) {
    return lo + raw / max * (hi - lo);
}

struct Square {
    double extent, min_height;
};

Square square() {
    const Terrain &t = terrain();
    return {t.extent, t.min_height};
}

void put_quat(std::uint8_t *p, Quat q) {
    if (!std::isfinite(q.w) || !std::isfinite(q.x) || !std::isfinite(q.y) || !std::isfinite(q.z))
        q = Quat{};
    q = qnormalised(q);
    const double c[4] = {q.w, q.x, q.y, q.z};
    for (int i = 0; i < 4; ++i) {
        double f = (c[i] < -1 ? -1 : c[i] > 1 ? 1 : c[i]) + 1;
        put16(p + 2 * i, quantise(f / 2, kMax16, 32767));
    }
}

// The raw quaternion components as reals (-1..1), not normalised.
Quat raw_quat(const std::uint8_t *p) {
    double c[4];
    for (int i = 0; i < 4; ++i) c[i] = get16(p + 2 * i) / kMax16 * 2 - 1;
    return {c[0], c[1], c[2], c[3]};
}

bool quat_encodes_to(Quat q, const std::uint8_t *p) {
    std::uint8_t b[8];
    put_quat(b, q);
    for (int i = 0; i < 8; ++i)
        if (b[i] != p[i]) return false;
    return true;
}

// The unit quaternion of a record. The normalised raw value is used when it encodes to
// the same bytes; otherwise a unit quaternion inside the record's quantisation box (when
// the unit sphere passes through it), so that decoding and encoding again keeps the bytes.
Quat get_quat(const std::uint8_t *p) {
    Quat lo = raw_quat(p);
    Quat first = qnormalised(lo);
    if (quat_encodes_to(first, p)) return first;
    // The values that encode to a raw r lie in [r - tolerance, r + 1 - tolerance) steps.
    // Search the box for a unit quaternion: the largest component is solved from the
    // other three, which sweep their ranges from smallest to largest magnitude so that
    // their sum of squares grows monotonically.
    const double bin = 2 / kMax16;
    const double raw[4] = {lo.w, lo.x, lo.y, lo.z};
    int k = 0;
    for (int i = 1; i < 4; ++i)
        if (std::fabs(raw[i]) > std::fabs(raw[k])) k = i;
    for (double margin : {bin / 8, bin / 64, bin / 1024}) {
        double from[4], to[4]; // per component: value at the smallest and largest magnitude
        for (int i = 0; i < 4; ++i) {
            // The end bins are clamped: exactly -1 and 1 encode to the first and last raw.
            double lo_i = std::max(-1.0, raw[i] - kTolerance * bin);
            double hi_i = std::min(1.0, raw[i] - kTolerance * bin + bin);
            double m = (hi_i - lo_i) * margin / bin;
            double a = lo_i + m, b = hi_i - m;
            if (a <= 0 && b >= 0)
                from[i] = 0, to[i] = std::fabs(a) > b ? a : b;
            else if (a > 0)
                from[i] = a, to[i] = b;
            else
                from[i] = b, to[i] = a;
        }
        auto others_sum = [&](double s) {
            double sum = 0;
            for (int i = 0; i < 4; ++i) {
                if (i == k) continue;
                double v = from[i] + s * (to[i] - from[i]);
                sum += v * v;
            }
            return sum;
        };
        // Candidate magnitudes of the largest component across its range.
        for (int step = 0; step <= 8; ++step) {
            double mk = std::fabs(from[k] + (to[k] - from[k]) * step / 8.0);
            double target = 1 - mk * mk;
            if (target < others_sum(0) || target > others_sum(1)) continue;
            double s0 = 0, s1 = 1;
            for (int it = 0; it < 60; ++it) {
                double mid = 0.5 * (s0 + s1);
                (others_sum(mid) < target ? s0 : s1) = mid;
            }
            double c[4];
            for (int i = 0; i < 4; ++i) c[i] = from[i] + 0.5 * (s0 + s1) * (to[i] - from[i]);
            c[k] = std::copysign(mk, raw[k]);
            Quat q = qnormalised({c[0], c[1], c[2], c[3]});
            if (quat_encodes_to(q, p)) return q;
        }
    }
    return first;
}

void put_angle_byte(std::uint8_t &out, double a, double lo, double hi) {
    out = std::uint8_t(quantise_range(a < lo ? lo : a > hi ? hi : a, lo, hi, kMax8));
}

// A wheel angle -pi..pi as a fraction of a turn; pi and -pi are the same angle, 0.
std::uint8_t wheel_byte(double a) {
    if (!std::isfinite(a)) return 127;
    double f = (a + kPi) / (2 * kPi);
    f -= std::floor(f);
    std::uint32_t r = quantise(f, kMax8, 127);
    return std::uint8_t(r >= 255 ? 0 : r);
}

double wheel_angle(std::uint8_t raw) {
    return raw / kMax8 * 2 * kPi - kPi;
}

Vec3 torso_axis(const BikeModel &m) {
    return normalised(vec3(m.torso_axis));
}

double hinge_angle(dJointID j) {
    return j ? dJointGetHingeAngle(j) : 0;
}

// The status byte of a bike.
std::uint8_t status_byte(const Bike *b) {
    std::uint32_t s;
    if (b->crash_timer > 0) {
        long v = (long(b->crash_timer) * 15 - 15) / 127;
        s = 7 | std::uint32_t(v < 0 ? 0 : v > 15 ? 15 : v) << 4;
    } else {
        int g = b->gear < 0 ? 0 : b->gear > 6 ? 6 : b->gear;
        std::uint32_t t = quantise(b->input.throttle, 15, 0);
        s = std::uint32_t(g) | t << 4;
    }
    if (b->dab_pose > 0) s |= 8;
    return std::uint8_t(s);
}

// The pose every body takes for a record, from the frame pose and the joint values.
struct Pose {
    Vec3 position[kBodyCount];
    Quat rotation[kBodyCount];
};

// Frame position and rotation of a record.
void frame_pose(const BikeStateRecord &r, Vec3 &p, Quat &q) {
    Square sq = square();
    const std::uint8_t *b = r.bytes;
    p.x = dequantise(get24(b + kOffX), 0, sq.extent, kMax24);
    p.y = dequantise(get24(b + kOffY), sq.min_height, sq.min_height + sq.extent, kMax24);
    p.z = dequantise(get24(b + kOffZ), 0, sq.extent, kMax24);
    q = get_quat(b + kOffQuat);
}

Pose record_pose(const Bike *bike, const BikeStateRecord &r, int version) {
    const BikeModel &m = bike->model;
    const std::uint8_t *b = r.bytes;
    Offsets off = offsets(version);
    Pose pose;
    Vec3 pf;
    Quat qf;
    frame_pose(r, pf, qf);
    Vec3 frame_pos = vec3(m.frame_pos);
    auto to_world = [&](Vec3 model_point) { return pf + rotate(qf, model_point - frame_pos); };
    pose.position[kBodyFrame] = pf;
    pose.rotation[kBodyFrame] = qf;

    // Steering: the upper fork turned about the steering axis through the steering head.
    Vec3 axis = bike_steering_axis(m);
    double steer = dequantise(b[kOffSteer], -kPi / 4, kPi / 4, kMax8);
    Quat qs = quat_axis_angle(axis, steer);
    Quat q_upper = qnormalised(qf * qs);
    pose.position[kBodyForkUpper] = to_world(vec3(m.steer_head));
    pose.rotation[kBodyForkUpper] = q_upper;

    // Fork: the lower fork moved along the axis by the slider position (0 extended).
    double fork = dequantise(b[kOffFork] & 0xFE, -m.fork_travel, 0, kMax8);
    Vec3 lower_rel = vec3(m.fork_lower_pos) - vec3(m.steer_head) - axis * fork;
    pose.position[kBodyForkLower] = pose.position[kBodyForkUpper] + rotate(q_upper, lower_rel);
    pose.rotation[kBodyForkLower] = q_upper;

    // Front wheel at the axle; the wheel is the hinge's second body, so it turns by -angle.
    Vec3 x_axis{1, 0, 0};
    double front = wheel_angle(b[off.front_wheel]);
    pose.position[kBodyFrontWheel] =
        pose.position[kBodyForkLower] +
        rotate(q_upper, vec3(m.front_wheel.axle) - vec3(m.fork_lower_pos));
    pose.rotation[kBodyFrontWheel] = qnormalised(q_upper * quat_axis_angle(x_axis, -front));

    // Swingarm turned about x through its pivot.
    double swing = dequantise(b[kOffSwingarm], -m.swingarm_travel, 0, kMax8);
    Quat qa = quat_axis_angle(x_axis, swing);
    Vec3 pivot = vec3(m.swingarm_pivot);
    Quat q_swing = qnormalised(qf * qa);
    pose.position[kBodySwingarm] = to_world(pivot + rotate(qa, vec3(m.swingarm_pos) - pivot));
    pose.rotation[kBodySwingarm] = q_swing;

    double rear = wheel_angle(b[off.rear_wheel]);
    pose.position[kBodyRearWheel] = pose.position[kBodySwingarm] +
                                    rotate(q_swing, vec3(m.rear_wheel.axle) - vec3(m.swingarm_pos));
    pose.rotation[kBodyRearWheel] = qnormalised(q_swing * quat_axis_angle(x_axis, -rear));

    if (version == 4) {
        double s = dequantise(b[kOffTorso4], m.torso_travel_min, m.torso_travel_max, kMax8);
        pose.position[kBodyTorso] = to_world(vec3(m.torso_pos) + torso_axis(m) * s);
        pose.rotation[kBodyTorso] = qf;
    } else {
        Vec3 d;
        d.x = dequantise(get16(b + kOffTorso), -kTorsoRange, kTorsoRange, kMax16);
        d.y = dequantise(get16(b + kOffTorso + 2), -kTorsoRange, kTorsoRange, kMax16);
        d.z = dequantise(get16(b + kOffTorso + 4), -kTorsoRange, kTorsoRange, kMax16);
        pose.position[kBodyTorso] = pf + d;
        pose.rotation[kBodyTorso] = get_quat(b + kOffTorsoQuat);
    }
    return pose;
}

Pose current_pose(const Bike *bike) {
    Pose p;
    for (int i = 0; i < kBodyCount; ++i) {
        p.position[i] = body_position(bike->body[i]);
        p.rotation[i] = body_quaternion(bike->body[i]);
    }
    return p;
}

void apply_pose(Bike *bike, const Pose &p) {
    for (int i = 0; i < kBodyCount; ++i) {
        body_set_position(bike->body[i], p.position[i]);
        body_set_quaternion(bike->body[i], p.rotation[i]);
    }
}

void decode_status(Bike *bike, const BikeStateRecord &r, int version) {
    Offsets off = offsets(version);
    std::uint8_t s = r.bytes[off.status];
    int high = s >> 4;
    if ((s & 7) == 7) {
        if (bike->rider_attached) bike_rider_detach(bike);
        bike->input.throttle = 0;
        // The smallest timer that encodes to the same value again.
        bike->crash_timer = (high * 127 + 14) / 15 + 1;
    } else {
        if (bike->crash_timer > 0) {
            bike_rider_seat(bike);
            bike->crash_timer = 0;
        }
        int g = s & 7;
        if (g > 5) g = 5;
        while (g > 0 && !bike_model_has_gear(bike->model, g)) --g;
        bike->gear = g;
        bike->input.throttle = float(high / 15.0);
    }
    bike->dab_pose = (s & 8) ? 1.0f : 0.0f;
    bike->engine_speed = float(get16(r.bytes + off.rpm) / kMax16 * kMaxRpm * kPi / 30);
}

double clamp01(double v) {
    return v < 0 ? 0 : v > 1 ? 1 : v;
}

} // namespace

int state_record_size(int version) {
    return version == 4 ? kStateRecordSizeV4 : kStateRecordSize;
}

void state_record_frame_position(const BikeStateRecord &record, double out[3]) {
    Vec3 p;
    Quat q;
    frame_pose(record, p, q);
    out[0] = p.x;
    out[1] = p.y;
    out[2] = p.z;
}

BikeStateRecord bike_state_encode(const Bike *bike, int version) {
    BikeStateRecord r;
    if (!bike || !bike->body[kBodyFrame]) return r;
    const BikeModel &m = bike->model;
    std::uint8_t *b = r.bytes;
    Square sq = square();
    Offsets off = offsets(version);

    Vec3 pf = body_position(bike->body[kBodyFrame]);
    put24(b + kOffX, quantise_range(pf.x, 0, sq.extent, kMax24));
    put24(b + kOffY, quantise_range(pf.y, sq.min_height, sq.min_height + sq.extent, kMax24));
    put24(b + kOffZ, quantise_range(pf.z, 0, sq.extent, kMax24));
    put_quat(b + kOffQuat, body_quaternion(bike->body[kBodyFrame]));

    put_angle_byte(b[kOffSteer], hinge_angle(bike->joint[kJointSteering]), -kPi / 4, kPi / 4);
    put_angle_byte(b[kOffSwingarm], hinge_angle(bike->joint[kJointSwingarm]), -m.swingarm_travel,
                   0);
    b[kOffSwingarm] |= 1;
    double fork = bike->joint[kJointFork] ? dJointGetSliderPosition(bike->joint[kJointFork]) : 0;
    put_angle_byte(b[kOffFork], fork, -m.fork_travel, 0);
    b[kOffFork] &= 0xFE;

    dBodyID torso = bike->body[kBodyTorso];
    if (version == 4) {
        Vec3 rel = body_vector_from_world(bike->body[kBodyFrame], body_position(torso) - pf) -
                   (vec3(m.torso_pos) - vec3(m.frame_pos));
        double s = dot(rel, torso_axis(m));
        put_angle_byte(b[kOffTorso4], s, m.torso_travel_min, m.torso_travel_max);
    } else {
        Vec3 d = body_position(torso) - pf;
        const double c[3] = {d.x, d.y, d.z};
        for (int i = 0; i < 3; ++i) {
            double v = c[i] < -kTorsoRange ? -kTorsoRange : c[i] > kTorsoRange ? kTorsoRange : c[i];
            put16(b + kOffTorso + 2 * i, quantise_range(v, -kTorsoRange, kTorsoRange, kMax16));
        }
        put_quat(b + kOffTorsoQuat, body_quaternion(torso));
    }

    b[off.front_wheel] = wheel_byte(hinge_angle(bike->joint[kJointFrontAxle]));
    b[off.rear_wheel] = wheel_byte(hinge_angle(bike->joint[kJointRearAxle]));
    b[off.status] = status_byte(bike);
    double rpm = double(bike->engine_speed) * 60 / (2 * kPi);
    if (!(rpm > 0)) rpm = 0;
    if (rpm > kMaxRpm) rpm = kMaxRpm;
    put16(b + off.rpm, quantise(rpm / kMaxRpm, kMax16, 0));
    return r;
}

void bike_state_decode(Bike *bike, const BikeStateRecord &record, int version) {
    if (!bike || !bike->body[kBodyFrame]) return;
    decode_status(bike, record, version);
    apply_pose(bike, record_pose(bike, record, version));
}

void bike_state_follow(Bike *bike, const BikeStateRecord &current, const BikeStateRecord &previous,
                       const BikeStateRecord &older, int steps, int version) {
    if (!bike || !bike->body[kBodyFrame]) return;
    if (bike->activity > 0.25f) {
        float a = bike->activity;
        double k = 0, c = 0;
        if (a <= 0.5f) {
            k = 5000 + 45000 * clamp01((0.5 - a) * 2);
            c = 500;
        } else if (a <= 0.75f) {
            double q = clamp01((0.75 - a) * 4);
            k = 5000 * q;
            c = 500 * q;
        }
        dBodyID frame = bike->body[kBodyFrame];
        if (k > 0 || c > 0) {
            Vec3 tp;
            Quat tq;
            frame_pose(current, tp, tq);
            auto limit = [](Vec3 v) {
                double l = length(v);
                return l > 2500 ? v * (2500 / l) : v;
            };
            Vec3 f = (tp - body_position(frame)) * k - body_linear_vel(frame) * c;
            Quat err = tq * conjugate(body_quaternion(frame));
            Vec3 t = rotation_vector(err) * k - body_angular_vel(frame) * c;
            body_add_force(frame, limit(f));
            body_add_torque(frame, limit(t));
        }
        dJointID steering = bike->joint[kJointSteering];
        double recorded = dequantise(current.bytes[kOffSteer], -kPi / 4, kPi / 4, kMax8);
        double s =
            (recorded - dJointGetHingeAngle(steering) - dJointGetHingeAngleRate(steering)) * 0.25;
        rider_set_steer(bike, float(s));
        return;
    }
    if (steps < 1) steps = 1;
    double dt = steps * kStepSeconds;
    bike_state_decode(bike, older, version);
    Pose before = current_pose(bike);
    bike_state_decode(bike, previous, version);
    for (int i = 0; i < kBodyCount; ++i) {
        dBodyID body = bike->body[i];
        Vec3 p = body_position(body);
        Quat q = body_quaternion(body);
        body_set_linear_vel(body, (p - before.position[i]) * (1 / dt));
        body_set_angular_vel(body, rotation_vector(q * conjugate(before.rotation[i])) * (1 / dt));
    }
    bike_state_decode(bike, current, version);
}

BikeStateRecord bike_state_interpolate(const BikeStateRecord &a, const BikeStateRecord &b, double t,
                                       int version) {
    if (t == 0 || version == 4 || !std::isfinite(t)) return a;
    BikeStateRecord r = a;
    const std::uint8_t *pa = a.bytes, *pb = b.bytes;
    std::uint8_t *pr = r.bytes;
    auto mix = [](double x, double y, double s) { return x + s * (y - x); };

    // 1. Frame position, the only field that extrapolates.
    for (int off : {int(kOffX), int(kOffY), int(kOffZ)}) {
        double x = get24(pa + off) / kMax24, y = get24(pb + off) / kMax24;
        put24(pr + off, quantise(clamp01(mix(x, y, t)), kMax24, 0));
    }
    double s = t < 1 ? t : 1;

    // 2 and 4. Orientations, the shorter way round.
    for (int off : {int(kOffQuat), int(kOffTorsoQuat)}) {
        Quat qa = raw_quat(pa + off), qb = raw_quat(pb + off);
        if (qdot(qa, qb) < 0) qb = {-qb.w, -qb.x, -qb.y, -qb.z};
        Quat q = {mix(qa.w, qb.w, s), mix(qa.x, qb.x, s), mix(qa.y, qb.y, s), mix(qa.z, qb.z, s)};
        double l = std::sqrt(qdot(q, q));
        if (l > 1e-12 && std::isfinite(l))
            put_quat(pr + off, q);
        else
            for (int i = 0; i < 8; ++i) pr[off + i] = pa[off + i];
    }

    // 3. Steering, swingarm, fork, torso offset and engine speed.
    for (int off : {int(kOffSteer), int(kOffSwingarm), int(kOffFork)}) {
        int ra = pa[off], rb = pb[off];
        if (off == kOffFork) ra &= 0xFE, rb &= 0xFE;
        pr[off] = std::uint8_t(quantise(clamp01(mix(ra / kMax8, rb / kMax8, s)), kMax8, 0));
    }
    pr[kOffFork] &= 0xFE;
    for (int off : {int(kOffTorso), kOffTorso + 2, kOffTorso + 4, int(kOffRpm)}) {
        double x = get16(pa + off) / kMax16, y = get16(pb + off) / kMax16;
        put16(pr + off, quantise(clamp01(mix(x, y, s)), kMax16, 0));
    }

    // 5. Wheel angles as fractions of a turn, taking the wheel to have turned forward by
    // less than 7/8 of a turn or backward by less than 1/8.
    for (int off : {int(kOffFrontWheel), int(kOffRearWheel)}) {
        double x = pa[off] / kMax8, y = pb[off] / kMax8;
        if (y < x - 0.125)
            x -= 1;
        else if (y > x + 0.875)
            y -= 1;
        double c = mix(x, y, s);
        if (c < 0) c += 1;
        pr[off] = std::uint8_t(quantise(clamp01(c), kMax8, 0));
    }

    // 6. The status stays a's. 7. Marked as interpolated.
    pr[kOffSwingarm] &= 0xFE;
    return r;
}
