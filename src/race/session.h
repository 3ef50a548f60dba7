// The race session: the 160 rider slots, the robot roster, starting a session (lineup,
// track, bikes on the start positions, race length), one race step in its fixed order,
// the start gate, the false-start rule and the time-trial restart. The standings, the end
// of the race, penalties and the results file are in race/standings.h.
//
// Times are race-clock steps of 1/128 s. Slot m is also start position m mod start_count.
#pragma once
#include <string>

struct Bike;
struct RiderGates;
struct RaceLaps;

constexpr int kSlotCount = 160;
constexpr int kRosterSize = 80;
constexpr int kOpenLaps = 1000000;      // total_laps / halfway_lap of a timed race still open
constexpr int kCountdownSteps = 640;    // 5 s
constexpr int kPracticeClock = 38400;   // practice starts 300 s in: the gate has long dropped
constexpr int kFalseStartSteps = 1920;  // 15 s
constexpr int kGateRaiseWindow = 1280;  // start gates move until 10 s after the drop
constexpr double kGateTurn = 0.5890486; // radians of a fully raised start gate

// Codes of the slot table a session is started from.
enum SlotCode : int {
    kSlotEmpty = 0,        // nobody (in playback the next demo rider takes the slot)
    kSlotHuman = 1,        // the local player
    kSlotRobot = 2,        // the next robot of the shuffled roster
    kSlotRobot2Stroke = 3, // a robot whose bike name contains "125"
    kSlotRobot4Stroke = 4, // a robot whose bike name contains "250"
    kSlotServer = 5,       // a rider of the race server
    kSlotRosterBase = 1000 // + n: the robot whose roster number is n (20 .. 99)
};

// How a rider is driven.
enum RiderKind : int {
    kRiderLocal = 0,    // simulated here, driven by the local player
    kRiderRecorded = 1, // driven from recorded or received states (bodies disabled)
    kRiderRobot = 2,    // simulated here, driven by the autopilot
};

// One fixed robot of the roster. Missing textures (null) mean the default.
struct RosterEntry {
    const char *number;      // "20" .. "99"
    const char *personality; // "brell", "zorv" or "tamsk"
    const char *bike;        // model name before mapping
    const char *body, *head, *bike_texture, *wheels;
};
// The 80 entries, numbers "20" .. "99" in order.
const RosterEntry *robot_roster();
// Index of the robot with roster number n, or -1 when there is none (n outside 20 .. 99).
int roster_index(int number);
// The catalogue name a roster or demo bike name is created with: "crf250" ->
// "crf250(2008)", "kx250f" -> "kx250f(2008)", "rmz250" -> "rmz250(2008)", "yz250f" ->
// "yz250f(2008)"; other names unchanged.
const char *bike_name_mapped(const char *name);

// Who rides a slot: bike, number, name and skins (empty texts = default).
struct RiderIdentity {
    std::string bike, number, name, body, head, bike_texture, wheels;
};

struct RiderSlot {
    Bike *bike = nullptr;              // null: nobody rides this slot
    int kind = kRiderRecorded;         // a slot without a bike counts as kind 1
    int code = kSlotEmpty;             // the slot code the session was started with
    int roster = -1;                   // roster index of a robot
    std::string name;                  // rider name
    std::string personality;           // autopilot personality, empty for none
    double start_point[3] = {0, 0, 0}; // frame position after placement
};

struct RaceSession {
    int clock = 0;     // steps since the session started
    int gate_drop = 0; // clock value at which the starting gate drops
    int countdown = kCountdownSteps;
    int time_limit = 0;  // race duration in steps; 0 = laps only
    int laps = 0;        // laps of the race, or extra laps after the time limit
    int total_laps = 0;  // laps the race lasts; kOpenLaps while open
    int halfway_lap = 0; // lap of the halfway sign; kOpenLaps while open
    bool practice = false;
    bool results_final = false;
    int start_penalty = 0; // steps the local rider is still held (multiplayer)
    int skill = -1;        // robot line library in use, -1 none yet
    int robots_placed = 0;
    int roster_order[kRosterSize] = {};

    // Beyond the shared record: what the session itself needs to remember.
    bool online = false;           // started for a race server
    bool playback = false;         // a demo is being played
    int local_slot = -1;           // slot of the local player (first code 1), -1 none
    int camera_slot = 0;           // slot the camera follows
    int practice_laps[2] = {0, 0}; // completed laps of slots 0 and 1 before this step
    int last_lap = 0;              // practice: the player's last counted lap, steps (0 none)
    int best_lap = 0;              // practice: the best lap, steps (0 none)
};

// Settings of how sessions are started that are not part of the slot table.
struct SessionOptions {
    bool autopilot_humans = false; // headless: human slots are ridden by the autopilot
};

// A multiplayer start as the race server gives it.
struct ServerStart {
    std::string track;   // the server's track
    int gate_drop = 0;   // the server's gate drop
    int local_gate = -1; // the local rider's start position, -1 none
};

// A demo head as the demo layer reports it at playback start.
struct DemoStart {
    std::string track;
    int time_limit = 0, laps = 0, gate_drop = 0;
};

