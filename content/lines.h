// Seed line libraries for the robot riders ("lines_novice", "lines_amateur",
// "lines_expert"): for every section of the course a few lines taken from the centre line,
// with a speed profile from the course's curvature, grade and jumps, faster at each skill.
//
// Each section's lines start at the gate that begins the section and run two sections, a
// point every 32 simulation steps (0.25 s): the frame position, the speed (negative while
// airborne) and a fifth value (0 here).
#pragma once
#include <string>
#include <vector>

#include "course.h"
#include "ride.h"
#include "track/terrain.h"

enum Skill { kNovice = 0, kAmateur = 1, kExpert = 2 };

struct SkillProfile {
    double top_speed; // ft/s
    double grip;      // usable lateral acceleration on flat ground, in g
    double accel;     // ft/s^2 on level ground
    double brake;     // ft/s^2
    double whoops_speed, rollers_speed;
    double jump_factor; // of the speed that lands a jump on the middle of its landing
    double double_roll; // speed at a double's lip when the skill rolls doubles (0: jumps them)
};
SkillProfile skill_profile(Skill skill);

struct LinePoint {
    double x, y, z;
    double speed; // negative while airborne
};

struct LineSlotData {
    std::vector<LinePoint> points;
    int first_time = 0; // steps to the middle gate
    int total_time = 0; // steps over both sections
};

struct LineLibrary {
    std::vector<std::vector<LineSlotData>> sections;
    double first_lap_seconds = 0;  // from the start to the first finish line
    double normal_lap_seconds = 0; // one lap of the loop
};

// The time profile of one skill along the ride: for every foot of ride distance the time
// at which it is passed, the speed and height of the frame, and whether it is in the air.
struct RideProfile {
    double step = 1;
    std::vector<double> time, speed, frame_y;
    std::vector<unsigned char> airborne;
};
RideProfile ride_profile(const Course &course, const Terrain &t, const GateLayout &gates,
                         Skill skill);

// The library of one skill.
LineLibrary line_library(const Course &course, const Terrain &t, const GateLayout &gates,
                         Skill skill);
// The library in its file format ("ct03 %d\n", ...).
std::string line_library_text(const LineLibrary &lib);

// Height of the frame body above the ground at rest on its suspension.
constexpr double kFrameRideHeight = 1.83;
