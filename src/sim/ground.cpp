#include "sim/ground.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <utility>

#include "sim/bike.h"
#include "sim/contact.h"
#include "sim/forces.h"
#include "sim/rider.h"
#include "sim/world.h"
#include "track/terrain.h"

namespace {

// A query never looks at more than this many cells along an axis (a huge radius still
// gets a bounded patch around its centre), nor beyond this many cells from the origin.
constexpr int kMaxSpan = 64;
constexpr double kMaxCell = 1 << 24;

struct CellRange {
    int i0, i1, j0, j1; // cells [i0, i1) x [j0, j1)
};

// The cells a query with centre c and reach covers: floor((c - reach) / spacing) up to
// (not including) ceil((c + reach) / spacing) on both horizontal axes.
bool cell_range(const Terrain &t, Vec3 c, double reach, CellRange &out) {
    if (t.side < 2 || !finite(c) || !(reach > 0) || !std::isfinite(reach)) return false;
    double sp = t.spacing;
    double fx = c.x / sp, fz = c.z / sp, fr = reach / sp;
    if (!(std::fabs(fx) < kMaxCell) || !(std::fabs(fz) < kMaxCell)) return false;
    double half = kMaxSpan / 2;
    if (fr > half) fr = half;
    out.i0 = int(std::floor(fx - fr));
    out.i1 = int(std::ceil(fx + fr));
    out.j0 = int(std::floor(fz - fr));
    out.j1 = int(std::ceil(fz + fr));
    return out.i0 < out.i1 && out.j0 < out.j1;
}

inline double sample_height(const Terrain &t, int i, int j) {
    int last = t.side - 1;
    i = i < 0 ? 0 : i > last ? last : i;
    j = j < 0 ? 0 : j > last ? last : j;
    return t.heights[std::size_t(i) + std::size_t(t.side) * std::size_t(j)];
}

inline Vec3 corner(const Terrain &t, int i, int j) {
    return {i * double(t.spacing), sample_height(t, i, j), j * double(t.spacing)};
}

// Highest sample of the cells of a range (the top of every triangle in it).
double range_top(const Terrain &t, const CellRange &r) {
    double top = -INFINITY;
    for (int j = r.j0; j <= r.j1; ++j)
        for (int i = r.i0; i <= r.i1; ++i) top = std::fmax(top, sample_height(t, i, j));
    return top;
}

// Calls f(v0, v1, v2) for both triangles of every cell of the range, corners ordered so
// that (v1 - v0) x (v2 - v0) points up.
template <class F> void for_each_triangle(const Terrain &t, const CellRange &r, F &&f) {
    for (int j = r.j0; j < r.j1; ++j) {
        for (int i = r.i0; i < r.i1; ++i) {
            Vec3 p00 = corner(t, i, j), p10 = corner(t, i + 1, j);
            Vec3 p01 = corner(t, i, j + 1), p11 = corner(t, i + 1, j + 1);
            if (((i ^ j) & 1) != 0) { // diagonal from (i + 1, j) to (i, j + 1)
                f(p00, p01, p10);
                f(p11, p10, p01);
            } else { // diagonal from (i, j) to (i + 1, j + 1)
                f(p10, p00, p11);
                f(p01, p11, p00);
            }
        }
    }
}

// Closest point of triangle abc to p.
Vec3 closest_on_triangle(Vec3 p, Vec3 a, Vec3 b, Vec3 c) {
    Vec3 ab = b - a, ac = c - a, ap = p - a;
    double d1 = dot(ab, ap), d2 = dot(ac, ap);
    if (d1 <= 0 && d2 <= 0) return a;
    Vec3 bp = p - b;
    double d3 = dot(ab, bp), d4 = dot(ac, bp);
    if (d3 >= 0 && d4 <= d3) return b;
    double vc = d1 * d4 - d3 * d2;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return a + ab * (d1 / (d1 - d3));
    Vec3 cp = p - c;
    double d5 = dot(ab, cp), d6 = dot(ac, cp);
    if (d6 >= 0 && d5 <= d6) return c;
    double vb = d5 * d2 - d1 * d6;
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return a + ac * (d2 / (d2 - d6));
    double va = d3 * d6 - d5 * d4;
    if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0)
        return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
    double denom = 1.0 / (va + vb + vc);
    return a + ab * (vb * denom) + ac * (vc * denom);
}

