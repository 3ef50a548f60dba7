#include "track/ruts.h"

#include <cmath>

namespace {

const ErodeSpec &erode_at(const Terrain &t, double x, double z) {
    static const ErodeSpec defaults;
    if (t.tiles.empty()) return defaults;
    int tile = terrain_tile(t, x, z);
    if (tile >= int(t.tiles.size())) tile = int(t.tiles.size()) - 1;
    return t.tiles[std::size_t(tile)].erode;
}

// clamp((v - lo) / (hi - lo), 0, 1); with hi == lo a step at hi instead of a division by 0.
double ramp(double v, double lo, double hi) {
    double span = hi - lo;
    double r = span != 0.0 ? (v - lo) / span : (v >= hi ? 1.0 : 0.0);
    if (!(r >= 0.0)) return 0.0;
    return r > 1.0 ? 1.0 : r;
}

} // namespace

void rut_ring_clear(RutRing &ring) {
    ring.first = 0;
    ring.count = 0;
}

bool rut_record(RutRing &ring, const Terrain &t, double x, double z, double wheel_speed,
                double force_x, double force_z) {
    if (!std::isfinite(x) || !std::isfinite(z)) return false;
    const ErodeSpec &e = erode_at(t, x, z);
    double q = ramp(std::fabs(wheel_speed), e.off_speed, e.on_speed);
    double fx = q * force_x, fz = q * force_z;
    double f2 = fx * fx + fz * fz;
    if (!(std::sqrt(f2) > e.lower) || !(f2 > 1.0 / 1024.0) || !std::isfinite(f2)) return false;
    if (ring.count >= kRutRingSize) return false;
    RutPoint &p = ring.points[(ring.first + ring.count) % kRutRingSize];
    p = {float(x), float(z), float(fx), float(fz)};
    ring.count++;
    return true;
}

int rut_work(RutRing &ring, Terrain &t, double body_x, double body_z, double erode) {
    if (!(erode > 0.0)) return 0;
    int removed = 0;
    while (removed < kRutPointsPerStep && ring.count > 0) {
        const RutPoint p = ring.points[ring.first];
        double dx = p.x - body_x, dz = p.z - body_z;
        if (dx * dx + dz * dz <= kRutKeepAway * kRutKeepAway) break;
        ring.first = (ring.first + 1) % kRutRingSize;
        ring.count--;
        removed++;
        const ErodeSpec &e = erode_at(t, p.x, p.z);
        double f = std::sqrt(double(p.fx) * p.fx + double(p.fz) * p.fz);
        if (!(f > 0.0)) continue;
        double g = ramp(f, e.lower, e.upper) * e.displacement;
        double x2 = p.x - p.fx / f * g, z2 = p.z - p.fz / f * g;
        if (terrain_height(t, x2, z2) - terrain_height(t, p.x, p.z) <= g * e.max_slope) {
            double k = erode * (1.0 / 2048.0) * e.depth;
            terrain_rut(t, p.x, p.z, e.radius, -k);
            terrain_rut(t, x2, z2, e.radius, k);
        }
    }
    return removed;
}
