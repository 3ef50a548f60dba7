// Engine torque, shifting, the clutch coupling and the brakes, one step at a time.
#include <cmath>
#include <numbers>

#include "sim/engine.h"
#include "sim/ground.h"
#include "sim_fixture.h"

namespace {

constexpr double kRadPerRpm = 2 * std::numbers::pi / 60;

class EngineTest : public SimTest {
protected:
    // A bike high in the air, at rest.
    Bike *airborne(const char *model = "crf450(2013)") {
        Bike *b = make(model);
        bike_translate(b, 100, 40, 100);
        return b;
    }
    static void clear_accumulators(Bike *b) {
        for (dBodyID body : b->body) {
            dBodySetForce(body, 0, 0, 0);
            dBodySetTorque(body, 0, 0, 0);
        }
    }
    // Torque about the body's own x axis.
    static double rel_torque_x(dBodyID body) {
        return body_vector_from_world(body, vec3(dBodyGetTorque(body))).x;
    }
};

TEST_F(EngineTest, ShiftingOncePerPress) {
    Bike *b = airborne();
    bike_shift(b, 1);
    bike_shift(b, 1); // still held
    EXPECT_EQ(bike_gear(b), 1);
    bike_shift(b, 0);
    bike_shift(b, 1);
    EXPECT_EQ(bike_gear(b), 2);
    bike_shift(b, 2); // not a direction
    bike_shift(b, -5);
    EXPECT_EQ(bike_gear(b), 2);
    b->crash_timer = 100; // off the bike
    bike_shift(b, -1);
    EXPECT_EQ(bike_gear(b), 2);
    b->crash_timer = 0;
    bike_shift(b, -1);
    EXPECT_EQ(bike_gear(b), 1);

    // The 450 has five gears: an upshift from the fifth steps back to it.
    b->gear = 4;
    b->last_shift = 0;
    bike_shift(b, 1);
    EXPECT_EQ(bike_gear(b), 4);
    // The kx125 has six: the top stays the top.
    Bike *c = airborne("kx125");
    c->gear = 5;
    bike_shift(c, 1);
    EXPECT_EQ(bike_gear(c), 5);
    c->gear = 0;
    c->last_shift = 0;
    bike_shift(c, -1);
    EXPECT_EQ(bike_gear(c), 0);
}

TEST_F(EngineTest, TorqueCurvesAndWheelieCut) {
    Bike *b = airborne();
    const BikeModel &m = b->model;
    auto at = [&](double rpm, float throttle) {
        b->engine_speed = float(rpm * kRadPerRpm);
        b->input.throttle = throttle;
        return engine_torque(b);
    };
    EXPECT_NEAR(at(0, 0), 2, 1e-4); // the engine cannot stall
    EXPECT_NEAR(at(7000, 1), m.open_torque[14], 1e-3);
    EXPECT_NEAR(at(7250, 1), 0.5 * (m.open_torque[14] + m.open_torque[15]), 1e-3);
    EXPECT_NEAR(at(7250, 0.5f),
                0.5 * (0.5 * (m.open_torque[14] + m.open_torque[15]) +
                       0.5 * (m.closed_torque[14] + m.closed_torque[15])),
                1e-3);
    EXPECT_NEAR(at(40000, 1), m.open_torque[49], 1e-3); // beyond the curve: its last point
    EXPECT_NEAR(at(-500, 1), m.open_torque[0], 1e-3);
    EXPECT_LT(at(12500, 1), 0); // the limiter

    // A wheelie: the rear wheel down, the front up.
    b->wheels[0].depth = 0;
    b->wheels[1].depth = 0.1f;
    b->setup.stop_wheelies = 3;
    EXPECT_EQ(at(7000, 1), 0);
    EXPECT_LT(at(9000, 0), 0);                         // engine braking still passes
    dBodySetAngularVel(b->body[kBodyFrame], -1, 0, 0); // the nose dropping
    EXPECT_GT(at(7000, 1), 20);
    dBodySetAngularVel(b->body[kBodyFrame], 0, 0, 0);
    b->setup.stop_wheelies = 2; // front brake guard only
    EXPECT_GT(at(7000, 1), 20);
    b->setup.stop_wheelies = 3;
    b->wheels[0].depth = 0.1f; // both wheels down
    EXPECT_GT(at(7000, 1), 20);
}

TEST_F(EngineTest, ClutchCouplingAndAutomaticClutch) {
    Bike *b = airborne();
    const BikeModel &m = b->model;
    double N = bike_drive_ratio(b);
    EXPECT_NEAR(N, m.gear_ratio[0] * m.primary_ratio * 48.0 / 13.0, 1e-5);
    // With auto_clutch_rpm 5000 and the lever released, the engagement is 0.5 at 6000 rpm
    // (a quarter of the coupling torque) and complete from 7000 rpm.
    struct Case {
        double rpm, engagement;
    } cases[] = {{4000, 0}, {6000, 0.5}, {7000, 1}, {9000, 1}};
    for (const Case &c : cases) {
        bike_state_reset(b);
        bike_translate(b, 100, 40, 100);
        clear_accumulators(b);
        b->input.clutch = 1;
        b->engine_speed = float(c.rpm * kRadPerRpm);
        double speed = b->engine_speed;
        double coupling = std::fmin(500, speed * m.clutch_damping); // wheel at rest, no wind-up
        double engine = engine_torque(b);
        drivetrain_update(b);
        double tc = c.engagement * c.engagement * coupling;
        EXPECT_NEAR(rel_torque_x(b->body[kBodyRearWheel]), -tc, 1e-3) << c.rpm;
        EXPECT_NEAR(rel_torque_x(b->body[kBodyFrame]), tc, 1e-3) << c.rpm;
        EXPECT_NEAR(b->engine_speed, speed + (engine - tc / N) / 128 / m.engine_inertia, 1e-2)
            << c.rpm;
        // The phase moves on with the new engine speed.
        EXPECT_NEAR(b->clutch_phase,
                    std::remainder(b->engine_speed / 128 / N, 2 * std::numbers::pi), 1e-5);
    }
    // Lever pulled: no coupling at all, and the phase follows the wheel.
    bike_state_reset(b);
    bike_translate(b, 100, 40, 100);
    clear_accumulators(b);
    b->input.clutch = 0;
    b->engine_speed = float(9000 * kRadPerRpm);
    b->clutch_phase = 2;
    drivetrain_update(b);
    EXPECT_EQ(rel_torque_x(b->body[kBodyRearWheel]), 0);
    EXPECT_NEAR(b->clutch_phase, b->engine_speed / 128 / N, 1e-5);
}

TEST_F(EngineTest, AutomaticShifting) {
    Bike *b = make();
    bike_place(b, 100, 10, 100, 0);
    for (int i = 0; i < 256; ++i) {
        bike_collide_world(b);
        physics_step();
        bike_step(b);
    }
    ASSERT_LT(dJointGetHingeAngle(b->joint[kJointSwingarm]), -0.01); // loaded
    b->setup.auto_shift = true;
    double N = bike_drive_ratio(b);
    auto spin = [&](double wheel_rpm) {
        dBodySetAngularVel(b->body[kBodyRearWheel], -wheel_rpm / 9.549296 / N, 0, 0);
    };
    sim_clock().step = 640;
    spin(b->model.upshift_rpm + 500);
    auto_shift_update(b);
    EXPECT_EQ(bike_gear(b), 1);
    auto_shift_update(b); // one check per 32 steps
    sim_clock().step = 641;
    auto_shift_update(b);
    EXPECT_EQ(bike_gear(b), 1);
    sim_clock().step = 672;
    b->wheels[1].point_velocity[2] = 3; // the tyre slides: no shift
    auto_shift_update(b);
    EXPECT_EQ(bike_gear(b), 1);
    b->wheels[1].point_velocity[2] = 0;
    spin(b->model.downshift_rpm - 500);
    auto_shift_update(b);
    EXPECT_EQ(bike_gear(b), 0);
    b->setup.auto_shift = false;
    spin(b->model.upshift_rpm + 500);
    auto_shift_update(b);
    EXPECT_EQ(bike_gear(b), 0);
}

TEST_F(EngineTest, BrakesAntilockAndStoppieGuard) {
    Bike *b = airborne();
    b->input.front_brake = 0.5f;
    b->input.rear_brake = 1;
    WheelContact &front = b->wheels[0], &rear = b->wheels[1];
    auto fmax = [&](int joint) { return dJointGetHingeParam(b->joint[joint], dParamFMax); };
    struct Case {
        const char *name;
        float front_depth, rear_depth, front_slide, rear_slide;
        int stop_wheelies;
        double front, rear;
    } cases[] = {
        {"in the air", 0, 0, 9, 9, 2, 125, 250},
        {"rolling", 0.1f, 0.1f, 1.9f, 1.9f, 2, 125, 250},
        {"front sliding", 0.1f, 0.1f, 2.1f, 0, 2, 0, 250},
        {"rear sliding (no rear antilock)", 0.1f, 0.1f, 0, 30, 2, 125, 250},
        {"stoppie", 0.1f, 0, 0, 0, 2, 0, 250},
        {"stoppie, guard off", 0.1f, 0, 0, 0, 0, 125, 250},
    };
    for (const Case &c : cases) {
        front.depth = c.front_depth;
        rear.depth = c.rear_depth;
        front.point_velocity[0] = c.front_slide;
        rear.point_velocity[0] = c.rear_slide;
        b->setup.stop_wheelies = std::uint8_t(c.stop_wheelies);
        brakes_update(b);
        EXPECT_NEAR(fmax(kJointFrontAxle), c.front, 1e-9) << c.name;
        EXPECT_NEAR(fmax(kJointRearAxle), c.rear, 1e-9) << c.name;
        EXPECT_EQ(dJointGetHingeParam(b->joint[kJointFrontAxle], dParamVel), 0) << c.name;
    }
    b->setup.rear_antilock = true;
    rear.depth = 0.1f;
    rear.point_velocity[0] = 30;
    brakes_update(b);
    EXPECT_EQ(fmax(kJointRearAxle), 0);
}

} // namespace
