#include "sim/ground.h"

#include <cmath>
#include <numbers>
#include <utility>

#include "sim/bike.h"
#include "sim/forces.h"
#include "sim/world.h"
#include "track/terrain.h"

namespace {

double sample_height(const Terrain &t, int i, int j) {
    int last = t.side - 1;
    i = i < 0 ? 0 : i > last ? last : i;
    j = j < 0 ? 0 : j > last ? last : j;
    return t.heights[std::size_t(i) + std::size_t(t.side) * std::size_t(j)];
}

Vec3 corner(const Terrain &t, int i, int j) {
    return {i * double(t.spacing), sample_height(t, i, j), j * double(t.spacing)};
}

// Closest point of triangle abc to p; face is set when it lies inside the triangle.
Vec3 closest_on_triangle(Vec3 p, Vec3 a, Vec3 b, Vec3 c, bool &face) {
    face = false;
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
    face = true;
    return a + ab * (vb * denom) + ac * (vc * denom);
}

// A found normal pointing down loses its vertical part, or becomes straight up.
Vec3 clean_normal(Vec3 n) {
    if (n.y < 0) {
        if (n.x * n.x + n.z * n.z >= 1.0 / 1024)
            n.y = 0;
        else
            n = {0, 1, 0};
    }
    return normalised(n);
}

// True when p, projected along n, lies inside triangle abc or on its border.
bool projects_inside(Vec3 p, Vec3 a, Vec3 b, Vec3 c, Vec3 n) {
    const Vec3 corners[3] = {a, b, c};
    for (int i = 0; i < 3; ++i) {
        Vec3 v0 = corners[i], v1 = corners[(i + 1) % 3];
        if (dot(cross(v1 - v0, p - v0), n) < -1e-12) return false;
    }
    return true;
}

bool sphere_triangle(Vec3 s, double radius, Vec3 a, Vec3 b, Vec3 c, GroundHit &hit) {
    Vec3 n = cross(b - a, c - a);
    if (dot(n, n) < 1e-24) return false; // no area
    if (n.y < 0) n = -n;
    n = normalised(n);
    if (cross(b - a, c - a).y < 0) std::swap(b, c); // counter-clockwise seen from above
    double height = dot(s - a, n);
    double depth;
    Vec3 q, normal;
    if (projects_inside(s, a, b, c, n)) {
        // Over (or under) the face: the face pushes straight out.
        q = s - n * height;
        depth = radius - height;
        normal = n;
    } else {
        bool face = false;
        q = closest_on_triangle(s, a, b, c, face);
        Vec3 d = s - q;
        double dist = length(d);
        if (!(dist > 0)) return false;
        depth = radius - dist;
        normal = d * (1.0 / dist);
    }
    if (!(depth > 0)) return false;
    hit.point = q;
    hit.normal = clean_normal(normal);
    hit.depth = depth;
    return true;
}

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

bool usable_contact(const GroundHit &h) {
    return finite(h.point) && finite(h.normal) && std::isfinite(h.depth) && h.depth > 0;
}

void store(float *out, Vec3 v) {
    out[0] = float(v.x);
    out[1] = float(v.y);
    out[2] = float(v.z);
}

} // namespace

bool sphere_terrain_deepest(const Terrain &t, Vec3 s, double radius, GroundHit &hit) {
    if (t.side < 2 || !finite(s) || !(radius > 0)) return false;
    double sp = t.spacing;
    // Cells 0 .. side - 2 exist; outside them the clamped samples make no area.
    double cells = t.side - 1;
    double i0 = std::fmax(0.0, std::floor((s.x - radius) / sp));
    double i1 = std::fmin(cells, std::ceil((s.x + radius) / sp));
    double j0 = std::fmax(0.0, std::floor((s.z - radius) / sp));
    double j1 = std::fmin(cells, std::ceil((s.z + radius) / sp));
    if (!(i0 < i1) || !(j0 < j1)) return false;
    // A huge sphere still looks at a bounded patch around its centre.
    constexpr double kMaxSpan = 64;
    if (i1 - i0 > kMaxSpan) {
        i0 = std::fmax(0.0, std::floor(s.x / sp) - kMaxSpan / 2);
        i1 = std::fmin(cells, i0 + kMaxSpan);
    }
    if (j1 - j0 > kMaxSpan) {
        j0 = std::fmax(0.0, std::floor(s.z / sp) - kMaxSpan / 2);
        j1 = std::fmin(cells, j0 + kMaxSpan);
    }
    bool found = false;
    for (int j = int(j0); j < int(j1); ++j) {
        for (int i = int(i0); i < int(i1); ++i) {
            Vec3 p00 = corner(t, i, j), p10 = corner(t, i + 1, j);
            Vec3 p01 = corner(t, i, j + 1), p11 = corner(t, i + 1, j + 1);
            Vec3 tri[2][3];
            if (((i + j) & 1) == 0) {
                tri[0][0] = p00, tri[0][1] = p10, tri[0][2] = p11;
                tri[1][0] = p00, tri[1][1] = p11, tri[1][2] = p01;
            } else {
                tri[0][0] = p00, tri[0][1] = p10, tri[0][2] = p01;
                tri[1][0] = p10, tri[1][1] = p11, tri[1][2] = p01;
            }
            for (auto &tr : tri) {
                GroundHit h;
                if (sphere_triangle(s, radius, tr[0], tr[1], tr[2], h) &&
                    (!found || h.depth > hit.depth)) {
                    hit = h;
                    found = true;
                }
            }
        }
    }
    return found;
}

