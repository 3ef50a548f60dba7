#include "sim/suspension.h"

#include <algorithm>
#include <cmath>

#include "sim/bike.h"
#include "sim/forces.h"

namespace {

// Air force of both fork legs at 1.4 times the ratio of the gap volumes, in pounds.
constexpr double kAirForce = 82.46169;
constexpr double kAirExponent = 1.4;
// The spring and damper forces fade in over this fraction of the travel from full
// extension, so that the unit does not bang against its top stop.
constexpr double kTopOutFade = 32;

double fade(double position, double travel) {
    double w = -kTopOutFade * position / travel;
    return w >= 0 ? std::min(1.0, w) : 0.0;
}

} // namespace

LinkagePoint linkage_eval(const BikeModel &m, double x) {
    double knot = m.linkage_knot;
    double p0, p1, m0, m1, L, u;
    if (x <= knot) {
        p0 = 0;
        p1 = m.linkage_mid;
        m0 = m.linkage_slope0 * knot;
        m1 = m.linkage_slope_mid * knot;
        L = knot;
        u = x / knot;
    } else {
        p0 = m.linkage_mid;
        p1 = m.linkage_end;
        m0 = m.linkage_slope_mid * (1 - knot);
        m1 = m.linkage_slope_end * (1 - knot);
        L = 1 - knot;
        u = (x - knot) / (1 - knot);
    }
    double c2 = 3 * (p1 - p0) - 2 * m0 - m1;
    double c3 = 2 * (p0 - p1) + m0 + m1;
    return {p0 + m0 * u + c2 * u * u + c3 * u * u * u, (m0 + 2 * c2 * u + 3 * c3 * u * u) / L};
}

double two_stage_damping(double v, double hs, double ls) {
    double f = -v * hs;
    if (v >= 0) { // rebound: f <= 0
        double candidate = f - ls;
        return std::clamp(candidate, 8 * f, f / 8);
    }
    double candidate = f + ls; // compression: f > 0
    return std::clamp(candidate, f / 8, 8 * f);
}

void fork_update(Bike *b) {
    if (!b || !b->joint[kJointFork]) return;
    const BikeModel &m = b->model;
    const BikeSetup &s = b->setup;
    double p = dJointGetSliderPosition(b->joint[kJointFork]);
    double v = dJointGetSliderPositionRate(b->joint[kJointFork]);
    b->fork_position = float(p);
    b->fork_speed = float(v);
    double d = v >= 0 ? two_stage_damping(v, s.fork_hs_rebound, s.fork_ls_rebound)
                      : two_stage_damping(v, s.fork_hs_compression, s.fork_ls_compression);
    double coil = s.fork_spring * (s.fork_preload - p) + d;
    double travel = m.fork_travel;
    double squeeze = std::clamp(-p, 0.0, travel);
    double gap = travel + s.fork_oil;
    double ratio = gap / (gap - squeeze);
    double air = kAirForce * (std::pow(ratio, kAirExponent) - 1);
    motor_force(b->joint[kJointFork], (air + coil) * fade(p, travel));
}

void shock_update(Bike *b) {
    if (!b || !b->joint[kJointSwingarm]) return;
    const BikeModel &m = b->model;
    const BikeSetup &s = b->setup;
    double a = dJointGetHingeAngle(b->joint[kJointSwingarm]);
    double w = dJointGetHingeAngleRate(b->joint[kJointSwingarm]);
    double travel = m.swingarm_travel;
    double x = std::clamp(-a / travel, 0.0, 1.0);
    LinkagePoint l = linkage_eval(m, x);
    double q = w * l.ratio;
    double d = q >= 0 ? two_stage_damping(q, s.shock_hs_rebound, s.shock_ls_rebound)
                      : two_stage_damping(q, s.shock_hs_compression, s.shock_ls_compression);
    double force = (l.compression + s.shock_preload) * s.shock_spring + d;
    double torque = l.ratio * force * fade(a, travel);
    b->swingarm_angle = float(a);
    b->swingarm_rate = float(w);
    b->shock_compression = float(l.compression);
    b->shock_ratio = float(l.ratio);
    motor_force(b->joint[kJointSwingarm], torque);
}