// What the session calls in the other subsystems. A null entry is a subsystem that is not
// present: the session skips that call (no robot lines, no demos, no roost, no scenery).
struct SessionHooks {
    // Points series: record the event in progress.
    void (*series_record_result)() = nullptr;
    // Robot line libraries and robots.
    void (*lines_save)() = nullptr; // write the library in use (learning is on)
    void (*lines_clear)() = nullptr;
    void (*lines_load)(int skill) = nullptr; // "lines_novice" / "_amateur" / "_expert"
    void (*lines_prune)() = nullptr;
    void (*best_chains)() = nullptr;
    void (*robots_reset)() = nullptr; // forget every slot's line choices
    void (*robot_create)(int slot, Bike *bike, const char *personality) = nullptr;
    void (*robot_step)(int slot, Bike *bike) = nullptr;             // the autopilot's inputs
    void (*robot_gate)(int slot, Bike *bike, int passed) = nullptr; // after a gate pass
    // Demos and state histories.
    bool (*demo_open)(DemoStart &out) = nullptr; // playback: open the demo to play
    bool (*demo_next_rider)(int slot, RiderIdentity &out) = nullptr; // playback riders
    void (*demo_close)() = nullptr;
    void (*demo_record_start)() = nullptr;
    void (*demo_record_step)(bool force) = nullptr;
    void (*demo_read_step)() = nullptr;
    void (*history_clear_all)() = nullptr;
    void (*history_apply)(int slot, int time) = nullptr; // pose a kind 1 rider
    int (*history_latest)(int slot) = nullptr;           // newest state time, -1 none
    // The gate test of a kind 1 rider from recorded gate passes: the sequence index
    // passed or -1, or -2 when there are none to go by (gates_check is used then).
    int (*recorded_gate_test)(int slot, RiderGates &gates, int step,
                              const RaceLaps &race) = nullptr;
    // Practice: after a completed lap of the player (counts: the lap had every gate;
    // best: it is the new best lap). Copies the ghost, opens it (creating its riders with
    // session_create_rider) and starts recording the next lap.
    void (*practice_lap_demo)(bool counts, bool best) = nullptr;
    // Start-gate statues: whether a bike touched the statue this step; turn it by angle.
    bool (*statue_touched)(int statue) = nullptr;
    void (*statue_turn)(int statue, double angle) = nullptr;
    // Texture and model caches: new generation (memory counter 0), the counter, purge.
    void (*caches_new_generation)() = nullptr;
    unsigned long (*texture_memory)() = nullptr;
    void (*caches_purge)() = nullptr;
    // Camera: follow slot, 5 units above its frame.
    void (*camera_follow)(int slot) = nullptr;
    // Multiplayer.
    bool (*server_start)(ServerStart &out) = nullptr; // true when starting for a server
    bool (*server_rider)(int slot, RiderIdentity &out) = nullptr;
    int (*remote_state_step)(int slot) = nullptr; // clock of the newest received state
};

RaceSession &session();
SessionOptions &session_options();
RiderSlot &session_slot(int slot); // slot 0 .. 159 (clamped)
void session_hooks_install(const SessionHooks &hooks);
const SessionHooks &session_hooks();

// The lineup the menu's races start from (160 codes).
int *race_lineup();
// The "New Race" lineup: the 40 "Gate" settings as codes 0 .. 4, slots 40 .. 159 Empty.
void lineup_from_settings(int out[kSlotCount]);
// n robots (clamped to 0 .. 40) at the slots nearest gate 20 (slot 19), no human:
// slots 19, 18, 20, 17, 21, ...
void lineup_robots(int out[kSlotCount], int n);
// Entry i moves to (i + n) mod 160 (n may be negative).
void lineup_rotate(int lineup[kSlotCount], int n);

// Where slot m lines up: with start positions, position m mod start_count, row m /
// start_count behind it ((row + 1/16) x 10 units back along its heading); without, a row
// along x through the middle of the terrain, 5 units apart, heading 0.
struct Placement {
    double x, z, heading;
};
Placement start_placement(int slot);

// Resets the bike and stands it at (x, z) with the heading, from the terrain sample
// nearest (x, z), raised 0.25 at a time while it intersects the ground but never above
// the terrain's highest point plus a margin. Returns the raises.
int place_bike(Bike *bike, double x, double z, double heading);

// Creates a rider in slot (freeing one already there): the bike (model name mapped),
// number, textures, name, kind (kind 1 gets fixed assists and disabled bodies). False,
// and the slot left empty, when the bike cannot be created.
bool session_create_rider(int slot, const RiderIdentity &who, int kind);
// Frees the rider in slot / in every slot (with the log lines of the deallocation).
void session_free_rider(int slot);
void session_free_riders();

// Starts a session. slots = 160 codes, or null for practice. With playback the demo's
// track and riders are used; with record a demo is recorded. time_limit in steps (0 =
// laps only). Returns false when the track could not be loaded (riders already freed).
bool session_start(const int *slots, bool playback, bool record, int time_limit, int laps,
                   int skill);
// One race step (the main loop calls it 128 times per simulated second).
void session_step();
// Practice: puts the player (slot 0) back just before the finish line.
void practice_restart();
// Shutdown: the series result, the learned lines, freeing the riders.
void session_shutdown();

// Queries for the main loop and the views.
int session_rider_count();           // slots with a bike
bool session_slot_riding(int slot);  // a live rider driven by the local player
bool session_leader_finished_race(); // the leader completed the race's laps (warp)
