// Recording a session and playing it back: the round trip of states, identities and gate
// passes, rewinding and skipping, the backups, the naming command and the time-trial ghost.
#include "demo_fixture.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "files/vfs.h"
#include "platform/messages.h"
#include "platform/process.h"
#include "race/timing.h"
#include "sim/world.h"

namespace {

// Two start positions facing +x and three gates along x; one lap is "0 1 2".
const char *const kRow = "startinggate:\n"
                         "[100 0 100] -1.5707963\n"
                         "[100 0 110] -1.5707963\n"
                         "checkpoints:\n"
                         "10 [130 0 105] [1 0 0]\n"
                         "10 [160 0 105] [1 0 0]\n"
                         "10 [190 0 105] [1 0 0]\n"
                         "firstlap:\n0 1 2\nnormallap:\n0 1 2\n";

Vec3 frame(int slot) {
    return body_position(session_slot(slot).bike->body[kBodyFrame]);
}

std::string last_message() {
    const char *m = messages_shown_line(0);
    return m ? m : "";
}

struct RecordedRace {
    std::map<int, BikeStateRecord> states[2]; // by time
    std::vector<int> gate_times[2];
    std::string bikes[2], numbers[2];
    Vec3 final_frame[2];
    int steps = 0;
};

class DemoRecord : public DemoRaceTest {
protected:
    // Slot 0 the player, slot 1 a robot; after the gate drop both are pushed along x
    // (0.5 and 0.4 ft a step) through the three gates and finish the one-lap race.
    RecordedRace record_race() {
        RecordedRace out;
        write_track(kRow);
        int lineup[kSlotCount] = {};
        lineup[0] = kSlotHuman;
        lineup[1] = kSlotRobot;
        EXPECT_TRUE(session_start(lineup, false, true, 0, 1, 0));
        EXPECT_TRUE(demo_recording());
        EXPECT_EQ(demo_record_name(), "@demos/default.vqdemo");
        for (int m = 0; m < 2; ++m) {
            out.bikes[m] = session_slot(m).bike->model.name;
            out.numbers[m] = session_slot(m).bike->number_text;
        }
        const int until = session().gate_drop + 320;
        while (session().clock < until) {
            if (session().clock >= session().gate_drop) {
                bike_translate(session_slot(0).bike, 0.5, 0, 0);
                bike_translate(session_slot(1).bike, 0.4, 0, 0);
            }
            session_step();
            ++out.steps;
            int c = session().clock;
            if (c % 4 == 0)
                for (int m = 0; m < 2; ++m) {
                    const StateHistory &h = *history(m);
                    EXPECT_EQ(h.times[h.head], c);
                    out.states[m][c] = h.records[h.head];
                }
        }
        for (int m = 0; m < 2; ++m) {
            out.gate_times[m] = session_slot(m).bike->gates.gate_times;
            out.final_frame[m] = frame(m);
        }
        EXPECT_EQ(out.gate_times[0].size(), 3u);
        EXPECT_EQ(out.gate_times[1].size(), 3u);
        demo_close();
        EXPECT_TRUE(sandbox.dir().exists("xdg/Vantorq/demos/default.vqdemo"));
        return out;
    }
    void start_playback(int human_slot = -1) {
        int lineup[kSlotCount] = {};
        if (human_slot >= 0) lineup[human_slot] = kSlotHuman;
        ASSERT_TRUE(session_start(lineup, true, false, 0, 10, 0));
        ASSERT_TRUE(demo_playing());
    }
};

TEST_F(DemoRecord, RecordThenPlayGivesTheSameRidersStatesAndGatePasses) {
    RecordedRace race = record_race();
    start_playback();
    EXPECT_EQ(session().clock, 0);
    EXPECT_TRUE(demo_has_gate_passes());
    for (int m = 0; m < 2; ++m) {
        const RiderSlot &rs = session_slot(m);
        ASSERT_TRUE(rs.bike);
        EXPECT_EQ(rs.kind, kRiderRecorded);
        EXPECT_EQ(std::string(rs.bike->model.name), race.bikes[m]);
        EXPECT_EQ(std::string(rs.bike->number_text), race.numbers[m]);
    }
    EXPECT_FALSE(session_slot(2).bike);
    RiderGates replayed[2];
    int compared = 0;
    for (int i = 0; i < race.steps; ++i) {
        RaceLaps laps{1, nullptr};
        for (int m = 0; m < 2; ++m) demo_gate_test(m, replayed[m], session().clock, laps);
        session_step();
        int c = session().clock;
        for (int m = 0; m < 2; ++m) {
            auto it = race.states[m].find(c);
            if (it == race.states[m].end()) continue;
            BikeStateRecord r;
            ASSERT_TRUE(history_sample(m, c, r));
            ASSERT_EQ(std::memcmp(r.bytes, it->second.bytes, kStateRecordSize), 0)
                << "slot " << m << " time " << c;
            ++compared;
        }
    }
    EXPECT_GT(compared, 1000);
    for (int m = 0; m < 2; ++m) {
        EXPECT_EQ(replayed[m].gate_times, race.gate_times[m]) << m;
        EXPECT_TRUE(replayed[m].finished) << m;
    }
    // The replayed bikes are posed from the histories (a step behind the recording's end).
    for (int m = 0; m < 2; ++m) {
        EXPECT_NEAR(frame(m).x, race.final_frame[m].x, 1.0);
        EXPECT_NEAR(frame(m).z, race.final_frame[m].z, 0.1);
    }
}

TEST_F(DemoRecord, RewindAndSkipDuringPurePlayback) {
    RecordedRace race = record_race();
    start_playback();
    const int gate_drop = session().gate_drop;
    const int x = gate_drop + 160; // rider 0 has passed gates 0 and 1 by now
    while (session().clock < x) session_step();
    std::vector<int> before = session_slot(0).bike->gates.gate_times;
    ASSERT_GE(before.size(), 2u);

    ASSERT_TRUE(demo_seek(-1.0));
    EXPECT_EQ(session().clock, x - 128);
    for (int m = 0; m < 2; ++m)
        for (int t : session_slot(m).bike->gates.gate_times) EXPECT_LE(t, x - 128) << m;
    EXPECT_FALSE(session().results_final);
    // The histories are filled around the new clock again.
    int c = session().clock - session().clock % 4;
    BikeStateRecord r;
    ASSERT_TRUE(history_sample(0, c, r));
    ASSERT_TRUE(race.states[0].count(c));
    EXPECT_EQ(std::memcmp(r.bytes, race.states[0][c].bytes, kStateRecordSize), 0);
    EXPECT_GE(history_latest_time(0), session().clock + 32);

    ASSERT_TRUE(demo_seek(1.0)); // version 6 skips by riding on
    EXPECT_EQ(session().clock, x);
    c = x - x % 4;
    ASSERT_TRUE(history_sample(0, c, r));
    EXPECT_EQ(std::memcmp(r.bytes, race.states[0][c].bytes, kStateRecordSize), 0);

    // Rewinding to before the start stops at 0.
    ASSERT_TRUE(demo_seek(-100.0));
    EXPECT_EQ(session().clock, 1);
    EXPECT_TRUE(session_slot(0).bike->gates.gate_times.empty());
}

TEST_F(DemoRecord, SeekingNeedsPurePlayback) {
    record_race();
    start_playback(5); // Race Against: the player rides in slot 5
    EXPECT_EQ(session_slot(5).kind, kRiderLocal);
    EXPECT_EQ(session_slot(0).kind, kRiderRecorded);
    int clock = session().clock;
    EXPECT_FALSE(demo_seek(1.0));
    EXPECT_FALSE(demo_seek(-1.0));
    EXPECT_EQ(session().clock, clock);
}

TEST_F(DemoRecord, BackupRotation) {
    write_track(kRow);
    struct Case {
        int backups, kept;
    };
    for (Case c : {Case{0, 0}, Case{1, 1}, Case{3, 3}, Case{100, 100}, Case{250, 100}}) {
        (void)std::system(("rm -rf '" + sandbox.home() + "demos'").c_str());
        settings().demo_backups = c.backups;
        const int recordings = c.kept + 2;
        for (int i = 0; i < recordings; ++i) {
            session().laps = i; // marks the recording
            ASSERT_TRUE(demo_record_start());
            demo_record_stop();
        }
        std::vector<std::string> expected = {"default.vqdemo"};
        for (int k = 0; k < c.kept; ++k) {
            char name[32];
            std::snprintf(name, sizeof name, "default%02d.vqdemo", k);
            expected.push_back(name);
        }
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(sandbox.dir().entries("xdg/Vantorq/demos"), expected) << c.backups;
        // default.vqdemo is the newest, then 00, 01, ...
        for (const std::string &name : expected) {
            std::string text = sandbox.dir().read("xdg/Vantorq/demos/" + name);
            int riders = -1, limit = -1, laps = -1;
            ASSERT_EQ(std::sscanf(text.c_str(), "VQ06 %d %d %d", &riders, &limit, &laps), 3);
            int older = name == "default.vqdemo" ? 0 : std::atoi(name.c_str() + 7) + 1;
            EXPECT_EQ(laps, recordings - 1 - older) << name;
        }
    }
}

TEST_F(DemoRecord, RecordingIsRefusedWhileARollingDemoIsPlayed) {
    write_track(kRow);
    settings().demo_backups = 5;
    const std::string kept = head6(1);
    sandbox.write_home("demos/default03.vqdemo", kept);
    sandbox.write_home("demos/mine.vqdemo", kept);
    sandbox.reset();
    ASSERT_TRUE(demo_open_file("@demos/default03.vqdemo", false));
    EXPECT_FALSE(demo_record_start());
    EXPECT_EQ(last_message(), "Can't record and play from same file - recording disabled");
    EXPECT_EQ(sandbox.dir().read("xdg/Vantorq/demos/default03.vqdemo"), kept);
    EXPECT_FALSE(sandbox.dir().exists("xdg/Vantorq/demos/default04.vqdemo"));
    ASSERT_TRUE(demo_open_file("@demos/mine.vqdemo", false));
    EXPECT_TRUE(demo_record_start());
    demo_record_stop();
    EXPECT_TRUE(sandbox.dir().exists("xdg/Vantorq/demos/default04.vqdemo")); // rotated
}

TEST_F(DemoRecord, NamingTheRecording) {
    write_track(kRow);
    demo_name_command("first");
    EXPECT_EQ(last_message(), "Not currently recording a demo");
    sandbox.write_home("demos/taken.vqdemo", "keep me");
    sandbox.reset();
    ASSERT_TRUE(demo_record_start());
    struct Case {
        std::string args, message;
    };
    const Case cases[] = {
        {"a/b", "Bad demo name"},
        {"..\\up", "Bad demo name"},
        {"..", "Bad demo name"},
        {"", "Bad demo name"},
        {std::string(1017, 'n'), "Name too long"},
        {"default07", "rolling demos"},
        {"taken", "already exists"},
        {"  race1.vqdemo trailing words", "Demo name updated"},
    };
    for (const Case &c : cases) {
        demo_name_command(c.args.c_str());
        EXPECT_NE(last_message().find(c.message), std::string::npos)
            << c.args << ": " << last_message();
    }
    demo_record_stop();
    EXPECT_TRUE(sandbox.dir().exists("xdg/Vantorq/demos/race1.vqdemo"));
    EXPECT_FALSE(sandbox.dir().exists("xdg/Vantorq/demos/default.vqdemo"));
    EXPECT_EQ(sandbox.dir().read("xdg/Vantorq/demos/taken.vqdemo"), "keep me");

    // A name taken while recording: the demo goes next to it, never over it.
    ASSERT_TRUE(demo_record_start());
    demo_name_command("late");
    sandbox.write_home("demos/late.vqdemo", "first");
    demo_record_stop();
    EXPECT_EQ(sandbox.dir().read("xdg/Vantorq/demos/late.vqdemo"), "first");
    EXPECT_TRUE(sandbox.dir().exists("xdg/Vantorq/demos/late-2.vqdemo"));
}

TEST_F(DemoRecord, PracticeLapBecomesTheGhost) {
    write_track(kRow);
    ASSERT_TRUE(session_start(nullptr, false, true, 0, 1000, 0));
    ASSERT_EQ(demo_record_name(), "@tracks/fixture/lastlap.vqdemo");
    std::map<int, Vec3> player;
    player[session().clock] = frame(0);
    const int start = session().clock;
    int lap_end = -1;
    for (int i = 0; i < 400 && lap_end < 0; ++i) {
        bike_translate(session_slot(0).bike, 0.5, 0, 0);
        session_step();
        if (session_slot(1).bike)
            lap_end = session().clock;
        else
            player[session().clock] = frame(0);
    }
    ASSERT_GE(lap_end, 0) << "the practice lap did not end";
    EXPECT_TRUE(sandbox.dir().exists("xdg/Vantorq/tracks/fixture/fastlap.vqdemo"));
    EXPECT_EQ(session_slot(1).kind, kRiderRecorded);
    EXPECT_TRUE(demo_playing());
    EXPECT_EQ(demo_record_name(), "@tracks/fixture/lastlap.vqdemo");
    // The ghost rides the recorded lap from its start, in step with the clock.
    bike_translate(session_slot(0).bike, -90, 0, 0);
    for (int k = 0; k <= 40; ++k) {
        session_step();
        if (k % 4) continue;
        Vec3 g = frame(1), p = player[start + k];
        EXPECT_NEAR(g.x, p.x, 0.05) << k;
        EXPECT_NEAR(g.z, p.z, 0.05) << k;
    }
}

} // namespace
