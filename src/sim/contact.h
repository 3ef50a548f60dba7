// Contacts between solid parts: a bike's parts against another bike's collision shapes
// and against the scenery objects near it, built from pairs of spheres (a tyre acts as
// the sphere of its tube at the rim point nearest the other sphere), and the bump timers
// of bike-to-bike collisions.
//
// Part bits (the results of the part tests): frame 1, front wheel 2, rear wheel 4, upper
// fork 8, lower fork 16, swingarm 32, rider 64.
#pragma once
#include <vector>

#include <ode/ode.h>

#include "sim/vec3.h"

struct Bike;
struct CollisionShape;

enum ContactPartBit {
    kPartBitFrame = 1,
    kPartBitFrontWheel = 2,
    kPartBitRearWheel = 4,
    kPartBitForkUpper = 8,
    kPartBitForkLower = 16,
    kPartBitSwingarm = 32,
    kPartBitRider = 64
};

enum ContactMode {
    kContactJoint,   // a soft contact joint between the two bodies
    kContactPenalty, // a spring-damper force pushing them apart, at most 1000 lb
    kContactTestOnly // nothing is created
};

// One sphere in the world on its body (null: fixed in the world).
struct ContactSphere {
    dBodyID body = nullptr;
    Vec3 centre;
    double radius = 0;
    double friction = 0, stiffness = 0, damping = 0;
};

// Spheres a and b overlap when their centres are closer than the radii's sum. Then
// depth = overlap, normal = unit(b - a), point = the middle of the overlap, and the
// smaller friction, stiffness and damping of the two. The mode decides the effect:
// a contact joint (that pushes b along the normal and a against it); or the force
// F = clamp((v_a - v_b) . normal * damping + depth * stiffness, 0, 1000) at the point,
// -F * normal on a and +F * normal on b, each only on an enabled body (a penalty never
// pulls the spheres together); or nothing. True when they overlap.
bool sphere_pair_contact(const ContactSphere &a, const ContactSphere &b, ContactMode mode);

// A collision shape posed in the world: its spheres' world centres (one per sphere), the
// body it moves with (null for a fixed object) and the point its bounding radius is
// measured from.
struct PosedShape {
    const CollisionShape *shape = nullptr;
    const Vec3 *world = nullptr;
    dBodyID body = nullptr;
    Vec3 position;
};

// One of the bike's seven shapes posed from its body's current pose (its world centres
// are updated); shape null when that shape did not load.
PosedShape bike_posed_shape(Bike *bike, int shape_index);

// Every sphere pair of two shapes whose bounding spheres overlap. True when any touched.
bool shape_pair_contact(const PosedShape &a, const PosedShape &b, ContactMode mode);
// A bike's wheel (0 front, 1 rear) against a shape: each sphere closer to the wheel
// centre than rim + tube + its radius meets the tyre as a tube sphere at the nearest rim
// point (friction 1, stiffness 25000, damping 2500). True when any touched.
bool wheel_shape_contact(Bike *bike, int wheel, const PosedShape &other, ContactMode mode);
// The bike's parts against another shape, in the order front wheel, rear wheel, frame,
// upper fork, lower fork, swingarm, rider. With back_parts_test_only the rear wheel,
// frame, swingarm and rider only test. Returns the part bits that touched.
int bike_parts_against_shape(Bike *bike, const PosedShape &other, ContactMode mode,
                             bool back_parts_test_only);

// The contacts of bike a against bike b, once per pair and step: penalty forces when
// either already had a bike contact in this step, else contact joints; a's parts against
// b's shapes (front wheel, rear wheel, frame, upper fork, lower fork, swingarm, rider);
// with test_only the pairs of two back parts are only tested. When anything touched, the
// bump timers (a rider who ran into the other raises the struck rider's timer to 256 and
// keeps a negative own timer at -640 or below; two riders who struck each other get 192
// each, each only when moving fast enough), the last-contact step, the first-contact step
// and the bikes_bumped hook. Returns a's part bits that touched. Nothing when the bikes'
// bounding spheres are apart.
int bike_collide_bikes(Bike *a, Bike *b, bool test_only);

// A scenery object as the scene layer describes it.
struct SceneryObject {
    const CollisionShape *shape = nullptr; // null: not solid
    dBodyID body = nullptr;                // null: fixed
    Vec3 position;
    double rotation[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1}; // row-major, object to world
};

struct ContactHooks {
    // Scenery object of a statue-grid index; false when there is none.
    bool (*scenery_object)(int index, SceneryObject &out) = nullptr;
    // A bike's parts (bits) touched scenery object index in this step.
    void (*scenery_touched)(int index, Bike *bike, int parts) = nullptr;
    // A bike took part in a bike-to-bike contact in this step (the robots forget their
    // picked lines).
    void (*bikes_bumped)(Bike *bike) = nullptr;
};
// Installs the hooks (copied; null members are simply not used).
void contact_hooks_install(const ContactHooks &hooks);

// The bike's parts against the scenery objects of the statue-grid cells within 6 ft of
// its frame (each object once, in ascending index order), as contact joints; the
// rider's scenery crash check when the rider shape touched one.
void bike_collide_scenery(Bike *bike);
