#include "sim/contact.h"

#include <algorithm>
#include <cmath>

#include "sim/bike.h"
#include "sim/forces.h"
#include "sim/ground.h"
#include "sim/rider.h"
#include "sim/shapes.h"
#include "sim/tyre.h"
#include "sim/world.h"
#include "track/terrain.h"
#include "track/track.h"

namespace {

ContactHooks g_hooks;

// Scratch room for the world centres of one scenery object's spheres.
std::vector<Vec3> g_object_world;

constexpr double kPenaltyMax = 1000;
constexpr double kTyreStiffness = 25000, kTyreDamping = 2500, kTyreFriction = 1.0;
constexpr double kSceneryMargin = 6;
constexpr double kStruckSpeed = 10, kStrikerSpeed = 5;

constexpr BikeBody kShapeBody[kShapeCount] = {kBodyFrame,    kBodyForkUpper,  kBodyForkLower,
                                              kBodySwingarm, kBodyFrontWheel, kBodyRearWheel,
                                              kBodyTorso};
constexpr int kShapeBit[kShapeCount] = {kPartBitFrame,    kPartBitForkUpper,  kPartBitForkLower,
                                        kPartBitSwingarm, kPartBitFrontWheel, kPartBitRearWheel,
                                        kPartBitRider};

bool enabled(dBodyID b) {
    return b && dBodyIsEnabled(b);
}

// The bounding sphere of a whole bike around its frame: every body with its shape (or a
// tyre's torus), so that a pair far apart skips all 49 shape pairs at once.
double bike_bound(Bike *b, Vec3 &centre) {
    centre = body_position(b->body[kBodyFrame]);
    // A bike meets many others in one step: its sphere is measured once per world step.
    const std::int64_t step = sim_clock().step;
    if (b->bound_step == step && b->bound_centre[0] == centre.x && b->bound_centre[1] == centre.y &&
        b->bound_centre[2] == centre.z)
        return b->bound_radius;
    double r = 0;
    for (int s = 0; s < kShapeCount; ++s) {
        dBodyID body = b->body[kShapeBody[s]];
        double reach = b->shapes[s].shape ? b->shapes[s].shape->bounding_radius : 0.0;
        if (s == kShapeFrontWheel || s == kShapeRearWheel) {
            const WheelContact &w = b->wheels[s == kShapeFrontWheel ? 0 : 1];
            reach = std::max(reach, double(w.rim_radius + w.tube_radius));
        }
        r = std::max(r, length(body_position(body) - centre) + reach);
    }
    b->bound_step = step;
    b->bound_centre[0] = centre.x;
    b->bound_centre[1] = centre.y;
    b->bound_centre[2] = centre.z;
    b->bound_radius = r;
    return r;
}

void update_shapes(Bike *b) {
    for (int s = 0; s < kShapeCount; ++s)
        if (b->shapes[s].shape) shape_instance_update(b->shapes[s], b->body[kShapeBody[s]]);
}

PosedShape posed(Bike *b, int s) {
    PosedShape p;
    const ShapeInstance &inst = b->shapes[s];
    if (!inst.shape || inst.world.size() != inst.shape->spheres.size()) return p;
    p.shape = inst.shape;
    p.world = inst.world.data();
    p.body = b->body[kShapeBody[s]];
    p.position = body_position(p.body);
    return p;
}

bool moving_at(const Bike *b, double speed) {
    return bike_frame_speed(b) >= speed;
}

void note_bike_contact(Bike *b, std::int64_t step) {
    b->last_bike_contact_step = step;
    if (b->first_contact_step < 0) b->first_contact_step = step;
    if (g_hooks.bikes_bumped) g_hooks.bikes_bumped(b);
}

} // namespace

void contact_hooks_install(const ContactHooks &hooks) {
    g_hooks = hooks;
}

bool sphere_pair_contact(const ContactSphere &a, const ContactSphere &b, ContactMode mode) {
    Vec3 d = b.centre - a.centre;
    double reach = a.radius + b.radius;
    // Most pairs are far apart: a squared test with a little slack rejects them without
    // the square root; the exact test below decides the rest.
    if (dot(d, d) > reach * reach * (1 + 1e-9)) return false;
    double dist = length(d);
    if (!(dist < reach) || !finite(d)) return false;
    if (mode == kContactTestOnly) return true;
    if (!(dist > 0)) return true; // concentric: touching, but no direction to push along
    Vec3 n = d * (1.0 / dist);
    double depth = reach - dist;
    Vec3 point = a.centre + n * (a.radius - depth / 2);
    double mu = std::min(a.friction, b.friction);
    double k = std::min(a.stiffness, b.stiffness), c = std::min(a.damping, b.damping);
    if (mode == kContactPenalty) {
        Vec3 va = body_point_velocity(a.body, point), vb = body_point_velocity(b.body, point);
        double F = dot(va - vb, n) * c + depth * k;
        F = std::clamp(F, 0.0, kPenaltyMax); // pushes apart, never pulls together
        if (!std::isfinite(F)) return true;
        if (enabled(a.body)) body_add_force_at_pos(a.body, n * -F, point);
        if (enabled(b.body)) body_add_force_at_pos(b.body, n * F, point);
        return true;
    }
    if (!a.body && !b.body) return true;
    // The normal points from a to b: the joint's first body is the one it pushes along
    // the normal. With b fixed, a comes first and the normal turns round.
    dContact ct =
        b.body ? soft_contact(point, n, depth, mu, k, c) : soft_contact(point, -n, depth, mu, k, c);
    dJointID j = dJointCreateContact(physics_world(), physics_contact_group(), &ct);
    if (b.body)
        dJointAttach(j, b.body, a.body);
    else
        dJointAttach(j, a.body, nullptr);
    return true;
}

