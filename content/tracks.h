// The default tracks: their designs (course, natural ground, surfaces, light), and the
// writer of a complete track folder.
#pragma once
#include <string>
#include <vector>

#include "course.h"
#include "lines.h"
#include "ride.h"
#include "terrain_gen.h"
#include "track/terrain.h"

struct TrackDesign {
    std::string dir;         // folder name, also the track identifier
    std::string long_name;   // first line of "desc"
    std::string description; // the rest of "desc"
    CourseDesign course;
    GroundSpec ground;
    bool sand_track = false; // surfaces tuned for deep sand
};

// Every track the generator makes; "rabbithill" first.
const std::vector<TrackDesign> &track_designs();

// A built track, kept for the files and for validation.
struct BuiltTrack {
    const TrackDesign *design = nullptr;
    Course course;
    Terrain terrain;
    GroundInfo ground;
    GateLayout gates;
    LineLibrary lines[3]; // novice, amateur, expert
};

// Builds a track from its design. False with error when the design is inconsistent.
bool track_build(const TrackDesign &design, BuiltTrack &out, std::string &error);

// The surface types of a track, indexed by the Surface values.
std::vector<TileType> track_tile_types(bool sand_track);

// The "lighting" file text.
std::string lighting_text(const Lighting &light);

// Writes the track folder root + design.dir: "terrain.hf" (heights inline), "tilemap",
// "tileinfo", "shadingx2.ppm" (and "shading.ppm"), "desc", "lighting", "timing_gates"
// and the three line libraries. False with error on the first write that fails.
bool track_write(const BuiltTrack &track, const std::string &root, std::string &error);
