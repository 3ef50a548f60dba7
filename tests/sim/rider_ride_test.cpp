// Closed-loop rides with the rider, the assists and the rest of the bike: balance, leaning
// into a turn and out of it, a roll disturbance, the arcade lean, falls and recovery, and
// a complete lap of the generated "rabbithill" track by the pursuit driver.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <sys/stat.h>

#include "files/vfs.h"
#include "robot/pursuit.h"
#include "sim/engine.h"
#include "sim/ground.h"
#include "sim/rider.h"
#include "sim_fixture.h"
#include "support/ride_harness.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

constexpr double kPi = std::numbers::pi;

class RiderRideTest : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        // 513 x 513 samples, 4 ft apart: a 2048 ft square at height 10.
        terrain_init_flat(terrain(), 8, 4.0f, 10.0f);
    }
    void TearDown() override {
        ride_end(ride_);
        SimTest::TearDown();
    }
    // A bike with the rider's default setup (Stability 100: lean steering), settled at rest
    // at (1000, 1900) facing -z, then rolling forward at speed with its wheels turning to
    // match, under a speed-holding throttle.
    Bike *rolling(double speed) {
        Bike *b = make();
        bike_place(b, 1000, 10, 1900, 0);
        EXPECT_TRUE(setup_apply(b));
        ride_begin(ride_, b, false);
        ride_.sample_every = 1;
        ride_run(ride_, 1.5);
        for (dBodyID body : b->body) {
            Vec3 v = body_linear_vel(body);
            body_set_linear_vel(body, {v.x, v.y, -speed});
        }
        for (int w = 0; w < 2; ++w) {
            const WheelContact &wc = b->wheels[w];
            double radius = wc.rim_radius + wc.tube_radius - wc.depth;
            body_set_angular_vel(b->body[w == 0 ? kBodyFrontWheel : kBodyRearWheel],
                                 {-speed / radius, 0, 0});
        }
        ride_.samples.clear();
        hold_speed_ = speed;
        ride_.control = [this](Ride &r) {
            // A simple throttle and brake keeping the speed; everything else from the cue.
            Bike *bike = r.bike;
            double v = -body_linear_vel(bike->body[kBodyFrame]).z;
            rider_set_clutch(bike, 1);
            rider_set_throttle(bike, float(std::fmin(1, std::fmax(0, (hold_speed_ - v) * 0.3))));
            rider_set_rear_brake(bike,
                                 float(std::fmin(1, std::fmax(0, (v - hold_speed_ - 2) * 0.2))));
        };
        bike_set_auto_shift(b, 1);
        b->gear = 2; // third gear suits 30 ft/s
        return b;
    }
    // Controls from now on (times relative to now).
    void cue(double after, RiderControls c) {
        ride_.cues.push_back({double(ride_.steps) / 128 + after, c});
    }
    Ride ride_;
    double hold_speed_ = 0;
};

TEST(RideScript, ParsesTimedControls) {
    std::vector<RideCue> cues;
    std::string error;
    ASSERT_TRUE(ride_script_parse(
        "# start\n0 throttle=1 clutch=0.5\n\n2.5 steer=-1\n3 throttle=0\n", cues, &error))
        << error;
    ASSERT_EQ(cues.size(), 3u);
    EXPECT_EQ(cues[1].time, 2.5);
    EXPECT_EQ(cues[1].controls.throttle, 1); // kept from the cue before
    EXPECT_EQ(cues[1].controls.steer, -1);
    EXPECT_EQ(cues[2].controls.clutch, 0.5f);
    EXPECT_EQ(cues[2].controls.throttle, 0);
    const char *bad[] = {"x throttle=1",         "1 throttle", "1 warp=9", "1 throttle=nan",
                         "2 steer=1\n1 steer=0", "-1 steer=0", "1 steer="};
    for (const char *text : bad) {
        EXPECT_FALSE(ride_script_parse(text, cues, &error)) << text;
        EXPECT_TRUE(cues.empty());
        EXPECT_FALSE(error.empty());
    }
}

double heading_of(const RideSample &s) {
    return s.heading;
}

