#include "race/timing.h"
#include "support/fixture_track.h"
#include "support/tempdir.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace {

// Seven checkpoints in a row along x (gate k at x = 10 (k + 1), passed towards +x, zone
// radius 3). The first lap is 0 1 2 3 4 (index 4 ends lap 1), a normal lap is 5 6
// (indices 6, 8, 10 ... end laps 2, 3, 4 ...).
GateData row_course() {
    GateData d;
    for (int k = 0; k < 7; k++) {
        Checkpoint c;
        c.centre[0] = 10.0f * (k + 1);
        c.direction[0] = 1.0f;
        c.radius = 3.0f;
        d.checkpoints.push_back(c);
    }
    d.first_lap = {0, 1, 2, 3, 4};
    d.normal_lap = {5, 6};
    d.first_lap_segments = 5;
    d.normal_lap_segments = 2;
    return d;
}

double gate_x(int k) {
    return 10.0 * (k + 1);
}
constexpr double kBehind = -0.5; // just behind a gate's centre plane

struct PassCase {
    const char *name;
    std::vector<double> path; // x of the front wheel at steps 1, 2, ... (z = 0)
    std::vector<int> passed;  // gates_check result at each step
    std::vector<int> times;   // gate_times afterwards
    int next_gate;
};

TEST(GatesCheck, PassingTable) {
    const GateData d = row_course();
    const PassCase cases[] = {
        {"gates in order", {gate_x(0), gate_x(1), gate_x(2)}, {0, 1, 2}, {1, 2, 3}, 3},
        {"a skipped gate stays unrecorded", {gate_x(0), gate_x(2)}, {0, 2}, {1, -1, 2}, 3},
        {"standing in the zone of the gate just passed",
         {gate_x(0), gate_x(0), gate_x(0) + 1},
         {0, -1, -1},
         {1},
         1},
        {"behind a gate's centre plane nothing triggers",
         {gate_x(0) - 2.9, gate_x(0) - 1, gate_x(0) + kBehind, gate_x(0)},
         {-1, -1, -1, 0},
         {4},
         1},
        {"no credit beyond a finish line not crossed",
         {gate_x(0), gate_x(1), gate_x(2), gate_x(3), gate_x(5), gate_x(6), gate_x(4), gate_x(5)},
         {0, 1, 2, 3, -1, -1, 4, 5},
         {1, 2, 3, 4, 7, 8},
         6},
        {"a skipped gate is taken back from two or three beyond",
         {gate_x(0), gate_x(2), gate_x(3), gate_x(1)},
         {0, 2, 3, 1},
         {1, 4, 2, 3},
         2},
        {"a recorded gate behind is passed over",
         {gate_x(0), gate_x(1), gate_x(2), gate_x(0), gate_x(1)},
         {0, 1, 2, -1, -1},
         {1, 2, 3},
         3},
    };
    for (const PassCase &c : cases) {
        SCOPED_TRACE(c.name);
        RiderGates rider;
        RaceLaps race{3, &rider};
        std::vector<int> passed;
        for (std::size_t k = 0; k < c.path.size(); k++)
            passed.push_back(gates_check(d, rider, c.path[k], 0.0, int(k) + 1, race));
        EXPECT_EQ(passed, c.passed);
        EXPECT_EQ(rider.gate_times, c.times);
        EXPECT_EQ(rider.next_gate, c.next_gate);
        EXPECT_FALSE(rider.finished);
    }
}

// Rides laps of the row course: every step the rider is in the next gate's zone.
void ride_gates(const GateData &d, RiderGates &rider, int count, int &step, const RaceLaps &race) {
    for (int k = 0; k < count; k++) {
        int s = rider.next_gate;
        gates_check(d, rider, gate_x(gate_checkpoint(d, s)), 0.0, step, race);
        step += 10;
    }
}

TEST(GatesCheck, LapsLapTimesAndFinishing) {
    const GateData d = row_course();
    RiderGates a, b;
    RaceLaps race{2, &a};
    int step = 100;
    ride_gates(d, a, 5, step, race); // lap 1 done at index 4
    EXPECT_EQ(lap_of(d, a).lap, 1);
    EXPECT_EQ(lap_of(d, a).gate, 1);
    EXPECT_FALSE(a.finished);
    ride_gates(d, a, 2, step, race); // lap 2 done: the race is over for the leader
    EXPECT_TRUE(a.finished);
    EXPECT_EQ(lap_of(d, a).lap, 2);
    EXPECT_EQ(gates_check(d, a, gate_x(5), 0.0, step, race), -1); // nothing after finishing
    EXPECT_EQ(lap_steps(d, a, 1, 50), 140 - 50);
    EXPECT_EQ(lap_steps(d, a, 2, 50), 20);
    EXPECT_DOUBLE_EQ(lap_time(d, a, 2, 50), 20 / 128.0);
    EXPECT_EQ(lap_steps(d, a, 3, 50), 0);

    // Once the leader is beyond the final finish line, the next finish line ends b's race.
    int b_step = 1000;
    ride_gates(d, b, 4, b_step, race);
    EXPECT_FALSE(b.finished);
    ride_gates(d, b, 1, b_step, race);
    EXPECT_TRUE(b.finished);
    EXPECT_EQ(lap_of(d, b).lap, 1);

    // set_next_gate puts a rider back on the course.
    set_next_gate(a, 3);
    EXPECT_FALSE(a.finished);
    EXPECT_EQ(a.gate_times.size(), 3u);
    EXPECT_EQ(a.next_gate, 3);
}

