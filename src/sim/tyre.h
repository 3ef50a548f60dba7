// Contact geometry of a tyre: a torus (the rim circle of radius R around the wheel centre
// in the plane perpendicular to the axle, and everything within the tube radius r of it)
// against one triangle, and the small circle helpers the other contact code shares.
#pragma once
#include "sim/vec3.h"

// One contact found by a deepest-point query.
struct GroundHit {
    Vec3 point;  // contact point (world)
    Vec3 normal; // unit; for terrain queries never pointing down
    double depth = 0;
};

// A tyre posed in the world. The bounds are those of the whole torus.
struct TorusPose {
    Vec3 centre;
    Vec3 axle; // unit
    double rim_radius = 0, tube_radius = 0;
    Vec3 lo, hi; // axis-aligned bounds
};

// Fills the pose, its bounds and a unit axle. False when the axle has no direction or a
// value is not finite or a radius is not positive.
bool torus_pose(Vec3 centre, Vec3 axle, double rim_radius, double tube_radius, TorusPose &out);

// Deepest contact of the tyre with triangle (v0, v1, v2), whose normal is
// (v1 - v0) x (v2 - v0): the face below the rim point nearest the plane, the rim crossing
// the plane (through the face or an edge), the rim wholly behind the plane (depth 2R,
// straight up, when the centre lies over the triangle), and otherwise the nearest edge or
// corner. with_edges false skips that last stage (the triangle then gives no contact).
// The normal is not cleaned (see clean_ground_normal). False when the depth is not
// positive or the triangle has no area.
bool torus_triangle(const TorusPose &tyre, Vec3 v0, Vec3 v1, Vec3 v2, bool with_edges,
                    GroundHit &hit);

// The same test in two parts, for a query over many triangles: the first three stages,
// then the edge-and-corner stage, with the working values of one triangle kept between.
struct TorusTriangle {
    Vec3 V[3], E[3], k[3]; // corners, edges, outward edge normals
    Vec3 N, Nh;            // normal as the corners give it, and unit
    Vec3 m;                // wheel-plane direction pointing most directly against N
    Vec3 p1, p2;           // rim points nearest and farthest from the plane
    double d1 = 0, d2 = 0; // their signed distances from the plane
    // After the first part: the largest depth the last stage could still give, or
    // -infinity when it does not apply.
    double edge_bound = 0;
};
// Stages 1 to 3; true with a contact.
bool torus_triangle_faces(const TorusPose &tyre, Vec3 v0, Vec3 v1, Vec3 v2, TorusTriangle &tri,
                          GroundHit &hit);
// Stage 4 after torus_triangle_faces left it to do; contacts shallower than min_depth may
// be reported as none.
bool torus_triangle_edges(const TorusPose &tyre, const TorusTriangle &tri, double min_depth,
                          GroundHit &hit);

// The point of the rim circle nearest p (any rim point when p lies on the axle line).
Vec3 rim_point_nearest(Vec3 centre, Vec3 axle, double rim_radius, Vec3 p);

// Segment parameter t in [0, 1] of the point of segment (v, v + e) nearest the rim
// circle, from the stationary points of the circle-to-line distance refined by Newton's
// method from both sides of the centre's projection.
double edge_nearest_rim(Vec3 centre, Vec3 axle, double rim_radius, Vec3 v, Vec3 e);

// A found terrain normal pointing down keeps only its horizontal part, or becomes
// (0, 1, 0) when that part is shorter than 2^-5; the result is unit.
Vec3 clean_ground_normal(Vec3 n);
