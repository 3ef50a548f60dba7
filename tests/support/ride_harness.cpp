#include "support/ride_harness.h"

#include <cmath>
#include <cstdlib>
#include <sstream>

#include "race/timing.h"
#include "sim/assists.h"
#include "sim/bike.h"
#include "sim/engine.h"
#include "sim/forces.h"
#include "sim/ground.h"
#include "sim/rider.h"
#include "sim/world.h"
#include "track/gates.h"
#include "track/terrain.h"

namespace {

bool set_control(RiderControls &c, const std::string &name, float v) {
    struct Field {
        const char *name;
        float RiderControls::*member;
    };
    static const Field fields[] = {
        {"steer", &RiderControls::steer},
        {"throttle", &RiderControls::throttle},
        {"front_brake", &RiderControls::front_brake},
        {"rear_brake", &RiderControls::rear_brake},
        {"shift", &RiderControls::shift},
        {"clutch", &RiderControls::clutch},
        {"dab", &RiderControls::dab},
        {"back_up", &RiderControls::back_up},
        {"lean", &RiderControls::lean},
    };
    for (const Field &f : fields)
        if (name == f.name) {
            c.*(f.member) = v;
            return true;
        }
    return false;
}

bool body_finite(const Bike *b) {
    for (dBodyID body : b->body)
        if (!finite(body_position(body)) || !finite(body_linear_vel(body))) return false;
    return true;
}

} // namespace

bool ride_script_parse(const std::string &text, std::vector<RideCue> &cues, std::string *error) {
    cues.clear();
    std::istringstream in(text);
    std::string line;
    RiderControls current;
    int number = 0;
    auto fail = [&](const std::string &why) {
        if (error) *error = "line " + std::to_string(number) + ": " + why;
        cues.clear();
        return false;
    };
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        std::string word;
        if (!(words >> word) || word[0] == '#') continue;
        char *end = nullptr;
        double time = std::strtod(word.c_str(), &end);
        if (*end || !std::isfinite(time) || time < 0) return fail("bad time '" + word + "'");
        if (!cues.empty() && time < cues.back().time) return fail("time goes back");
        while (words >> word) {
            std::size_t eq = word.find('=');
            if (eq == std::string::npos) return fail("expected name=value, got '" + word + "'");
            std::string value = word.substr(eq + 1);
            float v = std::strtof(value.c_str(), &end);
            if (value.empty() || *end || !std::isfinite(v)) return fail("bad value '" + word + "'");
            if (!set_control(current, word.substr(0, eq), v))
                return fail("unknown control '" + word.substr(0, eq) + "'");
        }
        cues.push_back({time, current});
    }
    return true;
}

void ride_begin(Ride &r, Bike *bike, bool drive) {
    r.bike = bike;
    r.drive = drive;
    r.cue = 0;
    r.steps = 0;
    r.down = false;
    r.samples.clear();
    r.summary = RideSummary{};
    if (drive) pursuit_driver_begin(bike, r.driver);
    RiderCourseHooks hooks;
    hooks.course_point = pursuit_course_point;
    rider_course_hooks_set(hooks);
    sim_clock().race_start = sim_clock().race_clock = 0;
    bike->gates = RiderGates{};
}

Bike *ride_bike_at_start(const char *model, int slot) {
    const GateData &g = gates();
    if (g.starts.empty()) return nullptr;
    const StartPosition &s = g.starts[std::size_t(slot) < g.starts.size() ? std::size_t(slot) : 0];
    const Terrain &t = terrain();
    double x = s.x + std::sin(s.angle) * (10.0 / 16), z = s.z + std::cos(s.angle) * (10.0 / 16);
    double y = terrain_height(t, std::round(x / t.spacing) * t.spacing,
                              std::round(z / t.spacing) * t.spacing);
    Bike *b = bike_create(model, slot, "1", "", "", "", "");
    bike_place(b, x, y, z, s.angle);
    return b;
}

