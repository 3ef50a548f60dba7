#include "sim/roost.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "platform/random.h"
#include "sim/bike.h"
#include "sim/ground.h"
#include "sim/world.h"
#include "track/terrain.h"

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kH = 1.0 / 128;
constexpr int kKindRoost = 1, kKindSplash = 2;

struct RoostPool {
    RoostParticle particles[kRoostParticles];
    RoostBillboard billboards[kRoostParticles];
    int free_first = -1;
    int active_first = -1;
    int active = 0;
    int count = kRoostCountDefault;
    bool ready = false;
};

RoostPool &pool() {
    static RoostPool p;
    if (!p.ready) {
        p.ready = true;
        roost_pool_reset();
    }
    return p;
}

double fraction31() {
    return double(random_next() & 0x7fffffffu) * (1.0 / 2147483648.0);
}
double fraction24() {
    return double(random_next() & 0xffffffu) * (1.0 / 16777216.0);
}
Vec3 jitter(double amount) {
    double f1 = fraction24(), f2 = fraction24(), f3 = fraction24();
    return Vec3{f1 - 0.5, f2 - 0.5, f3 - 0.5} * amount;
}

void store(float *out, Vec3 v) {
    out[0] = float(v.x);
    out[1] = float(v.y);
    out[2] = float(v.z);
}

std::uint8_t add_clamped(std::uint8_t c, int delta) {
    return std::uint8_t(std::clamp(int(c) + delta, 0, 255));
}

// The spread of a spinning tyre's roost: from slow_angle at slow_speed of wheel spin to
// fast_angle at fast_speed (equal speeds: a step at that speed).
double spin_spread(const RoostSpec &s, double spin2, double limit) {
    double slow2 = double(s.slow_speed) * s.slow_speed, fast2 = double(s.fast_speed) * s.fast_speed;
    double k;
    if (fast2 != slow2)
        k = std::clamp((spin2 - slow2) / (fast2 - slow2), 0.0, 1.0);
    else
        k = spin2 >= fast2 ? 1.0 : 0.0;
    if (!std::isfinite(k)) k = 0;
    return std::min(s.slow_angle + (s.fast_angle - s.slow_angle) * k, limit);
}

void splash(const RoostSpec &s, dBodyID body, Vec3 point, Vec3 normal, int n) {
    Vec3 v = body_linear_vel(body);
    Vec3 g = v - normal * dot(v, normal);
    double speed = length(g);
    if (!(speed > 0) || !std::isfinite(speed)) return; // no travel, no direction to throw
    Vec3 t = g * (1.0 / speed);
    Vec3 c = cross(normal, t);
    double k = speed / std::sqrt(2.0);
    Vec3 d0 = (normal + c) * k, d1 = (normal - c) * k;
    std::int64_t step = sim_clock().step;
    for (int i = 0; i < n; ++i) {
        Vec3 d = ((step ^ i) & 1) == 0 ? d0 : d1;
        Vec3 position = point + d * (i * kH / n);
        Vec3 j = jitter(s.randomize);
        double w = fraction31();
        roost_particle_spawn(position, (d + j) * (double(s.vscale) * w), s);
    }
}

void roost(const RoostSpec &s, dBodyID body, Vec3 point, Vec3 slide, double limit, int n) {
    if (!(length(slide) >= s.slip_threshold)) return;
    Vec3 v = body_linear_vel(body);
    double spread;
    if (dot(v, slide) >= 0) {
        spread = kPi / 64; // skidding along the travel
    } else {
        Vec3 w = body_angular_vel(body);
        spread = spin_spread(s, dot(w, w), limit);
    }
    Vec3 centre = body_position(body);
    Vec3 axle = normalised(body_vector_to_world(body, {1, 0, 0}));
    for (int i = 0; i < n; ++i) {
        double theta = spread * fraction24();
        // The contact point turned by -theta about the axle: up the back of the tyre.
        Vec3 q = centre + rotate(quat_axis_angle(axle, -theta), point - centre);
        Vec3 u = body_point_velocity(body, q);
        Vec3 position = q + u * (i * kH / n);
        Vec3 j = jitter(s.randomize);
        roost_particle_spawn(position, (u + j) * double(s.vscale), s);
    }
}

