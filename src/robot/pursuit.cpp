#include "robot/pursuit.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>

#include "files/vfs.h"
#include "platform/log.h"
#include "sim/assists.h"
#include "sim/bike.h"
#include "sim/engine.h"
#include "sim/forces.h"
#include "sim/rider.h"
#include "sim/setup.h"
#include "sim/world.h"
#include "track/gates.h"
#include "track/track.h"

namespace {

constexpr double kPi = std::numbers::pi;
// Steering look-ahead along the line, ft: about a second ahead.
constexpr double kMinLookAhead = 15, kMaxLookAhead = 90;
// How far ahead the steering judges the bike's pose, s, and the largest lean it asks for.
constexpr double kPredict = 0.25, kMaxLean = 0.75;
// How fast the asked-for lean may change, rad/s: about what the bike can follow.
constexpr double kLeanRate = 1.5;
// Sideways grip the driver counts on in a turn (about 0.7 g, a lean of 35 degrees) and
// the braking it plans with, ft/s^2.
constexpr double kCornerAccel = 22.4, kBrakeAccel = 10;
// Over whoops and rollers (a height kink of more than kRoughKink ft between line points)
// the driver rolls through at kRoughSpeed.
constexpr double kRoughKink = 1.0, kRoughSpeed = 30;
// Speed aimed for without a line (toward the next checkpoint only).
constexpr double kNoLineSpeed = 20;

const char *const kLineFiles[3] = {"lines_novice", "lines_amateur", "lines_expert"};

struct PursuitModule {
    PursuitLibrary library;
    PursuitDriver drivers[kPursuitSlots];
};

PursuitModule &module() {
    static PursuitModule m;
    return m;
}

double clamp(double v, double lo, double hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

Vec3 point_of(const PursuitPoint &p) {
    return {p.x, p.y, p.z};
}

double horizontal_distance2(Vec3 a, Vec3 b) {
    double dx = a.x - b.x, dz = a.z - b.z;
    return dx * dx + dz * dz;
}

const PursuitLine *best_line(int section) {
    const PursuitLibrary &lib = module().library;
    if (section < 0 || section >= int(lib.sections.size())) return nullptr;
    const PursuitSection &s = lib.sections[std::size_t(section)];
    if (s.best < 0) return nullptr;
    return &s.lines[std::size_t(s.best)];
}

void choose_best(PursuitSection &s) {
    s.best = -1;
    for (std::size_t i = 0; i < s.lines.size(); ++i) {
        if (s.lines[i].points.empty()) continue;
        if (s.best < 0 || s.lines[std::size_t(s.best)].first_time > s.lines[i].first_time)
            s.best = int(i);
    }
}

// Index of the line point nearest p (squared distance, horizontal or full; first on ties).
int nearest_point(const PursuitLine &line, Vec3 p, bool horizontal) {
    int best = -1;
    double best_d = 0;
    for (std::size_t i = 0; i < line.points.size(); ++i) {
        Vec3 q = point_of(line.points[i]);
        Vec3 d = q - p;
        double dist = horizontal ? horizontal_distance2(q, p) : dot(d, d);
        if (best < 0 || dist < best_d) {
            best = int(i);
            best_d = dist;
        }
    }
    return best;
}

// |speed| at fractional index x along the line (clamped to the line).
double speed_at(const PursuitLine &line, double x) {
    int n = int(line.points.size());
    if (n == 0) return kNoLineSpeed;
    x = clamp(x, 0, n - 1);
    int i = int(std::floor(x));
    int j = std::min(i + 1, n - 1);
    double f = x - i;
    double a = std::fabs(line.points[std::size_t(i)].speed);
    double b = std::fabs(line.points[std::size_t(j)].speed);
    return a + (b - a) * f;
}

// The point dist ft further along the line from fractional index x (horizontally), and
// whether the line ran out before.
Vec3 along_line(const PursuitLine &line, double x, double dist, bool &ran_out) {
    int n = int(line.points.size());
    ran_out = false;
    x = clamp(x, 0, n - 1);
    int i = int(std::floor(x));
    if (i >= n - 1) {
        ran_out = true;
        return point_of(line.points.back());
    }
    Vec3 a = point_of(line.points[std::size_t(i)]), b = point_of(line.points[std::size_t(i + 1)]);
    Vec3 p = a + (b - a) * (x - i);
    for (int k = i + 1; k < n; ++k) {
        Vec3 q = point_of(line.points[std::size_t(k)]);
        double seg = std::sqrt(horizontal_distance2(p, q));
        if (seg >= dist && seg > 0) return p + (q - p) * (dist / seg);
        dist -= seg;
        p = q;
    }
    ran_out = true;
    return p;
}

// Curvature (1/ft) of the horizontal circle through three points; 0 on a line.
double curvature3(Vec3 a, Vec3 b, Vec3 c) {
    double abx = b.x - a.x, abz = b.z - a.z, bcx = c.x - b.x, bcz = c.z - b.z;
    double acx = c.x - a.x, acz = c.z - a.z;
    double cr = abx * bcz - abz * bcx;
    double l =
        std::sqrt((abx * abx + abz * abz) * (bcx * bcx + bcz * bcz) * (acx * acx + acz * acz));
    return l > 1e-9 ? 2 * std::fabs(cr) / l : 0;
}

// The speed the bike may have at point i of the line: what the turn there allows with
// kCornerAccel of sideways grip, and kRoughSpeed over whoops and rollers (a height kink
// of more than kRoughKink ft between neighbouring points, where the line is not in the air).
double point_cap(const PursuitLine &line, int i) {
    int n = int(line.points.size());
    if (i < 1 || i + 1 >= n) return 1e9;
    const PursuitPoint &p0 = line.points[std::size_t(i - 1)], &p1 = line.points[std::size_t(i)];
    const PursuitPoint &p2 = line.points[std::size_t(i + 1)];
    double cap = 1e9;
    double k = curvature3(point_of(p0), point_of(p1), point_of(p2));
    if (k > 1e-6) cap = std::sqrt(kCornerAccel / k);
    bool airborne = p0.speed < 0 || p1.speed < 0 || p2.speed < 0;
    for (int j = i + 1; j < std::min(n, i + 4) && !airborne; ++j)
        airborne = line.points[std::size_t(j)].speed < 0; // a jump's face
    if (!airborne && std::fabs(p2.y - 2 * p1.y + p0.y) > kRoughKink)
        cap = std::min(cap, kRoughSpeed);
    return cap;
}

// The highest speed from which the bike can still brake (at kBrakeAccel) to the caps of
// the line ahead, about three seconds on from fractional index x.
double planned_speed(const PursuitLine &line, double x) {
    int n = int(line.points.size());
    int i0 = std::max(0, int(std::floor(x)));
    double best = 1e9, along = 0;
    for (int i = i0 + 1; i < n && i <= i0 + 12; ++i) {
        along += std::sqrt(horizontal_distance2(point_of(line.points[std::size_t(i - 1)]),
                                                point_of(line.points[std::size_t(i)])));
        double cap = point_cap(line, i);
        best = std::min(best, std::sqrt(cap * cap + 2 * kBrakeAccel * std::max(0.0, along - 10)));
    }
    return best;
}

bool read_slot_header(Stream *s, int v[9]) {
    return stream_scan(s, " %d %d %d %d %d %d %d %d %d ", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5],
                       &v[6], &v[7], &v[8]) == 9;
}

} // namespace