TEST_F(RiderRideTest, RidesStraightAndUprightAt30) {
    Bike *b = rolling(30);
    cue(0, RiderControls{});
    const RideSummary &sum = ride_run(ride_, 10);
    ASSERT_FALSE(sum.blew_up);
    double max_roll = 0, h0 = heading_of(ride_.samples.front());
    double max_turn = 0;
    for (const RideSample &s : ride_.samples) {
        max_roll = std::fmax(max_roll, std::fabs(s.roll));
        max_turn = std::fmax(max_turn, std::fabs(s.heading - h0));
    }
    EXPECT_LT(max_roll, 0.1);
    EXPECT_LT(max_turn, 0.1);
    EXPECT_EQ(b->crash_count, 0);
    EXPECT_NEAR(ride_.samples.back().speed, 30, 3);
    EXPECT_LT(std::fabs(body_position(b->body[kBodyFrame]).x - 1000), 10);
}

TEST_F(RiderRideTest, HoldingLeftLeansAndTurnsLeftThenRightsItself) {
    Bike *b = rolling(30);
    RiderControls left;
    left.steer = 1; // "Left"; reversed steering makes it steer -1
    cue(0, left);
    cue(1.5, RiderControls{});
    ride_run(ride_, 1.5);
    const RideSample held = ride_.samples.back();
    EXPECT_GT(held.roll, 0.15);                                   // leaning left
    EXPECT_GT(held.heading - ride_.samples.front().heading, 0.1); // turned left
    ride_run(ride_, 2.5);
    bool righted = false;
    for (const RideSample &s : ride_.samples)
        if (s.time > held.time && s.time < held.time + 2.5 && std::fabs(s.roll) < 0.1)
            righted = true;
    EXPECT_TRUE(righted);
    EXPECT_LT(std::fabs(ride_.samples.back().roll), 0.1);
    EXPECT_EQ(b->crash_count, 0);
}

TEST_F(RiderRideTest, RollDisturbanceDecays) {
    Bike *b = rolling(30);
    cue(0, RiderControls{});
    ride_run(ride_, 1);
    // A sideways shove high on the frame until the bike leans 0.2 rad to the right.
    auto speed_hold = ride_.control;
    double released = -1;
    ride_.control = [&](Ride &r) {
        speed_hold(r);
        if (released >= 0) return;
        if (roll_angle(b->body[kBodyFrame]) > -0.2)
            body_add_force_at_rel_pos(b->body[kBodyFrame], {600, 0, 0}, {0, 3, 0});
        else
            released = double(r.steps) / 128;
    };
    ride_run(ride_, 4);
    ASSERT_GE(released, 0);
    double peak = 0, late = 0;
    for (const RideSample &s : ride_.samples) {
        if (s.time < released) continue;
        peak = std::fmax(peak, std::fabs(s.roll));
        if (s.time > released + 2.5) late = std::fmax(late, std::fabs(s.roll));
    }
    EXPECT_GE(peak, 0.2);
    EXPECT_LT(late, 0.05);
    EXPECT_EQ(b->crash_count, 0);
}

TEST_F(RiderRideTest, ArcadeLeanApproachesItsTarget) {
    Bike *b = rolling(30);
    bike_set_arcade(b, 1);
    RiderControls c;
    c.steer = 0.5f; // steer -0.5: lean target +pi/8 (left)
    cue(0, c);
    ride_run(ride_, 3);
    double target = kPi / 8;
    EXPECT_NEAR(ride_.samples.back().roll, target, 0.08);
    EXPECT_EQ(b->crash_count, 0);
}

// Steps until the rider is back on, counting only the steps that leave the torso at rest
// (below 2 ft/s after the world step): the fall's count runs while the rider lies still
// and holds while the getting-up pull moves it. -1 when the rider is not back on within
// limit steps.
int rest_steps_back_on(Ride &ride, int limit) {
    Bike *b = ride.bike;
    int rest = 0;
    for (int step = 0; step < limit && !b->rider_attached; ++step) {
        ride_step(ride);
        if (length(body_linear_vel(b->body[kBodyTorso])) < 2) ++rest;
    }
    return b->rider_attached ? rest : -1;
}

