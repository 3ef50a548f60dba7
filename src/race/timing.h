// Per-rider gate times and what derives from them: the gate passed each step, laps, lap
// times, the best lap and finishing. Times are race-clock steps (1/128 s); -1 = not passed.
#pragma once
#include "track/gates.h"

constexpr double kStepsPerSecond = 128.0;

// What the race session knows about the race as a whole.
struct RaceLaps {
    int total_laps = 0;                 // laps the race lasts (1000000 while still open)
    const RiderGates *leader = nullptr; // the race leader's gates, or null
};

// The per-step gate test for one rider whose front wheel is at (x, z). Examines the
// candidates next_gate - 3, - 2, + 0, + 1, + 2 in this order: a backward candidate is
// taken only when it is unrecorded or an unrecorded candidate came before it; examining
// stops at an un-crossed finish line the rider is not in. On a pass the time is recorded
// (skipped indices stay -1), next_gate moves past it and the rider may finish. Returns
// the sequence index passed, or -1 (also when the track has no timing or the rider has
// finished). The caller then updates the standings and the robot lines.
int gates_check(const GateData &data, RiderGates &rider, double x, double z, int step,
                const RaceLaps &race);

struct LapPosition {
    int lap;  // completed laps
    int gate; // position within the current lap
};
LapPosition lap_of(const GateData &data, const RiderGates &rider);
// Time of sequence index s, or -1.
int gate_time(const RiderGates &rider, long long s);
// Steps of lap (1-based): lap 1 from the gate drop to the first finish line, later laps
// between consecutive finish lines; 0 when a needed time is missing.
int lap_steps(const GateData &data, const RiderGates &rider, int lap, int gate_drop);
double lap_time(const GateData &data, const RiderGates &rider, int lap, int gate_drop);
// The fastest of laps 2 .. completed laps (earlier on equal times); 0 for none.
int best_lap(const GateData &data, const RiderGates &rider, int gate_drop);
// True once the rider finished: either already marked, or the leader has crossed the
// final finish line and this rider's latest finish line (or first gate) came no earlier
// than the leader's finish. Sets the rider's finished flag when true.
bool has_finished(const GateData &data, RiderGates &rider, const RaceLaps &race);
// Places the rider on the course at sequence index s: next_gate = s, finished cleared when
// s is below the previous next_gate, gate times cut to at most s entries.
void set_next_gate(RiderGates &rider, int s);
// The race's final finish-line index for total_laps (0 when total_laps is 0).
long long final_lap_end(const GateData &data, int total_laps);