// Sphere against a triangle whose normal (v1 - v0) x (v2 - v0) points up. A centre over
// or under the face is measured along the face normal with its sign, so a centre below
// the ground gets a depth beyond the radius and is pushed up, not through.
bool sphere_triangle(Vec3 s, double radius, Vec3 a, Vec3 b, Vec3 c, GroundHit &hit) {
    Vec3 N = cross(b - a, c - a);
    double nn = dot(N, N);
    if (!(nn > 1e-24)) return false;
    Vec3 n = N * (1.0 / std::sqrt(nn));
    bool over_face = dot(cross(b - a, s - a), N) >= 0 && dot(cross(c - b, s - b), N) >= 0 &&
                     dot(cross(a - c, s - c), N) >= 0;
    Vec3 q, normal;
    double depth;
    if (over_face) {
        double height = dot(s - a, n);
        q = s - n * height;
        depth = radius - height;
        normal = n;
    } else {
        q = closest_on_triangle(s, a, b, c);
        Vec3 d = s - q;
        double dist = length(d);
        if (!(dist > 0)) return false;
        depth = radius - dist;
        normal = d * (1.0 / dist);
    }
    if (!(depth > 0)) return false;
    hit.point = q;
    hit.normal = clean_ground_normal(normal);
    hit.depth = depth;
    return true;
}

bool usable_contact(const GroundHit &h) {
    return finite(h.point) && finite(h.normal) && std::isfinite(h.depth) && h.depth > 0;
}

void store(float *out, Vec3 v) {
    out[0] = float(v.x);
    out[1] = float(v.y);
    out[2] = float(v.z);
}

} // namespace

dContact soft_contact(Vec3 point, Vec3 normal, double depth, double mu, double k, double c) {
    SoftParams sp = soft_params(k, c);
    dContact ct{};
    ct.surface.mode = dContactSoftERP | dContactSoftCFM | dContactApprox1;
    ct.surface.mu = mu;
    ct.surface.soft_erp = sp.erp;
    ct.surface.soft_cfm = sp.cfm;
    ct.geom.pos[0] = point.x;
    ct.geom.pos[1] = point.y;
    ct.geom.pos[2] = point.z;
    ct.geom.normal[0] = normal.x;
    ct.geom.normal[1] = normal.y;
    ct.geom.normal[2] = normal.z;
    ct.geom.depth = depth;
    return ct;
}

bool sphere_terrain_deepest(const Terrain &t, Vec3 s, double radius, GroundHit &hit) {
    CellRange r;
    if (!std::isfinite(radius) || !cell_range(t, s, radius, r)) return false;
    double bottom = s.y - radius;
    bool found = false;
    for_each_triangle(t, r, [&](Vec3 a, Vec3 b, Vec3 c) {
        // A sphere wholly above a triangle cannot touch it.
        if (bottom > a.y && bottom > b.y && bottom > c.y) return;
        GroundHit h;
        if (sphere_triangle(s, radius, a, b, c, h) && (!found || h.depth > hit.depth)) {
            hit = h;
            found = true;
        }
    });
    return found;
}

