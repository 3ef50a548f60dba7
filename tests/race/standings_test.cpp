// Standings, the timed-race extension, the end of the race, cutting penalties, the
// results file and the off-course test, on synthetic races with scripted gate times.
#include "race_fixture.h"

#include "race/timing.h"

namespace {

using Standing = SyntheticRace;

std::vector<int> order_of(const std::vector<StandingRecord> &records) {
    std::vector<int> slots;
    for (const StandingRecord &r : records) slots.push_back(r.slot);
    return slots;
}

TEST_F(Standing, MoreGatesThenEarlierTimeThenLowerSlot) {
    session().clock = 2500; // the race goes on
    rider(4, "1", "kx125", {2000, 2100});
    rider(2, "2", "kx125", {2000, 2100}); // the same gates and time: the lower slot first
    rider(7, "3", "kx125", {2000, 2050});
    rider(1, "4", "kx125", {2000, 2100, 2200});
    rider(9, "5", "kx125", {});
    standings_update();
    EXPECT_EQ(order_of(standings().live), (std::vector<int>{1, 7, 2, 4, 9}));
    EXPECT_EQ(standings().riders, 5);
    EXPECT_EQ(standings_leader(), 1);
    EXPECT_FALSE(session().results_final);
}

// The leader laps every lap_steps from the gate drop; gates evenly spaced in a lap.
std::vector<int> leader_times(int gate_drop, int lap_steps, int until_clock) {
    std::vector<int> t;
    for (int s = 0;; ++s) {
        int time = gate_drop + (s + 1) * lap_steps / 3;
        if (time > until_clock) break;
        t.push_back(time);
    }
    return t;
}

TEST_F(Standing, TimedRaceOf20MinutesAnd2Laps) {
    RaceSession &s = session();
    s.time_limit = 20 * 60 * 128;
    s.laps = 2;
    s.total_laps = s.halfway_lap = kOpenLaps;
    const int time_up = s.gate_drop + s.time_limit;
    struct Case {
        const char *name;
        int lap_steps;
        int total;
    };
    // 20000 steps a lap: lap 7 ends before the time is up, lap 8 after: 8 + 2 laps.
    // 19000 steps a lap: lap 8 ends at 153792, after 20 minutes of clock but before 20
    // minutes from the gate drop (155392): the time limit counts from the drop, 9 + 2.
    const Case cases[] = {{"lap 8 after the time", 20000, 10},
                          {"lap 8 just before the time", 19000, 11}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        s.total_laps = s.halfway_lap = kOpenLaps;
        s.results_final = false;
        Bike *leader = rider(0, "1", "kx125", {});
        rider(1, "2", "kx125", {s.gate_drop + 100}); // far behind, keeps the race going

        s.clock = s.gate_drop + s.time_limit / 2;
        leader->gates.gate_times = leader_times(s.gate_drop, c.lap_steps, s.clock);
        leader->gates.next_gate = int(leader->gates.gate_times.size());
        standings_update();
        EXPECT_EQ(s.halfway_lap, lap_of(gates(), leader->gates).lap + 1);
        EXPECT_EQ(s.total_laps, kOpenLaps);

        // Time up, the leader still on the lap during which it ran out.
        s.clock = time_up + 10;
        leader->gates.gate_times = leader_times(s.gate_drop, c.lap_steps, s.clock);
        leader->gates.next_gate = int(leader->gates.gate_times.size());
        standings_update();
        EXPECT_EQ(s.total_laps, kOpenLaps);

        // The leader completes that lap.
        s.clock = time_up + 2 * c.lap_steps;
        leader->gates.gate_times = leader_times(s.gate_drop, c.lap_steps, s.clock);
        leader->gates.next_gate = int(leader->gates.gate_times.size());
        standings_update();
        EXPECT_EQ(s.total_laps, c.total);
        for (int m = 0; m < 2; ++m) session_slot(m) = RiderSlot{};
    }
}

TEST_F(Standing, PenaltiesTable) {
    // Two reference riders (sections of 200 and 300 steps) and one rider that stays on
    // lap 1 so the race goes on. The gate drop is 1792.
    RaceSession &s = session();
    s.clock = 4000;
    rider(0, "1", "kx125", {2000, 2200, 2400, 2600, 2800, 3000});
    rider(1, "2", "kx125", {2000, 2300, 2600, 2900, 3200, 3500});
    rider(7, "3", "kx125", {2100}); // still on lap 1: the race goes on
    struct Case {
        const char *name;
        std::vector<int> times;
        int penalty;
    };
    const Case cases[] = {
        {"no skipped gate", {2000, 2100, 2200}, 0},
        // Section 0 -> 2: reference (400 + 600) / 2 + 128 = 628; taken 300.
        {"a skipped gate, faster than the reference", {2000, -1, 2300}, 328},
        {"a skipped gate, slower than the reference", {2000, -1, 2700}, 0},
        // Section drop -> 1: reference (408 + 508) / 2 + 128 = 586; taken 1900 - 1792.
        {"a run at index 0 counts from the gate drop", {-1, 1900, 2000}, 478},
        // Section 3 -> 5 lies in a normal lap: (400 + 600) / 2 + 128 = 628; taken 400.
        {"a section of a later lap", {2000, 2200, 2400, 2600, -1, 3000}, 228},
        {"two runs add up", {2000, -1, 2300, 2400, -1, 2700}, 328 + 328},
    };
    for (const Case &c : cases) {
        rider(5, "9", "kx125", c.times);
        standings_update();
        ASSERT_FALSE(s.results_final);
        EXPECT_EQ(cutting_penalty(5), c.penalty) << c.name;
    }
    // With nobody to compare with, a section takes 60 s.
    for (int m : {0, 1}) session_slot(m) = RiderSlot{};
    rider(5, "9", "kx125", {2000, -1, 2300});
    standings_update();
    EXPECT_EQ(reference_time(0, 2), kDefaultReferenceSteps);
    EXPECT_EQ(cutting_penalty(5), 7680 + 128 - 300);
}

TEST_F(Standing, APenaltyLongerThanTheBestLapCostsLaps) {
    set_laps(3);
    RaceSession &s = session();
    s.clock = 5000;
    rider(0, "1", "kx125", even(9, 2000, 200));
    rider(1, "2", "kx125", even(9, 2100, 200));
    // Skips the first two gates: section drop -> 2 has reference (608 + 708) / 2 + 128 =
    // 786, taken 108: 678 steps. Its best lap is 300 steps: two laps come off (678 - 600).
    Bike *cutter = rider(2, "9", "kx125", {-1, -1, 1900, 2000, 2100, 2200, 2300, 2400, 2500});
    (void)cutter;
    standings_update();
    ASSERT_TRUE(s.results_final);
    const std::vector<StandingRecord> &order = standings().final_order;
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order_of(order), (std::vector<int>{0, 1, 2}));
    const StandingRecord &r = order[2];
    EXPECT_EQ(r.laps_off, 2);
    EXPECT_EQ(r.penalty, 78);
    EXPECT_EQ(r.next_gate, 3);
    EXPECT_EQ(r.time, 2500 + 78);
    EXPECT_EQ(penalty_text(r), "  9 penalized 2 laps 0.61 seconds for cutting track");
    EXPECT_EQ(penalty_text(order[0]), "");
}

