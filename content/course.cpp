#include "course.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kPi = 3.14159265358979323846;

double deg(double d) {
    return d * kPi / 180.0;
}

// A pose walking along a centre line.
struct Pose {
    double x, z, h; // position and heading (radians)
};

double piece_length(const Piece &p) {
    if (p.turn_deg == 0.0) return p.length;
    return p.radius * std::fabs(deg(p.turn_deg));
}

// Moves pose along piece p by distance d (0 <= d <= the piece's length).
Pose advance(const Pose &a, const Piece &p, double d) {
    Pose b = a;
    if (p.turn_deg == 0.0) {
        b.x += std::cos(a.h) * d;
        b.z += std::sin(a.h) * d;
        return b;
    }
    double sign = p.turn_deg > 0 ? 1.0 : -1.0; // right turns increase h
    double dh = sign * d / p.radius;
    // Centre of the turn lies to the right (right turn) or left of the heading.
    double rx = -std::sin(a.h), rz = std::cos(a.h); // right vector
    double cx = a.x + sign * rx * p.radius, cz = a.z + sign * rz * p.radius;
    double ox = a.x - cx, oz = a.z - cz;
    double c = std::cos(dh), s = std::sin(dh);
    b.x = cx + ox * c - oz * s;
    b.z = cz + ox * s + oz * c;
    b.h = a.h + dh;
    return b;
}

Pose walk(Pose p, const std::vector<Piece> &pieces) {
    for (const Piece &piece : pieces) p = advance(p, piece, piece_length(piece));
    return p;
}

// The piece holding arc length s of a list, and the distance into it.
int piece_at(const std::vector<Piece> &pieces, double s, double &into) {
    double acc = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        double len = piece_length(pieces[i]);
        if (s <= acc + len || i + 1 == pieces.size()) {
            into = std::clamp(s - acc, 0.0, len);
            return int(i);
        }
        acc += len;
    }
    into = 0;
    return -1;
}

double pieces_length(const std::vector<Piece> &pieces) {
    double total = 0;
    for (const Piece &p : pieces) total += piece_length(p);
    return total;
}

double piece_start(const std::vector<Piece> &pieces, int index) {
    double acc = 0;
    for (int i = 0; i < index; ++i) acc += piece_length(pieces[i]);
    return acc;
}

// Samples a list of pieces from a start pose into points every ~1 ft.
void sample_leg(const std::vector<Piece> &pieces, Pose start, double s_offset, CourseLeg &leg,
                bool closed) {
    double total = pieces_length(pieces);
    int n = std::max(2, int(std::ceil(total)));
    leg.step = total / n;
    leg.length = total;
    leg.closed = closed;
    leg.points.clear();
    int count = closed ? n : n + 1;
    // Walk piece by piece so that positions stay exact.
    std::vector<Pose> piece_starts;
    Pose p = start;
    for (const Piece &piece : pieces) {
        piece_starts.push_back(p);
        p = advance(p, piece, piece_length(piece));
    }
    for (int k = 0; k < count; ++k) {
        double s = k * leg.step;
        double into = 0;
        int pi = piece_at(pieces, s, into);
        Pose q = advance(piece_starts[pi], pieces[pi], into);
        CoursePoint cp;
        cp.x = q.x;
        cp.z = q.z;
        cp.s = s + s_offset;
        cp.tx = std::cos(q.h);
        cp.tz = std::sin(q.h);
        const Piece &piece = pieces[pi];
        cp.curvature =
            piece.turn_deg == 0.0 ? 0.0 : (piece.turn_deg > 0 ? 1.0 : -1.0) / piece.radius;
        cp.piece = pi;
        leg.points.push_back(cp);
    }
}

// Moving average of values over +-half points (wrapping for closed legs).
std::vector<double> smooth(const std::vector<double> &v, int half, bool closed) {
    int n = int(v.size());
    std::vector<double> out(n);
    for (int i = 0; i < n; ++i) {
        double sum = 0;
        int cnt = 0;
        for (int k = -half; k <= half; ++k) {
            int j = i + k;
            if (closed) {
                j = ((j % n) + n) % n;
            } else if (j < 0 || j >= n) {
                continue;
            }
            sum += v[j];
            ++cnt;
        }
        out[i] = sum / cnt;
    }
    return out;
}

// Builds a jump profile from stretches over which the slope changes linearly.
struct SlopeProfile {
    std::vector<double> &u, &slope, &height; // the feature's knots

