// The rider: controls, knockout times, the throw-off checks, the rider springs, the stop
// and back-up helpers, the foot-down push, realignment and the free feet. Bodies are posed
// by hand here; whole rides are in ride_test.cpp.
#include <cmath>
#include <numbers>

#include "sim/rider.h"
#include "sim/rider_input.h"
#include "sim_fixture.h"

namespace {

constexpr double kPi = std::numbers::pi;

class RiderTest : public SimTest {
protected:
    void TearDown() override {
        rider_knockout_set(nullptr, 0);
        rider_course_hooks_set(RiderCourseHooks{});
        SimTest::TearDown();
    }
    // A bike high above the ground, at rest, leaning by roll (positive = left).
    Bike *posed(double roll = 0) {
        Bike *b = make();
        bike_state_reset(b);
        bike_rotate(b, {0, 0, 1}, roll);
        bike_translate(b, 100, 40, 100);
        return b;
    }
    static void clear(Bike *b) {
        for (dBodyID body : b->body) {
            dBodySetForce(body, 0, 0, 0);
            dBodySetTorque(body, 0, 0, 0);
        }
    }
    static void set_all_velocities(Bike *b, Vec3 v) {
        for (dBodyID body : b->body) body_set_linear_vel(body, v);
    }
};

TEST_F(RiderTest, ControlsSteerBrakeAndLean) {
    Bike *b = make();
    RiderControls c;
    c.steer = 1; // "Left"
    c.throttle = 0.7f;
    c.front_brake = 2;
    c.rear_brake = -1;
    c.back_up = 0.25f;
    c.lean = -3;
    rider_controls_apply(b, c, RiderControlOptions{});
    EXPECT_EQ(b->input.steer, -1); // reversed steering is the default
    EXPECT_FLOAT_EQ(b->input.throttle, 0.7f);
    EXPECT_EQ(b->input.front_brake, 1);
    EXPECT_EQ(b->input.rear_brake, 0);
    EXPECT_FLOAT_EQ(b->input.back_up, 0.25f);
    EXPECT_EQ(b->input.lean, -1);
    rider_controls_apply(b, c, RiderControlOptions{false, false});
    EXPECT_EQ(b->input.steer, 1);
    // Off the bike, throttle, sit/dab, back up and lean are held at 0.
    b->crash_timer = 10;
    c.dab = 1;
    rider_controls_apply(b, c, RiderControlOptions{});
    EXPECT_EQ(b->input.throttle + b->input.sit_dab + b->input.back_up + b->input.lean, 0);
    EXPECT_EQ(b->input.front_brake, 1);
}

TEST_F(RiderTest, StickyDabTogglesOnEachPress) {
    Bike *b = make();
    const RiderControlOptions sticky{true, true};
    const struct {
        float control, want;
    } passes[] = {{0, 0}, {0.6f, 1}, {1, 1}, {0.2f, 1}, {0, 1}, {0.5f, 0}, {0.4f, 0}, {0.9f, 1}};
    RiderControls c;
    for (const auto &p : passes) {
        c.dab = p.control;
        rider_controls_apply(b, c, sticky);
        EXPECT_EQ(b->input.sit_dab, p.want) << p.control;
    }
    c.dab = 0.3f;
    rider_controls_apply(b, c, RiderControlOptions{});
    EXPECT_FLOAT_EQ(b->input.sit_dab, 0.3f);
}

TEST_F(RiderTest, ClutchIsLetOutOverThirtyTwoPassesAndPulledAtOnce) {
    Bike *b = make();
    RiderControls c;
    c.clutch = 1; // lever pulled
    rider_controls_apply(b, c, RiderControlOptions{});
    EXPECT_EQ(b->input.clutch, 0);
    c.clutch = 0; // released at once
    for (int pass = 1; pass <= 32; ++pass) {
        rider_controls_apply(b, c, RiderControlOptions{});
        if (pass < 32) {
            EXPECT_LT(b->input.clutch, 1) << pass;
        }
    }
    EXPECT_EQ(b->input.clutch, 1);
    c.clutch = 0.1f; // within the free play of the last eighth: nearly engaged
    rider_controls_apply(b, c, RiderControlOptions{});
    EXPECT_NEAR(b->input.clutch, 1 - 0.1 * 8 / 7, 1e-6);
    c.clutch = 0.9f;
    rider_controls_apply(b, c, RiderControlOptions{});
    EXPECT_EQ(b->input.clutch, 0);
}

TEST_F(RiderTest, KnockoutTimesAreClampedAndLengthenTheFall) {
    const int sent[] = {-50, 100, 1000000000};
    rider_knockout_set(sent, 3);
    EXPECT_EQ(rider_knockout_extra(0), 0);
    EXPECT_EQ(rider_knockout_extra(1), 100);
    EXPECT_EQ(rider_knockout_extra(2), kKnockoutMaxExtra);
    EXPECT_EQ(rider_knockout_extra(3), 0);
    EXPECT_EQ(rider_knockout_extra(99), 0);
    Bike *b = posed();
    b->crash_count = 1;
    rider_fall(b);
    EXPECT_EQ(b->crash_timer, 612);
    EXPECT_EQ(b->crash_count, 2);
    EXPECT_FALSE(b->rider_attached);
    EXPECT_EQ(dJointGetBody(b->joint[kJointRider], 0), nullptr);
}

TEST_F(RiderTest, EjectionAndImpactThrowTheRiderOff) {
    const struct {
        const char *what;
        Vec3 torso, frame, old;
        float bump;
        bool falls;
    } cases[] = {
        {"slow relative motion", {0, 0, 30}, {0, 0, 0}, {0, 0, 30}, 0, false},
        {"ejected at 32 ft/s", {0, 0, 32}, {0, 0, 0}, {0, 0, 32}, 0, true},
        {"45 g stop in 1/32 s", {0, 0, 0}, {0, 0, 0}, {0, 0, -45}, 0, true},
        {"40 g stop in 1/32 s", {0, 0, 0}, {0, 0, 0}, {0, 0, -40}, 0, false},
        {"freefall", {0, -10, 0}, {0, -10, 0}, {0, -9, 0}, 0, false},
        {"45 g when struck by a bike", {0, 0, 0}, {0, 0, 0}, {0, 0, -45}, 10, true},
        {"45 g while striking a bike", {0, 0, 0}, {0, 0, 0}, {0, 0, -45}, -10, false},
        {"ejected after a hard bump", {0, 0, 40}, {0, 0, 0}, {0, 0, 40}, -600, false},
    };
    for (const auto &c : cases) {
        Bike *b = posed();
        sim_clock().step = 77;
        set_all_velocities(b, c.frame);
        body_set_linear_vel(b->body[kBodyTorso], c.torso);
        float *slot = b->torso_velocity_history[77 % 4];
        slot[0] = float(c.old.x), slot[1] = float(c.old.y), slot[2] = float(c.old.z);
        b->bump_timer = c.bump;
        rider_crash_check_motion(b);
        EXPECT_EQ(b->crash_timer > 0, c.falls) << c.what;
    }
}

TEST_F(RiderTest, GroundAndSceneryChecks) {
    const struct {
        bool upside_down;
        double speed;
        bool falls;
    } ground[] = {{true, 4, false}, {true, 6, true}, {false, 30, false}};
    for (const auto &c : ground) {
        Bike *b = posed();
        body_set_quaternion(b->body[kBodyTorso],
                            c.upside_down ? quat_axis_angle({0, 0, 1}, kPi) : Quat{});
        body_set_linear_vel(b->body[kBodyTorso], {c.speed, 0, 0});
        rider_crash_check_ground(b);
        EXPECT_EQ(b->crash_timer > 0, c.falls) << c.speed;
    }
    Bike *b = posed();
    set_all_velocities(b, {0, 0, -25});
    rider_crash_check_scenery(b, b->body[kBodyFrontWheel]); // a body moving with it: no
    EXPECT_EQ(b->crash_timer, 0);
    rider_crash_check_scenery(b, nullptr); // into a fixed object at 25 ft/s
    EXPECT_GT(b->crash_timer, 0);
    int timer = b->crash_timer;
    rider_crash_check_scenery(b, nullptr); // already off: no second fall
    EXPECT_EQ(b->crash_timer, timer);
    EXPECT_EQ(b->crash_count, 1);
}

TEST_F(RiderTest, FallPutsTheFeetWhereTheyStoodMovingWithTheTorso) {
    Bike *b = posed();
    set_all_velocities(b, {3, 0, -20});
    rider_set_throttle(b, 1);
    rider_fall(b);
    b->crash_timer = 0; // the pose as it was when riding
    Vec3 peg = body_point_to_world(b->body[kBodyFrame], vec3(b->model.rider.footpegs[1]));
    EXPECT_NEAR(length(vec3(b->feet[1].position) - peg), 0, 1e-5);
    EXPECT_NEAR(length(vec3(b->feet[1].velocity) - Vec3{3, 0, -20}), 0, 1e-5);
    EXPECT_EQ(b->input.throttle, 0);
}

TEST_F(RiderTest, SpringsSeatStandAndLeanTheTorso) {
    // The frame held still in the air; the torso settles on its springs each way.
    Bike *b = posed();
    dBodySetKinematic(b->body[kBodyFrame]);
    auto settle = [&](float sit, float lean) {
        rider_set_sit_dab(b, sit);
        rider_set_lean(b, lean);
        for (int i = 0; i < 512; ++i) {
            rider_coupling_update(b);
            physics_step();
        }
        return body_vector_from_world(b->body[kBodyFrame], body_position(b->body[kBodyTorso]) -
                                                               body_position(b->body[kBodyFrame]));
    };
    Vec3 standing = settle(0, 0);
    Vec3 seated = settle(1, 0);
    Vec3 back = settle(0, 1);
    Vec3 forward = settle(0, -1);
    // Seated aims 0.5 ft lower; the torso's weight sags it onto the stiff end of the range.
    EXPECT_GT(standing.y - seated.y, 0.3);
    EXPECT_LT(standing.y - seated.y, 0.55);
    EXPECT_GT(back.z - standing.z, 0.6); // toward the rear by up to 0.75 ft
    EXPECT_LT(forward.z - standing.z, -0.55);
}

TEST_F(RiderTest, StoppedBikeIsHeldUntilThrottleAndClutch) {
    Bike *b = posed();
    bike_set_auto_dab(b, 1);
    b->wheels[0].depth = b->wheels[1].depth = 0.1f;
    set_all_velocities(b, {1, 0, 0});
    // bike_step puts the overridden inputs back afterwards.
    bike_step(b);
    EXPECT_EQ(b->input.front_brake, 0);
    EXPECT_EQ(b->input.sit_dab, 0);

    clear(b);
    rider_stop_update(b);
    EXPECT_EQ(b->input.front_brake, 1);
    EXPECT_EQ(b->input.rear_brake, 1);
    EXPECT_NEAR(b->input.sit_dab, 1 - 1 / b->setup.max_dab_speed, 1e-6);
    EXPECT_NEAR(dBodyGetForce(b->body[kBodyFrame])[0], -(0.75 * 0.8) * 1000, 1e-6);

    clear(b);
    rider_set_front_brake(b, 0);
    rider_set_rear_brake(b, 0);
    rider_set_throttle(b, 0.3f);
    rider_set_clutch(b, 1);
    rider_stop_update(b);
    EXPECT_EQ(b->input.front_brake, 0);
    EXPECT_EQ(dBodyGetForce(b->body[kBodyFrame])[0], 0);

    // Without "Dab When Stopped" nothing happens.
    bike_set_auto_dab(b, 0);
    rider_set_throttle(b, 0);
    rider_stop_update(b);
    EXPECT_EQ(b->input.front_brake, 0);
}

TEST_F(RiderTest, BackingUpPulsesTheBikeBackwards) {
    Bike *b = posed();
    rider_set_back_up(b, 1);
    const struct {
        std::int64_t step, race_start;
        double force; // along the frame's +z (backwards)
    } cases[] = {
        {640 + 64, 0, 2000}, // the middle of a pulse
        {640, 0, 0},         // between pulses
        {704, 1000, 0},      // the first moments of the race
        {576, 1000, 2000},
    };
    for (const auto &c : cases) {
        clear(b);
        sim_clock().step = c.step;
        sim_clock().race_start = c.race_start;
        rider_stop_update(b);
        EXPECT_NEAR(dBodyGetForce(b->body[kBodyFrame])[2], c.force, 1e-6) << c.step;
        EXPECT_EQ(b->input.sit_dab, 1);
    }
}

TEST_F(RiderTest, RollPushHelpsASlowBikeUpright) {
    const double lean = 0.3; // to the left
    Bike *b = posed(lean);
    b->wheels[0].depth = b->wheels[1].depth = 0.1f;
    bike_set_auto_align(b, 0);
    rider_set_sit_dab(b, 1);
    rider_dab_update(b);
    EXPECT_NEAR(b->dab_pose, 8.0 / 128, 1e-6);
    // Relative force (400, 0, 0) and world force (0, 50, 0), both at (0, 4, 0) on the frame.
    Vec3 arm = body_vector_to_world(b->body[kBodyFrame], {0, 4, 0});
    double want = -1600 + cross(arm, {0, 50, 0}).z;
    EXPECT_NEAR(dBodyGetTorque(b->body[kBodyFrame])[2], want, 1e-6);

    // Nothing without sit/dab, or too fast.
    clear(b);
    rider_set_sit_dab(b, 0);
    rider_dab_update(b);
    EXPECT_EQ(dBodyGetTorque(b->body[kBodyFrame])[2], 0);
    rider_set_sit_dab(b, 1);
    set_all_velocities(b, {0, 0, -40});
    rider_dab_update(b);
    EXPECT_EQ(dBodyGetTorque(b->body[kBodyFrame])[2], 0);
}

TEST_F(RiderTest, RealignTurnsTowardTheCourseAndLifts) {
    static Vec3 target;
    RiderCourseHooks hooks;
    hooks.course_point = [](const Bike *, Vec3 *out) {
        *out = target;
        return true;
    };
    rider_course_hooks_set(hooks);
    Bike *b = posed(0.6); // fallen over to 34 degrees, stopped
    b->wheels[0].depth = b->wheels[1].depth = 0.1f;
    rider_set_sit_dab(b, 1);
    Vec3 p = body_position(b->body[kBodyFrame]);

    target = p + Vec3{0, 0, 50}; // behind: turn with lift
    rider_dab_update(b);
    double lift = b->total_mass * 32;
    EXPECT_NEAR(dBodyGetForce(b->body[kBodyFrontWheel])[1], lift, 1e-6);
    EXPECT_NEAR(dBodyGetForce(b->body[kBodyRearWheel])[1], lift, 1e-6);
    EXPECT_EQ(dBodyGetTorque(b->body[kBodyFrame])[2], 0); // no roll push this step

    clear(b);
    target = p + Vec3{1, 0, -50}; // nearly straight ahead: a gentle turn, no lift
    EXPECT_FALSE(rider_realign(b));
    EXPECT_EQ(dBodyGetForce(b->body[kBodyFrontWheel])[1], 0);

    // Without course information there is nothing to align to; the roll push acts.
    rider_course_hooks_set(RiderCourseHooks{});
    clear(b);
    EXPECT_FALSE(rider_realign(b));
    rider_dab_update(b);
    EXPECT_LT(dBodyGetTorque(b->body[kBodyFrame])[2], 0);
}

TEST_F(RiderTest, FreeFeetFallToTheGroundWithinReachOfTheHips) {
    Bike *b = make();
    bike_place(b, 100, 10, 100, 0);
    rider_fall(b);
    const RiderGeometry &g = b->model.rider;
    const double reach = double(g.thigh) + g.shin;
    auto hip = [&](int i) { return body_point_to_world(b->body[kBodyTorso], vec3(g.hips[i])); };
    double start_y = b->feet[0].position[1];
    // One foot flung far away, the other below the ground.
    b->feet[1].position[0] = 130;
    b->feet[1].position[1] = 5;
    rider_feet_update(b);
    EXPECT_LE(length(vec3(b->feet[1].position) - hip(1)), reach + 0.5);
    EXPECT_GE(b->feet[1].position[1], 10.25 - 1e-4);
    // The other drops from its peg until the leg is straight.
    for (int i = 0; i < 128; ++i) rider_feet_update(b);
    EXPECT_LT(b->feet[0].position[1], start_y - 0.2);
    EXPECT_NEAR(length(vec3(b->feet[0].position) - hip(0)), reach, 1e-3);
    EXPECT_EQ(b->dab_pose, 0);
}

} // namespace
