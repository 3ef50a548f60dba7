// Scripted headless rides: one bike on the loaded terrain (a generated track or a test's
// ground), fed timed controls through the local rider's input path or driven by the
// pursuit driver, stepped in the race step's order, with its state recorded.
//
// Used by the closed-loop tests and by the vqride tool; it needs no test framework.
// The caller sets up the virtual file system (for a track) and the physics world.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "robot/pursuit.h"
#include "sim/rider_input.h"
#include "sim/vec3.h"

struct Bike;

// From `time` (seconds after the ride's start) on, these controls are applied every step
// until the next cue.
struct RideCue {
    double time = 0;
    RiderControls controls;
};

// Reads cues, one per line: "<time> name=value ..." with the names steer, throttle,
// front_brake, rear_brake, shift, clutch, dab, back_up and lean (the control values, as
// the bindings would sum them); a name not given keeps the previous cue's value. Blank
// lines and lines starting with "#" are skipped. Times must not decrease. False with a
// message in error for the first bad line.
bool ride_script_parse(const std::string &text, std::vector<RideCue> &cues, std::string *error);

struct RideSample {
    double time = 0;
    Vec3 position, velocity;
    double speed = 0, roll = 0, heading = 0, steer_angle = 0;
    int crash_timer = 0, gear = 0, next_gate = 0;
    double rpm = 0, throttle = 0, steer = 0;
    double lean_target = 0, target_speed = 0; // the pursuit driver's, when it drives
    double front_slip = 0;                    // front slip angle, rad
    double slide[2] = {0, 0};                 // tyre sliding speeds (0 off the ground)
};

struct RideSummary {
    double seconds = 0, distance = 0, top_speed = 0;
    int falls = 0;                 // the rider thrown off
    int downs = 0;                 // the bike fell over (lean beyond 1 rad) with the rider on
    int laps = 0;                  // completed laps
    std::vector<double> lap_times; // seconds, lap 1 first
    bool blew_up = false;          // a body position or velocity stopped being finite
};

struct Ride {
    Bike *bike = nullptr;
    std::vector<RideCue> cues; // used when drive is false
    std::size_t cue = 0;
    RiderControlOptions options;
    bool drive = false; // the pursuit driver rides instead of the cues
    PursuitDriver driver;
    // Called every step after the cue's controls (or the driver), before the contacts:
    // a test's own controls or disturbances.
    std::function<void(Ride &)> control;
    int sample_every = 16; // steps between samples (0: none)
    std::vector<RideSample> samples;
    long long steps = 0;
    bool down = false; // lying over since the last down was counted
    RideSummary summary;
};

// Installs the pursuit driver's course point for the rider's realignment (and removes it
// again at ride_end).
void ride_begin(Ride &ride, Bike *bike, bool drive);
// A bike of model placed at start position slot of the loaded track's starting gate
// (slot 0 when there are fewer), facing along it. Null when the track has none.
Bike *ride_bike_at_start(const char *model, int slot);
// One step: the cue's controls (or the driver), contacts, the world step, the bike step,
// the gate test and the record.
void ride_step(Ride &ride);
// Steps for the given time, or until the ride has completed laps laps (laps > 0), or
// until a body blows up. Returns the summary.
const RideSummary &ride_run(Ride &ride, double seconds, int laps = 0);
// The latest sample of the bike now.
RideSample ride_sample(const Ride &ride);
// Restores the rider hooks; the bike stays the caller's.
void ride_end(Ride &ride);
