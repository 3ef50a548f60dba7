#include "sim/tyre.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kEdgeEpsilon = 1.0 / (1 << 20); // 2^-20
constexpr double kNewtonResidual = 1.0 / (1 << 30);

// A unit vector perpendicular to the unit vector a: a crossed with the world axis least
// aligned with it.
Vec3 any_perpendicular(Vec3 a) {
    double ax = std::fabs(a.x), ay = std::fabs(a.y), az = std::fabs(a.z);
    Vec3 e = ax <= ay && ax <= az ? Vec3{1, 0, 0} : ay <= az ? Vec3{0, 1, 0} : Vec3{0, 0, 1};
    return normalised(cross(a, e));
}

// The squared distance between the point v + t e of the edge's line and the rim circle is
// f(t) = |w|^2 - 2 R rho + R^2, with w = the point minus the centre and rho the length of
// w's part in the wheel plane: |w|^2 = cw + 2 A t + B t^2, rho^2 = c0 + 2 D t + F t^2.
// Its stationary points (the roots of a quartic in t) are found by Newton's method on
// f'(t) = 2 (A + B t) - 2 R (D + F t) / rho.
struct EdgeDistance {
    double cw, A, B, c0, D, F, R;
    double dist2(double t) const {
        double d2 = cw + 2 * A * t + B * t * t - 2 * R * rho(t) + R * R;
        return d2 > 0 ? d2 : 0;
    }
    double rho(double t) const {
        double r2 = c0 + 2 * D * t + F * t * t;
        return r2 > 0 ? std::sqrt(r2) : 0;
    }
    double slope(double t, double rho) const { return 2 * (A + B * t) - 2 * R * (D + F * t) / rho; }
    double curvature(double t, double rho) const {
        double m = D + F * t;
        return 2 * B - 2 * R * (F * rho * rho - m * m) / (rho * rho * rho);
    }
};

double newton(const EdgeDistance &q, double t) {
    constexpr double kRhoMin = 1e-12; // on the axle line the distance has no slope
    double rho = q.rho(t);
    if (!(rho > kRhoMin)) return t < 0 ? 0 : t > 1 ? 1 : t;
    double res = q.slope(t, rho);
    for (int i = 0; i < 4; ++i) {
        if (!(std::fabs(res) >= kNewtonResidual)) break;
        double d = q.curvature(t, rho);
        if (d == 0 || !std::isfinite(d)) break;
        double next = t - res / d;
        double next_rho = q.rho(next);
        if (!(next_rho > kRhoMin)) break;
        double next_res = q.slope(next, next_rho);
        if (!(std::fabs(next_res) < std::fabs(res))) break; // the step would not help
        t = next;
        rho = next_rho;
        res = next_res;
    }
    if (!std::isfinite(t)) return 0;
    return t < 0 ? 0 : t > 1 ? 1 : t;
}

// Parameter (0..1) of the point of segment (v, v + e) nearest the rim circle, and its
// distance from the circle.
double edge_rim_distance(Vec3 centre, Vec3 axle, double rim_radius, Vec3 v, Vec3 e, double &t) {
    double B = dot(e, e);
    Vec3 w0 = v - centre;
    if (!(B > 0)) {
        t = 0;
        Vec3 u0 = w0 - axle * dot(w0, axle);
        double ax = dot(w0, axle), rad = length(u0) - rim_radius;
        return std::sqrt(ax * ax + rad * rad);
    }
    Vec3 u0 = w0 - axle * dot(w0, axle);
    Vec3 ep = e - axle * dot(e, axle); // the edge projected into the wheel plane
    EdgeDistance q{dot(w0, w0), dot(w0, e), B, dot(u0, u0), dot(u0, ep), dot(ep, ep), rim_radius};
    double t0 = -q.A / B; // the centre's projection onto the edge's line
    double ep_len = std::sqrt(q.F);
    double delta =
        ep_len < std::sqrt(rim_radius * 1e-6) ? rim_radius / 1000 : rim_radius * ep_len / B;
    double ta = newton(q, t0 - delta), tb = newton(q, t0 + delta);
    double da = q.dist2(ta), db = q.dist2(tb);
    t = db < da ? tb : ta;
    return std::sqrt(db < da ? db : da);
}

} // namespace

bool torus_pose(Vec3 centre, Vec3 axle, double rim_radius, double tube_radius, TorusPose &out) {
    if (!finite(centre) || !finite(axle) || !(rim_radius > 0) || !(tube_radius > 0) ||
        !std::isfinite(rim_radius) || !std::isfinite(tube_radius))
        return false;
    Vec3 a = normalised(axle);
    if (dot(a, a) < 0.5) return false;
    out.centre = centre;
    out.axle = a;
    out.rim_radius = rim_radius;
    out.tube_radius = tube_radius;
    // The circle reaches R sqrt(1 - a_k^2) along world axis k; the tube adds r.
    Vec3 ext{rim_radius * std::sqrt(std::fmax(0.0, 1 - a.x * a.x)) + tube_radius,
             rim_radius * std::sqrt(std::fmax(0.0, 1 - a.y * a.y)) + tube_radius,
             rim_radius * std::sqrt(std::fmax(0.0, 1 - a.z * a.z)) + tube_radius};
    out.lo = centre - ext;
    out.hi = centre + ext;
    return true;
}