TEST_F(Standing, AStuckRiderHoldsTheRaceOnlyForAWhileAfterTheLeadersFinish) {
    RaceSession &s = session();
    rider(0, "1", "kx125", even(6, 2000, 200)); // finishes at 3000
    Bike *other = rider(3, "3", "kx125", {2100, 2400});
    struct Case {
        const char *name;
        int kind;
        std::vector<int> times;
        int clock;
        bool over;
    };
    const Case cases[] = {
        {"stuck since before the leader's finish",
         kRiderRobot,
         {2100, 2400},
         3000 + kStallSteps - 1,
         false},
        {"stuck for the whole while", kRiderRobot, {2100, 2400}, 3000 + kStallSteps, true},
        {"still passing gates", kRiderRobot, {2100, 2400, 2600, 9000}, 3000 + kStallSteps, false},
        {"stuck again later", kRiderRobot, {2100, 2400, 2600, 9000}, 9000 + kStallSteps, true},
        // The local player offline may take as long as it likes.
        {"the local player", kRiderLocal, {2100, 2400}, 3000 + 10 * kStallSteps, false},
    };
    for (const Case &c : cases) {
        s.results_final = false;
        standings_reset();
        session_slot(3).kind = c.kind;
        other->gates.gate_times = c.times;
        other->gates.next_gate = int(c.times.size());
        s.clock = c.clock;
        standings_update();
        EXPECT_EQ(s.results_final, c.over) << c.name;
    }
}

