#include "lines.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kG = 32.0;
constexpr double kH = 1.0 / 128.0;
constexpr double kPointInterval = 0.25; // 32 steps

struct RideSample {
    double x, z, ground, base, curvature, berm, edge;
    int leg;
    double s;
};

std::vector<RideSample> ride_samples(const Course &course, const Terrain &t, double length,
                                     double step) {
    int n = int(length / step) + 2;
    std::vector<RideSample> out(n);
    for (int i = 0; i < n; ++i) {
        double r = i * step;
        RidePlace pl = ride_place(course, r);
        CoursePoint p = leg_point_at(pl.leg == 0 ? course.loop : course.chute, pl.s);
        RideSample &q = out[i];
        q.x = p.x;
        q.z = p.z;
        q.ground = terrain_height(t, p.x, p.z);
        q.base = p.base;
        q.curvature = p.curvature;
        q.berm = p.berm;
        q.edge = std::max(p.edge_left, p.edge_right);
        q.leg = pl.leg;
        q.s = pl.s;
    }
    return out;
}

double ground_at(const std::vector<RideSample> &rs, double step, double r) {
    double f = std::clamp(r / step, 0.0, double(rs.size() - 1));
    int i = std::min(int(f), int(rs.size()) - 2);
    double u = f - i;
    return rs[i].ground + (rs[i + 1].ground - rs[i].ground) * u;
}

// Flies from the lip at ride distance r0 with speed v along the ground's slope there.
// Returns the ride distance of the landing; fills the flight's samples when asked.
struct Flight {
    double land_r = 0;
    double land_speed = 0;
    std::vector<double> r, y, vx, vy; // per step
};

Flight fly(const std::vector<RideSample> &rs, double step, double r0, double v) {
    Flight f;
    double slope = (ground_at(rs, step, r0) - ground_at(rs, step, r0 - 2.0)) / 2.0;
    double len = std::sqrt(1 + slope * slope);
    double vx = v / len, vy = v * slope / len;
    double r = r0, y = ground_at(rs, step, r0);
    for (int k = 0; k < 128 * 8; ++k) {
        f.r.push_back(r);
        f.y.push_back(y);
        f.vx.push_back(vx);
        f.vy.push_back(vy);
        r += vx * kH;
        y += vy * kH;
        vy -= kG * kH;
        if (k > 2 && y <= ground_at(rs, step, r)) break;
    }
    f.land_r = r;
    f.land_speed = vx;
    return f;
}

// Ride distance of a loop arc length s on lap `lap` (0 = the first lap).
double loop_r(const Course &course, double s, int lap) {
    return ride_join(course) + s + lap * course.loop.length;
}

} // namespace

SkillProfile skill_profile(Skill skill) {
    switch (skill) {
    case kNovice:
        return {72, 0.88, 12, 17, 36, 50, 0.88, 24};
    case kAmateur:
        return {82, 0.94, 15, 20, 46, 60, 0.97, 0};
    case kExpert:
    default:
        return {92, 1.04, 18, 24, 56, 72, 1.0, 0};
    }
}

