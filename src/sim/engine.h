// Engine, clutch, gearbox and brakes. The engine is a flywheel of its own (one angular
// speed), driven by the model's torque curves and coupled to the rear wheel through a
// torsional spring and damper whose strength follows the clutch lever and an automatic
// clutch that opens at low engine speed. The drive torque turns the rear wheel against
// the frame. The brakes are zero-speed motors of limited torque on the axles.
#pragma once

struct Bike;

// Gear request from the controls: -1 down, +1 up, 0 re-arms. A held request shifts once;
// nothing while the rider is off the bike or for other values. Gears the model lacks
// are skipped downward.
void bike_shift(Bike *bike, int direction);
// Engine torque (lb*ft) at the current engine speed and throttle, from the closed and
// open curves (one point per 500 rpm). With the wheelie cut (stop_wheelies bit 1) a
// positive torque is 0 while only the rear wheel touches and the nose is not dropping.
double engine_torque(const Bike *bike);
// Reduction from engine to rear wheel: gear ratio x primary ratio x sprocket ratio.
double bike_drive_ratio(const Bike *bike);
// Automatic shifting (with auto_shift): every 32nd step, with the rear suspension loaded
// and the rear tyre in the air or not sliding, one gear down below downshift_rpm or up
// above upshift_rpm of the wheel's speed.
void auto_shift_update(Bike *bike);
// One step of engine and clutch: the coupling torque between the engine and the rear
// wheel (reacted on the frame), the engine speed, then the clutch phase.
void drivetrain_update(Bike *bike);
// Front and rear brake torques on the axle motors, with antilock (released while the tyre
// touches and slides faster than 2 ft/s) and the stoppie guard (stop_wheelies bit 2: no
// front brake while only the front wheel touches).
void brakes_update(Bike *bike);
// Engine speed in rpm, and the gear index (0 = first).
double bike_rpm(const Bike *bike);
int bike_gear(const Bike *bike);
