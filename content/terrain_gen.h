// Builds a track's heightfield, surface map and baked shading from its course and its
// natural ground: the course corridor is graded into the ground (features, berms, the
// level start pad) and meets the untouched ground smoothly over a blend zone.
#pragma once
#include <string>
#include <vector>

#include "course.h"
#include "track/terrain.h"

// The track's light, written to its "lighting" file and used to bake the shading.
struct Lighting {
    double sun[3] = {0.45, 0.75, 0.48}; // towards the sun (normalised where used)
    double sun_color[3] = {0.72, 0.70, 0.66};
    double ambient[3] = {0.44, 0.45, 0.49};
    double global_ambient[3] = {0.2, 0.2, 0.2};
    double fog[4] = {0.74, 0.80, 0.88, 0.0004}; // colour and density
    double near_plane = 0.25, far_plane = 5000;
};

struct GroundSpec {
    int size_exp = 9;
    float spacing = 1.5f;
    double (*natural)(double x, double z) = nullptr; // untouched ground height
    int (*offcourse)(double x, double z) = nullptr;  // surface away from the course
    Lighting lighting;
};

// What the builder knows about each height sample, for surfaces and validation.
struct GroundInfo {
    std::vector<float> edge_distance; // distance beyond the nearest riding edge (< 0 inside)
    std::vector<signed char> leg;     // 0 loop, 1 chute, -1 far from the course
    double pad_height = 0;            // height of the level start pad
};

// Grades the course into the ground: fills the course's base heights and builds t
// (heights, one surface type per Surface value, tilemap, shading). The surface types'
// friction and textures are left to the caller. False with error on a bad spec.
bool ground_build(const GroundSpec &spec, Course &course, Terrain &t, GroundInfo &info,
                  std::string &error);

// The shading value of one sample (RGB, at half intensity as "shadingx2.ppm" stores it)
// for a unit normal and a shadow factor (1 = lit, 0 = in the shadow).
void shading_of(const Lighting &light, const double normal[3], double lit, std::uint8_t rgb[3]);