RideProfile ride_profile(const Course &course, const Terrain &t, const GateLayout &gates,
                         Skill skill) {
    const SkillProfile sk = skill_profile(skill);
    const double step = 1.0;
    double length = gates.sequence_r.back() + 400.0;
    std::vector<RideSample> rs = ride_samples(course, t, length, step);
    const int n = int(rs.size());

    // Speed caps: top speed, grip in the turns (berms help), rough sections, jump lips.
    std::vector<double> cap(n, sk.top_speed);
    for (int i = 0; i < n; ++i) {
        double k = std::fabs(rs[i].curvature);
        double bank = rs[i].edge > 0 ? std::fabs(rs[i].berm) / rs[i].edge : 0.0;
        double a = kG * (sk.grip + 0.8 * bank);
        if (k > 1e-5) cap[i] = std::min(cap[i], std::sqrt(a / k));
    }
    int laps = int(std::ceil((length - ride_join(course)) / course.loop.length)) + 1;
    auto each_lap = [&](double s0, double s1, auto &&fn) {
        for (int lap = 0; lap < laps; ++lap) {
            double r0 = loop_r(course, s0, lap), r1 = loop_r(course, s1, lap);
            for (int i = std::max(0, int(r0 / step)); i <= std::min(n - 1, int(r1 / step)); ++i)
                fn(i);
        }
    };
    for (const SectionRange &rough : course.rough) {
        double v = rough.kind == FeatureKind::Whoops ? sk.whoops_speed : sk.rollers_speed;
        each_lap(rough.s0 - 5, rough.s1, [&](int i) { cap[i] = std::min(cap[i], v); });
    }
    // Jumps: the speed at the lip that lands on the middle of the landing.
    struct Lip {
        int index;
        double speed;
    };
    std::vector<Lip> lips;
    for (const JumpSpot &j : course.jumps) {
        for (int lap = 0; lap < laps; ++lap) {
            double r_lip = loop_r(course, j.lip_s, lap), r_land = loop_r(course, j.land_s, lap);
            if (r_land >= length - 50) continue;
            double lo = 10, hi = 110;
            for (int it = 0; it < 40; ++it) {
                double mid = 0.5 * (lo + hi);
                if (fly(rs, step, r_lip, mid).land_r < r_land)
                    lo = mid;
                else
                    hi = mid;
            }
            double v = 0.5 * (lo + hi) * sk.jump_factor;
            if (!j.tabletop && sk.double_roll > 0) v = sk.double_roll;
            int i = int(std::lround(r_lip / step));
            if (i < n) {
                cap[i] = std::min(cap[i], v);
                lips.push_back({i, cap[i]});
            }
        }
    }
    // Forward pass (acceleration, less uphill on the graded base; the rider keeps on the
    // gas over jump faces) and backward pass (braking).
    std::vector<double> v(n);
    v[0] = 0;
    for (int i = 1; i < n; ++i) {
        double grade = (rs[i].base - rs[i - 1].base) / step;
        double a = std::max(2.0, sk.accel * (1.0 - v[i - 1] / (sk.top_speed * 1.15)) - kG * grade);
        v[i] = std::min(cap[i], std::sqrt(v[i - 1] * v[i - 1] + 2 * a * step));
    }
    for (int i = n - 2; i >= 0; --i) {
        double grade = (rs[i + 1].base - rs[i].base) / step;
        double b = std::max(8.0, sk.brake + kG * grade);
        v[i] = std::min(v[i], std::sqrt(v[i + 1] * v[i + 1] + 2 * b * step));
    }

    // Time along the ride, with the flights over the jumps.
    RideProfile prof;
    prof.step = step;
    prof.time.assign(n, 0);
    prof.speed.assign(n, 0);
    prof.frame_y.assign(n, 0);
    prof.airborne.assign(n, 0);
    std::vector<Flight> flights;
    std::vector<int> flight_at(n, -1);
    for (const Lip &lip : lips) {
        Flight f = fly(rs, step, lip.index * step, std::max(v[lip.index], 5.0));
        flight_at[lip.index] = int(flights.size());
        flights.push_back(std::move(f));
    }
    double time = 0;
    int i = 0;
    prof.speed[0] = 0;
    prof.frame_y[0] = rs[0].ground + kFrameRideHeight;
    while (i < n - 1) {
        if (flight_at[i] >= 0) {
            const Flight &f = flights[flight_at[i]];
            int last = i;
            for (std::size_t k = 0; k < f.r.size(); ++k) {
                int j = int(std::ceil(f.r[k] / step));
                if (j <= last || j >= n) continue;
                // Interpolate the step that crosses sample j.
                double tj = time + k * kH;
                for (int q = last + 1; q <= j; ++q) {
                    prof.time[q] = tj;
                    prof.speed[q] = std::hypot(f.vx[k], f.vy[k]);
                    prof.frame_y[q] = f.y[k] + kFrameRideHeight;
                    prof.airborne[q] = 1;
                }
                last = j;
            }
            time += f.r.size() * kH;
            if (last >= n - 1) break;
            // Ground speed after landing is the horizontal speed, capped by the profile.
            double vl = std::min(f.land_speed, v[std::min(n - 1, last + 1)]);
            for (int q = last + 1; q < n && v[q] > vl; ++q) {
                vl = std::sqrt(vl * vl + 2 * sk.accel * step);
                if (vl >= v[q]) break;
                v[q] = vl;
            }
            prof.airborne[last] = 0;
            prof.frame_y[last] = rs[last].ground + kFrameRideHeight;
            i = last;
            continue;
        }
        double vm = std::max(0.5 * (v[i] + v[i + 1]), 1.0);
        time += step / vm;
        prof.time[i + 1] = time;
        prof.speed[i + 1] = v[i + 1];
        prof.frame_y[i + 1] = rs[i + 1].ground + kFrameRideHeight;
        ++i;
    }
    return prof;
}