bool pursuit_lines_parse(Stream *s, int sections, PursuitLibrary &out) {
    out.sections.clear();
    int count = -1;
    if (!s || sections <= 0 || stream_scan(s, "ct03 %d ", &count) != 1 || count != sections)
        return false;
    // Every point takes at least 11 characters ("[0 0 0] 0 0"), every slot header 18.
    std::int64_t remaining = stream_remaining(s);
    const std::int64_t budget = remaining >= 0 ? remaining : std::int64_t(1) << 31;
    out.sections.resize(std::size_t(sections));
    for (int sec = 0; sec < sections; ++sec) {
        int slots = -1;
        if (stream_scan(s, " %d ", &slots) != 1 || slots < 0 || slots > budget / 18) break;
        PursuitSection &section = out.sections[std::size_t(sec)];
        bool ok = true;
        for (int k = 0; k < slots && ok; ++k) {
            int v[9];
            if (!read_slot_header(s, v) || v[0] < 0 || v[0] > budget / 11) {
                ok = false;
                break;
            }
            PursuitLine line;
            line.first_time = v[1];
            line.points.reserve(std::size_t(v[0]));
            for (int p = 0; p < v[0]; ++p) {
                float x, y, z, speed, fifth;
                if (stream_scan(s, " [ %f %f %f ] %f %f ", &x, &y, &z, &speed, &fifth) != 5 ||
                    !std::isfinite(x) || !std::isfinite(y) || !std::isfinite(z) ||
                    !std::isfinite(speed)) {
                    ok = false;
                    break;
                }
                line.points.push_back({x, y, z, speed});
            }
            if (!ok) break;
            if (k < kPursuitLinesPerSection) section.lines.push_back(std::move(line));
        }
        choose_best(section);
        if (!ok) break;
    }
    return true;
}