    explicit SlopeProfile(PlacedFeature &f) : u(f.u), slope(f.slope), height(f.height) {
        u.assign(1, 0.0);
        slope.assign(1, 0.0);
        height.assign(1, 0.0);
    }
    double end_u() const { return u.back(); }
    double end_h() const { return height.back(); }
    double end_slope() const { return slope.back(); }
    // The slope changes linearly to target over len feet.
    void ramp(double target, double len) {
        double h = end_h() + 0.5 * (end_slope() + target) * len;
        u.push_back(end_u() + len);
        slope.push_back(target);
        height.push_back(h);
    }
    // Keeps the current slope until the height is such that the following ramp to
    // `then_slope` over `then_len` ends at height `target`; then makes that ramp.
    void hold_to(double target, double then_slope, double then_len) {
        double s = end_slope();
        double after = 0.5 * (s + then_slope) * then_len;
        double len = s != 0.0 ? (target - end_h() - after) / s : 0.0;
        if (len < 0) len = 0;
        ramp(s, len);
        ramp(then_slope, then_len);
    }
    void flat(double len) { ramp(0.0, len); }
};

double profile_at(const PlacedFeature &f, double x) {
    const std::vector<double> &u = f.u;
    if (x <= 0 || x >= u.back()) return x >= u.back() ? f.height.back() : 0.0;
    std::size_t k = std::upper_bound(u.begin(), u.end(), x) - u.begin() - 1;
    double d = x - u[k];
    double len = u[k + 1] - u[k];
    double ds = len > 0 ? (f.slope[k + 1] - f.slope[k]) / len : 0.0;
    return f.height[k] + f.slope[k] * d + 0.5 * ds * d * d;
}

PlacedFeature place(const FeatureSpec &f, double s0, JumpSpot &jump) {
    PlacedFeature p;
    p.kind = f.kind;
    p.s0 = s0;
    p.sand = f.sand;
    if (f.kind == FeatureKind::Tabletop) {
        // Concave face to a 26-degree lip, the table, then a rounded edge and a landing
        // ramp with a long transition back to the ground.
        const double lip = 0.49, land = 0.40;
        SlopeProfile q(p);
        q.ramp(lip, 9.0);
        q.hold_to(f.height, 0.0, 1.5);
        double lip_u = q.end_u() - 1.0;
        q.flat(f.length);
        double table_end = q.end_u();
        q.ramp(-land, 5.0);
        q.hold_to(0.0, 0.0, 12.0);
        double land_top = table_end + 2.5, land_bottom = q.end_u() - 8.0;
        p.s1 = s0 + q.end_u();
        jump.lip_s = s0 + lip_u;
        jump.land_s = s0 + 0.5 * (land_top + land_bottom);
        jump.tabletop = true;
    } else if (f.kind == FeatureKind::Double) {
        // Take-off mound with a steep face and a rounded crest, a gap, and a landing mound
        // whose back side is the landing.
        const double face = 0.55, back = 0.5, up = 0.45, land = 0.38;
        SlopeProfile q(p);
        q.ramp(face, 9.0);
        q.hold_to(f.height, -back, 2.5);
        double lip_u = q.end_u() - 2.0;
        q.hold_to(0.0, 0.0, 6.0);
        q.flat(f.length);
        q.ramp(up, 6.0);
        q.hold_to(f.height2, -land, 6.0);
        double crest2 = q.end_u() - 3.0;
        q.hold_to(0.0, 0.0, 14.0);
        double land_bottom = q.end_u() - 10.0;
        p.s1 = s0 + q.end_u();
        jump.lip_s = s0 + lip_u;
        jump.land_s = s0 + 0.5 * (crest2 + 3.0 + land_bottom);
        jump.tabletop = false;
    } else {
        p.amplitude = f.height;
        p.wavelength = f.length;
        p.s1 = s0 + f.length * f.count;
    }
    return p;
}

double placed_height(const PlacedFeature &f, double s) {
    if (s < f.s0 || s > f.s1) return 0.0;
    double u = s - f.s0;
    if (f.kind == FeatureKind::Tabletop || f.kind == FeatureKind::Double) return profile_at(f, u);
    return f.amplitude * 0.5 * (1.0 - std::cos(2.0 * kPi * u / f.wavelength));
}

} // namespace