namespace {

double interp(const std::vector<double> &v, double f) {
    int n = int(v.size());
    f = std::clamp(f, 0.0, double(n - 1));
    int i = std::min(int(f), n - 2);
    double u = f - i;
    return v[i] + (v[i + 1] - v[i]) * u;
}

// Ride distance at which the profile reaches time t.
double r_at_time(const RideProfile &p, double t) {
    auto it = std::lower_bound(p.time.begin(), p.time.end(), t);
    if (it == p.time.begin()) return 0;
    if (it == p.time.end()) return (p.time.size() - 1) * p.step;
    std::size_t i = std::size_t(it - p.time.begin());
    double t0 = p.time[i - 1], t1 = p.time[i];
    double u = t1 > t0 ? (t - t0) / (t1 - t0) : 0.0;
    return (i - 1 + u) * p.step;
}

double time_at(const RideProfile &p, double r) {
    return interp(p.time, r / p.step);
}

// A line from ride distance r0 to r2 (middle gate at r1), moved sideways by
// offset(u) feet (u = 0..1 along the line).
template <typename Offset>
LineSlotData make_line(const Course &course, const RideProfile &p, double r0, double r1, double r2,
                       Offset offset) {
    LineSlotData line;
    double t0 = time_at(p, r0), t1 = time_at(p, r1), t2 = time_at(p, r2);
    line.first_time = int(std::lround((t1 - t0) * 128.0));
    line.total_time = int(std::lround((t2 - t0) * 128.0));
    for (double t = t0; t <= t2 + 1e-9; t += kPointInterval) {
        double r = r_at_time(p, t);
        CoursePoint c = ride_point(course, r);
        double o = offset((r - r0) / std::max(1.0, r2 - r0));
        double f = r / p.step;
        LinePoint lp;
        lp.x = c.x - c.tz * o;
        lp.z = c.z + c.tx * o;
        lp.y = interp(p.frame_y, f);
        double sp = interp(p.speed, f);
        bool air = p.airborne[std::min(p.airborne.size() - 1, std::size_t(std::lround(f)))] != 0;
        lp.speed = air ? -sp : sp;
        line.points.push_back(lp);
    }
    return line;
}

} // namespace

LineLibrary line_library(const Course &course, const Terrain &t, const GateLayout &gates,
                         Skill skill) {
    LineLibrary lib;
    RideProfile p = ride_profile(course, t, gates, skill);
    const GateData &g = gates.data;
    const std::vector<double> &R = gates.sequence_r;
    int nf = int(g.first_lap.size()), nn = int(g.normal_lap.size());
    const double kPi = 3.14159265358979323846;
    double amp = 0.4 * course.design.half_width;
    for (int sec = 0; sec < nf + nn; ++sec) {
        double r0 = sec == 0 ? 0.0 : R[sec - 1];
        double r1 = R[sec], r2 = R[sec + 1];
        std::vector<LineSlotData> slots;
        if (sec == 0) {
            // Off the start: lines from across the gate, merging into the centre line as
            // the pad narrows to the track.
            double merge = course.design.funnel_start + course.design.funnel_length;
            for (int k = 0; k < 9; ++k) {
                double o0 = (k - 4) * (kStartPositions - 1) * kStartSpacing / 8.0;
                double L = r2 - r0;
                slots.push_back(make_line(course, p, r0, r1, r2, [&](double u) {
                    return o0 * (1.0 - smooth01(u * L / merge));
                }));
            }
        } else {
            for (double side : {0.0, 1.0, -1.0}) {
                slots.push_back(make_line(course, p, r0, r1, r2, [&](double u) {
                    return side * amp * std::sin(kPi * u);
                }));
            }
        }
        lib.sections.push_back(std::move(slots));
    }
    double finish1 = R[nf - 1], finish2 = R[nf + nn - 1], finish3 = R[nf + 2 * nn - 1];
    lib.first_lap_seconds = time_at(p, finish1);
    lib.normal_lap_seconds = time_at(p, finish3) - time_at(p, finish2);
    return lib;
}

std::string line_library_text(const LineLibrary &lib) {
    std::string out;
    char buf[256];
    std::snprintf(buf, sizeof buf, "ct03 %d\n", int(lib.sections.size()));
    out += buf;
    for (const std::vector<LineSlotData> &sec : lib.sections) {
        std::snprintf(buf, sizeof buf, "%d\n", int(sec.size()));
        out += buf;
        for (const LineSlotData &s : sec) {
            // point_count first_time total_time tests best_first best_total sum_first
            // sum_total crashes: untested lines.
            std::snprintf(buf, sizeof buf, "%d %d %d %d %d %d %d %d %d\n", int(s.points.size()),
                          s.first_time, s.total_time, 0, 1000000, 1000000, 0, 0, 0);
            out += buf;
            for (const LinePoint &q : s.points) {
                std::snprintf(buf, sizeof buf, "[%f %f %f] %f %f\n", q.x, q.y, q.z, q.speed, 0.0);
                out += buf;
            }
        }
    }
    return out;
}