PosedShape bike_posed_shape(Bike *bike, int s) {
    if (!bike || s < 0 || s >= kShapeCount || !bike->shapes[s].shape) return {};
    shape_instance_update(bike->shapes[s], bike->body[kShapeBody[s]]);
    return posed(bike, s);
}

bool shape_pair_contact(const PosedShape &a, const PosedShape &b, ContactMode mode) {
    if (!a.shape || !b.shape || !a.world || !b.world) return false;
    if (!(length(a.position - b.position) < a.shape->bounding_radius + b.shape->bounding_radius))
        return false;
    bool any = false;
    const std::vector<ShapeSphere> &sa = a.shape->spheres, &sb = b.shape->spheres;
    // Every sphere of b lies within b's bounding radius of its body: a sphere of a that
    // does not reach that ball (with slack for rounding) touches none of them.
    const double b_reach = double(b.shape->bounding_radius) + 1e-4;
    for (std::size_t i = 0; i < sa.size(); ++i) {
        Vec3 e = a.world[i] - b.position;
        double lim = sa[i].radius + b_reach;
        if (dot(e, e) > lim * lim) continue;
        ContactSphere x{a.body,         a.world[i],      sa[i].radius,
                        sa[i].friction, sa[i].stiffness, sa[i].damping};
        for (std::size_t k = 0; k < sb.size(); ++k) {
            ContactSphere y{b.body,         b.world[k],      sb[k].radius,
                            sb[k].friction, sb[k].stiffness, sb[k].damping};
            any |= sphere_pair_contact(x, y, mode);
        }
    }
    return any;
}

bool wheel_shape_contact(Bike *bike, int wheel, const PosedShape &other, ContactMode mode) {
    if (!bike || wheel < 0 || wheel > 1 || !other.shape || !other.world) return false;
    const WheelContact &w = bike->wheels[wheel];
    if (!w.body) return false;
    Vec3 c = body_position(w.body);
    double reach = w.rim_radius + w.tube_radius;
    if (!(length(c - other.position) < reach + other.shape->bounding_radius)) return false;
    Vec3 axle = normalised(body_vector_to_world(w.body, vec3(w.axle)));
    bool any = false;
    const std::vector<ShapeSphere> &spheres = other.shape->spheres;
    for (std::size_t k = 0; k < spheres.size(); ++k) {
        const ShapeSphere &s = spheres[k];
        Vec3 centre = other.world[k];
        if (!(length(centre - c) < reach + s.radius)) continue;
        ContactSphere tyre{w.body,         rim_point_nearest(c, axle, w.rim_radius, centre),
                           w.tube_radius,  kTyreFriction,
                           kTyreStiffness, kTyreDamping};
        ContactSphere y{other.body, centre, s.radius, s.friction, s.stiffness, s.damping};
        any |= sphere_pair_contact(tyre, y, mode);
    }
    return any;
}

int bike_parts_against_shape(Bike *bike, const PosedShape &other, ContactMode mode,
                             bool back_parts_test_only) {
    if (!bike || !other.shape) return 0;
    ContactMode back = back_parts_test_only ? kContactTestOnly : mode;
    int bits = 0;
    if (wheel_shape_contact(bike, 0, other, mode)) bits |= kPartBitFrontWheel;
    if (wheel_shape_contact(bike, 1, other, back)) bits |= kPartBitRearWheel;
    const struct {
        BikeShape shape;
        bool back;
    } parts[] = {{kShapeFrame, true},
                 {kShapeForkUpper, false},
                 {kShapeForkLower, false},
                 {kShapeSwingarm, true},
                 {kShapeRider, true}};
    for (const auto &p : parts) {
        PosedShape mine = posed(bike, p.shape);
        if (mine.shape && shape_pair_contact(mine, other, p.back ? back : mode))
            bits |= kShapeBit[p.shape];
    }
    return bits;
}