bool pursuit_lines_load(int skill) {
    pursuit_lines_clear();
    const TrackState &track = track_state();
    const GateData &g = gates();
    int sections = g.first_lap_segments + g.normal_lap_segments;
    if (!track.loaded || sections <= 0 || skill < 0 || skill > 2) return false;
    std::string path = "@" + track.dir + "/" + kLineFiles[skill];
    Stream *s = vfs_open(path.c_str(), "rb");
    if (!s) return false;
    bool ok = pursuit_lines_parse(s, sections, module().library);
    vfs_close(s);
    if (!ok)
        log_printf("pursuit: %s does not match the track's %d sections\n", path.c_str(), sections);
    return ok;
}

void pursuit_lines_use(PursuitLibrary library) {
    module().library = std::move(library);
}

void pursuit_lines_clear() {
    module().library.sections.clear();
}

const PursuitLibrary &pursuit_lines() {
    return module().library;
}

int pursuit_section(int next_gate, int ahead) {
    const GateData &g = gates();
    int first = g.first_lap_segments, normal = g.normal_lap_segments;
    if (g.checkpoints.empty() || normal <= 0) return -1;
    int s = segment_of(g, std::max(0, next_gate)) + ahead;
    if (s < first) return s;
    return first + (s - first) % normal;
}

bool pursuit_course_point(const Bike *b, Vec3 *out) {
    if (!b || !out || !b->body[kBodyFrame]) return false;
    Vec3 p = body_position(b->body[kBodyFrame]);
    for (int k = 0; k <= 1; ++k) {
        const PursuitLine *line = best_line(pursuit_section(b->gates.next_gate, k));
        if (!line || line->points.size() < 2) return false;
        int i = nearest_point(*line, p, false);
        int n = int(line->points.size());
        if (i == n - 1) continue;
        int want = i + 4;
        if (want < n) {
            *out = point_of(line->points[std::size_t(want)]);
            return true;
        }
        int e = want - (n - 1);
        const PursuitLine *next = best_line(pursuit_section(b->gates.next_gate, k + 1));
        if (next && !next->points.empty())
            *out = point_of(next->points[std::size_t(std::min(e, int(next->points.size()) - 1))]);
        else
            *out = point_of(line->points[std::size_t(i)]);
        return true;
    }
    return false;
}

void pursuit_driver_begin(Bike *b, PursuitDriver &d) {
    d = PursuitDriver{};
    if (!b) return;
    // The assists of the rider profile's default "Stability" (100): lean steering, and the
    // roll damped hard beyond 35 degrees so that the bike does not fall into a turn.
    bike_set_direct_steering(b, 0);
    bike_set_roll_damping(b, 80);
    bike_set_roll_limit_angle(b, float(35 * kPi / 180));
    bike_set_roll_limit_factor(b, 32);
    bike_set_slow_damping_speed(b, 40);
    bike_set_slow_damping_factor(b, 2);
    bike_set_auto_shift(b, 1);
    bike_set_stop_wheelies(b, 3);
    bike_set_rear_antilock(b, 1);
}

