#include <cmath>
#include <numbers>

#include "sim/ground.h"
#include "sim/state_record.h"
#include "sim_fixture.h"

namespace {

constexpr double kPi = std::numbers::pi;

class BikeTest : public SimTest {
protected:
    static void step(Bike *b, bool springs) {
        bike_collide_world(b);
        if (springs) stand_in_springs(b);
        physics_step();
        bike_step(b);
    }
};

TEST_F(BikeTest, CreateBuildsTheAssembly) {
    Bike *b = make("mystery bike");
    EXPECT_STREQ(b->model.name, "kx250f(2013)");
    EXPECT_EQ(b->rider_id, 0);
    EXPECT_STREQ(b->number_text, "12");
    const BikeModel &m = b->model;
    EXPECT_EQ(body_position(b->body[kBodyForkLower]).y, double(m.fork_lower_pos[1]));
    EXPECT_EQ(body_position(b->body[kBodyTorso]).z, double(m.torso_pos[2]));
    EXPECT_EQ(dBodyGetFiniteRotationMode(b->body[kBodyFrontWheel]), 1);
    EXPECT_EQ(dJointGetHingeParam(b->joint[kJointSteering], dParamLoStop), -kPi / 4);
    EXPECT_EQ(dJointGetSliderParam(b->joint[kJointFork], dParamLoStop), -double(m.fork_travel));
    EXPECT_EQ(dJointGetHinge2Param(b->joint[kJointRider], dParamHiStop), 0);
    for (int i = 0; i < kJointCount; ++i)
        EXPECT_EQ(dJointGetFeedback(b->joint[i]), &b->feedback[i]);
    EXPECT_EQ(dJointGetBody(b->joint[kJointFrontAxle], 1), b->body[kBodyFrontWheel]);
    EXPECT_EQ(b->activity, 1);

    // A long and unsafe set of names does no harm.
    Bike *c = bike_create("cr125", 7, "12345678901", "../../etc/passwd", "/abs/head.png",
                          "ok-team-1.png", nullptr);
    EXPECT_STREQ(c->number_text, "1234567");
    bike_destroy(c);
}

TEST_F(BikeTest, ResetClearsTheState) {
    Bike *b = make();
    bike_translate(b, 50, 20, 50);
    for (dBodyID body : b->body) dBodySetLinearVel(body, 30, 0, 0);
    b->torso_velocity_history[2][1] = -40;
    b->crash_timer = 300;
    b->crash_count = 2;
    bike_rider_detach(b);
    b->gear = 3;
    b->bump_timer = 100;
    b->landing_factor = 2;
    b->gates.finished = true;
    b->activity = 0.1f;
    b->feedback[2].f1[0] = 5;
    b->ruts.count = 7;
    b->work_lists[1].push_back({});
    bike_state_reset(b);
    EXPECT_EQ(body_position(b->body[kBodyFrame]).x, double(b->model.frame_pos[0]));
    EXPECT_EQ(length(body_linear_vel(b->body[kBodyTorso])), 0);
    EXPECT_EQ(b->torso_velocity_history[2][1], 0); // else the impact check fires at once
    EXPECT_EQ(b->crash_timer + b->crash_count + b->gear + b->ruts.count, 0);
    EXPECT_TRUE(b->rider_attached);
    EXPECT_EQ(dJointGetBody(b->joint[kJointRider], 0), b->body[kBodyTorso]);
    EXPECT_EQ(b->bump_timer, 0);
    EXPECT_EQ(b->landing_factor, 1);
    EXPECT_FALSE(b->gates.finished);
    EXPECT_EQ(b->activity, 1);
    EXPECT_TRUE(dBodyIsEnabled(b->body[kBodyFrame]));
    EXPECT_EQ(b->feedback[2].f1[0], 0);
    EXPECT_TRUE(b->work_lists[1].empty());
}

TEST_F(BikeTest, RotateAndTranslate) {
    Bike *b = make();
    bike_rotate(b, {0, 1, 0}, kPi / 2);
    Vec3 p = body_position(b->body[kBodyFrame]);
    EXPECT_NEAR(p.x, 3.6, 1e-6);
    EXPECT_NEAR(p.z, 0, 1e-6);
    Vec3 forward = body_vector_to_world(b->body[kBodyFrontWheel], {0, 0, -1});
    EXPECT_NEAR(forward.x, -1, 1e-9); // facing (-sin a, 0, -cos a)
    bike_translate(b, 1, 2, 3);
    EXPECT_NEAR(body_position(b->body[kBodyRearWheel]).y, 1.04 + 2, 1e-6);
    EXPECT_NEAR(dJointGetHingeAngle(b->joint[kJointSteering]), 0, 1e-9);
}

TEST_F(BikeTest, PlacementRisesOutOfABumpInQuarterFeet) {
    Bike *b = make();
    // A 1 ft plateau under the start point (samples 2 ft apart).
    Terrain &t = terrain();
    for (int j = 45; j <= 60; ++j)
        for (int i = 44; i <= 56; ++i) t.heights[std::size_t(i + t.side * j)] = 11;
    int raises = bike_place(b, 100, 10, 100, 0);
    // The wheels reach 1.167 ft below their axles (1.09 and 1.04 ft up): 1.077 ft deep.
    EXPECT_EQ(raises, 5);
    EXPECT_NEAR(body_position(b->body[kBodyFrame]).y, 10 + 1.98 + 5 * 0.25, 1e-6);
    EXPECT_FALSE(bike_collide_ground(b));
    bike_translate(b, 0, -0.25, 0);
    EXPECT_TRUE(bike_collide_ground(b));
    physics_contacts_clear();
    EXPECT_EQ(b->touched_down, 0);

    // On flat ground, turned: one raise.
    EXPECT_EQ(bike_place(b, 180, 10, 180, 1.0), 1);
    Vec3 forward = body_vector_to_world(b->body[kBodyFrame], {0, 0, -1});
    EXPECT_NEAR(forward.x, -std::sin(1.0), 1e-9);
    EXPECT_NEAR(forward.z, -std::cos(1.0), 1e-9);
}

TEST_F(BikeTest, ActivityTimeline) {
    Bike *b = make();
    bike_place(b, 100, 10, 100, 0);
    bike_disable(b);
    EXPECT_EQ(b->activity, 0);
    EXPECT_FALSE(dBodyIsEnabled(b->body[kBodyTorso]));

    // A hit wakes it; it is pulled toward its records from 0.25 s on and freezes at 0.75 s.
    bike_wake(b);
    EXPECT_EQ(b->activity, 1);
    EXPECT_TRUE(dBodyIsEnabled(b->body[kBodyFrame]));
    BikeStateRecord target = bike_state_encode(b);
    bike_translate(b, 0, 0.5, 0); // the record says: half a foot lower
    int pull_starts = -1, frozen_at = -1;
    for (int i = 1; i <= 200 && frozen_at < 0; ++i) {
        bike_activity_decay(b);
        dBodySetForce(b->body[kBodyFrame], 0, 0, 0);
        bike_state_follow(b, target, target, target, 1);
        double fy = dBodyGetForce(b->body[kBodyFrame])[1];
        EXPECT_LE(std::fabs(fy), 2500);
        if (pull_starts < 0 && fy < 0) pull_starts = i;
        if (!dBodyIsEnabled(b->body[kBodyFrame])) frozen_at = i;
    }
    EXPECT_EQ(pull_starts, 33); // first step below 0.75
    EXPECT_EQ(frozen_at, 96);   // activity 0.25
    EXPECT_NEAR(b->activity, 0.25, 1e-6);

    // Hit again while nearly frozen: held at 0.25, still frozen; at 0 it decays no further.
    bike_wake(b);
    EXPECT_NEAR(b->activity, 0.25, 1e-6);
    EXPECT_FALSE(dBodyIsEnabled(b->body[kBodyFrame]));
    for (int i = 0; i < 40; ++i) bike_activity_decay(b);
    EXPECT_EQ(b->activity, 0);
    bike_enable(b);
    EXPECT_EQ(b->activity, 1);
}

TEST_F(BikeTest, FrozenFollowGivesTheVelocitiesOfTheRecords) {
    Bike *b = make();
    bike_place(b, 100, 10, 100, 0);
    BikeStateRecord older = bike_state_encode(b);
    bike_place(b, 101, 10.5, 100, 0.25);
    BikeStateRecord previous = bike_state_encode(b);
    bike_translate(b, 2, 0, 0);
    BikeStateRecord current = bike_state_encode(b);
    double older_pos[3], prev_pos[3];
    state_record_frame_position(older, older_pos);
    state_record_frame_position(previous, prev_pos);
    Vec3 p_prev = vec3(prev_pos);

    bike_disable(b);
    bike_state_follow(b, current, previous, older, 4);
    double dt = 4.0 / 128;
    Vec3 v = body_linear_vel(b->body[kBodyFrame]);
    EXPECT_NEAR(v.x, (p_prev.x - older_pos[0]) / dt, 1e-3);
    EXPECT_NEAR(v.y, (p_prev.y - older_pos[1]) / dt, 1e-3);
    Vec3 w = body_angular_vel(b->body[kBodyFrame]);
    EXPECT_NEAR(w.y, 0.25 / dt, 0.01); // divided by steps x h
    double now[3];
    state_record_frame_position(current, now);
    EXPECT_NEAR(body_position(b->body[kBodyFrame]).x, now[0], 1e-9);
}

TEST_F(BikeTest, InternalForceCancellation) {
    Bike *b = make();
    bike_translate(b, 100, 30, 100);
    sim_clock().step = 5;
    for (int i = 0; i < kJointCount; ++i) {
        b->feedback[i].f1[0] = 1.0 + i;
        b->feedback[i].f2[1] = -2.0;
        b->feedback[i].t1[2] = 0.5;
    }
    b->feedback[kJointFork].f2[1] = 0;
    Vec3 p0 = body_position(b->body[kBodyFrame]);
    Vec3 F{}, T{};
    for (int i = 0; i < kJointCount; ++i) {
        Vec3 f1 = vec3(b->feedback[i].f1), f2 = vec3(b->feedback[i].f2);
        F += f1 + f2;
        T += vec3(b->feedback[i].t1) + vec3(b->feedback[i].t2) +
             cross(body_position(dJointGetBody(b->joint[i], 0)) - p0, f1) +
             cross(body_position(dJointGetBody(b->joint[i], 1)) - p0, f2);
    }
    bike_internal_force_cancel(b);
    Vec3 got_f = vec3(dBodyGetForce(b->body[kBodyFrame]));
    Vec3 got_t = vec3(dBodyGetTorque(b->body[kBodyFrame]));
    EXPECT_NEAR(length(got_f + F), 0, 1e-9);
    EXPECT_NEAR(length(got_t + T), 0, 1e-9);
    EXPECT_GT(length(F), 1);

    // Not in the first steps, not while the rider is off, not with a joint detached.
    auto applied = [&] {
        dBodySetForce(b->body[kBodyFrame], 0, 0, 0);
        bike_internal_force_cancel(b);
        return length(vec3(dBodyGetForce(b->body[kBodyFrame])));
    };
    sim_clock().step = 1;
    EXPECT_EQ(applied(), 0);
    sim_clock().step = 5;
    bike_rider_detach(b);
    EXPECT_EQ(applied(), 0);
}

TEST_F(BikeTest, ResetPoseOnTheStopsGivesNoSolverErrors) {
    // A frame shape that holds the frame up with both wheels hanging: the fork and the
    // swingarm start fully extended. The solver must not fail (it would drop the contacts
    // and let the bike fall through the ground).
    install_shape("generic_frame.shp", shape_text({{0, -0.9f, 0, 1.5f}}));
    Bike *b = make();
    ASSERT_NE(b->shapes[kShapeFrame].shape, nullptr);
    bike_translate(b, 100, 10, 100);
    int before = physics_message_count();
    for (int i = 0; i < 256; ++i) step(b, true);
    EXPECT_EQ(physics_message_count(), before);
    EXPECT_GT(body_position(b->body[kBodyFrame]).y, 12.0);
    EXPECT_GT(body_position(b->body[kBodyFrontWheel]).y, 10 + 1.1667);
    EXPECT_EQ(b->touched_down, 1);
}

TEST_F(BikeTest, SettledBikeStaysQuiet) {
    Bike *b = make();
    bike_place(b, 100, 10, 100, 0);
    int before = physics_message_count();
    for (int i = 0; i < 384; ++i) step(b, true);
    Vec3 p = body_position(b->body[kBodyFrame]);
    for (int i = 0; i < 256; ++i) step(b, true);
    EXPECT_EQ(physics_message_count(), before);
    Vec3 q = body_position(b->body[kBodyFrame]);
    EXPECT_LT(length(q - p), 0.01); // no drift over the last 2 s
    double fork = dJointGetSliderPosition(b->joint[kJointFork]);
    double swing = dJointGetHingeAngle(b->joint[kJointSwingarm]);
    EXPECT_LT(fork, -0.01);
    EXPECT_GT(fork, -b->model.fork_travel + 0.01);
    EXPECT_LT(swing, -0.01);
    EXPECT_GT(swing, -b->model.swingarm_travel + 0.01);
    EXPECT_LT(bike_frame_speed(b), 0.01);
    // The joints' net effect on the bike as a whole is small.
    Vec3 F{};
    for (const dJointFeedback &fb : b->feedback) F += vec3(fb.f1) + vec3(fb.f2);
    EXPECT_LT(length(F), 1.0);
}

TEST_F(BikeTest, StepStagesOfThisModule) {
    Bike *b = make();
    bike_place(b, 100, 10, 100, 0);
    b->bump_timer = 2.5f;
    sim_clock().race_start = 0;
    sim_clock().race_clock = 257; // more than 2 s in, at rest
    b->input.front_brake = 0.5f;
    sim_clock().step = 6;
    step(b, true);
    EXPECT_FLOAT_EQ(b->bump_timer, 1.5f);
    EXPECT_EQ(b->touched_down, 1);
    EXPECT_EQ(b->input.front_brake, 0.5f);
    Vec3 v = body_linear_vel(b->body[kBodyTorso]);
    EXPECT_FLOAT_EQ(b->torso_velocity_history[7 % 4][1], float(v.y));
    b->bump_timer = -0.5f;
    step(b, true);
    EXPECT_EQ(b->bump_timer, 0);
    // A frozen bike only updates its feet.
    bike_disable(b);
    b->bump_timer = 5;
    bike_step(b);
    EXPECT_EQ(b->bump_timer, 5);
}

TEST_F(BikeTest, ForceHelpers) {
    SoftParams sp = soft_params(5000, 500);
    EXPECT_NEAR(sp.erp, (5000.0 / 128) / (5000.0 / 128 + 500), 1e-12);
    EXPECT_NEAR(sp.cfm, 1 / (5000.0 / 128 + 500), 1e-12);
    EXPECT_EQ(soft_params(0, 0).erp, 0);

    Bike *b = make();
    bike_translate(b, 100, 50, 100);
    dBodyID frame = b->body[kBodyFrame];

    // motor_force: forward pushes with exactly F, backward brakes with |F|.
    motor_force(b->joint[kJointFork], 120);
    EXPECT_EQ(dJointGetSliderParam(b->joint[kJointFork], dParamVel), 100);
    EXPECT_EQ(dJointGetSliderParam(b->joint[kJointFork], dParamFMax), 120);
    motor_force(b->joint[kJointSwingarm], -80);
    EXPECT_EQ(dJointGetHingeParam(b->joint[kJointSwingarm], dParamVel), 0);
    EXPECT_EQ(dJointGetHingeParam(b->joint[kJointSwingarm], dParamFMax), 80);
    motor_force(b->joint[kJointSwingarm], std::nan(""));
    EXPECT_EQ(dJointGetHingeParam(b->joint[kJointSwingarm], dParamFMax), 0);

    // speed_servo: horizontal only, proportional above the 0.25 ft/s dead band.
    dBodySetLinearVel(frame, 1.5, -3, 0);
    dBodySetForce(frame, 0, 0, 0);
    speed_servo(frame, 1000, {0, 0, 0});
    Vec3 f = vec3(dBodyGetForce(frame));
    double d = std::sqrt(1.5 * 1.5 + 9), s = std::fmin(1.0, (d - 0.25) * 0.8);
    EXPECT_NEAR(f.x, -1.5 / d * s * 1000, 1e-9);
    EXPECT_EQ(f.y, 0);
    dBodySetForce(frame, 0, 0, 0);
    speed_servo(frame, 1000, {1.4, -3, 0});
    EXPECT_EQ(length(vec3(dBodyGetForce(frame))), 0);

    // rope: slack does nothing; taut pulls the ends together during the step.
    dBodySetLinearVel(frame, 0, 0, 0);
    Vec3 anchor = body_position(frame) + Vec3{0, 0, 10};
    rope(frame, {0, 0, 0}, nullptr, anchor, 12);
    rope(frame, {0, 0, 0}, nullptr, anchor, 8);
    EXPECT_EQ(dBodyGetNumJoints(frame), 4); // steering, swingarm, rider and the taut rope
    physics_step();
    EXPECT_GT(body_linear_vel(frame).z, 0.1);
}

TEST_F(BikeTest, RollAngle) {
    Bike *b = make();
    dBodyID frame = b->body[kBodyFrame];
    struct Case {
        Vec3 axis;
        double angle, roll;
    } cases[] = {
        {{0, 0, 1}, 0, 0},        {{0, 0, 1}, 0.3, 0.3}, // up axis toward -x
        {{0, 0, 1}, -0.3, -0.3},                         // toward +x: negative
        {{0, 1, 0}, 2.0, 0},                             // heading does not matter
        {{1, 0, 0}, kPi / 2, 0},                         // nose straight up: no division by zero
        {{1, 0, 0}, -kPi / 2, 0},
    };
    for (const Case &c : cases) {
        body_set_quaternion(frame, quat_axis_angle(c.axis, c.angle));
        double r = roll_angle(frame);
        EXPECT_TRUE(std::isfinite(r));
        EXPECT_NEAR(r, c.roll, 1e-9) << c.axis.x << c.axis.y << c.axis.z << " " << c.angle;
    }
}

} // namespace