RideSample ride_sample(const Ride &r) {
    RideSample s;
    const Bike *b = r.bike;
    dBodyID frame = b->body[kBodyFrame];
    s.time = double(r.steps) * kStepSeconds;
    s.position = body_position(frame);
    s.velocity = body_linear_vel(frame);
    s.speed = length(s.velocity);
    s.roll = roll_angle(frame);
    Vec3 f = body_vector_to_world(frame, {0, 0, -1});
    s.heading = std::atan2(-f.x, -f.z);
    s.steer_angle = dJointGetHingeAngle(b->joint[kJointSteering]);
    s.crash_timer = b->crash_timer;
    s.gear = bike_gear(b);
    s.next_gate = b->gates.next_gate;
    s.rpm = bike_rpm(b);
    s.throttle = b->input.throttle;
    s.steer = b->input.steer;
    s.front_slip = steer_slip_angle(b);
    for (int i = 0; i < 2; ++i)
        s.slide[i] = b->wheels[i].depth > 0 ? length(vec3(b->wheels[i].point_velocity)) : 0;
    if (r.drive) {
        s.lean_target = r.driver.lean_target;
        s.target_speed = r.driver.target_speed;
    }
    return s;
}

void ride_step(Ride &r) {
    Bike *b = r.bike;
    if (!b) return;
    double t = double(r.steps) * kStepSeconds;
    if (!r.drive) {
        while (r.cue + 1 < r.cues.size() && r.cues[r.cue + 1].time <= t) ++r.cue;
        if (r.cue < r.cues.size() && r.cues[r.cue].time <= t)
            rider_controls_apply(b, r.cues[r.cue].controls, r.options);
    }
    if (r.control) r.control(r);
    int crashes = b->crash_count;
    Vec3 before = body_position(b->body[kBodyFrame]);

    bike_collide_world(b);
    physics_step();
    ++sim_clock().race_clock;
    if (r.drive) pursuit_driver_step(b, r.driver);
    bike_step(b);

    const GateData &g = gates();
    if (!g.checkpoints.empty()) {
        RaceLaps race{1000000, &b->gates};
        Vec3 front = body_position(b->body[kBodyFrontWheel]);
        gates_check(g, b->gates, front.x, front.z, int(sim_clock().race_clock), race);
    }

    ++r.steps;
    RideSummary &sum = r.summary;
    if (!body_finite(b)) {
        sum.blew_up = true;
        return;
    }
    Vec3 now = body_position(b->body[kBodyFrame]);
    sum.seconds = double(r.steps) * kStepSeconds;
    sum.distance += length(now - before);
    sum.top_speed = std::fmax(sum.top_speed, length(body_linear_vel(b->body[kBodyFrame])));
    sum.falls += b->crash_count - crashes;
    double lean = std::fabs(roll_angle(b->body[kBodyFrame]));
    if (!r.down && lean > 1.0 && b->crash_timer <= 0) {
        r.down = true;
        ++sum.downs;
    } else if (r.down && lean < 0.5) {
        r.down = false;
    }
    if (!g.checkpoints.empty()) {
        int laps = lap_of(g, b->gates).lap;
        while (sum.laps < laps) {
            ++sum.laps;
            sum.lap_times.push_back(lap_time(g, b->gates, sum.laps, 0));
        }
    }
    if (r.sample_every > 0 && r.steps % r.sample_every == 0) r.samples.push_back(ride_sample(r));
}

const RideSummary &ride_run(Ride &r, double seconds, int laps) {
    long long end = r.steps + (long long)(std::ceil(seconds / kStepSeconds));
    while (r.steps < end && !r.summary.blew_up && (laps <= 0 || r.summary.laps < laps))
        ride_step(r);
    return r.summary;
}

void ride_end(Ride &r) {
    rider_course_hooks_set(RiderCourseHooks{});
    r.bike = nullptr;
}
