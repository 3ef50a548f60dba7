// The race session: placement on the start positions, the slot codes and the roster,
// the race length, the start gate and the time-trial restart.
#include "race_fixture.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "race/timing.h"
#include "sim/vec3.h"

namespace {

// Five start positions 8 ft apart along x, facing -z, and a course of three gates.
const char *const kFiveStarts = "startinggate:\n"
                                "[200 0 300] 0\n"
                                "[208 0 300] 0\n"
                                "[216 0 300] 0\n"
                                "[224 0 300] 0\n"
                                "[232 0 300] 0\n"
                                "checkpoints:\n"
                                "10 [216 0 200] [0 0 -1]\n"
                                "10 [300 0 100] [1 0 0]\n"
                                "10 [216 0 50] [0 0 1]\n"
                                "firstlap:\n0 1 2\nnormallap:\n0 1 2\n";

// A starting gate without a valid course: the track has no timing.
const char *const kStartsOnly = "startinggate:\n[150 0 160] 0.5\n[158 0 160] 0.5\ncheckpoints:\n";

Vec3 frame(int slot) {
    return body_position(session_slot(slot).bike->body[kBodyFrame]);
}

TEST(StartPlacement, EightRidersOnFivePositionsAndARowWithoutPositions) {
    terrain_init_flat(terrain(), 6, 2.0f, 10.0f); // extent 256
    GateData &d = gates();
    d = GateData{};
    const double a = 0.5;
    for (int k = 0; k < 5; ++k) {
        StartPosition sp;
        sp.x = 100.0f + 8.0f * float(k);
        sp.z = 50.0f;
        sp.angle = float(a);
        d.starts.push_back(sp);
    }
    struct Case {
        int slot;
        double x, z;
    };
    // Row 0 stands 0.625 behind its position, row 1 10.625.
    const Case cases[] = {
        {0, 100 + std::sin(a) * 0.625, 50 + std::cos(a) * 0.625},
        {4, 132 + std::sin(a) * 0.625, 50 + std::cos(a) * 0.625},
        {5, 100 + std::sin(a) * 10.625, 50 + std::cos(a) * 10.625},
        {7, 116 + std::sin(a) * 10.625, 50 + std::cos(a) * 10.625},
        {12, 116 + std::sin(a) * 20.625, 50 + std::cos(a) * 20.625},
    };
    for (const Case &c : cases) {
        Placement p = start_placement(c.slot);
        EXPECT_NEAR(p.x, c.x, 1e-4) << c.slot;
        EXPECT_NEAR(p.z, c.z, 1e-4) << c.slot;
        EXPECT_NEAR(p.heading, a, 1e-6) << c.slot;
    }
    // Without start positions: a row through the middle, 5 ft apart, heading 0.
    d.starts.clear();
    for (int m : {0, 1, 7}) {
        Placement p = start_placement(m);
        EXPECT_DOUBLE_EQ(p.x, 128.0 + 5.0 * m);
        EXPECT_DOUBLE_EQ(p.z, 128.0);
        EXPECT_DOUBLE_EQ(p.heading, 0.0);
    }
    gates_free();
    terrain_clear(terrain());
}

TEST_F(RaceTrackTest, EightRobotsLineUpOnFivePositionsOnTheGround) {
    write_track(kFiveStarts);
    int lineup[kSlotCount] = {};
    for (int m = 0; m < 8; ++m) lineup[m] = kSlotRobot;
    ASSERT_TRUE(session_start(lineup, false, false, 0, 2, 0));
    EXPECT_EQ(session_rider_count(), 8);
    for (int m = 0; m < 8; ++m) {
        Vec3 f = frame(m);
        EXPECT_GT(f.y, 10.0) << m; // standing on the flat ground at height 10
        EXPECT_LT(f.y, 14.0) << m;
    }
    for (int m = 5; m < 8; ++m) {
        Vec3 d = frame(m) - frame(m - 5);
        EXPECT_NEAR(d.x, 0.0, 1e-6) << m;
        EXPECT_NEAR(d.z, 10.0, 1e-6) << m; // one row (10 ft) behind, heading 0 faces -z
    }
    EXPECT_NEAR(frame(1).x - frame(0).x, 8.0, 1e-6);
}

TEST_F(RaceTrackTest, SlotCodesPickRidersAndTheRosterShuffleIsFixed) {
    write_track(kFiveStarts);
    int lineup[kSlotCount] = {};
    lineup[0] = kSlotHuman;
    lineup[1] = kSlotRobot;
    lineup[2] = kSlotRobot2Stroke;
    lineup[3] = kSlotRobot4Stroke;
    lineup[4] = kSlotRosterBase + 43;
    lineup[5] = kSlotRosterBase + 5; // no robot has number 5: rejected
    lineup[6] = 7;                   // any other code: an rm125
    lineup[8] = kSlotRosterBase + 99;
    ASSERT_TRUE(session_start(lineup, false, false, 0, 2, 1));
    const RaceSession &s = session();

    // The shuffle seeded with clock 0 (a fresh program), and the gate drop drawn after it.
    EXPECT_EQ(s.gate_drop, 1894);
    EXPECT_GE(s.gate_drop, 13 * 128);
    EXPECT_LE(s.gate_drop, 15 * 128);

    struct Expect {
        int slot;
        int kind;
        const char *number; // null: any
        const char *bike;   // null: any
    };
    const Expect expects[] = {
        {0, kRiderLocal, "999", nullptr},
        {1, kRiderRobot, "68", "kx250f(2008)"}, // roster entry 48 comes first
        {4, kRiderRobot, "43", "crf250(2008)"},
        {6, kRiderRobot, "", "rm125"},
        {8, kRiderRobot, "99", "rmz250(2008)"},
    };
    for (const Expect &e : expects) {
        const RiderSlot &rs = session_slot(e.slot);
        ASSERT_NE(rs.bike, nullptr) << e.slot;
        EXPECT_EQ(rs.kind, e.kind) << e.slot;
        if (e.number) {
            EXPECT_STREQ(rs.bike->number_text, e.number) << e.slot;
        }
        if (e.bike) {
            EXPECT_STREQ(rs.bike->model.name, e.bike) << e.slot;
        }
    }
    EXPECT_NE(std::strstr(session_slot(2).bike->model.name, "125"), nullptr);
    EXPECT_NE(std::strstr(session_slot(3).bike->model.name, "250"), nullptr);
    EXPECT_EQ(session_slot(5).bike, nullptr);
    EXPECT_EQ(session_slot(7).bike, nullptr);
    EXPECT_EQ(session_slot(1).name, "Verivavuz");
    EXPECT_EQ(session_slot(4).personality, "zorv");
    EXPECT_EQ(session_slot(8).personality, "tamsk");
    EXPECT_EQ(s.local_slot, 0);
    EXPECT_EQ(s.camera_slot, 0);
    EXPECT_EQ(s.robots_placed, 5);
    EXPECT_EQ(s.skill, 1);

    // Headless, the human is ridden by the autopilot.
    session_options().autopilot_humans = true;
    ASSERT_TRUE(session_start(lineup, false, false, 0, 2, 1));
    EXPECT_EQ(session_slot(0).kind, kRiderRobot);
    EXPECT_EQ(session().local_slot, -1);
}

TEST_F(RaceTrackTest, MoreRobotsThanTheRosterReuseIt) {
    write_track(kFiveStarts);
    int lineup[kSlotCount] = {};
    for (int m = 0; m < 90; ++m) lineup[m] = kSlotRobot;
    ASSERT_TRUE(session_start(lineup, false, false, 0, 2, 0));
    EXPECT_EQ(session_rider_count(), 90);
    for (int m = 80; m < 90; ++m)
        EXPECT_STREQ(session_slot(m).bike->number_text, session_slot(m - 80).bike->number_text);
}

TEST(Lineup, RobotsAroundGate20AndRotation) {
    int lineup[kSlotCount];
    lineup_robots(lineup, 4);
    std::vector<int> robots;
    for (int m = 0; m < kSlotCount; ++m)
        if (lineup[m] == kSlotRobot) robots.push_back(m);
    EXPECT_EQ(robots, (std::vector<int>{17, 18, 19, 20}));
    lineup_robots(lineup, 99); // at most the 40 gates
    EXPECT_EQ(std::count(lineup, lineup + kSlotCount, int(kSlotRobot)), 40);
    EXPECT_EQ(lineup[40], kSlotEmpty);

    lineup_robots(lineup, 1);
    lineup_rotate(lineup, 1);
    EXPECT_EQ(lineup[20], kSlotRobot);
    lineup_rotate(lineup, -21); // negative shifts go the other way
    EXPECT_EQ(lineup[159], kSlotRobot);
}

TEST_F(RaceTrackTest, RaceLengthGivesTotalAndHalfwayLap) {
    write_track(kFiveStarts);
    int lineup[kSlotCount] = {};
    struct Case {
        int minutes, laps;
        int total, halfway;
        const char *text;
    };
    const Case cases[] = {
        {0, 5, 5, 3, "5 laps"},
        {0, 4, 4, 2, "4 laps"},
        {20, 2, kOpenLaps, kOpenLaps, "20 minutes + 2 laps"},
        {15, 0, kOpenLaps, kOpenLaps, "15 minutes"},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(session_start(lineup, false, false, c.minutes * 60 * 128, c.laps, 0));
        EXPECT_EQ(session().total_laps, c.total) << c.text;
        EXPECT_EQ(session().halfway_lap, c.halfway) << c.text;
        char text[64];
        race_length_text(text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
    // Minutes are rounded: 90 s is "2 minutes".
    session().time_limit = 90 * 128;
    session().laps = 0;
    char text[64];
    race_length_text(text, sizeof text);
    EXPECT_STREQ(text, "2 minutes");
}

TEST_F(RaceTrackTest, AMissingTrackFailsTheStart) {
    settings_set_track_list({"tracks/none"}, {"None"}, "tracks/none");
    int lineup[kSlotCount] = {kSlotHuman};
    EXPECT_FALSE(session_start(lineup, false, false, 0, 2, 0));
    EXPECT_EQ(session_rider_count(), 0);
    EXPECT_FALSE(track_state().loaded);
}

std::vector<double> g_turns[2];
bool touched_statue_one(int statue) {
    return statue == 1;
}
void record_turn(int statue, double angle) {
    if (statue >= 0 && statue < 2) g_turns[statue].push_back(angle);
}

TEST_F(RaceTrackTest, StartGatesDropAfterTheGateDropUnlessTouched) {
    write_track(kFiveStarts);
    int lineup[kSlotCount] = {};
    lineup[2] = kSlotRobot; // start position 2 has no statue: the session holds it
    SessionHooks hooks;
    hooks.statue_touched = touched_statue_one;
    hooks.statue_turn = record_turn;
    session_hooks_install(hooks);
    ASSERT_TRUE(session_start(lineup, false, false, 0, 2, 0));
    gates().starts[0].gate_statue = 0;
    gates().starts[1].gate_statue = 1;
    g_turns[0].clear();
    g_turns[1].clear();

    RaceSession &s = session();
    s.clock = s.gate_drop - 1;
    session_step(); // clock gate_drop - 1: gates up, the rider held
    session_step(); // clock gate_drop: still up
    Bike *b = session_slot(2).bike;
    EXPECT_EQ(b->input.front_brake, 1.0f);
    EXPECT_EQ(b->input.rear_brake, 1.0f);
    EXPECT_EQ(b->input.clutch, 0.0f);
    for (int k = 0; k < 20; ++k) session_step();

    ASSERT_GE(g_turns[0].size(), 3u);
    EXPECT_DOUBLE_EQ(g_turns[0][0], kGateTurn);
    EXPECT_DOUBLE_EQ(g_turns[0][1], kGateTurn);
    EXPECT_NEAR(g_turns[0][2], (1 - 1.0 / 16) * kGateTurn, 1e-6);
    EXPECT_EQ(g_turns[0].size(), 18u); // falls to 0 in 16 steps after the drop
    EXPECT_EQ(g_turns[0].back(), 0.0);
    EXPECT_EQ(gates().starts[0].gate_raise, 0.0f);
    EXPECT_EQ(gates().starts[1].gate_raise, 1.0f); // a bike leans on it
    EXPECT_EQ(g_turns[1].size(), 22u);
}

TEST_F(RaceTrackTest, PracticeRestartsBeforeTheFinishOrAtStartPositionZero) {
    // With checkpoints: at the checkpoint of index first_lap_len - 2, facing its way.
    write_track(kFiveStarts);
    ASSERT_TRUE(session_start(nullptr, false, false, 0, 1000, 0));
    const RaceSession &s = session();
    EXPECT_TRUE(s.practice);
    EXPECT_EQ(s.clock, kPracticeClock);
    Bike *b = session_slot(0).bike;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->gates.next_gate, 1);
    Bike *ref = bike_create(b->model.name, 99, "", "", "", "", "");
    place_bike(ref, 300, 100, std::atan2(-1.0, 0.0));
    EXPECT_LT(length(frame(0) - body_position(ref->body[kBodyFrame])), 1e-6);

    // Without checkpoints: start position 0.
    session_free_riders();
    track_free();
    write_track(kStartsOnly);
    ASSERT_TRUE(session_start(nullptr, false, false, 0, 1000, 0));
    ASSERT_TRUE(gates().checkpoints.empty());
    b = session_slot(0).bike;
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->gates.next_gate, 0);
    Placement p = start_placement(0);
    place_bike(ref, p.x, p.z, p.heading);
    EXPECT_LT(length(frame(0) - body_position(ref->body[kBodyFrame])), 1e-6);
    bike_destroy(ref);
}

TEST_F(RaceTrackTest, PlacementStopsAboveTheTerrainsHighestPoint) {
    // A hostile terrain: every sample but one is 1000 ft high while the header claims a
    // highest point of 0. The bike keeps touching; the raise stops at 0 + the margin.
    terrain_init_flat(terrain(), 6, 2.0f, 1000.0f);
    Terrain &t = terrain();
    t.heights[std::size_t(32 + t.side * 32)] = 0.0f;
    t.max_height = 0.0f;
    Bike *b = bike_create("crf450(2013)", 0, "", "", "", "", "");
    int raises = place_bike(b, 64, 64, 0);
    EXPECT_LE(raises, 64);
    EXPECT_LT(body_position(b->body[kBodyFrame]).y, 20.0);
    bike_destroy(b);
}

} // namespace
