#include "ride.h"

#include <algorithm>
#include <cmath>

double ride_join(const Course &course) {
    // The chute's centre line starts pad_back behind the gate; the ride starts at the start
    // positions, kStartBehindGate behind it.
    return course.chute.length - course.pad_back + kStartBehindGate;
}

RidePlace ride_place(const Course &course, double r) {
    double join = ride_join(course);
    if (r < join) return {1, r - kStartBehindGate};
    double s = std::fmod(r - join, course.loop.length);
    return {0, s};
}

CoursePoint ride_point(const Course &course, double r) {
    RidePlace p = ride_place(course, r);
    return leg_point_at(p.leg == 0 ? course.loop : course.chute, p.s);
}

namespace {

// Rounds values that print as "-0.000000" to zero.
float clean(double v) {
    return std::fabs(v) < 5e-7 ? 0.0f : float(v);
}

Checkpoint checkpoint_at(const CoursePoint &p, const Terrain &t) {
    Checkpoint c;
    c.centre[0] = float(p.x);
    c.centre[1] = float(terrain_height(t, p.x, p.z));
    c.centre[2] = float(p.z);
    c.direction[0] = clean(p.tx);
    c.direction[1] = 0.0f;
    c.direction[2] = clean(p.tz);
    // The zone covers the riding width with room to spare on both sides.
    c.radius = float(std::max(p.edge_left, p.edge_right) + 8.0);
    return c;
}

} // namespace

GateLayout gate_layout(const Course &course, const Terrain &t) {
    GateLayout out;
    GateData &g = out.data;
    const double L = course.loop.length;
    out.lap_length = L;

    // Start positions across the gate line, kStartBehindGate behind it.
    double tx = course.gate_tx, tz = course.gate_tz;
    double rx = -tz, rz = tx;
    double cx = course.gate_x - tx * kStartBehindGate, cz = course.gate_z - tz * kStartBehindGate;
    float angle = float(std::atan2(-tx, -tz)); // riders face (-sin a, -cos a)
    for (int k = 0; k < kStartPositions; ++k) {
        double off = (k - (kStartPositions - 1) / 2.0) * kStartSpacing;
        StartPosition sp;
        sp.x = float(cx + rx * off);
        sp.z = float(cz + rz * off);
        // Riders are put on the ground wherever y says; the gate statue 3 ft ahead stands
        // y above the ground.
        sp.y = 0.0f;
        sp.angle = angle;
        g.starts.push_back(sp);
    }

    // Loop checkpoints, evenly spaced from the finish line (checkpoint 0).
    int n = std::max(3, int(std::lround(L / kGateSpacingTarget)));
    double spacing = L / n;
    std::vector<double> loop_s(n);
    for (int k = 0; k < n; ++k) {
        loop_s[k] = std::fmod(course.finish_s + k * spacing, L);
        g.checkpoints.push_back(checkpoint_at(leg_point_at(course.loop, loop_s[k]), t));
    }
    // The first lap reaches the loop at the join point (s = 0) and runs to the finish line:
    // the loop checkpoints after the join, then the finish.
    std::vector<int> first_loop;
    for (int k = 1; k < n; ++k)
        if (loop_s[k] < course.finish_s) first_loop.push_back(k);
    double join = ride_join(course);
    double first_r = join + (first_loop.empty() ? course.finish_s : loop_s[first_loop[0]]);
    // Checkpoints from the start to there, evenly spaced.
    int m = std::max(0, int(std::ceil(first_r / 300.0)) - 1);
    double chute_spacing = first_r / (m + 1);
    std::vector<double> first_r_list;
    for (int i = 1; i <= m; ++i) {
        double r = i * chute_spacing;
        g.checkpoints.push_back(checkpoint_at(ride_point(course, r), t));
        g.first_lap.push_back(n + i - 1);
        first_r_list.push_back(r);
    }
    for (int k : first_loop) {
        g.first_lap.push_back(k);
        first_r_list.push_back(join + loop_s[k]);
    }
    g.first_lap.push_back(0);
    double finish_r = join + course.finish_s;
    first_r_list.push_back(finish_r);
    for (int k = 1; k < n; ++k) g.normal_lap.push_back(k);
    g.normal_lap.push_back(0);
    g.first_lap_segments = int(g.first_lap.size());
    g.normal_lap_segments = int(g.normal_lap.size());

    out.sequence_r = first_r_list;
    for (int lap = 0; lap < 2; ++lap)
        for (int k = 1; k <= n; ++k) out.sequence_r.push_back(finish_r + lap * L + k * spacing);
    return out;
}
