#include "terrain_gen.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// Which point of a leg a sample is nearest to, measured as the distance beyond the riding
// edge on that side.
struct Nearest {
    float dist = 1e30f; // distance to the centre line
    float e = 1e30f;    // distance beyond the riding edge (negative inside)
    float lat = 0;      // signed lateral offset, positive to the right of the centre line
    int segment = -1;   // segment index (point index of its start)
    float t = 0;        // position along the segment, 0..1
};

// For every sample within reach of the leg, the nearest segment. Within one leg "nearest"
// is by distance to the centre line, which changes continuously across the ground (the
// edge distance would jump where the riding width changes).
void raster_leg(const CourseLeg &leg, int side, double spacing, double blend,
                std::vector<Nearest> &out) {
    out.assign(std::size_t(side) * side, Nearest{});
    const std::vector<CoursePoint> &p = leg.points;
    int n = int(p.size());
    int segments = leg.closed ? n : n - 1;
    for (int i = 0; i < segments; ++i) {
        const CoursePoint &a = p[i];
        const CoursePoint &b = p[(i + 1) % n];
        double reach = std::max({a.edge_left, a.edge_right, b.edge_left, b.edge_right}) + blend + 2;
        double x0 = std::min(a.x, b.x) - reach, x1 = std::max(a.x, b.x) + reach;
        double z0 = std::min(a.z, b.z) - reach, z1 = std::max(a.z, b.z) + reach;
        int i0 = std::max(0, int(std::floor(x0 / spacing)));
        int i1 = std::min(side - 1, int(std::ceil(x1 / spacing)));
        int j0 = std::max(0, int(std::floor(z0 / spacing)));
        int j1 = std::min(side - 1, int(std::ceil(z1 / spacing)));
        double dx = b.x - a.x, dz = b.z - a.z;
        double len2 = dx * dx + dz * dz;
        double reach2 = reach * reach;
        for (int j = j0; j <= j1; ++j) {
            double qz = j * spacing;
            for (int k = i0; k <= i1; ++k) {
                double qx = k * spacing;
                // Beyond an open end the leg is rounded: the distance to its end point.
                double t = std::clamp(((qx - a.x) * dx + (qz - a.z) * dz) / len2, 0.0, 1.0);
                double fx = a.x + dx * t, fz = a.z + dz * t;
                double ox = qx - fx, oz = qz - fz;
                double dist2 = ox * ox + oz * oz;
                Nearest &best = out[std::size_t(j) * side + k];
                if (dist2 > reach2 || dist2 >= double(best.dist) * best.dist) continue;
                double dist = std::sqrt(dist2);
                double tx = a.tx + (b.tx - a.tx) * t, tz = a.tz + (b.tz - a.tz) * t;
                double lat = ox * -tz + oz * tx; // positive to the right of the tangent
                double el = a.edge_left + (b.edge_left - a.edge_left) * t;
                double er = a.edge_right + (b.edge_right - a.edge_right) * t;
                double edge = lat < 0 ? el : er;
                double e = dist - edge;
                best.dist = float(dist);
                best.e = float(e);
                best.lat = float(lat);
                best.segment = i;
                best.t = float(t);
            }
        }
    }
}

CoursePoint point_on(const CourseLeg &leg, const Nearest &nr) {
    int n = int(leg.points.size());
    const CoursePoint &a = leg.points[nr.segment];
    const CoursePoint &b = leg.points[(nr.segment + 1) % n];
    double t = nr.t;
    CoursePoint c = a;
    auto mix = [t](double u, double v) { return u + (v - u) * t; };
    c.x = mix(a.x, b.x);
    c.z = mix(a.z, b.z);
    c.curvature = mix(a.curvature, b.curvature);
    c.edge_left = mix(a.edge_left, b.edge_left);
    c.edge_right = mix(a.edge_right, b.edge_right);
    c.base = mix(a.base, b.base);
    c.feature = mix(a.feature, b.feature);
    c.berm = mix(a.berm, b.berm);
    c.surface = t < 0.5 ? a.surface : b.surface;
    return c;
}

// Course height across the riding surface: flat, with the berm rising towards the outside
// edge of a turn (a quadratic bowl, steepest at the lip). Beyond the edge the edge value.
double course_height(const CoursePoint &p, double lat) {
    double h = p.base + p.feature;
    if (p.berm != 0) {
        // A positive berm is on the left (negative lat): the outside of a right turn.
        double out = p.berm > 0 ? -lat : lat;
        double edge = p.berm > 0 ? p.edge_left : p.edge_right;
        double u = std::clamp(out / edge, 0.0, 1.0);
        h += std::fabs(p.berm) * u * u;
    }
    return h;
}

double corridor_weight(double e, double blend) {
    if (e <= 0) return 1.0;
    return 1.0 - smooth01(e / blend);
}

