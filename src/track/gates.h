// The "timing_gates" data of a track: the starting gate's positions, the checkpoints a
// rider must pass, and the order in which they make up the first lap and every later lap.
// Reading, writing, sequence-index arithmetic and the geometric gate test.
//
// Sequence index: every gate a rider passes in a race has an index s = 0, 1, 2, ...;
// indices below the first lap's length are its entries, later ones cycle through the
// normal lap. Index first_lap_len - 1 + k * normal_lap_len ends lap k + 1.
#pragma once
#include <string>
#include <vector>

struct Stream;

// A file holding this many start positions or more is rejected.
constexpr int kMaxStartPositions = 160;
constexpr int kMaxCheckpoints = 256;
constexpr int kMaxLapEntries = 256;
// Added to a lap entry: a timing gate that does not split robot line sections.
constexpr int kGateNoSplitFlag = 100000;

extern const char *const kStartGateModel;   // "@startgate.zm"
extern const char *const kStartGateTexture; // "@startgate.ppm"
extern const char *const kStartGateShape;   // "@startgate.shp"

struct StartPosition {
    float x = 0, y = 0, z = 0;
    float angle = 0;      // heading in -pi..pi; riders face (-sin angle, -cos angle)
    int gate_statue = -1; // statue index of this slot's gate, or -1
    float gate_raise = 1; // 1 = gate up, 0 = dropped
    // Names of the gate statue (empty = none, written as "null").
    std::string model = kStartGateModel;
    std::string texture = kStartGateTexture;
    std::string shape = kStartGateShape;
};

struct Checkpoint {
    float centre[3] = {0, 0, 0};
    float direction[3] = {0, 0, 0}; // the way riders pass; x and z used, any length
    float radius = 0;
};

struct GateData {
    std::vector<StartPosition> starts;
    std::vector<Checkpoint> checkpoints; // empty: the track has no timing
    std::vector<int> first_lap;          // entries: checkpoint index, maybe + 100000
    std::vector<int> normal_lap;
    int first_lap_segments = 0; // unflagged entries of each list
    int normal_lap_segments = 0;
};

// Rider gate state, kept in each rider's bike record.
struct RiderGates {
    int next_gate = 0;           // sequence index of the next gate to pass
    std::vector<int> gate_times; // step each sequence index was passed, -1 if skipped
    bool finished = false;
};

// The loaded track's gate data.
GateData &gates();

// Parses "timing_gates" text: the optional "startinggate:" section (one position per
// line), "checkpoints:" and "firstlap:"/"normallap:". Lap entries are cleaned (negative
// -> 0, index limited to the checkpoints, flag kept). The timing is dropped (checkpoints
// and laps emptied, start positions kept) unless there is a checkpoint and both lists
// hold an unflagged entry. A file with 160 or more start positions is rejected whole.
// Returns whether the timing was accepted. Statues are not created here.
bool gates_parse(const char *text, std::size_t length, GateData &out);
// Reads "timing_gates" at path into gates(), creating each start position's gate statue
// 3 units ahead of it (statue_add hook), and sizes the robot line storage. A missing or
// rejected file leaves the track without timing.
void gates_load(const char *path);
// Forgets the loaded gate data.
void gates_free();

// Writes data in the file format (only the sections that have content).
bool gates_write(Stream *s, const GateData &data);
// Writes data to path (a safe save). Shows "Can't open 'timing_gates'\n" and returns
// false when the file cannot be written.
bool gates_save_file(const char *path, const GateData &data);
// The editor's save: gates() to folder + "/timing_gates" (folder a virtual path "@...").
bool gates_save(const char *folder);

// Geometric gate test: P is in the gate when its horizontal distance to the centre is at
// most the radius and (P - centre) . direction >= 0 (x and z only).
bool gate_contains(const Checkpoint &gate, double x, double z);

// Sequence-index arithmetic (all require accepted timing; s >= 0).
int gate_entry(const GateData &data, int s);      // the lap entry at s, flag included
int gate_checkpoint(const GateData &data, int s); // the checkpoint index at s
bool gate_is_lap_end(const GateData &data, int s);
// Index of the finish line of lap (1-based): first_lap_len - 1 + (lap - 1) * normal_lap_len.
long long gate_lap_end_index(const GateData &data, long long lap);
// Number of unflagged entries among sequence indices 0 .. s - 1 (the robot section).
int segment_of(const GateData &data, int s);
int segment_of(int s); // on gates()
