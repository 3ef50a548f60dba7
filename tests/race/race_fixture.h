// Shared set-up of the race tests: a fixture track in a private file system with the
// physics world (for sessions with real bikes), and synthetic races whose riders are
// bare bike records with scripted gate times (for standings, penalties and results).
#pragma once
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files/settings.h"
#include "platform/messages.h"
#include "race/session.h"
#include "race/standings.h"
#include "sim/bike.h"
#include "sim/world.h"
#include "support/fixture_track.h"
#include "support/tempdir.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/track.h"

// Forgets every session and standings state between tests.
inline void race_state_reset() {
    session_hooks_install(SessionHooks{});
    session() = RaceSession{};
    session_options() = SessionOptions{};
    standings_reset();
    off_course_settings() = OffCourseSettings{};
}

// A fixture track "tracks/fixture" with the given timing_gates text, selected in the
// settings, and the physics world.
class RaceTrackTest : public ::testing::Test {
protected:
    void SetUp() override {
        messages_clear();
        settings_reset();
        race_state_reset();
        physics_world_create();
        sim_clock() = SimClock{};
    }
    void TearDown() override {
        session_free_riders();
        race_state_reset();
        track_free();
        physics_world_destroy();
        terrain_clear(terrain());
    }
    // Writes the fixture track (flat at height 10 unless height is given) and selects it.
    void write_track(
        const std::string &timing_gates,
        std::function<float(int, int)> height = [](int, int) { return 10.0f; }) {
        FixtureTrack f;
        f.size_exp = 7; // 512 x 512 ft at spacing 2
        f.height = height;
        f.timing_gates = timing_gates;
        ASSERT_TRUE(write_fixture_track(f));
        sandbox.reset();
        settings_set_track_list({f.dir}, {"Fixture"}, f.dir);
    }
    VfsSandbox sandbox;
};

// A course of three checkpoints whose first lap and normal lap are both "0 1 2": indices
// 2, 5, 8, ... end laps 1, 2, 3, ... The gate positions do not matter: synthetic races
// set gate times directly.
inline GateData three_gate_course() {
    GateData d;
    for (int k = 0; k < 3; ++k) {
        Checkpoint c;
        c.centre[0] = 100.0f * float(k);
        c.direction[0] = 1.0f;
        c.radius = 5.0f;
        d.checkpoints.push_back(c);
    }
    d.first_lap = {0, 1, 2};
    d.normal_lap = {0, 1, 2};
    d.first_lap_segments = 3;
    d.normal_lap_segments = 3;
    return d;
}

// A race over laps on three_gate_course whose riders are bare bike records (no bodies)
// put into the slots; gate times are scripted.
class SyntheticRace : public ::testing::Test {
protected:
    void SetUp() override {
        race_state_reset();
        gates() = three_gate_course();
        RaceSession &s = session();
        s.gate_drop = 1792;
        set_laps(2);
    }
    void TearDown() override {
        for (int m = 0; m < kSlotCount; ++m) session_slot(m) = RiderSlot{};
        race_state_reset();
        gates_free();
        bikes.clear();
    }
    void set_laps(int laps) {
        RaceSession &s = session();
        s.laps = s.total_laps = laps;
        s.halfway_lap = (laps + 1) / 2;
    }
    // A rider in slot with the given gate times (next_gate just past the last one).
    Bike *rider(int slot, const char *number, const char *bike, std::vector<int> times,
                int kind = kRiderRobot) {
        auto b = std::make_unique<Bike>();
        b->model.name = bike;
        std::snprintf(b->number_text, sizeof b->number_text, "%s", number);
        b->gates.gate_times = std::move(times);
        b->gates.next_gate = int(b->gates.gate_times.size());
        RiderSlot &rs = session_slot(slot);
        rs.bike = b.get();
        rs.kind = kind;
        bikes.push_back(std::move(b));
        return bikes.back().get();
    }
    // Every gate of laps laps at an even spacing of step steps from first.
    static std::vector<int> even(int gates_passed, int first, int step) {
        std::vector<int> t;
        for (int k = 0; k < gates_passed; ++k) t.push_back(first + k * step);
        return t;
    }
    std::vector<std::unique_ptr<Bike>> bikes;
    VfsSandbox sandbox; // a race that ends writes "@results.txt"
};