void pursuit_driver_step(Bike *b, PursuitDriver &d) {
    if (!b || !b->body[kBodyFrame]) return;
    dBodyID frame = b->body[kBodyFrame];
    Vec3 p = body_position(frame);
    Vec3 vel = body_linear_vel(frame);
    double v = length(vel);
    Vec3 fwd = body_vector_to_world(frame, {0, 0, -1});
    fwd.y = 0;
    fwd = normalised(fwd);
    // Heading: the direction of travel once moving, else where the bike points.
    Vec3 dir = fwd;
    Vec3 hv{vel.x, 0, vel.z};
    if (length(hv) > 3) dir = normalised(hv);

    // Where to go and how fast: the best line of this section, else the next checkpoint.
    double target_speed = kNoLineSpeed;
    bool have_aim = false;
    double look = clamp(1.0 * v + 10, kMinLookAhead, kMaxLookAhead);
    const PursuitLine *line = best_line(pursuit_section(b->gates.next_gate));
    if (line && line->points.size() >= 2) {
        int i = nearest_point(*line, p, true);
        int n = int(line->points.size());
        // Fractional position: project onto the segment after (or before) the nearest point.
        double x = i;
        int j = i + 1 < n ? i + 1 : i - 1;
        Vec3 a = point_of(line->points[std::size_t(i)]), c = point_of(line->points[std::size_t(j)]);
        Vec3 seg{c.x - a.x, 0, c.z - a.z};
        double l2 = dot(seg, seg);
        if (l2 > 0) {
            double t = clamp(dot(Vec3{p.x - a.x, 0, p.z - a.z}, seg) / l2, 0, 1);
            x = j > i ? i + t : i - t;
        }
        // The speed half a second on, or less when the line slows within a second: the
        // braking starts early and gently.
        target_speed = std::min(speed_at(*line, x + 2), speed_at(*line, x + 4));
        // No faster than the turns ahead allow the bike to lean, and slowly over bumps.
        target_speed = std::min(target_speed, std::max(12.0, planned_speed(*line, x)));
        double off = std::sqrt(horizontal_distance2(p, point_of(line->points[std::size_t(i)])));
        if (off < 40) {
            bool ran_out = false;
            d.aim = along_line(*line, x, look + v * kPredict, ran_out);
            have_aim = true;
        }
    }
    if (!have_aim) {
        Vec3 cp;
        if (rider_course_point(b, &cp)) {
            d.aim = cp;
            have_aim = true;
        }
    }
    d.target_speed = float(target_speed);

    // Steering: the lean that turns onto the aim point (pure pursuit), judged from where
    // the bike will be and point once its lean has followed (a fraction of a second on),
    // given as a lean-steering input: the assists lean the bike toward -steer times the
    // allowed lean.
    double lean = 0;
    if (have_aim) {
        double yaw_rate = body_angular_vel(frame).y; // positive turns left
        double heading = std::atan2(-dir.x, -dir.z) + yaw_rate * kPredict;
        Vec3 pdir{-std::sin(heading), 0, -std::cos(heading)};
        Vec3 at = p + dir * (v * kPredict);
        Vec3 to{d.aim.x - at.x, 0, d.aim.z - at.z};
        double dist = std::max(1.0, length(to));
        Vec3 left{pdir.z, 0, -pdir.x}; // the predicted heading turned 90 degrees left
        double alpha = std::atan2(dot(to, left), dot(to, pdir));
        double curvature = 2 * std::sin(alpha) / dist;
        lean = std::atan(v * v * curvature / kGravity);
        if (std::fabs(alpha) > kPi / 2) lean = alpha > 0 ? kMaxLean : -kMaxLean; // turn round
        lean = clamp(lean, -kMaxLean, kMaxLean);
    }
    double step = kLeanRate * kStepSeconds;
    lean = clamp(lean, d.lean_target - step, d.lean_target + step);
    d.lean_target = float(lean);
    const BikeSetup &su = b->setup;
    double allowed = allowed_lean(v, su.roll_limit_angle, su.max_dab_speed, 4);
    double steer = allowed > 1e-3 ? -lean / allowed : (lean > 0 ? -1 : lean < 0 ? 1 : 0);
    rider_set_steer(b, float(clamp(steer, -1, 1)));

    // Speed: full throttle well below the target, easing off near it, braking above it.
    bool rear_down = b->wheels[1].depth > 0;
    bool front_down = b->wheels[0].depth > 0;
    double throttle = 0, brake = 0;
    if (rear_down || front_down) {
        if (v < target_speed - 1)
            throttle = 1;
        else if (v < target_speed)
            throttle = target_speed - v;
        else
            brake = clamp((v - target_speed) * 0.25, 0, 1);
    }
    // Traction control: no drive while the rear tyre runs faster than the bike (spinning on
    // the ground or in the air), nor while the rear wheel is off the ground.
    const WheelSpec &rw = b->model.rear_wheel;
    double rim_speed = (double(rw.rim_radius) + rw.tube_radius) *
                       dJointGetHingeAngleRate(b->joint[kJointRearAxle]);
    throttle *= clamp(1 - (rim_speed - v - 3) / 6, 0, 1);
    if (!rear_down) throttle = 0;
    // Less drive and less braking the harder the bike leans.
    double roll = std::fabs(roll_angle(frame));
    throttle *= clamp(1.2 - roll, 0.3, 1);
    rider_set_throttle(b, float(throttle));
    rider_set_front_brake(b, float(brake * clamp(1 - roll / 0.6, 0, 1)));
    rider_set_rear_brake(b, float(brake * clamp(1 - roll / 1.2, 0, 1)));
    rider_set_clutch(b, 1);
    // Stopped and leaning over: put a foot down, which pushes the bike upright and turns it
    // back toward the course.
    bool down = v < 6 && roll > 0.35;
    if (down) rider_set_throttle(b, 0);
    rider_set_sit_dab(b, down ? 1 : 0);
    rider_set_lean(b, 0);
    rider_set_back_up(b, 0);
    d.slow_steps = b->crash_timer <= 0 && v < 3 ? d.slow_steps + 1 : 0;
}

void pursuit_robot_create(int slot, Bike *bike, const char *) {
    if (slot < 0 || slot >= kPursuitSlots) return;
    pursuit_driver_begin(bike, module().drivers[slot]);
}

void pursuit_robot_step(int slot, Bike *bike) {
    if (slot < 0 || slot >= kPursuitSlots) return;
    pursuit_driver_step(bike, module().drivers[slot]);
}
