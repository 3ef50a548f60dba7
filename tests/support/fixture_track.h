// Small generated tracks for tests: an in-memory terrain, and a complete track folder
// written through the program's own writers into the virtual file system's home folder
// (use it inside a VfsSandbox).
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "track/terrain.h"

struct FixtureTrack {
    std::string dir = "tracks/fixture"; // track folder (virtual path without "@")
    int size_exp = 7;
    float spacing = 2.0f;
    // Height of sample (i, j); null gives fixture_hills.
    std::function<float(int i, int j)> height;
    bool inline_heights = true; // heights in "terrain.hf", else in "terrain.png"
    int tile_types = 2;         // default surface types named "type<k>.png"
    std::function<std::uint8_t(int cx, int cz)> tile; // tilemap; null gives 0
    std::string timing_gates;                         // written when not empty
    bool has_desc = false;
    std::string desc; // content of "desc"
};

// Gentle non-planar hills with a little sample-to-sample roughness.
float fixture_hills(int i, int j);

// The terrain a fixture describes: heights, tile_types surface types, tilemap, neutral
// shading, no shadows.
Terrain fixture_terrain(const FixtureTrack &track);
// Writes the fixture's track folder ("terrain.hf" [+ "terrain.png"], shading, shadows,
// "tileinfo", "tilemap", "decals", and "timing_gates"/"desc" when given). Success.
bool write_fixture_track(const FixtureTrack &track);

// "timing_gates" text for a round course centred at (cx, cz): checkpoints 0..3 at
// angles 0, 90, 180 and 270 degrees on a circle of the given radius, facing the direction
// of increasing angle (x = cx + r cos a, z = cz + r sin a), each with a zone of
// gate_radius; both laps are "1 2 3 0"; one start position at 10 degrees.
std::string fixture_round_course(float cx, float cz, float radius, float gate_radius);