TEST(GatesCheck, HasFinishedComparesWithTheLeadersFinishTime) {
    const GateData d = row_course();
    RiderGates leader, rider;
    leader.next_gate = 7; // beyond the final finish line (index 6) of a 2-lap race
    leader.gate_times = {1, 2, 3, 4, 5, 6, 500};
    RaceLaps race{2, &leader};
    rider.next_gate = 5;
    rider.gate_times = {10, 20, 30, 40, 499};
    EXPECT_FALSE(has_finished(d, rider, race)); // its lap ended before the leader finished
    rider.gate_times[4] = 500;
    EXPECT_TRUE(has_finished(d, rider, race));
    EXPECT_TRUE(rider.finished);

    RiderGates starter; // before the first lap: its first gate counts
    starter.next_gate = 1;
    starter.gate_times = {501};
    EXPECT_TRUE(has_finished(d, starter, race));
    RiderGates none;
    EXPECT_FALSE(has_finished(d, none, race));
    leader.gate_times[6] = -1; // no finish time for the leader: nobody is done
    RiderGates late;
    late.next_gate = 1;
    late.gate_times = {900};
    EXPECT_FALSE(has_finished(d, late, race));
}

TEST(GatesCheck, BestLapIgnoresTheFirstAndPrefersTheEarlierOnTies) {
    const GateData d = row_course();
    RiderGates r;
    // Lap ends at indices 4, 6, 8, 10: laps 2, 3 and 4 take 30, 20 and 20 steps.
    r.gate_times = {1, 2, 3, 4, 5, 10, 35, 40, 55, 60, 75};
    r.next_gate = 11;
    EXPECT_EQ(lap_of(d, r).lap, 4);
    EXPECT_EQ(best_lap(d, r, 0), 3);
    r.gate_times[6] = -1; // lap 2 and 3 lose their times
    EXPECT_EQ(best_lap(d, r, 0), 4);
    RiderGates one;
    one.gate_times = {1, 2, 3, 4, 5};
    one.next_gate = 5;
    EXPECT_EQ(best_lap(d, one, 0), 0);
}

TEST(GatesCheck, NoTimingMeansNoGates) {
    GateData none;
    RiderGates r;
    EXPECT_EQ(gates_check(none, r, 0, 0, 1, RaceLaps{3, &r}), -1);
    EXPECT_EQ(r.next_gate, 0);
}

TEST(GatesCheck, LapsOnAScriptedRideAroundAFixtureTrack) {
    VfsSandbox sandbox;
    FixtureTrack f;
    f.timing_gates = fixture_round_course(256, 256, 100, 15);
    ASSERT_TRUE(write_fixture_track(f));
    ASSERT_TRUE(track_load("tracks/fixture", 0));
    const GateData &d = gates();
    ASSERT_EQ(d.starts.size(), 1u);

    // Start at the start position and ride anticlockwise at 10 s a turn, 8 s from the third
    // finish line on.
    const StartPosition &start = d.starts[0];
    double angle = std::atan2(start.z - 256.0, start.x - 256.0);
    RiderGates rider;
    RaceLaps race{4, &rider};
    std::vector<int> lap_end_steps;
    for (int step = 1; step < 20000 && !rider.finished; step++) {
        double lap_steps_now = angle < 3 * (2 * std::numbers::pi) ? 1280.0 : 1024.0;
        angle += 2 * std::numbers::pi / lap_steps_now;
        double x = 256.0 + 100.0 * std::cos(angle), z = 256.0 + 100.0 * std::sin(angle);
        ASSERT_TRUE(std::isfinite(terrain_height(x, z)));
        int s = gates_check(d, rider, x, z, step, race);
        if (s >= 0 && gate_is_lap_end(d, s)) lap_end_steps.push_back(step);
    }
    ASSERT_TRUE(rider.finished);
    EXPECT_EQ(lap_of(d, rider).lap, 4);
    EXPECT_EQ(lap_end_steps.size(), 4u);
    for (int t : rider.gate_times) EXPECT_GE(t, 0); // no gate was missed
    // Lap 1 runs 350 degrees from the start; laps 2 and 3 take 1280 steps, lap 4 1024.
    EXPECT_NEAR(lap_steps(d, rider, 1, 0), 1280.0 * 350 / 360, 1.0);
    EXPECT_NEAR(lap_steps(d, rider, 2, 0), 1280.0, 1.0);
    EXPECT_NEAR(lap_steps(d, rider, 3, 0), 1280.0, 1.0);
    EXPECT_NEAR(lap_steps(d, rider, 4, 0), 1024.0, 1.0);
    EXPECT_EQ(best_lap(d, rider, 0), 4);
    track_free();
}

} // namespace