void wheel_spray(const Bike *b, int wheel, bool use_contacts, int most, double limit) {
    const WheelContact &w = b->wheels[wheel];
    if (!w.body) return;
    Vec3 point, normal, slide;
    if (use_contacts) {
        if (!(w.depth > 0)) return;
        point = vec3(w.point);
        normal = vec3(w.normal);
        slide = vec3(w.point_velocity);
    } else {
        GroundHit hit;
        Vec3 axle = body_vector_to_world(w.body, vec3(w.axle));
        if (!torus_terrain_deepest(terrain(), body_position(w.body), axle, w.rim_radius,
                                   w.tube_radius, hit, false))
            return;
        point = hit.point;
        normal = hit.normal;
        slide = body_point_velocity(w.body, point);
    }
    const TileType &type = terrain_tile_type(terrain_tile(point.x, point.z));
    if (type.roost[0].kind == 0) return;
    for (int slot = 0; slot < kRoostSlots; ++slot) {
        const RoostSpec &s = type.roost[slot];
        if (s.kind == 0) break;
        double whole = std::floor(double(s.count));
        int n = std::isfinite(whole) ? int(std::clamp(whole, 0.0, 1000.0)) : 0;
        if (fraction31() < s.count - whole) ++n;
        n = std::min(n, most);
        if (n <= 0) continue;
        if (s.kind == kKindSplash)
            splash(s, w.body, point, normal, n);
        else if (s.kind == kKindRoost)
            roost(s, w.body, point, slide, limit, n);
    }
}

} // namespace

void roost_count_set(int count) {
    pool().count = std::clamp(count, 0, 1000);
}

int roost_count() {
    return pool().count;
}

void roost_pool_reset() {
    RoostPool &p = pool();
    for (int i = 0; i < kRoostParticles; ++i) {
        RoostParticle &q = p.particles[i];
        q = RoostParticle{};
        q.billboard = i;
        q.next = i + 1 < kRoostParticles ? i + 1 : -1;
        p.billboards[i] = RoostBillboard{};
    }
    p.free_first = 0;
    p.active_first = -1;
    p.active = 0;
}

bool roost_particle_spawn(Vec3 position, Vec3 velocity, const RoostSpec &spec) {
    RoostPool &p = pool();
    if (p.free_first < 0 || !finite(position) || !finite(velocity)) return false;
    int i = p.free_first;
    RoostParticle &q = p.particles[i];
    p.free_first = q.next;
    store(q.position, position);
    store(q.velocity, velocity);
    q.spec = spec;
    RoostBillboard &bb = p.billboards[q.billboard];
    store(bb.position, position);
    bb.height = spec.size;
    bb.texture = spec.texture;
    bb.colour[0] = spec.r;
    bb.colour[1] = spec.g;
    bb.colour[2] = spec.b;
    bb.colour[3] = spec.a;
    q.next = p.active_first;
    p.active_first = i;
    ++p.active;
    return true;
}

void roost_emit(Bike *b, bool use_contacts) {
    if (!b || !b->body[kBodyFrame] || terrain().side < 2) return;
    int count = roost_count();
    int most = count / 100;
    if (int(random_next() % 100) < count % 100) ++most;
    if (most == 0) return;
    wheel_spray(b, 0, use_contacts, most, kPi / 8);
    wheel_spray(b, 1, use_contacts, most, 2 * kPi);
}

void roost_particles_move(const Terrain &t) {
    RoostPool &p = pool();
    int prev = -1;
    for (int i = p.active_first; i >= 0;) {
        RoostParticle &q = p.particles[i];
        int next = q.next;
        const RoostSpec &s = q.spec;
        for (int k = 0; k < 3; ++k) q.position[k] += float(q.velocity[k] * kH);
        for (int k = 0; k < 3; ++k) q.velocity[k] -= float(q.velocity[k] * s.drag * kH);
        q.velocity[1] -= float(kGravity * kH);
        RoostBillboard &bb = p.billboards[q.billboard];
        std::copy(q.position, q.position + 3, bb.position);
        bb.height += float(s.grow * kH);
        bb.colour[0] = add_clamped(bb.colour[0], s.fade_r);
        bb.colour[1] = add_clamped(bb.colour[1], s.fade_g);
        bb.colour[2] = add_clamped(bb.colour[2], s.fade_b);
        bb.colour[3] = add_clamped(bb.colour[3], s.fade_a);
        bool landed =
            q.velocity[1] < 0 && q.position[1] <= terrain_height(t, q.position[0], q.position[2]);
        if (landed || !std::isfinite(q.position[1])) {
            bb.height = 0;
            if (prev < 0)
                p.active_first = next;
            else
                p.particles[prev].next = next;
            q.next = p.free_first;
            p.free_first = i;
            --p.active;
        } else {
            prev = i;
        }
        i = next;
    }
}

int roost_first_active() {
    return pool().active_first;
}

int roost_active_count() {
    return pool().active;
}

const RoostParticle &roost_particle(int index) {
    return pool().particles[std::clamp(index, 0, kRoostParticles - 1)];
}

const RoostBillboard &roost_billboard(int index) {
    return pool().billboards[std::clamp(index, 0, kRoostParticles - 1)];
}
