#include "sim/engine.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "sim/bike.h"
#include "sim/world.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRpmPerRadS = 9.549296;
constexpr double kRpmStep = 0.002; // curve points per rpm
constexpr double kAutoClutchBand = 2000;
constexpr double kDampingLimit = 500;
constexpr double kCouplingLimit = 1e6;
constexpr double kSlideSpeed2 = 4; // (2 ft/s)^2

double wrap(double a) {
    if (!std::isfinite(a)) return 0;
    a = std::remainder(a, 2 * kPi);
    return a;
}

// Steps down past gears the model does not have.
int usable_gear(const BikeModel &m, int gear) {
    gear = std::clamp(gear, 0, kGearCount - 1);
    while (gear > 0 && !(m.gear_ratio[gear] > 0)) --gear;
    return gear;
}

bool touching(const WheelContact &w) {
    return w.depth > 0;
}

double slide2(const WheelContact &w) {
    const float *v = w.point_velocity;
    return double(v[0]) * v[0] + double(v[1]) * v[1] + double(v[2]) * v[2];
}

} // namespace

void bike_shift(Bike *b, int direction) {
    if (!b || b->crash_timer > 0 || direction == b->last_shift || direction < -1 || direction > 1)
        return;
    b->last_shift = direction;
    b->gear = usable_gear(b->model, b->gear + direction);
}

double engine_torque(const Bike *b) {
    if (!b) return 0;
    const BikeModel &m = b->model;
    double t = std::clamp(bike_rpm(b) * kRpmStep, 0.0, double(kTorquePoints - 1));
    int i = int(t);
    double f = t - i;
    int j = std::min(i + 1, kTorquePoints - 1);
    double closed = m.closed_torque[i] + f * (m.closed_torque[j] - m.closed_torque[i]);
    double open = m.open_torque[i] + f * (m.open_torque[j] - m.open_torque[i]);
    double torque = closed + (open - closed) * b->input.throttle;
    if ((b->setup.stop_wheelies & 1) && !touching(b->wheels[0]) && touching(b->wheels[1]) &&
        torque > 0 && b->body[kBodyFrame]) {
        Vec3 w = body_vector_from_world(b->body[kBodyFrame], body_angular_vel(b->body[kBodyFrame]));
        if (w.x > -0.03125) torque = 0; // the nose is not dropping: no drive
    }
    return torque;
}

double bike_drive_ratio(const Bike *b) {
    if (!b) return 1;
    int g = usable_gear(b->model, b->gear);
    return double(b->model.gear_ratio[g]) * b->model.primary_ratio * b->setup.sprocket_ratio;
}

void auto_shift_update(Bike *b) {
    if (!b || !b->setup.auto_shift || (sim_clock().step & 31) != 0) return;
    if (!(dJointGetHingeAngle(b->joint[kJointSwingarm]) < -0.01)) return;
    const WheelContact &rear = b->wheels[1];
    if (touching(rear) && slide2(rear) > kSlideSpeed2) return;
    double rpm =
        dJointGetHingeAngleRate(b->joint[kJointRearAxle]) * bike_drive_ratio(b) * kRpmPerRadS;
    if (rpm < b->model.downshift_rpm)
        b->gear = usable_gear(b->model, b->gear - 1);
    else if (rpm > b->model.upshift_rpm)
        b->gear = usable_gear(b->model, b->gear + 1);
}

void drivetrain_update(Bike *b) {
    if (!b || !b->joint[kJointRearAxle]) return;
    const BikeModel &m = b->model;
    const double h = kStepSeconds;
    const double N = bike_drive_ratio(b);
    double engine = engine_torque(b);
    double wheel_angle = dJointGetHingeAngle(b->joint[kJointRearAxle]);
    double wheel_rate = dJointGetHingeAngleRate(b->joint[kJointRearAxle]);
    double theta = wrap(b->clutch_phase - wheel_angle);

    double rpm = bike_rpm(b);
    double clutch = b->input.clutch;
    double auto_clutch = b->setup.auto_clutch_rpm;
    double e = rpm > auto_clutch + kAutoClutchBand
                   ? clutch
                   : std::min(std::clamp((rpm - auto_clutch) / kAutoClutchBand, 0.0, 1.0), clutch);
    double coupling = std::clamp((b->engine_speed - wheel_rate * N) * m.clutch_damping,
                                 -kDampingLimit, kDampingLimit) +
                      theta * m.clutch_stiffness;
    // Engine braking ignores the automatic clutch.
    double engaged = coupling >= 0 ? e : clutch;
    coupling = std::clamp(coupling, -kCouplingLimit, kCouplingLimit);
    // The spring's wind-up is limited: a partly engaged clutch slips.
    double slip = engaged * kPi / 4;
    if (theta > slip)
        b->clutch_phase = float(wheel_angle + slip);
    else if (theta < -slip)
        b->clutch_phase = float(wheel_angle - slip);
    double tc = engaged * engaged * coupling;
    body_add_rel_torque(b->body[kBodyRearWheel], {-tc, 0, 0});
    body_add_rel_torque(b->body[kBodyFrame], {tc, 0, 0});
    // Engine speed first, then the phase: the coupling is only stable in this order.
    double speed = b->engine_speed + h * (engine - tc / N) / m.engine_inertia;
    if (!std::isfinite(speed)) speed = 0;
    b->engine_speed = float(speed);
    b->clutch_phase = float(wrap(b->clutch_phase + h * speed / N));
}

void brakes_update(Bike *b) {
    if (!b || !b->joint[kJointFrontAxle]) return;
    const BikeSetup &s = b->setup;
    const WheelContact &front = b->wheels[0], &rear = b->wheels[1];
    double tf = s.front_brake_torque * b->input.front_brake;
    if (s.front_antilock && touching(front) && slide2(front) > kSlideSpeed2) tf = 0;
    if ((s.stop_wheelies & 2) && touching(front) && !touching(rear)) tf = 0;
    joint_set_param(b->joint[kJointFrontAxle], dParamVel, 0);
    joint_set_param(b->joint[kJointFrontAxle], dParamFMax, tf);
    double tr = s.rear_brake_torque * b->input.rear_brake;
    if (s.rear_antilock && touching(rear) && slide2(rear) > kSlideSpeed2) tr = 0;
    joint_set_param(b->joint[kJointRearAxle], dParamVel, 0);
    joint_set_param(b->joint[kJointRearAxle], dParamFMax, tr);
}

double bike_rpm(const Bike *b) {
    return b ? b->engine_speed * kRpmPerRadS : 0;
}

int bike_gear(const Bike *b) {
    return b ? b->gear : 0;
}