// Bilinear look-up of a per-sample field at a world point.
double field_at(const std::vector<float> &f, int side, double spacing, double x, double z) {
    double fx = std::clamp(x / spacing, 0.0, double(side - 1));
    double fz = std::clamp(z / spacing, 0.0, double(side - 1));
    int i = std::min(int(fx), side - 2), j = std::min(int(fz), side - 2);
    double u = fx - i, v = fz - j;
    auto at = [&](int a, int b) { return double(f[std::size_t(b) * side + a]); };
    return (at(i, j) * (1 - u) + at(i + 1, j) * u) * (1 - v) +
           (at(i, j + 1) * (1 - u) + at(i + 1, j + 1) * u) * v;
}

// Moving average over +-half points, wrapping.
std::vector<double> smooth_closed(const std::vector<double> &v, int half) {
    int n = int(v.size());
    std::vector<double> out(n);
    double sum = 0;
    for (int k = -half; k <= half; ++k) sum += v[((k % n) + n) % n];
    for (int i = 0; i < n; ++i) {
        out[i] = sum / (2 * half + 1);
        sum += v[(i + half + 1) % n] - v[((i - half) % n + n) % n];
    }
    return out;
}

// Plateau weight from the distance beyond the chute's edge: the start area is level.
double plateau_weight(double e_chute) {
    return 1.0 - smooth01((e_chute - 20.0) / 160.0);
}

} // namespace

void shading_of(const Lighting &light, const double normal[3], double lit, std::uint8_t rgb[3]) {
    double L[3] = {light.sun[0], light.sun[1], light.sun[2]};
    double len = std::sqrt(L[0] * L[0] + L[1] * L[1] + L[2] * L[2]);
    for (double &c : L) c /= len;
    double d = std::max(0.0, normal[0] * L[0] + normal[1] * L[1] + normal[2] * L[2]) * lit;
    for (int c = 0; c < 3; ++c) {
        double v = (light.ambient[c] + light.sun_color[c] * d) * 127.5;
        rgb[c] = std::uint8_t(std::clamp(std::lround(v), 0L, 255L));
    }
}