int bike_collide_bikes(Bike *a, Bike *b, bool test_only) {
    if (!a || !b || a == b || !a->body[kBodyFrame] || !b->body[kBodyFrame]) return 0;
    Vec3 ca, cb;
    double ra = bike_bound(a, ca), rb = bike_bound(b, cb);
    if (!(length(ca - cb) < ra + rb)) return 0;

    const std::int64_t step = sim_clock().step;
    ContactMode mode = a->last_bike_contact_step == step || b->last_bike_contact_step == step
                           ? kContactPenalty
                           : kContactJoint;
    update_shapes(a);
    update_shapes(b);
    const struct {
        BikeShape shape;
        bool back;
    } struck[] = {{kShapeFrontWheel, false}, {kShapeRearWheel, true},  {kShapeFrame, true},
                  {kShapeForkUpper, false},  {kShapeForkLower, false}, {kShapeSwingarm, true},
                  {kShapeRider, true}};
    int ma = 0, mb = 0;
    for (const auto &s : struck) {
        PosedShape target = posed(b, s.shape);
        if (!target.shape) continue;
        int bits = bike_parts_against_shape(a, target, mode, test_only && s.back);
        if (bits) {
            ma |= bits;
            mb |= kShapeBit[s.shape];
        }
    }
    if (!ma) return 0;

    constexpr int kNose = kPartBitFrontWheel | kPartBitForkLower;
    if ((ma & mb) == 0) {
        // One rider ran into the other: the striker is the bike whose front wheel or lower
        // fork touched (a, unless only b's were).
        bool b_strikes = (mb & kNose) != 0 && (ma & kNose) == 0;
        Bike *s = b_strikes ? b : a, *v = b_strikes ? a : b;
        int s_bits = b_strikes ? mb : ma;
        if ((s_bits & kNose) && s->crash_timer <= 0 && moving_at(s, kStrikerSpeed)) {
            if (moving_at(v, kStruckSpeed)) v->bump_timer = std::max(v->bump_timer, 256.0f);
            if (s->bump_timer < 0) s->bump_timer = std::min(s->bump_timer, -640.0f);
        }
    } else {
        for (Bike *x : {a, b})
            if (moving_at(x, kStruckSpeed)) x->bump_timer = std::max(x->bump_timer, 192.0f);
    }
    note_bike_contact(a, step);
    note_bike_contact(b, step);
    return ma;
}

void bike_collide_scenery(Bike *bike) {
    if (!bike || !bike->body[kBodyFrame] || !g_hooks.scenery_object) return;
    const Terrain &t = terrain();
    double extent = t.extent;
    if (!(extent > 0)) return;
    Vec3 f = body_position(bike->body[kBodyFrame]);
    int c0 = statue_grid_cell(f.x - kSceneryMargin, extent);
    int c1 = statue_grid_cell(f.x + kSceneryMargin, extent);
    int r0 = statue_grid_cell(f.z - kSceneryMargin, extent);
    int r1 = statue_grid_cell(f.z + kSceneryMargin, extent);
    const StatueGrid &grid = statue_grid();
    const std::vector<int> *list;
    std::vector<int> &merged = bike->work_indices;
    if (c0 == c1 && r0 == r1) {
        list = &grid.buckets[r0 * kStatueGridCells + c0];
    } else {
        merged.clear();
        for (int r = r0; r <= r1; ++r)
            for (int c = c0; c <= c1; ++c) {
                const std::vector<int> &bucket = grid.buckets[r * kStatueGridCells + c];
                merged.insert(merged.end(), bucket.begin(), bucket.end());
            }
        std::sort(merged.begin(), merged.end());
        merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
        list = &merged;
    }
    if (list->empty()) return;

    Vec3 bc;
    double br = bike_bound(bike, bc);
    bool shapes_current = false;
    for (std::size_t n = 0; n < list->size(); ++n) {
        int index = (*list)[n];
        SceneryObject o;
        if (!g_hooks.scenery_object(index, o) || !o.shape || !finite(o.position)) continue;
        if (!(length(o.position - bc) < br + o.shape->bounding_radius)) continue;
        if (!shapes_current) {
            update_shapes(bike);
            shapes_current = true;
        }
        const std::vector<ShapeSphere> &spheres = o.shape->spheres;
        g_object_world.resize(spheres.size());
        const double *R = o.rotation;
        for (std::size_t i = 0; i < spheres.size(); ++i) {
            const float *c = spheres[i].centre;
            g_object_world[i] = {o.position.x + R[0] * c[0] + R[1] * c[1] + R[2] * c[2],
                                 o.position.y + R[3] * c[0] + R[4] * c[1] + R[5] * c[2],
                                 o.position.z + R[6] * c[0] + R[7] * c[1] + R[8] * c[2]};
        }
        PosedShape target{o.shape, g_object_world.data(), o.body, o.position};
        int bits = bike_parts_against_shape(bike, target, kContactJoint, false);
        if (!bits) continue;
        if (g_hooks.scenery_touched) g_hooks.scenery_touched(index, bike, bits);
        if (bits & kPartBitRider) rider_crash_check_scenery(bike, o.body);
    }
}