bool wheel_terrain_deepest(const Terrain &t, Vec3 centre, Vec3 axle, double rim_radius,
                           double tube_radius, GroundHit &hit) {
    if (t.side < 2 || !finite(centre) || !finite(axle)) return false;
    TerrainVector tn = terrain_normal(t, centre.x, centre.z);
    Vec3 n = normalised({tn.x, tn.y, tn.z});
    Vec3 m = normalised(cross(cross(n, axle), axle));
    Vec3 rim_point = centre + m * rim_radius; // zero m (wheel flat on the ground): the hub
    return sphere_terrain_deepest(t, rim_point, tube_radius, hit);
}

bool wheel_ground_contact(const Terrain &t, WheelContact &w, double friction_factor) {
    if (!w.body) return false;
    Vec3 centre = body_position(w.body);
    Vec3 axle = normalised(body_vector_to_world(w.body, vec3(w.axle)));
    GroundHit hit;
    if (!wheel_terrain_deepest(t, centre, axle, w.rim_radius, w.tube_radius, hit) ||
        !usable_contact(hit)) {
        w.depth = 0;
        return false;
    }
    store(w.point, hit.point);
    store(w.normal, hit.normal);
    w.depth = float(hit.depth);
    Vec3 pv = body_point_velocity(w.body, hit.point);
    store(w.point_velocity, pv);

    int tile = terrain_tile(t, hit.point.x, hit.point.z);
    double mu = surface_friction(tile, float(length(pv))) * friction_factor;
    double squash = std::fmin(1.0, hit.depth / w.tube_radius);
    double s3 = squash * squash * squash;
    dContact ct =
        soft_contact(hit.point, hit.normal, hit.depth, mu, 1000 + 24000 * s3, 200 + 2300 * s3);
    ct.surface.mu2 = mu;
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
    Vec3 v = body_linear_vel(w.body);
    v = v - hit.normal * dot(v, hit.normal);
    double r = length(v);
    RollResist rr = surface_roll_resist(tile, float(r));
    if (r > 1) v = v * (1.0 / r);
    body_add_force(w.body, v * -(rr.a + (rr.b - rr.a) * squash));
    return true;
}

bool shape_ground_contact(ShapeInstance &inst, dBodyID body, const Terrain &t) {
    if (!inst.shape || !body) return false;
    const std::vector<ShapeSphere> &spheres = inst.shape->spheres;
    inst.world.resize(spheres.size());
    bool any = false;
    for (std::size_t i = 0; i < spheres.size(); ++i) {
        const ShapeSphere &sp = spheres[i];
        inst.world[i] = body_point_to_world(body, vec3(sp.centre));
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

bool bike_collide_ground(Bike *bike) {
    if (!bike || !bike->body[kBodyFrame]) return false;
    const Terrain &t = terrain();
    double friction_factor = 1.0;
    if (bike->setup.arcade) {
        double lean = std::fabs(roll_angle(bike->body[kBodyFrame]));
        double k = 4 * lean / std::numbers::pi;
        friction_factor = 1 - 0.375 * (k < 0 ? 0 : k > 1 ? 1 : k);
    }
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
    bool shape_touched = false;
    for (const auto &p : parts)
        shape_touched |= shape_ground_contact(bike->shapes[p.shape], bike->body[p.body], t);
    if (shape_touched) bike->touched_down = 1;
    // The rider's ground crash check joins here.
    return touched || shape_touched;
}

void bike_collide_world(Bike *bike) {
    bike_collide_ground(bike);
    // Contacts with the scenery objects near the bike join here.
}
