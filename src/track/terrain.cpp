#include "track/terrain.h"

#include "track/hooks.h"

#include <algorithm>
#include <cmath>

namespace {

Terrain g_terrain;

// The triangle of the height rule under a point: corner A, neighbour B (same row as A)
// and C (A's column, the other row), with the weights of B and C.
struct Triangle {
    int ai, aj, bi, bj, ci, cj;
    double w, s;
};

// A coordinate in sample units, limited to [-1, limit] so that the cell index is always a
// safe integer. Far outside the square every used index clamps to the border anyway, so
// the limit does not change the answer; NaN maps to -1 (the first border cell).
inline double sample_coord(double world, double spacing, double limit) {
    double f = world / spacing;
    if (!(f >= -1.0)) return -1.0;
    if (f > limit) return limit;
    return f;
}

// floor() of a value already limited to [-1, side]: an integer cast and a correction,
// cheaper than the library call.
inline int floor_limited(double f) {
    int i = int(f);
    return f < double(i) ? i - 1 : i;
}

// Written with selects rather than branches: which triangle a point falls in is as good
// as random, and mispredicted branches would cost more than the whole computation.
inline void locate(const Terrain &t, double x, double z, Triangle &tri) {
    double limit = double(t.side);
    double fx = sample_coord(x, t.spacing, limit);
    double fz = sample_coord(z, t.spacing, limit);
    int i = floor_limited(fx), j = floor_limited(fz);
    double u = fx - i, v = fz - j;
    bool odd = ((i ^ j) & 1) != 0;
    // First triangle: corner A, B beside it in row j, C above A in row j + 1.
    int a = odd ? i : i + 1;
    int b = odd ? i + 1 : i;
    double w = odd ? u : 1.0 - u;
    // The other triangle when w + s > 1 (a point on the diagonal stays in the first).
    bool other = w + v > 1.0;
    tri.ai = other ? b : a;
    tri.bi = other ? a : b;
    tri.ci = tri.ai;
    tri.aj = tri.bj = other ? j + 1 : j;
    tri.cj = other ? j : j + 1;
    tri.w = other ? 1.0 - w : w;
    tri.s = other ? 1.0 - v : v;
}

inline int clamp_index(int i, int side) {
    return i < 0 ? 0 : (i >= side ? side - 1 : i);
}

inline double sample(const Terrain &t, int i, int j) {
    return t.heights[std::size_t(clamp_index(i, t.side)) +
                     std::size_t(t.side) * std::size_t(clamp_index(j, t.side))];
}

// The three corner heights of a triangle; the clamping is skipped inside the square.
inline void corners(const Terrain &t, const Triangle &tri, double &ha, double &hb, double &hc) {
    int lo_i = std::min(tri.ai, tri.bi), lo_j = std::min(tri.aj, tri.cj);
    if (lo_i >= 0 && lo_j >= 0 && lo_i + 1 < t.side && lo_j + 1 < t.side) {
        const float *h = t.heights.data();
        std::size_t side = std::size_t(t.side);
        ha = h[std::size_t(tri.ai) + side * std::size_t(tri.aj)];
        hb = h[std::size_t(tri.bi) + side * std::size_t(tri.bj)];
        hc = h[std::size_t(tri.ci) + side * std::size_t(tri.cj)];
        return;
    }
    ha = sample(t, tri.ai, tri.aj);
    hb = sample(t, tri.bi, tri.bj);
    hc = sample(t, tri.ci, tri.cj);
}

const TileType &default_tile() {
    static const TileType tile = tile_type_default();
    return tile;
}

} // namespace

Terrain &terrain() {
    return g_terrain;
}

void terrain_clear(Terrain &t) {
    t = Terrain();
}

void terrain_init_flat(Terrain &t, int size_exp, float spacing, float height) {
    terrain_clear(t);
    t.size_exp = size_exp;
    t.side = (1 << (size_exp + 1)) + 1;
    t.spacing = spacing;
    t.extent = spacing * float(1 << (size_exp + 1));
    t.min_height = t.max_height = height;
    std::size_t samples = std::size_t(t.side) * std::size_t(t.side);
    t.heights.assign(samples, height);
    t.tilemap.assign(std::size_t(1) << (2 * size_exp), 0);
    t.tiles.assign(1, tile_type_default());
    t.tile_codes = surface_transition_codes(t.tiles);
    t.shading.assign(samples * 3, 128);
    t.shadows.assign(samples, 0);
}

double terrain_height(const Terrain &t, double x, double z) {
    if (t.side == 0) return 0.0;
    Triangle tri;
    locate(t, x, z, tri);
    double ha, hb, hc;
    corners(t, tri, ha, hb, hc);
    return ha + tri.w * (hb - ha) + tri.s * (hc - ha);
}

