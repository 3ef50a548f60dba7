#include "sim/forces.h"

#include <cmath>
#include <numbers>

#include "sim/world.h"

SoftParams soft_params(double k, double c) {
    double d = kStepSeconds * k + c;
    if (!(d > 0) || !std::isfinite(d)) return {0.0, 1e10};
    return {kStepSeconds * k / d, 1.0 / d};
}

void rope(dBodyID a, Vec3 point_a, dBodyID b, Vec3 point_b, double rope_length) {
    if (!a || !finite(point_a) || !finite(point_b) || !std::isfinite(rope_length)) return;
    Vec3 pa = body_point_to_world(a, point_a);
    Vec3 pb = b ? body_point_to_world(b, point_b) : point_b;
    Vec3 n = pb - pa;
    double distance = length(n);
    if (!(distance > rope_length) || !(distance > 0) || !std::isfinite(distance)) return;
    SoftParams sp = soft_params(5000, 500);
    dContact c{};
    c.surface.mode = dContactSoftERP | dContactSoftCFM;
    c.surface.mu = 0;
    c.surface.soft_erp = sp.erp;
    c.surface.soft_cfm = sp.cfm;
    c.geom.pos[0] = pa.x;
    c.geom.pos[1] = pa.y;
    c.geom.pos[2] = pa.z;
    c.geom.normal[0] = n.x;
    c.geom.normal[1] = n.y;
    c.geom.normal[2] = n.z;
    c.geom.depth = distance - rope_length;
    dJointID j = dJointCreateContact(physics_world(), physics_contact_group(), &c);
    dJointAttach(j, a, b);
}

void speed_servo(dBodyID body, double max_force, Vec3 target) {
    if (!body || !finite(target) || !std::isfinite(max_force)) return;
    Vec3 d = body_linear_vel(body) - target;
    double m = length(d);
    if (!(m >= 0.25)) return;
    double s = (m - 0.25) * 0.8;
    if (s > 1) s = 1;
    Vec3 f = d * (-s * max_force / m);
    f.y = 0;
    body_add_force(body, f);
}

void motor_force(dJointID joint, double F) {
    if (!joint) return;
    if (!std::isfinite(F)) F = 0;
    double vel = F >= 0 ? 100.0 : 0.0;
    double fmax = std::fabs(F);
    switch (dJointGetType(joint)) {
    case dJointTypeHinge:
        dJointSetHingeParam(joint, dParamVel, vel);
        dJointSetHingeParam(joint, dParamFMax, fmax);
        break;
    case dJointTypeSlider:
        dJointSetSliderParam(joint, dParamVel, vel);
        dJointSetSliderParam(joint, dParamFMax, fmax);
        break;
    case dJointTypeHinge2:
        dJointSetHinge2Param(joint, dParamVel, vel);
        dJointSetHinge2Param(joint, dParamFMax, fmax);
        break;
    case dJointTypeAMotor:
        dJointSetAMotorParam(joint, dParamVel, vel);
        dJointSetAMotorParam(joint, dParamFMax, fmax);
        break;
    default:
        break;
    }
}

double roll_angle(dBodyID body) {
    if (!body) return 0;
    Vec3 u = body_vector_to_world(body, {0, 1, 0});
    Vec3 f = body_vector_to_world(body, {0, 0, -1});
    double sx = -f.z, sz = f.x;
    double l = std::sqrt(sx * sx + sz * sz);
    if (l < 1e-9) {
        // Forward axis vertical: the horizontal side direction is the body's x axis.
        Vec3 r = body_vector_to_world(body, {1, 0, 0});
        sx = r.x;
        sz = r.z;
        l = std::sqrt(sx * sx + sz * sz);
        if (l < 1e-9) return 0;
    }
    double c = (u.x * sx + u.z * sz) / l;
    if (c > 1) c = 1;
    if (c < -1) c = -1;
    return std::acos(c) - std::numbers::pi / 2;
}
