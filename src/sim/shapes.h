// Collision shapes: sets of spheres fixed to one body, read from ".shp" text files and
// cached by name for the whole run.
//
// File: "%d" sphere count n, then n times the centre "%f %f %f" (body coordinates) and
// "%f %f %f %f": radius, friction coefficient, stiffness (lb/ft), damping (lb*s/ft).
#pragma once
#include <string>
#include <vector>

constexpr int kShapeMaxSpheres = 4096;

struct ShapeSphere {
    float centre[3]; // body coordinates
    float radius;
    float friction;
    float stiffness;
    float damping;
};

struct CollisionShape {
    std::string name; // the virtual path it was loaded from
    std::vector<ShapeSphere> spheres;
    float bounding_radius = 0; // largest |centre| + radius
};

// Reads a shape from text. Rejects, with a message naming `name`, a count that is not
// 1..kShapeMaxSpheres or larger than the text can hold, a missing or non-finite value, a
// radius <= 0, a negative friction, stiffness or damping, and a sphere whose stiffness
// and damping are both 0. Returns false (and leaves out untouched) on rejection.
bool shape_parse(const char *name, const char *text, std::size_t length, CollisionShape &out);
// The cached shape of a virtual path, loading it on first request; null when the file
// does not open (logged) or is rejected (a message). A failed name is not tried again
// until shapes_free_all.
const CollisionShape *shape_load(const char *path);
// Forgets every cached shape (shutdown and tests). Pointers handed out become invalid.
void shapes_free_all();
