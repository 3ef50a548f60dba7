// Sphere layouts. Every bike body starts at its model-space position with the identity
// rotation, so a shape's body coordinates are model-space points minus the body's position.
// Model space: y up, the bike faces -z, x to the rider's right.
//
// Frame (body at frame_pos): the steering head and down tube, the tank and radiator
// shrouds, the seat and rear fender up to the number plate, the side plates and the
// exhaust on the right, the engine (cylinder, cases and skid plate, the lowest point at
// about 13 in), the frame behind the engine at the swingarm pivot, and the two footpegs
// (which touch the ground only beyond about 60 degrees of lean).
// Upper fork (body at steer_head): both handlebar grips and the bar between them, the bar
// clamp, the front number plate, the upper fork tubes along the steering axis at
// +-fork_leg_spacing/2, and the front fender over the wheel.
// Lower fork (body at fork_lower_pos): the two fork legs from the axle up along the fork
// axis, with the axle ends.
// Swingarm (body at swingarm_pos): two arms from the pivot to the rear axle at
// +-frame_box x/2.
// Wheels (body at the axle): a ring of sixteen tube-radius spheres on the rim radius in
// the wheel plane (the tyre), and a hub-radius sphere that keeps other bikes' parts out
// of the spokes.
// Rider (body at torso_pos): helmet above the head point, the torso from pelvis to
// shoulders along the spine, both shoulders, upper arms, elbows and forearms towards the
// grips, and thighs, knees and shins down to the footpegs, the elbows and knees placed by
// the same two-bone rule as the drawn rider, with the bike at rest.
#include "shapes.h"

#include "sim/catalogue.h"

#include <cmath>
#include <cstdio>