TerrainVector terrain_normal(const Terrain &t, double x, double z) {
    if (t.side == 0) return {0.0, 1.0, 0.0};
    Triangle tri;
    locate(t, x, z, tri);
    double sp = t.spacing;
    double ha, hb, hc;
    corners(t, tri, ha, hb, hc);
    double e1x = (tri.bi - tri.ai) * sp, e1y = hb - ha;
    double e1z = (tri.bj - tri.aj) * sp;
    double e2x = (tri.ci - tri.ai) * sp, e2y = hc - ha;
    double e2z = (tri.cj - tri.aj) * sp;
    TerrainVector n = {e1y * e2z - e1z * e2y, e1z * e2x - e1x * e2z, e1x * e2y - e1y * e2x};
    if (n.y < 0) n = {-n.x, -n.y, -n.z};
    return n;
}

int terrain_tile(const Terrain &t, double x, double z) {
    if (t.tilemap.empty()) return 0;
    double cells = double(1 << t.size_exp);
    double cx = x * 0.5 / t.spacing, cz = z * 0.5 / t.spacing;
    if (!(cx >= 0.0)) cx = 0.0;
    if (cx > cells - 1.0) cx = cells - 1.0;
    if (!(cz >= 0.0)) cz = 0.0;
    if (cz > cells - 1.0) cz = cells - 1.0;
    return t.tilemap[std::size_t(cx) + (std::size_t(1) << t.size_exp) * std::size_t(cz)];
}

double terrain_height(double x, double z) {
    return terrain_height(g_terrain, x, z);
}
TerrainVector terrain_normal(double x, double z) {
    return terrain_normal(g_terrain, x, z);
}
int terrain_tile(double x, double z) {
    return terrain_tile(g_terrain, x, z);
}

const TileType &terrain_tile_type(int tile) {
    const std::vector<TileType> &tiles = g_terrain.tiles;
    if (tiles.empty()) return default_tile();
    if (tile < 0) tile = 0;
    if (tile >= int(tiles.size())) tile = int(tiles.size()) - 1;
    return tiles[std::size_t(tile)];
}

float surface_friction(int tile, float sliding_speed) {
    return surface_friction(terrain_tile_type(tile), sliding_speed);
}

RollResist surface_roll_resist(int tile, float rolling_speed) {
    return surface_roll_resist(terrain_tile_type(tile), rolling_speed);
}

void terrain_rut(Terrain &t, double x, double z, double radius, double amount) {
    if (amount == 0.0 || t.ruts_locked || t.side == 0) return;
    if (!std::isfinite(x) || !std::isfinite(z) || !std::isfinite(radius) ||
        !std::isfinite(amount)) {
        return;
    }
    // No rut moves the ground by a million feet; the limit keeps heights finite.
    amount = std::clamp(amount, -1.0e6, 1.0e6);
    double sp = t.spacing;
    // A radius wider than the whole square changes nothing more than the square itself.
    double r = std::min(radius / sp, double(2 * t.side));
    if (!(r > 0.0)) r = 0.0;
    double px = x / sp, pz = z / sp;
    int m = 2 * int(std::ceil(r));
    double limit = 2.0 * t.side;
    double ci_f = std::floor(std::clamp(px, -limit, limit));
    double cj_f = std::floor(std::clamp(pz, -limit, limit));
    int ci = int(ci_f), cj = int(cj_f);
    int i0 = std::max(ci - m / 2 + 1, 0), i1 = std::min(ci + m / 2, t.side - 1);
    int j0 = std::max(cj - m / 2 + 1, 0), j1 = std::min(cj + m / 2, t.side - 1);
    bool changed = false;
    for (int j = j0; j <= j1; j++) {
        for (int i = i0; i <= i1; i++) {
            double dx = i - px, dz = j - pz;
            double d = std::sqrt(dx * dx + dz * dz);
            if (d > r) continue;
            double u = r > 0.0 ? d / r : 0.0;
            double weight = 2.0 * u * u * u - 3.0 * u * u + 1.0;
            float &h = t.heights[std::size_t(i) + std::size_t(t.side) * std::size_t(j)];
            h = float(h + amount * weight);
            if (h > t.max_height) t.max_height = h;
            if (h < t.min_height) t.min_height = h;
            changed = true;
        }
    }
    if (changed) {
        t.modified = 1;
        const TrackHooks &hooks = track_hooks();
        if (hooks.terrain_changed) hooks.terrain_changed(t, i0, j0, i1, j1);
    }
    t.rut_count++;
}

void terrain_rut(double x, double z, double radius, double amount) {
    terrain_rut(g_terrain, x, z, radius, amount);
}
