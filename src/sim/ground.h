// Contacts of a bike with the terrain: the tyres and the collision shapes against the
// heightfield's triangles, made as soft contact joints in the contact group each step.
//
// The tyre is treated here as a sphere of the tube radius at the rim point nearest the
// ground; the exact torus-against-triangle test replaces wheel_terrain_deepest later
// without changing the callers.
#pragma once
#include <ode/ode.h>

#include "sim/vec3.h"

struct Bike;
struct Terrain;
struct ShapeInstance;
struct WheelContact;

struct GroundHit {
    Vec3 point;  // contact point (world)
    Vec3 normal; // unit, never pointing down
    double depth = 0;
};

// Deepest contact of a sphere with the terrain triangles within its radius (the closest
// point of each triangle; the triangle's own normal for a face point). False when none
// has a positive depth.
bool sphere_terrain_deepest(const Terrain &t, Vec3 centre, double radius, GroundHit &hit);
// Deepest contact of a tyre (wheel centre, unit axle in world, rim and tube radius).
bool wheel_terrain_deepest(const Terrain &t, Vec3 centre, Vec3 axle, double rim_radius,
                           double tube_radius, GroundHit &hit);

// One wheel against the terrain: fills the wheel's contact record (depth 0 when nothing
// touches), makes its frictional soft contact joint (stiffness rising with the squash,
// feedback into the record) and adds rolling resistance. True when touching.
bool wheel_ground_contact(const Terrain &t, WheelContact &wheel, double friction_factor);
// Every sphere of a shape (moved to world with the body) against the terrain, each
// touching sphere giving a soft contact joint (k 2500, c 250, its friction). True when
// any touched. Updates the instance's world centres.
bool shape_ground_contact(ShapeInstance &shape, dBodyID body, const Terrain &t);

// This step's terrain contacts of both wheels and the five body shapes (each only if it
// loaded); sets touched_down when a shape touched. True when any part touches.
bool bike_collide_ground(Bike *bike);
// bike_collide_ground, then the scenery objects near the bike.
void bike_collide_world(Bike *bike);
