// The ground of the loaded track: a square heightfield with a map of surface types, the
// three queries every subsystem asks of it (height, normal, surface type), and ruts.
//
// Height sample (i, j) lies at world (i * spacing, height, j * spacing); i runs along x,
// j along z. Each square cell is split into two triangles along a diagonal that
// alternates like a checkerboard; height, normal and every consumer use that one rule.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "track/ripemd160.h"
#include "track/surfaces.h"

// Bounds of the size exponent n of a track that can be drawn and ridden.
constexpr int kTerrainMinSizeExp = 7;
constexpr int kTerrainMaxSizeExp = 11;

// A ground decal as read from "decals"; its textures belong to the drawing state.
struct Decal {
    float x, z;          // world position
    float angle;         // radians
    float size;          // world units
    float aspect;        // width / height
    std::string texture; // texture name
};

struct Terrain {
    int size_exp = 0;        // n: the tilemap is 2^n x 2^n cells
    int side = 0;            // samples per side, 2^(n+1) + 1; 0 = no terrain
    float spacing = 1.0f;    // distance between neighbouring samples
    float extent = 0.0f;     // spacing * 2^(n+1)
    float max_height = 0.0f; // start as the header's; widened by ruts
    float min_height = 0.0f;
    std::vector<float> heights;        // side * side, index i + side * j
    std::vector<std::uint8_t> tilemap; // 4^n, index cx + 2^n * cz
    std::vector<TileType> tiles;       // at least one type once loaded
    std::vector<int> tile_codes;       // one per type (ground-texture transitions)
    std::vector<std::uint8_t> shading; // RGB, side * side, at the scale of "shadingx2.ppm"
    std::vector<std::uint8_t> shadows; // side * side darkness (0 = none)
    std::vector<Decal> decals;
    int ground_method = 0;    // ground-texture method the terrain was loaded for
    Digest height_digest;     // RIPEMD-160 of the 16-bit samples (low byte first)
    bool ruts_locked = false; // set for multiplayer races: no ruts applied
    int modified = 0;         // non-zero once a rut changed the ground
    int rut_count = 0;        // ruts applied
    void *render = nullptr;   // drawing state owned by the terrain renderer
};

struct TerrainVector {
    double x, y, z;
};

// The terrain of the loaded track (side 0 while none is loaded).
Terrain &terrain();

// Sets up t as a flat terrain of size exponent n (any n >= 1), spacing and height,
// one default surface type, tilemap 0, neutral shading, no shadows. For generated
// terrains (fixtures, the content generator) before their files are written.
void terrain_init_flat(Terrain &t, int size_exp, float spacing, float height);
// Releases all data of t and leaves it empty (side 0).
void terrain_clear(Terrain &t);

// Height at (x, z). Outside the square the border samples continue; NaN or infinite
// coordinates map to a border cell. O(1), no allocation; 0 for an empty terrain.
double terrain_height(const Terrain &t, double x, double z);
// Upward (y >= 0) normal of the triangle under (x, z): the cross product of its two
// edges from the triangle's corner, in world units, not normalised.
TerrainVector terrain_normal(const Terrain &t, double x, double z);
// Surface-type index at (x, z): the tilemap cell, clamped to the square.
int terrain_tile(const Terrain &t, double x, double z);

// The same queries on the loaded terrain.
double terrain_height(double x, double z);
TerrainVector terrain_normal(double x, double z);
int terrain_tile(double x, double z);

// Curve look-ups on the loaded terrain's surface types (tile clamped to the types).
float surface_friction(int tile, float sliding_speed);
RollResist surface_roll_resist(int tile, float rolling_speed);
// The surface type record (clamped), or a default type while no terrain is loaded.
const TileType &terrain_tile_type(int tile);

// Raises (amount > 0) or lowers (amount < 0) every sample within radius of (x, z) by
// amount * (2t^3 - 3t^2 + 1), t = distance / radius. Nothing happens for amount 0, a
// non-finite argument, or while ruts_locked is set. Only samples inside the square are
// written; max/min heights widen as needed; modified and rut_count are updated and the
// changed rectangle is handed to the terrain_changed hook.
void terrain_rut(Terrain &t, double x, double z, double radius, double amount);
void terrain_rut(double x, double z, double radius, double amount);
