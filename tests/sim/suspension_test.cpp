// Fork and shock: the linkage curve, two-stage damping, and the forces put on the joint
// motors.
#include "sim/suspension.h"

#include "sim_fixture.h"

namespace {

TEST(Suspension, Linkage) {
    const BikeModel &m = *bike_model_find("crf450(2013)");
    struct Case {
        double x, compression, ratio;
    } cases[] = {{0, 0, 0.315039}, {0.75, 0.283652, 0.460479}, {1, 0.413386, 0.607049}};
    for (const Case &c : cases) {
        LinkagePoint p = linkage_eval(m, c.x);
        EXPECT_NEAR(p.compression, c.compression, 1e-6) << c.x;
        EXPECT_NEAR(p.ratio, c.ratio, 1e-6) << c.x;
    }
    // Rising rate: the ratio grows all the way, and the curve is continuous at the knot.
    double last = 0;
    for (int i = 0; i <= 100; ++i) {
        LinkagePoint p = linkage_eval(m, i / 100.0);
        EXPECT_GT(p.ratio, last);
        last = p.ratio;
    }
    EXPECT_NEAR(linkage_eval(m, 0.75 + 1e-9).compression, 0.283652, 1e-6);
}

TEST(Suspension, TwoStageDamping) {
    struct Case {
        double v, hs, ls, force;
    } cases[] = {
        {0, 60, 30, 0},         // no speed, no damping, whatever the offset
        {-0.5, 60, 0, 30},      // compression, unshifted: -v * hs
        {0.5, 60, 0, -30},      // rebound
        {-0.5, 60, 10, 40},     // compression shifted up
        {0.5, 60, 10, -40},     // rebound shifted down
        {-0.5, 60, -20, 10},    // a negative offset lowers it
        {-0.1, 60, 200, 48},    // never more than 8 times -v * hs
        {-0.1, 60, -200, 0.75}, // nor less than an eighth
        {0.1, 60, 200, -48},    {0.1, 60, -200, -0.75},
    };
    for (const Case &c : cases)
        EXPECT_NEAR(two_stage_damping(c.v, c.hs, c.ls), c.force, 1e-9)
            << c.v << " " << c.hs << " " << c.ls;
}

class SuspensionTest : public SimTest {};

TEST_F(SuspensionTest, ForkForceOnTheSliderMotor) {
    Bike *b = make();
    bike_translate(b, 100, 40, 100);
    dJointID fork = b->joint[kJointFork];
    // Fully extended: no force whatever the preload.
    fork_update(b);
    EXPECT_EQ(dJointGetSliderParam(fork, dParamFMax), 0);

    // Half the travel, at rest, reset setup: coil + air (about 69.2 lb for both legs).
    Vec3 axis = bike_steering_axis(b->model);
    dBodyID lower = b->body[kBodyForkLower];
    body_set_position(lower, body_position(lower) + axis * 0.5);
    fork_update(b);
    EXPECT_NEAR(b->fork_position, -0.5, 1e-9);
    const BikeSetup &s = b->setup;
    double air = 82.46169 * (std::pow((1 + 0.41667) / (1 + 0.41667 - 0.5), 1.4) - 1);
    EXPECT_NEAR(air, 69.2, 0.1);
    EXPECT_NEAR(dJointGetSliderParam(fork, dParamFMax),
                s.fork_spring * (s.fork_preload + 0.5) + air, 0.01);
    EXPECT_EQ(dJointGetSliderParam(fork, dParamVel), 100);

    // Extending fast: rebound damping beyond the springs only holds the slider.
    body_set_linear_vel(lower, axis * -20);
    fork_update(b);
    EXPECT_GT(b->fork_speed, 19);
    EXPECT_EQ(dJointGetSliderParam(fork, dParamVel), 0);
    EXPECT_GT(dJointGetSliderParam(fork, dParamFMax), 0);
}

TEST_F(SuspensionTest, ShockTorqueOnTheSwingarmMotor) {
    Bike *b = make();
    bike_translate(b, 100, 40, 100);
    dJointID pivot = b->joint[kJointSwingarm];
    shock_update(b);
    EXPECT_EQ(dJointGetHingeParam(pivot, dParamFMax), 0); // fully extended
    // Turn the swingarm (and rear wheel) up to three quarters of its travel.
    const BikeModel &m = b->model;
    double angle = 0.75 * m.swingarm_travel;
    Quat q = quat_axis_angle({1, 0, 0}, -angle); // the rear axle up
    Vec3 p = body_position(b->body[kBodyFrame]) + vec3(m.swingarm_pivot) - vec3(m.frame_pos);
    for (BikeBody body : {kBodySwingarm, kBodyRearWheel}) {
        body_set_position(b->body[body], p + rotate(q, body_position(b->body[body]) - p));
        body_set_quaternion(b->body[body], q);
    }
    shock_update(b);
    EXPECT_NEAR(b->swingarm_angle, -angle, 1e-6);
    EXPECT_NEAR(b->shock_compression, 0.283652, 1e-6);
    EXPECT_NEAR(b->shock_ratio, 0.460479, 1e-6);
    double force = (0.283652 + b->setup.shock_preload) * b->setup.shock_spring;
    EXPECT_NEAR(dJointGetHingeParam(pivot, dParamFMax), 0.460479 * force, 0.05);
}

} // namespace