TEST_F(Standing, OffCourseComparesWithTheBestPlacedRider) {
    RaceSession &s = session();
    // The leader took 200 steps from gate 1 to gate 2: a rider is off course at gate 2
    // once 1.5 x 200/128 s + 10 s have passed since its gate 1.
    rider(0, "1", "kx125", {2000, 2200, 2400, 2600});
    rider(1, "2", "kx125", {2050, 2250});
    const int allowance = int(1.5 * 200 + 10 * 128);
    struct Case {
        int clock;
        bool off;
    };
    for (const Case &c : {Case{2250 + allowance - 1, false}, Case{2250 + allowance, true}}) {
        s.clock = c.clock;
        standings_update();
        EXPECT_EQ(off_course(1, 2), c.off) << c.clock;
    }
    // Nobody has passed beyond gate 5: nobody is off course there.
    EXPECT_FALSE(off_course(1, 5));
}

TEST(Results, FileOfASmallSyntheticRace) {
    VfsSandbox sandbox;
    race_state_reset();
    FixtureTrack f;
    ASSERT_TRUE(write_fixture_track(f));
    sandbox.reset();
    ASSERT_TRUE(track_load(f.dir.c_str(), 0));
    gates() = three_gate_course();
    RaceSession &s = session();
    s.gate_drop = 1792;
    s.laps = s.total_laps = 2;
    s.halfway_lap = 1;

    std::vector<std::unique_ptr<Bike>> bikes;
    auto add = [&](int slot, const char *number, const char *bike, std::vector<int> times) {
        auto b = std::make_unique<Bike>();
        b->model.name = bike;
        std::snprintf(b->number_text, sizeof b->number_text, "%s", number);
        b->gates.gate_times = std::move(times);
        b->gates.next_gate = int(b->gates.gate_times.size());
        session_slot(slot).bike = b.get();
        session_slot(slot).kind = kRiderRobot;
        bikes.push_back(std::move(b));
    };
    add(3, "12", "kx125", {2048, 2304, 2560, 2816, 3072, 3328});
    add(5, "7", "crf250(2008)", {2100, 2400, 2700, 3000, 3300, 3700});
    add(8, "99", "rm125", {2200, 2600, 3000}); // never finishes: not in the results
    // First across the line, but it skipped gate 1: reference (512 + 600 + 800) / 3 +
    // 128 = 765, taken 250: 515 steps of penalty put it second.
    add(10, "5", "yz125", {2050, -1, 2300, 2600, 2850, 3100});
    s.clock = 3100 + kStallSteps;
    standings_update();
    ASSERT_TRUE(s.results_final);

    const std::string expected = "Time=0.00|Laps=2|Track=tracks/fixture|Date=1234567890\r\n"
                                 " No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n"
                                 "  12 |        kx125 |    2 |   0:12.000 |    2 |   0:06.000\r\n"
                                 "   5 |        yz125 |    2 |   0:14.242 |    2 |   0:06.250\r\n"
                                 "   7 | crf250(2008) |    2 |   0:14.906 |    2 |   0:07.812\r\n"
                                 "\r\n6\r\n"
                                 "   2.000    4.000    6.000\r\n"
                                 "   8.000   10.000   12.000\r\n"
                                 "\r\n6\r\n"
                                 "   2.016       -1    3.969\r\n"
                                 "   6.312    8.266   10.219\r\n"
                                 "\r\n6\r\n"
                                 "   2.406    4.750    7.094\r\n"
                                 "   9.438   11.781   14.906\r\n";
    EXPECT_EQ(results_text(1234567890), expected);

    // "@results.txt" holds the same text with the date of writing.
    std::string written = sandbox.dir().read("xdg/Vantorq/results.txt");
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written, standings().results);
    EXPECT_EQ(written.substr(written.find("\r\n")), expected.substr(expected.find("\r\n")));

    for (int m = 0; m < kSlotCount; ++m) session_slot(m) = RiderSlot{};
    race_state_reset();
    track_free();
    terrain_clear(terrain());
}

} // namespace