bool torus_terrain_deepest(const Terrain &t, Vec3 centre, Vec3 axle, double rim_radius,
                           double tube_radius, GroundHit &hit, bool with_edges) {
    TorusPose tyre;
    CellRange r;
    if (!torus_pose(centre, axle, rim_radius, tube_radius, tyre) ||
        !cell_range(t, centre, rim_radius + tube_radius, r))
        return false;
    // The deepest contact wins, the first triangle on equal depths. The costly edge-and-
    // corner stage runs last, most promising triangle first, and only for triangles whose
    // bound could still beat the deepest contact found: the result is that of testing
    // every triangle in order.
    struct Pending {
        TorusTriangle tri;
        int index;
    };
    constexpr int kPendingMax = 32;
    static Pending pending[kPendingMax]; // scratch, kept to spare its initialisation
    int pending_count = 0;
    int index = -1, best_index = -1;
    auto better = [&](double depth, int at) {
        return best_index < 0 || depth > hit.depth || (depth == hit.depth && at < best_index);
    };
    auto take = [&](const GroundHit &h, int at) {
        if (better(h.depth, at)) {
            hit = h;
            best_index = at;
        }
    };
    auto edges = [&](const TorusTriangle &tri, int at) {
        GroundHit h;
        double floor = best_index < 0 ? 0.0 : hit.depth;
        if (torus_triangle_edges(tyre, tri, floor, h)) take(h, at);
    };
    for_each_triangle(t, r, [&](Vec3 a, Vec3 b, Vec3 c) {
        ++index;
        // Bounds that cannot touch: beside the tyre, or wholly below it. (A tyre wholly
        // below a triangle can still be pushed back up through it.)
        if (std::max({a.x, b.x, c.x}) < tyre.lo.x || std::min({a.x, b.x, c.x}) > tyre.hi.x ||
            std::max({a.z, b.z, c.z}) < tyre.lo.z || std::min({a.z, b.z, c.z}) > tyre.hi.z ||
            std::max({a.y, b.y, c.y}) < tyre.lo.y)
            return;
        bool room = pending_count < kPendingMax;
        TorusTriangle spare;
        TorusTriangle &tri = room ? pending[pending_count].tri : spare;
        GroundHit h;
        if (torus_triangle_faces(tyre, a, b, c, tri, h)) {
            take(h, index);
        } else if (with_edges && tri.edge_bound > 0) {
            if (room)
                pending[pending_count++].index = index;
            else
                edges(tri, index); // no room left: at once
        }
    });
    // Most promising first, so that the deepest contact rises early.
    std::sort(pending, pending + pending_count, [](const Pending &x, const Pending &y) {
        return x.tri.edge_bound > y.tri.edge_bound;
    });
    for (int i = 0; i < pending_count; ++i) {
        const Pending &p = pending[i];
        if (better(p.tri.edge_bound, p.index)) edges(p.tri, p.index);
    }
    if (best_index < 0) return false;
    hit.normal = clean_ground_normal(hit.normal);
    return true;
}

void tyre_stiffness(double depth, double tube_radius, double &k, double &c) {
    double s = tube_radius > 0 ? std::fmin(1.0, depth / tube_radius) : 1.0;
    if (!(s > 0)) s = 0;
    double s3 = s * s * s;
    k = 1000 + 24000 * s3;
    c = 200 + 2300 * s3;
}

bool wheel_ground_contact(const Terrain &t, WheelContact &w, double friction_factor) {
    if (!w.body) return false;
    Vec3 centre = body_position(w.body);
    Vec3 axle = normalised(body_vector_to_world(w.body, vec3(w.axle)));
    GroundHit hit;
    if (!torus_terrain_deepest(t, centre, axle, w.rim_radius, w.tube_radius, hit) ||
        !usable_contact(hit)) {
        // Nothing touches: no contact force either (the record would otherwise keep the
        // force of the last contact for the ruts, brakes and robots to read).
        w.depth = 0;
        std::memset(&w.force, 0, sizeof w.force);
        return false;
    }
    store(w.point, hit.point);
    store(w.normal, hit.normal);
    w.depth = float(hit.depth);
    Vec3 pv = body_point_velocity(w.body, hit.point);
    store(w.point_velocity, pv);

    int tile = terrain_tile(t, hit.point.x, hit.point.z);
    double mu = surface_friction(tile, float(length(pv))) * friction_factor;
    double k, c;
    tyre_stiffness(hit.depth, w.tube_radius, k, c);
    dContact ct = soft_contact(hit.point, hit.normal, hit.depth, mu, k, c);
    ct.surface.mu2 = mu;
    // Direction 1 across the slide, so that direction 2 runs along it; a tyre that does
    // not slide uses the rolling direction.
    Vec3 f = cross(hit.normal, pv);
    if (dot(f, f) < 1.0 / 1024) f = cross(hit.normal, axle);
    f = normalised(f);
    if (dot(f, f) > 0) {
        ct.surface.mode |= dContactFDir1;
        ct.fdir1[0] = f.x;
        ct.fdir1[1] = f.y;
        ct.fdir1[2] = f.z;
    }
    dJointID j = dJointCreateContact(physics_world(), physics_contact_group(), &ct);
    dJointAttach(j, w.body, nullptr);
    dJointSetFeedback(j, &w.force);

    // Rolling resistance, fading in proportion to speed below 1 ft/s.
    double squash = std::fmin(1.0, hit.depth / w.tube_radius);
    Vec3 v = body_linear_vel(w.body);
    v = v - hit.normal * dot(v, hit.normal);
    double rs = length(v);
    RollResist rr = surface_roll_resist(tile, float(rs));
    if (rs > 1) v = v * (1.0 / rs);
    body_add_force(w.body, v * -(rr.a + (rr.b - rr.a) * squash));
    return true;
}