double smooth01(double t) {
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

CoursePoint leg_point_at(const CourseLeg &leg, double s) {
    const std::vector<CoursePoint> &p = leg.points;
    int n = int(p.size());
    double s0 = p.front().s;
    double rel = s - s0;
    if (leg.closed) {
        rel = std::fmod(rel, leg.length);
        if (rel < 0) rel += leg.length;
    } else {
        rel = std::clamp(rel, 0.0, leg.length);
    }
    double f = rel / leg.step;
    int i = std::min(int(f), leg.closed ? n - 1 : n - 2);
    double t = f - i;
    int j = leg.closed ? (i + 1) % n : i + 1;
    const CoursePoint &a = p[i], &b = p[j];
    CoursePoint c = a;
    auto mix = [t](double u, double v) { return u + (v - u) * t; };
    c.x = mix(a.x, b.x);
    c.z = mix(a.z, b.z);
    c.s = s0 + rel;
    double tx = mix(a.tx, b.tx), tz = mix(a.tz, b.tz);
    double len = std::hypot(tx, tz);
    c.tx = tx / len;
    c.tz = tz / len;
    c.curvature = mix(a.curvature, b.curvature);
    c.half_width = mix(a.half_width, b.half_width);
    c.edge_left = mix(a.edge_left, b.edge_left);
    c.edge_right = mix(a.edge_right, b.edge_right);
    c.base = mix(a.base, b.base);
    c.feature = mix(a.feature, b.feature);
    c.berm = mix(a.berm, b.berm);
    return c;
}

double course_feature_height(const Course &course, double s) {
    double L = course.loop.length;
    s = std::fmod(s, L);
    if (s < 0) s += L;
    double h = 0;
    for (const PlacedFeature &f : course.features) h += placed_height(f, s);
    return h;
}

bool course_build(const CourseDesign &design, Course &out, std::string &error) {
    out = Course{};
    out.design = design;
    std::vector<Piece> loop = design.loop;

    // Heading closure: the turns must add up to one full turn.
    double turns = 0;
    for (const Piece &p : loop) turns += p.turn_deg;
    if (std::fabs(std::fabs(turns) - 360.0) > 1e-9) {
        char buf[128];
        std::snprintf(buf, sizeof buf, "%s: the loop turns by %g degrees, not 360",
                      design.name.c_str(), turns);
        error = buf;
        return false;
    }
    // Position closure: solve the lengths of the two straights marked `solve`.
    std::vector<int> free;
    for (std::size_t i = 0; i < loop.size(); ++i)
        if (loop[i].solve && loop[i].turn_deg == 0.0) free.push_back(int(i));
    Pose start{design.join_x, design.join_z, deg(design.join_heading_deg)};
    if (free.size() == 2) {
        Pose end = walk(start, loop);
        double ex = start.x - end.x, ez = start.z - end.z;
        // Directions of the two straights.
        double d[2][2];
        for (int k = 0; k < 2; ++k) {
            std::vector<Piece> before(loop.begin(), loop.begin() + free[k]);
            Pose p = walk(start, before);
            d[k][0] = std::cos(p.h);
            d[k][1] = std::sin(p.h);
        }
        double det = d[0][0] * d[1][1] - d[1][0] * d[0][1];
        if (std::fabs(det) < 1e-6) {
            error = design.name + ": the two adjustable straights are parallel";
            return false;
        }
        double a = (ex * d[1][1] - ez * d[1][0]) / det;
        double b = (d[0][0] * ez - d[0][1] * ex) / det;
        loop[free[0]].length += a;
        loop[free[1]].length += b;
        if (loop[free[0]].length < 20 || loop[free[1]].length < 20) {
            error = design.name + ": closing the loop leaves a straight shorter than 20 ft";
            return false;
        }
    } else if (!free.empty()) {
        error = design.name + ": exactly two straights may be adjusted";
        return false;
    }
    out.design.loop = loop;
    Pose end = walk(start, loop);
    if (std::hypot(end.x - start.x, end.z - start.z) > 1e-6) {
        error = design.name + ": the loop does not close";
        return false;
    }

    // The loop.
    sample_leg(loop, start, 0.0, out.loop, true);

    // The chute is laid out backwards from the join point.
    std::vector<Piece> reversed(design.chute.rbegin(), design.chute.rend());
    for (Piece &p : reversed) p.turn_deg = -p.turn_deg;
    Pose back{start.x, start.z, start.h + kPi};
    Pose gate = walk(back, reversed);
    gate.h += kPi;
    // Extend the chute behind the gate to cover the waiting area of the pad.
    std::vector<Piece> chute;
    chute.push_back(Piece{design.pad_behind, 0, 0, false});
    for (const Piece &p : design.chute) chute.push_back(p);
    Pose behind{gate.x - std::cos(gate.h) * design.pad_behind,
                gate.z - std::sin(gate.h) * design.pad_behind, gate.h};
    sample_leg(chute, behind, -design.pad_behind, out.chute, false);
    out.pad_back = design.pad_behind;
    out.gate_x = gate.x;
    out.gate_z = gate.z;
    out.gate_tx = std::cos(gate.h);
    out.gate_tz = std::sin(gate.h);
    for (CoursePoint &p : out.chute.points) p.piece = -1;

    // Berms: the height at the outside edge grows with the tightness of the turn, smoothed
    // in and out of the turns.
    auto berm_of = [&](double curvature) {
        double k = std::fabs(curvature);
        return std::clamp((k - 1.0 / 120.0) * 400.0, 0.0, design.berm_max);
    };
    {
        // Signed, so that the berm's side changes smoothly through S-bends.
        std::vector<double> b(out.loop.points.size());
        for (std::size_t i = 0; i < b.size(); ++i) {
            double k = out.loop.points[i].curvature;
            b[i] = k > 0 ? berm_of(k) : -berm_of(k);
        }
        b = smooth(b, int(18 / out.loop.step), true);
        b = smooth(b, int(10 / out.loop.step), true);
        // Curvature smoothed likewise, for the speed profile.
        std::vector<double> k(out.loop.points.size());
        for (std::size_t i = 0; i < k.size(); ++i) k[i] = out.loop.points[i].curvature;
        k = smooth(k, int(8 / out.loop.step), true);
        for (std::size_t i = 0; i < b.size(); ++i) {
            CoursePoint &p = out.loop.points[i];
            p.berm = b[i];
            p.curvature = k[i];
        }
    }
    // The chute's turns get no berm: it joins the loop where both lie at the pad's height.
    {
        std::vector<double> k(out.chute.points.size());
        for (std::size_t i = 0; i < k.size(); ++i) k[i] = out.chute.points[i].curvature;
        k = smooth(k, int(8 / out.chute.step), false);
        for (std::size_t i = 0; i < k.size(); ++i) out.chute.points[i].curvature = k[i];
    }

    // Widths: the loop is half_width wide, plus berm_extra on the outside of bermed turns;
    // the chute funnels from the gate's width to the loop's.
    for (CoursePoint &p : out.loop.points) {
        double extra = design.berm_extra * std::clamp(std::fabs(p.berm) / 1.5, 0.0, 1.0);
        p.half_width = design.half_width;
        p.edge_left = design.half_width + (p.berm > 0 ? extra : 0.0);
        p.edge_right = design.half_width + (p.berm < 0 ? extra : 0.0);
        p.surface = design.loop_surface;
    }
    for (CoursePoint &p : out.chute.points) {
        double f = smooth01((p.s - design.funnel_start) / design.funnel_length);
        p.half_width = design.gate_half_width + (design.half_width - design.gate_half_width) * f;
        p.edge_left = p.edge_right = p.half_width;
        p.surface = design.chute_surface;
    }

    // Features.
    for (const FeatureSpec &f : design.features) {
        if (f.piece < 0 || f.piece >= int(loop.size()) || loop[f.piece].turn_deg != 0.0) {
            error = design.name + ": a feature is not on a straight of the loop";
            return false;
        }
        double s0 = piece_start(loop, f.piece) + f.offset;
        JumpSpot jump;
        PlacedFeature p = place(f, s0, jump);
        if (p.s1 > piece_start(loop, f.piece) + piece_length(loop[f.piece])) {
            error = design.name + ": a feature runs past the end of its straight";
            return false;
        }
        if (f.kind == FeatureKind::Tabletop || f.kind == FeatureKind::Double)
            out.jumps.push_back(jump);
        else
            out.rough.push_back(SectionRange{p.s0, p.s1, f.kind});
        out.features.push_back(p);
    }
    for (CoursePoint &p : out.loop.points) {
        p.feature = course_feature_height(out, p.s);
        for (const PlacedFeature &f : out.features)
            if (f.sand && p.s >= f.s0 - 10 && p.s <= f.s1 + 10) p.surface = kSurfaceSand;
    }

    if (design.finish_piece < 0 || design.finish_piece >= int(loop.size()) ||
        loop[design.finish_piece].turn_deg != 0.0) {
        error = design.name + ": the finish line is not on a straight";
        return false;
    }
    out.finish_s = piece_start(loop, design.finish_piece) + design.finish_offset;
    return true;
}