Vec3 rim_point_nearest(Vec3 centre, Vec3 axle, double rim_radius, Vec3 p) {
    Vec3 w = p - centre;
    Vec3 in_plane = w - axle * dot(w, axle);
    Vec3 dir = normalised(in_plane);
    if (dot(dir, dir) < 0.5) dir = any_perpendicular(axle);
    return centre + dir * rim_radius;
}

double edge_nearest_rim(Vec3 centre, Vec3 axle, double rim_radius, Vec3 v, Vec3 e) {
    double t;
    edge_rim_distance(centre, axle, rim_radius, v, e, t);
    return t;
}

Vec3 clean_ground_normal(Vec3 n) {
    if (n.y < 0) {
        if (n.x * n.x + n.z * n.z >= 1.0 / 1024)
            n.y = 0;
        else
            n = {0, 1, 0};
    }
    Vec3 u = normalised(n);
    return dot(u, u) > 0.5 ? u : Vec3{0, 1, 0};
}

namespace {

using TriangleFrame = TorusTriangle;

bool frame_of(const TorusPose &tyre, Vec3 v0, Vec3 v1, Vec3 v2, TriangleFrame &f) {
    f.V[0] = v0;
    f.V[1] = v1;
    f.V[2] = v2;
    f.N = cross(v1 - v0, v2 - v0);
    double nn = dot(f.N, f.N);
    if (!(nn > 1e-24)) return false;
    f.Nh = f.N * (1.0 / std::sqrt(nn));
    for (int i = 0; i < 3; ++i) {
        f.E[i] = f.V[(i + 1) % 3] - f.V[i];
        f.k[i] = cross(f.E[i], f.N); // points out of the triangle across edge i
    }
    // With the axle along the normal (a wheel lying flat) every rim point is equally near
    // the plane and any direction in the wheel plane serves.
    Vec3 m = cross(cross(f.Nh, tyre.axle), tyre.axle);
    f.m = dot(m, m) < 1e-18 ? any_perpendicular(tyre.axle) : normalised(m);
    f.p1 = tyre.centre + f.m * tyre.rim_radius;
    f.p2 = tyre.centre - f.m * tyre.rim_radius;
    f.d1 = dot(f.p1 - v0, f.Nh);
    f.d2 = dot(f.p2 - v0, f.Nh);
    return true;
}

bool inside(const TriangleFrame &f, Vec3 X) {
    for (int i = 0; i < 3; ++i)
        if (dot(X - f.V[i], f.k[i]) > 0) return false;
    return true;
}

bool found(GroundHit &hit, Vec3 point, Vec3 normal, double depth) {
    if (!(depth > 0) || !finite(point) || !finite(normal)) return false;
    hit.point = point;
    hit.normal = normal;
    hit.depth = depth;
    return true;
}

enum class FaceResult { kContact, kNone, kEdges };

// Stages 1 to 3: the face, the rim crossing the plane, the rim behind the plane.
FaceResult face_stages(const TorusPose &tyre, const TriangleFrame &f, GroundHit &hit) {
    const Vec3 C = tyre.centre, a = tyre.axle;
    const double R = tyre.rim_radius, r = tyre.tube_radius;
    if (f.d1 > 0) {
        // 1. The nearest rim point in front of the plane: the face below it.
        Vec3 X = f.p1 - f.Nh * f.d1;
        if (!inside(f, X)) return FaceResult::kEdges;
        return found(hit, rim_point_nearest(C, a, R, X) - f.Nh * r, f.Nh, r - f.d1)
                   ? FaceResult::kContact
                   : FaceResult::kNone;
    }
    if (f.d2 > 0) {
        // 2. The rim crosses the plane.
        double mn = dot(f.m, f.Nh);
        if (!(mn < -1e-12)) return FaceResult::kEdges;
        Vec3 X = C - f.m * (dot(C - f.V[0], f.Nh) / mn);
        if (inside(f, X))
            return found(hit, f.p1 - f.Nh * r, f.Nh, r - f.d1) ? FaceResult::kContact
                                                               : FaceResult::kNone;
        for (int i = 0; i < 3; ++i) {
            if (!(dot(X - f.V[i], f.k[i]) > 0)) continue;
            double sa = dot(f.V[i] - C, a), sb = dot(f.V[(i + 1) % 3] - C, a);
            if ((sa < 0) == (sb < 0) || sa == sb) continue;
            Vec3 Y = f.V[i] + f.E[i] * (sa / (sa - sb));
            // An edge meeting the wheel plane outside the rim does not cut the wheel; the
            // later edges and the edge-and-corner stage still may.
            if (!(length(Y - C) < R)) continue;
            Vec3 b = cross(Y - C, a);
            if (dot(b, f.N) < 0) b = -b;
            Vec3 n = normalised(cross(f.E[i], b));
            if (dot(n, n) < 0.5) n = f.Nh;
            return found(hit, rim_point_nearest(C, a, R, Y) - n * r, n, r - kEdgeEpsilon)
                       ? FaceResult::kContact
                       : FaceResult::kNone;
        }
        return FaceResult::kEdges;
    }
    // 3. The whole rim behind the plane: push straight up if the centre lies over the
    // triangle, so that a wheel that went through the ground comes back.
    Vec3 up{0, f.N.y >= 0 ? 1.0 : -1.0, 0};
    for (int i = 0; i < 3; ++i)
        if (dot(C - f.V[i], cross(f.E[i], up)) > 0) return FaceResult::kEdges;
    return found(hit, f.p1, {0, 1, 0}, 2 * R) ? FaceResult::kContact : FaceResult::kNone;
}

// The most the edge-and-corner stage can give: every point of the triangle lies at least
// as far from the rim circle and disc as the nearest rim point lies from the plane.
double edge_depth_bound(const TorusPose &tyre, const TriangleFrame &f) {
    return f.d1 > 0 ? tyre.tube_radius - f.d1 : tyre.tube_radius;
}

// Stage 4: the nearest of the three edges and three corners (the first on equal
// distances, edges before corners). Candidates farther than max_distance cannot matter to
// the caller; an edge whose ends lie on one side of the wheel plane is at least as far
// from the rim as its nearer end is from that plane, so it is skipped when that is beyond
// the nearest candidate already found or beyond max_distance.
bool edge_stage(const TorusPose &tyre, const TriangleFrame &f, double max_distance,
                GroundHit &hit) {
    const Vec3 C = tyre.centre, a = tyre.axle;
    const double R = tyre.rim_radius, r = tyre.tube_radius;
    double best = INFINITY;
    int which = -1;
    double side[3];
    for (int j = 0; j < 3; ++j) {
        side[j] = dot(f.V[j] - C, a);
        Vec3 P = f.V[j] - a * side[j]; // onto the wheel plane
        Vec3 off = P - C;
        double l = length(off);
        if (l > R) P = C + off * (R / l); // onto the rim disc
        double D = length(f.V[j] - P);
        if (D < best) {
            best = D;
            which = 3 + j;
        }
    }
    double edge_t = 0;
    for (int i = 0; i < 3; ++i) {
        double sa = side[i], sb = side[(i + 1) % 3];
        if ((sa > 0 && sb > 0) || (sa < 0 && sb < 0)) {
            double lower = std::min(std::fabs(sa), std::fabs(sb));
            if (lower > best || lower > max_distance) continue;
        }
        double t;
        double D = edge_rim_distance(C, a, R, f.V[i], f.E[i], t);
        if (D < best || (D == best && which >= 3) || (D == best && i < which)) {
            best = D;
            which = i;
            edge_t = t;
        }
    }
    if (which < 0 || !(best < r)) return false;
    double depth = r - best;
    if (which >= 3) {
        Vec3 Vj = f.V[which - 3];
        return found(hit, Vj, side[which - 3] > 0 ? -a : a, depth);
    }
    int i = which;
    Vec3 S = f.V[i] + f.E[i] * edge_t;
    Vec3 Q = rim_point_nearest(C, a, R, S);
    if (best > kEdgeEpsilon) return found(hit, S, normalised(Q - S), depth);
    // The edge passes through the rim circle.
    Vec3 b = cross(S - C, a);
    if (dot(b, f.N) < 0) b = -b;
    Vec3 n = cross(f.E[i], b);
    n = dot(n, n) < kEdgeEpsilon ? f.Nh : normalised(n);
    return found(hit, Q - n * r, n, depth);
}

} // namespace

bool torus_triangle(const TorusPose &tyre, Vec3 v0, Vec3 v1, Vec3 v2, bool with_edges,
                    GroundHit &hit) {
    TriangleFrame f;
    if (!frame_of(tyre, v0, v1, v2, f)) return false;
    FaceResult r = face_stages(tyre, f, hit);
    if (r != FaceResult::kEdges) return r == FaceResult::kContact;
    return with_edges && edge_stage(tyre, f, INFINITY, hit);
}

bool torus_triangle_faces(const TorusPose &tyre, Vec3 v0, Vec3 v1, Vec3 v2, TorusTriangle &tri,
                          GroundHit &hit) {
    tri.edge_bound = -INFINITY;
    if (!frame_of(tyre, v0, v1, v2, tri)) return false;
    FaceResult r = face_stages(tyre, tri, hit);
    if (r == FaceResult::kEdges) tri.edge_bound = edge_depth_bound(tyre, tri);
    return r == FaceResult::kContact;
}

bool torus_triangle_edges(const TorusPose &tyre, const TorusTriangle &tri, double min_depth,
                          GroundHit &hit) {
    return edge_stage(tyre, tri, tyre.tube_radius - min_depth, hit);
}
