// The fork and the rear shock. Neither is a spring of the physics engine: every step the
// fork force and the shock torque are computed from the joint's position and speed and
// the rider's setup, and applied through the joint's motor for the next world step. The
// joint stops give the travel limits.
#pragma once

struct Bike;
struct BikeModel;

// Shock compression (ft) and motion ratio (shock travel per unit of travel fraction) at
// fraction x (0..1) of the swingarm travel: two cubic Hermite segments joined at the
// model's linkage knot, a rising-rate linkage.
struct LinkagePoint {
    double compression, ratio;
};
LinkagePoint linkage_eval(const BikeModel &m, double x);

// Damping force for a speed term v (positive when the unit extends) with the high-speed
// coefficient hs and the low-speed offset ls: -v hs shifted by -ls on rebound and +ls on
// compression, kept within a factor of 8 of -v hs (0 at zero speed).
double two_stage_damping(double v, double hs, double ls);

// Fork: coil with preload, adiabatic air spring of the oil level's air gap, two-stage
// damping, all fading in over the first 1/32 of travel; applied through the slider's
// motor (a negative total only brakes the slider). Stores the fork position and speed.
void fork_update(Bike *bike);
// Shock: coil with preload and two-stage damping through the linkage, as a torque on the
// swingarm pivot's motor, fading in like the fork. Stores the swingarm angle and rate,
// the shock compression and the motion ratio.
void shock_update(Bike *bike);
