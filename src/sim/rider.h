// The rider: one torso body held above the frame by the rider joint and two soft springs
// (sitting, standing and leaning), the foot-down and stopping helpers, backing up on foot,
// the four ways a rider is thrown off, the fall (rider tied loosely to the bike by ropes,
// feet as free points) and the recovery onto the bike.
//
// bike_step calls, in this order: rider_crash_check_motion, rider_fall_update,
// rider_stop_update, rider_coupling_update, (after the engine) rider_dab_update,
// rider_feet_update. The contact code calls rider_crash_check_ground and
// rider_crash_check_scenery when the rider's shape touched something.
#pragma once
#include <ode/ode.h>

#include "sim/vec3.h"

struct Bike;

constexpr int kKnockoutEntries = 16;
// Steps every fall keeps the rider down at least (4 s), while the torso is nearly still.
constexpr int kFallSteps = 512;
// The largest extra knockout time accepted from a race server: one minute.
constexpr int kKnockoutMaxExtra = 128 * 60;

// ---- Knockout times (process-wide; all 0 at start-up) ----

// Sets the extra steps a rider stays down after its 1st .. 16th fall; missing entries
// (count < 16) become 0. Each value is clamped to 0..kKnockoutMaxExtra: a server cannot
// keep riders down for ever or shorten the fixed 512 steps.
void rider_knockout_set(const int *values, int count);
int rider_knockout_extra(int fall_index); // index clamped to 0..15

// ---- Hooks from the layers above (race, robots) ----

struct RiderCourseHooks {
    // The course point ahead of the bike (robot path or best line); false for none, in
    // which case the centre of the rider's next checkpoint is used.
    bool (*course_point)(const Bike *bike, Vec3 *out) = nullptr;
    // The race's finish test for this rider (may set its finished flag).
    bool (*finish_test)(Bike *bike) = nullptr;
};
// Installs the hooks (copied; null members are simply not used).
void rider_course_hooks_set(const RiderCourseHooks &hooks);
// The course point ahead of the bike: the hook's, else the centre of the checkpoint of
// the rider's next gate. False when there is neither (no timing).
bool rider_course_point(const Bike *bike, Vec3 *out);

// ---- The steps ----

// Ejection (torso faster than 31 ft/s relative to the frame) and impact (torso
// acceleration over four steps, gravity removed, above 1376 ft/s^2, about 43 g) throw the
// rider off. Only while riding and with bump_timer >= 0.
void rider_crash_check_motion(Bike *bike);
// The rider shape touched the terrain: a fall when the torso is upside down and faster
// than 5 ft/s (riding, bump_timer >= 0).
void rider_crash_check_ground(Bike *bike);
// The rider shape touched a scenery object (body null for a fixed one): a fall when the
// torso moves faster than 20 ft/s relative to it (riding, bump_timer >= 0).
void rider_crash_check_scenery(Bike *bike, dBodyID object);
// Throws the rider off: rider joint detached, feet free where they stood with the torso's
// velocity, crash_timer = 512 + knockout extra, crash_count + 1, and the throttle, sit/dab,
// back-up and lean inputs dropped.
void rider_fall(Bike *bike);
// While off the bike: ropes to the bike, the countdown (only while the torso is nearly
// still), the pull back to the seat, one foot toward its peg, and re-seating at 0.
void rider_fall_update(Bike *bike);
// Back-up mode (pulses the bike backwards, steering turns it on the spot), or the
// automatic dab with the stopped hold (both brakes and a speed servo). Overrides the
// brakes and sit/dab for this step only (bike_step restores them).
void rider_stop_update(Bike *bike);
// Whether the automatic dab wants the foot down now ("Dab When Stopped" only).
bool auto_dab_wanted(const Bike *bike);
// The rider springs that hold the torso seated, standing or leaning, and the damping of
// the rider joint.
void rider_coupling_update(Bike *bike);
// Foot down: the dab pose, the finish test of a rider stopped on the line, the
// realignment toward the course, and the roll push that helps a slow bike upright.
void rider_dab_update(Bike *bike);
// Realigns a slow bike toward the course point ahead: turns it on the spot (lifting the
// wheels that touch) while the point lies behind or more than about 14 degrees off its
// heading, and returns true; nearly lined up, the turn slows and it returns false, so that
// the roll push can right the bike.
bool rider_realign(Bike *bike);
// The feet (every step, also for frozen bikes): placed by the pose while riding, free
// points under gravity held within the legs' reach during a fall; the dab pose decays.
void rider_feet_update(Bike *bike);