void shape_instance_update(ShapeInstance &inst, dBodyID body) {
    if (!inst.shape || !body) return;
    const std::vector<ShapeSphere> &spheres = inst.shape->spheres;
    inst.world.resize(spheres.size());
    const dReal *p = dBodyGetPosition(body);
    const dReal *R = dBodyGetRotation(body); // rows of 4
    for (std::size_t i = 0; i < spheres.size(); ++i) {
        const float *c = spheres[i].centre;
        inst.world[i] = {p[0] + R[0] * c[0] + R[1] * c[1] + R[2] * c[2],
                         p[1] + R[4] * c[0] + R[5] * c[1] + R[6] * c[2],
                         p[2] + R[8] * c[0] + R[9] * c[1] + R[10] * c[2]};
    }
}

bool shape_ground_contact(ShapeInstance &inst, dBodyID body, const Terrain &t) {
    if (!inst.shape || !body) return false;
    shape_instance_update(inst, body);
    // The whole shape above every sample under its bounding sphere touches nothing.
    Vec3 pos = body_position(body);
    double bound = inst.shape->bounding_radius;
    CellRange r;
    if (!cell_range(t, pos, bound, r)) return false;
    if (bound < t.spacing * (kMaxSpan / 2) && pos.y - bound > range_top(t, r)) return false;
    const std::vector<ShapeSphere> &spheres = inst.shape->spheres;
    bool any = false;
    for (std::size_t i = 0; i < spheres.size(); ++i) {
        const ShapeSphere &sp = spheres[i];
        GroundHit hit;
        if (!sphere_terrain_deepest(t, inst.world[i], sp.radius, hit) || !usable_contact(hit))
            continue;
        dContact ct = soft_contact(hit.point, hit.normal, hit.depth, sp.friction, 2500, 250);
        dJointID j = dJointCreateContact(physics_world(), physics_contact_group(), &ct);
        dJointAttach(j, body, nullptr);
        any = true;
    }
    return any;
}

double bike_friction_factor(const Bike *bike) {
    if (!bike || !bike->setup.arcade || !bike->body[kBodyFrame]) return 1.0;
    double lean = std::fabs(roll_angle(bike->body[kBodyFrame]));
    double k = 4 * lean / std::numbers::pi;
    return 1 - 0.375 * (k < 0 ? 0 : k > 1 ? 1 : k);
}

bool bike_collide_ground(Bike *bike) {
    if (!bike || !bike->body[kBodyFrame]) return false;
    const Terrain &t = terrain();
    double friction_factor = bike_friction_factor(bike);
    bool touched = wheel_ground_contact(t, bike->wheels[0], friction_factor);
    touched |= wheel_ground_contact(t, bike->wheels[1], friction_factor);
    const struct {
        BikeShape shape;
        BikeBody body;
    } parts[] = {{kShapeFrame, kBodyFrame},
                 {kShapeForkUpper, kBodyForkUpper},
                 {kShapeForkLower, kBodyForkLower},
                 {kShapeSwingarm, kBodySwingarm},
                 {kShapeRider, kBodyTorso}};
    bool shape_touched = false, rider_touched = false;
    for (const auto &p : parts) {
        bool hit = shape_ground_contact(bike->shapes[p.shape], bike->body[p.body], t);
        shape_touched |= hit;
        if (p.shape == kShapeRider) rider_touched = hit;
    }
    if (shape_touched) bike->touched_down = 1;
    if (rider_touched) rider_crash_check_ground(bike);
    return touched || shape_touched;
}

void bike_collide_world(Bike *bike) {
    if (!bike) return;
    bike_collide_ground(bike);
    bike_collide_scenery(bike);
}
