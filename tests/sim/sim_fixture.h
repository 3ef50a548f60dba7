// Shared set-up of the bike simulation tests: a private virtual file system, a flat
// terrain, the physics world, and helpers for fixture collision shapes.
#pragma once
#include <cmath>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "files/settings.h"
#include "files/setup.h"
#include "sim/bike.h"
#include "sim/forces.h"
#include "sim/shapes.h"
#include "sim/world.h"
#include "support/tempdir.h"
#include "track/terrain.h"

// A shape text with one sphere per entry {x, y, z, radius}, friction 1, k 2500, c 250.
inline std::string shape_text(const std::vector<std::vector<float>> &spheres) {
    std::string s = std::to_string(spheres.size()) + "\n";
    for (const auto &sp : spheres)
        s += std::to_string(sp[0]) + " " + std::to_string(sp[1]) + " " + std::to_string(sp[2]) +
             "\n" + std::to_string(sp[3]) + " 1.0 2500 250\n";
    return s;
}

// Stand-ins for the suspension and rider springs, which other modules provide: plain
// springs through the joint motors and a spring holding the torso at its seat, enough
// for a bike to stand.
inline void stand_in_springs(Bike *b) {
    double p = dJointGetSliderPosition(b->joint[kJointFork]);
    double v = dJointGetSliderPositionRate(b->joint[kJointFork]);
    double fade = std::fmin(1.0, std::fmax(0.0, -32 * p));
    motor_force(b->joint[kJointFork], (700 * (0.1 - p) - 60 * v) * fade);
    double a = dJointGetHingeAngle(b->joint[kJointSwingarm]);
    double w = dJointGetHingeAngleRate(b->joint[kJointSwingarm]);
    fade = std::fmin(1.0, std::fmax(0.0, -32 * a / b->model.swingarm_travel));
    motor_force(b->joint[kJointSwingarm], (1600 * (0.1 - a) - 40 * w) * fade);
    dBodyID frame = b->body[kBodyFrame], torso = b->body[kBodyTorso];
    if (!b->rider_attached) return;
    Vec3 rest = body_point_to_world(frame, vec3(b->model.torso_pos) - vec3(b->model.frame_pos));
    Vec3 f = (rest - body_position(torso)) * 1500.0 +
             (body_linear_vel(frame) - body_linear_vel(torso)) * 80.0;
    body_add_force(torso, f);
    body_add_force_at_pos(frame, -f, body_position(torso));
}

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        shapes_free_all();
        // 129 x 129 samples, 2 ft apart: a 256 ft square at height 10.
        terrain_init_flat(terrain(), 6, 2.0f, 10.0f);
        physics_world_create();
        sim_clock() = SimClock{};
        setup_reset_for_tests();
        settings_reset();
    }
    void TearDown() override {
        for (Bike *b : bikes_) bike_destroy(b);
        bikes_.clear();
        physics_world_destroy();
        shapes_free_all();
        terrain_clear(terrain());
        setup_set_hooks(nullptr);
    }
    Bike *make(const char *model = "crf450(2013)") {
        Bike *b = bike_create(model, int(bikes_.size()), "12", "", "", "", "");
        bikes_.push_back(b);
        return b;
    }
    // Writes a collision shape into the installation folder (before bikes are made).
    void install_shape(const std::string &name, const std::string &text) {
        sandbox_.write_install(name, text);
        sandbox_.reset();
        shapes_free_all();
    }
    VfsSandbox sandbox_;
    std::vector<Bike *> bikes_;
};