namespace {

struct V3 {
    double x, y, z;
};
V3 operator+(V3 a, V3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
V3 operator-(V3 a, V3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
V3 operator*(V3 a, double k) {
    return {a.x * k, a.y * k, a.z * k};
}
double dot(V3 a, V3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
double norm(V3 a) {
    return std::sqrt(dot(a, a));
}
V3 unit(V3 a) {
    return a * (1.0 / norm(a));
}
V3 v3(const float *p) {
    return {p[0], p[1], p[2]};
}
V3 lerp(V3 a, V3 b, double t) {
    return a + (b - a) * t;
}

struct Sphere {
    V3 c;
    double r;
    double friction;
};

class ShapeBuilder {
public:
    explicit ShapeBuilder(V3 body) : body_(body) {}
    // A sphere at a model-space point.
    void at(V3 model, double r, double friction) {
        spheres_.push_back({model - body_, r, friction});
    }
    // A sphere at a body-space point.
    void rel(V3 local, double r, double friction) { spheres_.push_back({local, r, friction}); }
    // A left/right pair mirrored in x (model space).
    void pair(V3 model, double r, double friction) {
        at({-model.x, model.y, model.z}, r, friction);
        at({model.x, model.y, model.z}, r, friction);
    }
    std::string text() const {
        std::string s = std::to_string(spheres_.size()) + "\n";
        char line[160];
        for (const Sphere &p : spheres_) {
            std::snprintf(line, sizeof line, "%.4f %.4f %.4f %.4f %.3f %.1f %.1f\n", clean(p.c.x),
                          clean(p.c.y), clean(p.c.z), p.r, p.friction, kShapeStiffness,
                          kShapeDamping);
            s += line;
        }
        return s;
    }

private:
    // Avoids "-0.0000" for values that round to zero.
    static double clean(double v) { return std::fabs(v) < 5e-5 ? 0.0 : v; }
    V3 body_;
    std::vector<Sphere> spheres_;
};

// The elbow or knee of a limb from A to B with lengths L1, L2, bent towards the hint P.
V3 two_bone(V3 A, V3 B, double L1, double L2, V3 P) {
    double d = norm(B - A);
    V3 u = (B - A) * (1.0 / d);
    double dd = std::fmin(d, 0.95 * (L1 + L2));
    double a = (dd * dd + L1 * L1 - L2 * L2) / (2 * dd);
    double h = std::sqrt(std::fmax(0.0, L1 * L1 - a * a));
    V3 across = (P - A) - u * dot(P - A, u);
    V3 w = unit(across);
    return A + u * a + w * h;
}

constexpr double kFrameFriction = 0.5; // plastic and metal sliding on dirt
constexpr double kPegFriction = 0.4;
constexpr double kTyreFriction = 1.0;
constexpr double kRiderFriction = 0.6; // riding gear

std::string frame_shape(const BikeModel &m) {
    V3 fp = v3(m.frame_pos), head = v3(m.steer_head), pivot = v3(m.swingarm_pivot);
    ShapeBuilder b(fp);
    b.at(head + V3{0, -0.05, 0.18}, 0.28, kFrameFriction);           // steering head
    b.at(lerp(head, V3{0, 1.75, 2.85}, 0.45), 0.30, kFrameFriction); // down tube
    b.at({0, 2.95, 2.55}, 0.42, kFrameFriction);                     // tank
    b.at({0, 3.02, 3.10}, 0.42, kFrameFriction);
    b.at({0, 2.97, 3.60}, 0.38, kFrameFriction);
    b.pair({0.42, 2.55, 2.70}, 0.30, kFrameFriction); // radiator shrouds
    b.at({0, 3.00, 4.10}, 0.32, kFrameFriction);      // seat
    b.at({0, 3.05, 4.65}, 0.30, kFrameFriction);
    b.at({0, 3.05, 5.20}, 0.28, kFrameFriction);
    b.at({0, 3.00, 5.80}, 0.25, kFrameFriction); // rear fender
    b.at({0, 2.95, 6.35}, 0.20, kFrameFriction);
    b.pair({0.30, 2.60, 4.80}, 0.30, kFrameFriction); // side plates
    b.at({0.42, 2.60, 5.70}, 0.22, kFrameFriction);   // muffler
    b.at({0.38, 2.20, 5.00}, 0.18, kFrameFriction);   // exhaust pipe
    b.at({0, 2.20, 3.10}, 0.40, kFrameFriction);      // cylinder
    b.at({0, 1.65, 3.50}, 0.50, kFrameFriction);      // engine cases
    b.at({0, 1.55, 3.00}, 0.42, kFrameFriction);
    b.at({0, 1.32, 3.35}, 0.24, kFrameFriction);           // skid plate
    b.at(pivot + V3{0, 0.20, 0.07}, 0.35, kFrameFriction); // frame at the pivot
    for (int i = 0; i < 2; ++i) b.rel(v3(m.rider.footpegs[i]), 0.12, kPegFriction);
    return b.text();
}

std::string fork_upper_shape(const BikeModel &m) {
    V3 head = v3(m.steer_head), lower = v3(m.fork_lower_pos);
    V3 down = unit(lower - head);
    double half = m.fork_leg_spacing / 2;
    ShapeBuilder b(head);
    for (int i = 0; i < 2; ++i) b.rel(v3(m.rider.grips[i]), 0.14, kFrameFriction);
    V3 g0 = v3(m.rider.grips[0]), g1 = v3(m.rider.grips[1]);
    b.rel(lerp(g0, g1, 0.25) + V3{0, -0.03, -0.03}, 0.12, kFrameFriction); // bar
    b.rel(lerp(g0, g1, 0.75) + V3{0, -0.03, -0.03}, 0.12, kFrameFriction);
    b.rel({0, 1.00, 0.60}, 0.14, kFrameFriction);  // bar clamp
    b.rel({0, 0.55, -0.30}, 0.30, kFrameFriction); // front number plate
    for (double k : {0.25, 0.60}) {
        V3 c = down * k;
        b.rel(c + V3{-half, 0, 0}, 0.13, kFrameFriction); // upper fork tubes
        b.rel(c + V3{half, 0, 0}, 0.13, kFrameFriction);
    }
    b.rel({0, -0.35, -0.75}, 0.22, kFrameFriction); // front fender
    b.rel({0, -0.45, -1.25}, 0.20, kFrameFriction);
    return b.text();
}

std::string fork_lower_shape(const BikeModel &m) {
    V3 head = v3(m.steer_head), lower = v3(m.fork_lower_pos);
    V3 up = unit(head - lower);
    V3 axle = v3(m.front_wheel.axle);
    double half = m.fork_leg_spacing / 2;
    ShapeBuilder b(lower);
    for (double k : {0.0, 0.35, 0.70, 1.05}) {
        V3 c = axle + up * k;
        double r = k == 0.0 ? 0.12 : 0.14;
        b.pair({half, c.y, c.z}, r, kFrameFriction);
    }
    return b.text();
}

std::string swingarm_shape(const BikeModel &m) {
    V3 pivot = v3(m.swingarm_pivot), axle = v3(m.rear_wheel.axle);
    double half = m.frame_box[0] / 2;
    ShapeBuilder b(v3(m.swingarm_pos));
    for (double k : {0.10, 0.40, 0.70, 0.97}) {
        V3 c = lerp(pivot, axle, k);
        b.pair({half, c.y, c.z}, k > 0.9 ? 0.12 : 0.14, kFrameFriction);
    }
    return b.text();
}

std::string wheel_shape(const WheelSpec &w) {
    V3 axle = v3(w.axle);
    ShapeBuilder b(axle);
    const double kPi = 3.14159265358979323846;
    for (int i = 0; i < 16; ++i) {
        double a = i * (2 * kPi / 16);
        b.rel({0, w.rim_radius * std::cos(a), w.rim_radius * std::sin(a)}, w.tube_radius,
              kTyreFriction);
    }
    b.rel({0, 0, 0}, w.hub_radius, kTyreFriction);
    return b.text();
}

std::string rider_shape(const BikeModel &m) {
    const RiderGeometry &g = m.rider;
    V3 torso = v3(m.torso_pos);
    ShapeBuilder b(torso);
    V3 s0 = v3(g.shoulders[0]), s1 = v3(g.shoulders[1]);
    V3 h0 = v3(g.hips[0]), h1 = v3(g.hips[1]);
    V3 sm = lerp(s0, s1, 0.5), hm = lerp(h0, h1, 0.5);
    V3 spine = unit(sm - hm);
    // Helmet, centred above the head point along the spine.
    b.rel(v3(g.head) + spine * 0.25, 0.42, kRiderFriction);
    // Torso from pelvis to shoulders.
    b.rel(lerp(hm, sm, 0.10), 0.45, kRiderFriction);
    b.rel(lerp(hm, sm, 0.42), 0.48, kRiderFriction);
    b.rel(lerp(hm, sm, 0.75), 0.47, kRiderFriction);
    b.rel(s0, 0.30, kRiderFriction);
    b.rel(s1, 0.30, kRiderFriction);
    // Arms: grips and footpegs taken into torso coordinates with the bike at rest.
    V3 head = v3(m.steer_head), fp = v3(m.frame_pos);
    V3 grip[2], peg[2];
    for (int i = 0; i < 2; ++i) {
        grip[i] = head + v3(g.grips[i]) - torso;
        peg[i] = fp + v3(g.footpegs[i]) - torso;
    }
    V3 dG = grip[1] - grip[0];
    double dSy = s1.y - s0.y;
    V3 hint0 = V3{s0.x - 0.5, s0.y - (1.5 * std::fmax(0.0, dSy) + 1.0), s0.z + 2.0} - dG;
    V3 hint1 = V3{s1.x + 0.5, s1.y - (1.5 * std::fmax(0.0, -dSy) + 0.9), s1.z + 2.0} + dG;
    V3 shoulder[2] = {s0, s1}, arm_hint[2] = {hint0, hint1};
    for (int i = 0; i < 2; ++i) {
        V3 elbow = two_bone(shoulder[i], grip[i], g.upper_arm, g.forearm, arm_hint[i]);
        b.rel(lerp(shoulder[i], elbow, 0.5), 0.22, kRiderFriction);
        b.rel(elbow, 0.20, kRiderFriction);
        b.rel(lerp(elbow, grip[i], 0.5), 0.17, kRiderFriction);
    }
    V3 hip[2] = {h0, h1};
    for (int i = 0; i < 2; ++i) {
        V3 hint = hip[i] + V3{i == 0 ? -0.5 : 0.5, 0, -2.0};
        V3 knee = two_bone(hip[i], peg[i], g.thigh, g.shin, hint);
        b.rel(lerp(hip[i], knee, 0.35), 0.30, kRiderFriction);
        b.rel(lerp(hip[i], knee, 0.75), 0.27, kRiderFriction);
        b.rel(knee, 0.24, kRiderFriction);
        b.rel(lerp(knee, peg[i], 0.40), 0.21, kRiderFriction);
        b.rel(lerp(knee, peg[i], 0.75), 0.19, kRiderFriction);
    }
    return b.text();
}

} // namespace

std::vector<GeneratedFile> bike_shapes() {
    // The geometry these shapes follow is shared by every catalogue model.
    const BikeModel &m = bike_models()[0];
    return {
        {"generic_frame.shp", frame_shape(m)},
        {"generic_fork_upper.shp", fork_upper_shape(m)},
        {"generic_fork_lower.shp", fork_lower_shape(m)},
        {"generic_swingarm.shp", swingarm_shape(m)},
        {"front_wheel.shp", wheel_shape(m.front_wheel)},
        {"rear_wheel.shp", wheel_shape(m.rear_wheel)},
        {"generic_rider.shp", rider_shape(m)},
    };
}

GeneratedFile startgate_shape() {
    // The gate of one start position as it lies after the drop: a grate 3.3 ft wide and
    // 1.8 ft long, hinged across the statue's origin and lying forward (-z) on the ground,
    // so that riders roll over it. Raising the gate turns this pose up about its x axis.
    ShapeBuilder b({0, 0, 0});
    for (double z : {-0.35, -1.00, -1.60})
        for (double x : {-1.30, -0.43, 0.43, 1.30}) b.rel({x, 0.15, z}, 0.22, 0.5);
    return {"startgate.shp", b.text()};
}