bool ground_build(const GroundSpec &spec, Course &course, Terrain &t, GroundInfo &info,
                  std::string &error) {
    if (!spec.natural || !spec.offcourse) {
        error = "ground spec without natural ground or surfaces";
        return false;
    }
    const double sp = spec.spacing;
    terrain_init_flat(t, spec.size_exp, spec.spacing, 0.0f);
    const int side = t.side;
    const std::size_t samples = std::size_t(side) * side;
    const double blend = course.design.blend;

    // Distances to both legs.
    std::vector<Nearest> near_loop, near_chute, near_area;
    raster_leg(course.loop, side, sp, blend, near_loop);
    raster_leg(course.chute, side, sp, blend, near_chute);
    // The level start area reaches far beyond the chute; a coarser copy of its centre
    // line is exact enough for that.
    CourseLeg coarse = course.chute;
    coarse.points.clear();
    for (std::size_t i = 0; i < course.chute.points.size(); i += 8)
        coarse.points.push_back(course.chute.points[i]);
    if (coarse.points.size() < 2 || coarse.points.back().s != course.chute.points.back().s)
        coarse.points.push_back(course.chute.points.back());
    raster_leg(coarse, side, sp, 200.0, near_area);
    std::vector<float> e_chute(samples);
    for (std::size_t k = 0; k < samples; ++k) e_chute[k] = near_area[k].e;

    // The level start area: the pad's height is the natural ground at the gate.
    const double pad = spec.natural(course.gate_x, course.gate_z);
    info.pad_height = pad;
    auto natural = [&](double x, double z, double ec) {
        double n = spec.natural(x, z);
        return n + plateau_weight(ec) * (pad - n);
    };

    // Graded base of the loop: the ground along the centre line, smoothed twice, level
    // where the loop runs beside the start area.
    {
        std::vector<CoursePoint> &p = course.loop.points;
        std::vector<double> b(p.size());
        std::vector<double> m(p.size());
        for (std::size_t i = 0; i < p.size(); ++i) {
            double ec = field_at(e_chute, side, sp, p[i].x, p[i].z);
            m[i] = plateau_weight(ec);
            b[i] = natural(p[i].x, p[i].z, ec);
        }
        int half = int(50.0 / course.loop.step);
        b = smooth_closed(smooth_closed(b, half), half);
        for (std::size_t i = 0; i < p.size(); ++i) p[i].base = b[i] + m[i] * (pad - b[i]);
    }
    for (CoursePoint &p : course.chute.points) p.base = pad;

    // Heights.
    info.edge_distance.assign(samples, 1e30f);
    info.leg.assign(samples, -1);
    std::vector<int> surface(samples, -1);
    for (int j = 0; j < side; ++j) {
        for (int i = 0; i < side; ++i) {
            std::size_t k = std::size_t(j) * side + i;
            double x = i * sp, z = j * sp;
            double nat = natural(x, z, e_chute[k]);
            const Nearest &nl = near_loop[k];
            const Nearest &nc = near_chute[k];
            bool use_loop = nl.segment >= 0 && (nc.segment < 0 || nl.e <= nc.e);
            const Nearest *nr = use_loop ? &nl : (nc.segment >= 0 ? &nc : nullptr);
            double h = nat;
            if (nr && nr->e < blend) {
                const CourseLeg &leg = use_loop ? course.loop : course.chute;
                CoursePoint cp = point_on(leg, *nr);
                double c = course_height(cp, nr->lat);
                h = nat + corridor_weight(nr->e, blend) * (c - nat);
                info.leg[k] = use_loop ? 0 : 1;
                if (nr->e <= 0) surface[k] = cp.surface;
            }
            if (nr) info.edge_distance[k] = nr->e;
            t.heights[k] = float(h);
        }
    }
    float lo = *std::min_element(t.heights.begin(), t.heights.end());
    float hi = *std::max_element(t.heights.begin(), t.heights.end());
    t.min_height = lo;
    t.max_height = hi;

    // Surface map: one cell covers 2 x 2 sample intervals; its centre sample decides.
    const int cells = 1 << spec.size_exp;
    for (int cz = 0; cz < cells; ++cz) {
        for (int cx = 0; cx < cells; ++cx) {
            std::size_t k = std::size_t(2 * cz + 1) * side + (2 * cx + 1);
            int s;
            float e = info.edge_distance[k];
            if (surface[k] >= 0) {
                s = surface[k];
            } else if (e < 5.0f) {
                s = course.design.loop_surface; // loose edge of the riding surface
            } else {
                s = spec.offcourse((2 * cx + 1) * sp, (2 * cz + 1) * sp);
            }
            t.tilemap[std::size_t(cz) * cells + cx] = std::uint8_t(s);
        }
    }

    // Shading from the sun, with the shadows the ground casts on itself.
    {
        double L[3] = {spec.lighting.sun[0], spec.lighting.sun[1], spec.lighting.sun[2]};
        double len = std::sqrt(L[0] * L[0] + L[1] * L[1] + L[2] * L[2]);
        for (double &c : L) c /= len;
        double horiz = std::hypot(L[0], L[2]);
        double rise = horiz > 1e-9 ? L[1] / horiz : 1e9; // ray height gain per foot
        std::vector<float> lit(samples, 1.0f);
        std::vector<float> h(t.heights.begin(), t.heights.end());
        if (horiz > 1e-9) {
            double stepx = L[0] / horiz * sp, stepz = L[2] / horiz * sp;
            for (int j = 0; j < side; ++j) {
                for (int i = 0; i < side; ++i) {
                    double x = i * sp, z = j * sp;
                    double ray = h[std::size_t(j) * side + i] + 0.05;
                    for (int s = 1; s < 4096; ++s) {
                        x += stepx;
                        z += stepz;
                        ray += rise * sp;
                        if (ray > hi || x < 0 || z < 0 || x > (side - 1) * sp ||
                            z > (side - 1) * sp)
                            break;
                        if (field_at(h, side, sp, x, z) > ray) {
                            lit[std::size_t(j) * side + i] = 0.0f;
                            break;
                        }
                    }
                }
            }
        }
        // Soften the shadow edges.
        std::vector<float> soft(samples);
        for (int j = 0; j < side; ++j) {
            for (int i = 0; i < side; ++i) {
                double sum = 0;
                int cnt = 0;
                for (int dj = -1; dj <= 1; ++dj) {
                    for (int di = -1; di <= 1; ++di) {
                        int a = i + di, b = j + dj;
                        if (a < 0 || b < 0 || a >= side || b >= side) continue;
                        sum += lit[std::size_t(b) * side + a];
                        ++cnt;
                    }
                }
                soft[std::size_t(j) * side + i] = float(sum / cnt);
            }
        }
        for (int j = 0; j < side; ++j) {
            for (int i = 0; i < side; ++i) {
                int i0 = std::max(0, i - 1), i1 = std::min(side - 1, i + 1);
                int j0 = std::max(0, j - 1), j1 = std::min(side - 1, j + 1);
                double dhx = (h[std::size_t(j) * side + i1] - h[std::size_t(j) * side + i0]) /
                             ((i1 - i0) * sp);
                double dhz = (h[std::size_t(j1) * side + i] - h[std::size_t(j0) * side + i]) /
                             ((j1 - j0) * sp);
                double n[3] = {-dhx, 1.0, -dhz};
                double nl = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]);
                for (double &c : n) c /= nl;
                std::size_t k = std::size_t(j) * side + i;
                shading_of(spec.lighting, n, 0.35 + 0.65 * soft[k], &t.shading[3 * k]);
            }
        }
    }
    return true;
}
