// Ruts dug by the tyres: each bike simulated on this computer keeps a ring of pending
// rut points. Wheels in ground contact push points; every step a few are worked off,
// moving soil from the point to a spot behind the push.
#pragma once
#include "track/terrain.h"

constexpr int kRutRingSize = 1024;
constexpr int kRutPointsPerStep = 4;
// Points closer than this (horizontally) to the bike's main body wait: the ground under
// the bike does not change while its wheels are on it.
constexpr double kRutKeepAway = 10.0;

struct RutPoint {
    float x, z;   // contact point
    float fx, fz; // horizontal push (contact force scaled by the speed factor)
};

struct RutRing {
    RutPoint points[kRutRingSize];
    int first = 0; // oldest point
    int count = 0;
};

void rut_ring_clear(RutRing &ring);

// One wheel in ground contact at (x, z) with the given wheel speed and horizontal contact
// force: scales the force by clamp((speed - off_speed) / (on_speed - off_speed), 0, 1) of
// the surface there and appends the point when the push exceeds the surface's lower
// bound and 2^-5 and the ring has room. Returns whether a point was added.
bool rut_record(RutRing &ring, const Terrain &t, double x, double z, double wheel_speed,
                double force_x, double force_z);

// Works off at most 4 of the oldest points, stopping at one within 10 units of the body
// at (body_x, body_z). For each: the soil moves by erode * 2^-11 * depth from the point to
// the spot displacement * clamp((F - lower) / (upper - lower), 0, 1) behind the push,
// unless that spot lies higher than the slope limit allows. erode is the "--erode" value
// (0..100); nothing happens at 0. Returns the number of points removed.
int rut_work(RutRing &ring, Terrain &t, double body_x, double body_z, double erode);
