// Contacts of a bike with the terrain: the tyres (tori) and the collision shapes
// (spheres) against the heightfield's triangles, made as soft contact joints in the
// contact group each step, with the surface's friction and rolling resistance.
//
// The terrain is the triangle mesh of the height rule: sample (i, j) at (i * spacing,
// height, j * spacing), each cell split along its checkerboard diagonal, sample indices
// clamped to the square (so the ground continues flat beyond its border). A query tests
// every triangle of the cells its reach covers and keeps the deepest contact; triangles
// whose bounds cannot touch the body are skipped, which changes no result.
#pragma once
#include <ode/ode.h>

#include "sim/tyre.h"
#include "sim/vec3.h"

// A soft contact joint description at point with the given normal (pointing from the
// second body towards the first), depth, friction and spring/damper coefficients.
dContact soft_contact(Vec3 point, Vec3 normal, double depth, double mu, double k, double c);

struct Bike;
struct Terrain;
struct ShapeInstance;
struct WheelContact;

// Deepest contact of a sphere with the terrain triangles within its radius: the closest
// point of each triangle, or for a centre over or under a face the face point straight
// along its normal (a centre under the ground is pushed out upward, however deep, so that
// a hard hit does not tunnel through). False when none has a positive depth.
bool sphere_terrain_deepest(const Terrain &t, Vec3 centre, double radius, GroundHit &hit);
// Deepest contact of a tyre (wheel centre, axle in world, rim and tube radius) with the
// terrain triangles within rim + tube radius (see torus_triangle; with_edges false leaves
// out the edge-and-corner stage, as the roost emission of recorded riders does).
bool torus_terrain_deepest(const Terrain &t, Vec3 centre, Vec3 axle, double rim_radius,
                           double tube_radius, GroundHit &hit, bool with_edges = true);

// Soft contact stiffness (lb/ft) and damping (lb*s/ft) of a tyre squashed by depth:
// t = min(1, depth / tube), k = 1000 + 24000 t^3, c = 200 + 2300 t^3.
void tyre_stiffness(double depth, double tube_radius, double &k, double &c);

// One wheel against the terrain: fills the wheel's contact record (depth 0 and a zero
// force record when nothing touches; point and normal then keep their last values),
// makes its frictional soft contact joint (friction by the surface and sliding speed
// times friction_factor, friction direction 2 along the slide, feedback into the
// record) and adds rolling resistance. True when touching.
bool wheel_ground_contact(const Terrain &t, WheelContact &wheel, double friction_factor);
// The instance's world sphere centres from the body's pose.
void shape_instance_update(ShapeInstance &shape, dBodyID body);
// Every sphere of a shape (moved to world with the body) against the terrain, each
// touching sphere giving a soft contact joint (k 2500, c 250, its friction). True when
// any touched. Updates the instance's world centres.
bool shape_ground_contact(ShapeInstance &shape, dBodyID body, const Terrain &t);

// Grip factor of arcade physics: 1 - 0.375 clamp(4 |lean| / pi, 0, 1); 1 without it.
double bike_friction_factor(const Bike *bike);

// This step's terrain contacts of both wheels and the five body shapes (each only if it
// loaded), then the rider's ground crash check when the rider shape touched; sets
// touched_down when a shape touched. True when any part touches.
bool bike_collide_ground(Bike *bike);
// bike_collide_ground, then the scenery objects near the bike (sim/contact.h).
void bike_collide_world(Bike *bike);
