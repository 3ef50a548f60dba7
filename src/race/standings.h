// The race order while a session runs, the number of laps of a timed race, the end of the
// race, cutting penalties and the final order, the results file "@results.txt" and the
// race length text; the off-course test of online contacts and the ghost test.
//
// Everything works on the riders' gate times (race/timing.h) and the session record
// (race/session.h). Times are race-clock steps of 1/128 s.
#pragma once
#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

struct RiderGates;

// Once the leader has finished, a rider that has passed no gate for this long no longer
// holds the race open (the local player offline excepted): a stuck or lost rider cannot
// keep the race from ending, while a slow one that still makes progress finishes.
constexpr int kStallSteps = 60 * 128;
// With no rider to compare with, a section's reference time.
constexpr int kDefaultReferenceSteps = 7680;

struct StandingRecord {
    int slot = 0;
    int next_gate = 0; // final order: after laps were taken off
    int time = 0;      // time of the last gate passed (0 if none); final: + penalty
    int penalty = 0;   // final order: the cutting penalty added to time, steps
    int laps_off = 0;  // final order: laps taken off for cutting
};

struct Standings {
    std::vector<StandingRecord> live;        // leader first
    std::vector<StandingRecord> final_order; // built once the race is over
    int riders = 0;                          // number of records
    std::string results;                     // the results text last written
};

// Server settings of the off-course test.
struct OffCourseSettings {
    double scale = 1.5;
    double bias = 10.0; // seconds
};

const Standings &standings();
OffCourseSettings &off_course_settings();
// Forgets the standings (session start, before the first update).
void standings_reset();

// Recomputes the standings; nothing once results_final is set. Applies the timed-race
// extension, and when the race is over builds the final order with penalties, writes the
// results file (when the leader finished) and sets results_final.
void standings_update();
// Slot of the leader, -1 with no riders.
int standings_leader();
// The gates of the leader (null with no riders): what gates_check needs.
RiderGates *standings_leader_gates();

// Steps of cutting penalty of the rider in slot: for every run of skipped gates ending at
// a passed gate, the reference time of that section + 1 s minus the time taken, where
// positive. A run starting at index 0 counts from the gate drop.
int cutting_penalty(int slot);
// The reference time of the section from sequence index a to b (a may be -1: the gate
// drop): the integer mean of every rider's complete time over it (a later section is
// compared over all laps, each rider contributing its mean); 7680 steps when none.
int reference_time(int a, int b);
// The off-course test of the rider in slot at gate m (online contacts).
bool off_course(int slot, int m);
// Whether slot is drawn as a ghost (takes no part in contacts).
bool is_ghost(int slot);

// The results text of the final order (lines end with CR LF), dated date.
std::string results_text(std::time_t date);
// Writes results_text(now) to "@results.txt" (safe save) and keeps the text. Success.
bool results_write();
// "%d minutes + %d laps", "%d minutes" or "%d laps" for the session's race length.
void race_length_text(char *buffer, std::size_t size);
// The results-table text of a penalised final record: "%3s penalized " with the rider's
// number, the laps taken off ("%d lap " / "%d laps ") and "%.2f seconds for cutting
// track"; empty without a penalty.
std::string penalty_text(const StandingRecord &record);
