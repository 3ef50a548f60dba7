// Surface types of the ground: the "tileinfo" table (and the older "texturelist"), the
// ground-texture transition codes, and the friction and rolling-resistance curves the
// tyre model reads.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct Stream;

constexpr int kMaxTileTypes = 256;
constexpr int kCurvePoints = 8;
constexpr int kRoostSlots = 4;
// Key speeds at or below this are raised to it (a key of 0 ends a curve).
constexpr float kMinKeySpeed = 9.5367431640625e-7f; // 2^-20

struct FrictionPoint {
    float coefficient;
    float key; // sliding speed; 0 ends the curve
};

struct RollResistPoint {
    float a, b;
    float key; // rolling speed; 0 ends the curve
};

// One kind of particle spray thrown up by a spinning wheel (64 bytes).
struct RoostSpec {
    int kind;    // 0 = slot off, 1 = given, 2 = given with a non-zero "splash="
    int texture; // texture handle (0 = none)
    float count, dig, slip_threshold, slow_angle, fast_angle, slow_speed, fast_speed;
    float size, grow, drag, vscale, randomize;
    std::uint8_t r, g, b, a;
    std::int8_t fade_r, fade_g, fade_b, fade_a; // colour change per simulation step
};

// Rut parameters of a surface.
struct ErodeSpec {
    float depth = 1.0f;
    float lower = 50.0f;
    float upper = 150.0f;
    float displacement = 2.0f;
    float radius = 4.0f;
    float max_slope = 0.25f;
    float off_speed = 10.0f;
    float on_speed = 15.0f;
};

struct TileType {
    int texture = 0;          // ground texture handle (0 = none)
    std::string texture_path; // the virtual path as given
    std::string name;         // file name of the texture: after the last "/", no leading "@"
    FrictionPoint friction[kCurvePoints];
    RollResistPoint roll_resist[kCurvePoints];
    RoostSpec roost[kRoostSlots];
    ErodeSpec erode;
};

struct RollResist {
    float a, b;
};

// A surface type with every default: friction 1.0 (keys 1, 0, ...), rolling resistance
// (5, 15) (keys 1, 0, ...), roost slots off, default erosion.
TileType tile_type_default();
// The default roost slot (kind 0); texture is the handle of "@roost.png" when a texture
// loader is installed (track/hooks.h), else 0.
RoostSpec roost_spec_default();

// Reads "tileinfo": statements line by line, one type per "addtile", at most 256 types;
// statements after the last "addtile" are discarded. Problems that do not stop the read
// are reported as "tileinfo warning: ..." message lines and the statement is skipped.
// Appends the types to tiles (which is cleared first). Never fails on content.
void tileinfo_read(Stream *s, std::vector<TileType> &tiles);
// Reads the older "texturelist": one type per non-empty line, at most 256.
void texturelist_read(Stream *s, std::vector<TileType> &tiles);

// Ground-texture transition code of each type from its name ("base-other-bits"):
// i * 65536 + j * 256 + bits, or t * 65536 + t * 256 for a plain type t.
std::vector<int> surface_transition_codes(const std::vector<TileType> &tiles);

// Friction coefficient at a sliding speed: the first key that is 0 or above the speed
// (compared squared) selects the interval; linear in the squared speed between points.
// Never NaN for finite curve values, even with equal keys.
float surface_friction(const TileType &tile, float sliding_speed);
// Rolling-resistance pair at a rolling speed: same search without squaring, linear in
// the speed; the nearest given pair outside the curve.
RollResist surface_roll_resist(const TileType &tile, float rolling_speed);
