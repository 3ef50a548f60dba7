// A simple pursuit driver for robot slots and headless rides, until the robot riders
// proper exist: it steers toward the next checkpoint along the best recorded line of the
// section it is in, at the speeds of the track's line library ("lines_novice",
// "lines_amateur", "lines_expert"), and lets the bike's lean steering do the balancing.
//
// The reader keeps only what the driver needs of a library: per section the slots'
// points (position and speed, negative while airborne) and their first times.
#pragma once
#include <vector>

#include "sim/vec3.h"

struct Bike;
struct Stream;

constexpr int kPursuitSlots = 160;
// Line slots per section that are kept; later ones are read and dropped.
constexpr int kPursuitLinesPerSection = 45;

struct PursuitPoint {
    float x, y, z;
    float speed; // ft/s, negative while neither wheel touched the ground
};

struct PursuitLine {
    std::vector<PursuitPoint> points;
    int first_time = 1000000; // steps the recording needed to the middle gate
};

struct PursuitSection {
    std::vector<PursuitLine> lines;
    int best = -1; // the non-empty line with the smallest first_time, -1 for none
};

struct PursuitLibrary {
    std::vector<PursuitSection> sections;
};

// Reads a library ("ct03 %d" with the section count, then per section the slot count and
// per slot "%d x 9" and its points "[x y z] speed fifth"). False, with out empty, when the
// header is missing or its count differs from sections. Counts are checked against the
// data; reading stops at the first thing that does not scan (what was read stays).
bool pursuit_lines_parse(Stream *s, int sections, PursuitLibrary &out);
// Loads the library of a skill (0 novice, 1 amateur, 2 expert) of the loaded track into
// the module's library; a missing or mismatched file leaves it empty. True when loaded.
bool pursuit_lines_load(int skill);
// Uses the given library as the module's (a session's own reader, or a test's lines).
void pursuit_lines_use(PursuitLibrary library);
void pursuit_lines_clear();
const PursuitLibrary &pursuit_lines();
// The library section of the rider heading for sequence index next_gate (plus ahead
// sections), mapped onto the sections of the first lap and one normal lap; -1 without
// timing.
int pursuit_section(int next_gate, int ahead = 0);

// The course point ahead of the bike on the best line of its section (the point 4 on
// from the nearest one), for the rider's realignment; false when there is none.
bool pursuit_course_point(const Bike *bike, Vec3 *out);

// Per-bike driver state.
struct PursuitDriver {
    float target_speed = 0; // ft/s, last step's
    float lean_target = 0;  // rad, positive = left
    Vec3 aim;               // the point steered at
    int slow_steps = 0;     // steps in a row below 3 ft/s while riding
};

// Prepares a bike for the driver: the assists of the profile's default "Stability" (lean
// steering, strong roll damping beyond 35 degrees), automatic shifting and the wheelie
// guard. The other setup values stay.
void pursuit_driver_begin(Bike *bike, PursuitDriver &driver);
// Sets the bike's inputs for this step.
void pursuit_driver_step(Bike *bike, PursuitDriver &driver);

// The same for the session's robot slots (0..159; others ignored).
void pursuit_robot_create(int slot, Bike *bike, const char *personality);
void pursuit_robot_step(int slot, Bike *bike);