TEST_F(RiderRideTest, ThrownOffByEjectionAndBackOnAfterComingToRest) {
    // The rider and the frame have collision shapes here, so the rider lands on the ground.
    install_shape("generic_rider.shp", shape_text({{0, 0, 0, 1.0f}}));
    install_shape("generic_frame.shp", shape_text({{0, 0, 0, 0.8f}, {0, -0.3f, -1, 0.6f}}));
    Bike *b = rolling(50);
    cue(0, RiderControls{});
    ride_run(ride_, 0.25);
    // The bike stops dead (as against a wall); the rider carries on.
    for (dBodyID body : b->body)
        if (body != b->body[kBodyTorso]) body_set_linear_vel(body, {0, 0, 0});
    body_set_angular_vel(b->body[kBodyFrontWheel], {0, 0, 0});
    body_set_angular_vel(b->body[kBodyRearWheel], {0, 0, 0});
    ride_step(ride_);
    EXPECT_EQ(b->crash_count, 1);
    EXPECT_FALSE(b->rider_attached);
    EXPECT_EQ(b->input.throttle, 0);
    EXPECT_EQ(rest_steps_back_on(ride_, 128 * 30), kFallSteps);
    EXPECT_EQ(b->crash_timer, 0);
    // Seated again: the rider is at the seat and stays on at rest.
    ride_run(ride_, 2);
    EXPECT_EQ(b->crash_count, 1);
    EXPECT_TRUE(b->rider_attached);
}

TEST_F(RiderRideTest, ThrownOffByAHardLanding) {
    Bike *b = make();
    bike_place(b, 1000, 10, 1000, 0);
    bike_translate(b, 0, 60, 0); // dropped from 60 ft: about 62 ft/s at the ground
    ride_begin(ride_, b, false);
    ride_.sample_every = 1;
    cue(0, RiderControls{});
    ride_run(ride_, 3);
    EXPECT_EQ(b->crash_count, 1);
    ASSERT_FALSE(ride_.summary.blew_up);
}

TEST_F(RiderRideTest, ThrownOffUpsideDownAtSpeed) {
    install_shape("generic_rider.shp", shape_text({{0, 0, 0, 1.0f}}));
    Bike *b = make();
    ASSERT_NE(b->shapes[kShapeRider].shape, nullptr);
    bike_place(b, 1000, 10, 1000, 0);
    // Upside down just above the ground, sliding along at 20 ft/s.
    bike_state_reset(b);
    bike_rotate(b, {0, 0, 1}, kPi);
    bike_translate(b, 1000, 10 + 5.0, 1000);
    for (dBodyID body : b->body) body_set_linear_vel(body, {0, 0, -20});
    ride_begin(ride_, b, false);
    cue(0, RiderControls{});
    ride_run(ride_, 1);
    EXPECT_EQ(b->crash_count, 1);
}

// A complete lap of the generated "rabbithill" by the pursuit driver at the Novice speeds.
TEST(RabbithillRide, PursuitDriverLapsWithoutFalling) {
    const char *data = std::getenv("VQ_TEST_DATA");
    struct stat st;
    if (!data || stat((std::string(data) + "/rabbithill/terrain.hf").c_str(), &st) != 0)
        GTEST_SKIP() << "no generated game data (build the vqdata target)";
    TempDir home;
    ScopedEnv xdg("XDG_DATA_HOME", home.path().c_str());
    ScopedEnv install("VQ_HOME", data);
    vfs_reset_for_tests();
    shapes_free_all();
    physics_world_create();
    sim_clock() = SimClock{};
    ASSERT_TRUE(track_load("rabbithill", 0));
    ASSERT_TRUE(pursuit_lines_load(0));
    Bike *b = ride_bike_at_start("crf450(2013)", 0);
    ASSERT_NE(b, nullptr);
    Ride ride;
    ride_begin(ride, b, true);
    const RideSummary &s = ride_run(ride, 600, 1);
    std::printf("rabbithill, Novice lines: %d lap(s)%s%.2f s, top speed %.1f ft/s, falls %d, "
                "bike down %d\n",
                s.laps, s.laps ? " in " : ", ", s.laps ? s.lap_times[0] : s.seconds, s.top_speed,
                s.falls, s.downs);
    EXPECT_FALSE(s.blew_up);
    EXPECT_EQ(s.laps, 1);
    EXPECT_EQ(s.falls, 0);
    EXPECT_EQ(s.downs, 0);
    ride_end(ride);
    bike_destroy(b);
    pursuit_lines_clear();
    track_free();
    physics_world_destroy();
    shapes_free_all();
    vfs_reset_for_tests();
}

} // namespace
