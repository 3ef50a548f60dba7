// The ride along a course: from the start line down the chute into the loop and around it
// lap after lap, measured by ride distance r (feet from the start positions). The timing
// gates are placed along it, and the robots' speed profiles and lines are taken from it.
#pragma once
#include <vector>

#include "course.h"
#include "track/gates.h"
#include "track/terrain.h"

constexpr int kStartPositions = 40;
constexpr double kStartSpacing = 3.5;      // ft between neighbouring start positions
constexpr double kStartBehindGate = 3.0;   // the gate statue stands this far ahead
constexpr double kGateSpacingTarget = 230; // ft between checkpoints (150..300 allowed)

// Where a ride distance lies: on the chute (leg 1) or the loop (leg 0), at arc length s.
struct RidePlace {
    int leg = 0;
    double s = 0;
};

// Ride distance r -> place. The chute runs from r = 0 (the start positions, s = -3) to
// its end at the join point; after that the loop repeats from s = 0.
RidePlace ride_place(const Course &course, double r);
// Ride distance of the join point (where the loop begins).
double ride_join(const Course &course);
// The centre-line point at ride distance r.
CoursePoint ride_point(const Course &course, double r);

// The timing of a course and where its gates lie.
struct GateLayout {
    GateData data;                  // start positions, checkpoints, lap lists
    std::vector<double> sequence_r; // ride distance of each sequence entry, first lap and
                                    // then two normal laps (for the robot sections)
    double lap_length = 0;          // length of a normal lap (the loop)
};

// Builds the start positions across the gate, checkpoints every 150-300 ft around the
// loop with the finish line as checkpoint 0, checkpoints along the chute for the first
// lap, and both lap lists. Heights come from t.
GateLayout gate_layout(const Course &course, const Terrain &t);
