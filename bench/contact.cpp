// Contact generation: one wheel's ground contact per step (the torus query over the
// terrain triangles, the contact joint and the rolling resistance), and one whole step of
// 40 bikes riding together (terrain, bike-pair and shape contacts, the world step and the
// bike steps).
//
// The ground is a rolling heightfield with the sample spacing of the generated tracks
// (1.5 ft); the bikes carry synthetic collision shapes with the sphere counts of the
// game's shapes.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "sim/bike.h"
#include "sim/contact.h"
#include "sim/engine.h"
#include "sim/ground.h"
#include "sim/shapes.h"
#include "sim/world.h"
#include "track/terrain.h"

namespace {

void rolling_ground() {
    Terrain &t = terrain();
    terrain_init_flat(t, 8, 1.5f, 10.0f);
    for (int j = 0; j < t.side; ++j)
        for (int i = 0; i < t.side; ++i)
            t.heights[std::size_t(i + t.side * j)] =
                float(10 + 2.0 * std::sin(i * 0.05) * std::cos(j * 0.04) +
                      0.03 * ((i * 7 + j * 13) % 11));
}

// A shape of n spheres of radius r spread over a box of half-size h around the body.
std::unique_ptr<CollisionShape> synthetic_shape(int n, float r, Vec3 h) {
    std::string text = std::to_string(n) + "\n";
    for (int k = 0; k < n; ++k) {
        double u = (k + 0.5) / n;
        double x = h.x * std::sin(k * 2.3), y = h.y * (2 * u - 1), z = h.z * std::cos(k * 1.7);
        text += std::to_string(x) + " " + std::to_string(y) + " " + std::to_string(z) + " " +
                std::to_string(r) + " 0.5 2500 250\n";
    }
    auto shape = std::make_unique<CollisionShape>();
    shape_parse("synthetic", text.data(), text.size(), *shape);
    return shape;
}

struct Shapes {
    std::unique_ptr<CollisionShape> s[kShapeCount];
    Shapes() {
        s[kShapeFrame] = synthetic_shape(23, 0.32f, {0.35, 0.7, 1.4});
        s[kShapeForkUpper] = synthetic_shape(11, 0.15f, {1.0, 0.5, 0.6});
        s[kShapeForkLower] = synthetic_shape(8, 0.13f, {0.42, 0.6, 0.3});
        s[kShapeSwingarm] = synthetic_shape(8, 0.14f, {0.42, 0.2, 0.9});
        s[kShapeFrontWheel] = synthetic_shape(17, 0.33f, {0.05, 0.8, 0.8});
        s[kShapeRearWheel] = synthetic_shape(17, 0.33f, {0.05, 0.75, 0.75});
        s[kShapeRider] = synthetic_shape(27, 0.28f, {0.6, 1.2, 0.7});
    }
    void attach(Bike *b) const {
        for (int i = 0; i < kShapeCount; ++i) b->shapes[i].shape = s[i].get();
    }
};

// One wheel touching the ground, rolling along the hills: its contact is made once per
// iteration (the joints are dropped every 1024 iterations, outside the timing).
void BM_WheelGroundContact(benchmark::State &state) {
    rolling_ground();
    physics_world_create();
    Bike *b = bike_create("crf450(2013)", 0, "1", "", "", "", "");
    WheelContact &w = b->wheels[0];
    dBodySetLinearVel(w.body, 0.3, 0, -20);
    dBodySetAngularVel(w.body, -18, 0, 0);
    int n = 0;
    double x = 200, z = 300;
    for (auto _ : state) {
        x += 0.013;
        z -= 0.151;
        double ground = terrain_height(x, z);
        dBodySetPosition(w.body, x, ground + 1.0833 - 0.11, z);
        benchmark::DoNotOptimize(wheel_ground_contact(terrain(), w, 1.0));
        if (++n == 1024) {
            state.PauseTiming();
            physics_contacts_clear();
            n = 0;
            if (z < 100) z = 300;
            state.ResumeTiming();
        }
    }
    physics_contacts_clear();
    bike_destroy(b);
    physics_world_destroy();
    terrain_clear(terrain());
}
BENCHMARK(BM_WheelGroundContact)->Unit(benchmark::kMicrosecond);

// The deepest-contact query alone.
void BM_TorusTerrainDeepest(benchmark::State &state) {
    rolling_ground();
    double x = 200, z = 300;
    for (auto _ : state) {
        x += 0.013;
        z -= 0.151;
        if (z < 100) z = 300;
        GroundHit hit;
        benchmark::DoNotOptimize(torus_terrain_deepest(
            terrain(), {x, terrain_height(x, z) + 0.97, z}, {1, 0.02, 0.01}, 0.8333, 0.3333, hit));
    }
    terrain_clear(terrain());
}
BENCHMARK(BM_TorusTerrainDeepest)->Unit(benchmark::kMicrosecond);

// One simulation step of 40 bikes riding in a pack (8 abreast, 6 ft apart, rows 12 ft
// apart): every bike's terrain contacts, all bike pairs, the world step, every bike step.
void BM_FortyBikesRiding(benchmark::State &state) {
    const int count = 40;
    rolling_ground();
    physics_world_create();
    static const Shapes shapes;
    std::vector<Bike *> bikes;
    for (int i = 0; i < count; ++i) {
        Bike *b = bike_create("crf450(2013)", i, "1", "", "", "", "");
        shapes.attach(b);
        bikes.push_back(b);
    }
    auto start = [&] {
        sim_clock() = SimClock{};
        for (int i = 0; i < count; ++i) {
            Bike *b = bikes[std::size_t(i)];
            double x = 300 + 6 * (i % 8), z = 600 + 12 * (i / 8);
            bike_place(b, x, terrain_height(x, z), z, 0);
            for (dBodyID body : b->body) dBodySetLinearVel(body, 0, 0, -30);
            for (BikeBody wheel : {kBodyFrontWheel, kBodyRearWheel})
                dBodySetAngularVel(b->body[wheel], -30 / 1.0833, 0, 0);
            b->gear = 2;
            b->engine_speed = float(30 / 1.0833 * bike_drive_ratio(b));
            rider_set_clutch(b, 1);
            rider_set_throttle(b, 0.4f);
        }
    };
    start();
    int steps = 0, samples = 0, upright = 0;
    double speed_sum = 0;
    for (auto _ : state) {
        for (Bike *b : bikes) bike_collide_world(b);
        for (int i = 0; i < count; ++i)
            for (int j = i + 1; j < count; ++j)
                bike_collide_bikes(bikes[std::size_t(i)], bikes[std::size_t(j)], false);
        physics_step();
        for (Bike *b : bikes) bike_step(b);
        if (++steps == 512) {
            state.PauseTiming();
            for (Bike *b : bikes) {
                speed_sum += bike_frame_speed(b);
                upright += body_vector_to_world(b->body[kBodyFrame], {0, 1, 0}).y > 0.8;
                ++samples;
            }
            start();
            steps = 0;
            state.ResumeTiming();
        }
    }
    // How the pack rode: mean speed (ft/s) and the share of bikes upright after 4 s.
    if (samples > 0) {
        state.counters["speed"] = speed_sum / samples;
        state.counters["upright"] = double(upright) / samples;
    }
    for (Bike *b : bikes) {
        for (ShapeInstance &s : b->shapes) s.shape = nullptr;
        bike_destroy(b);
    }
    physics_world_destroy();
    terrain_clear(terrain());
}
BENCHMARK(BM_FortyBikesRiding)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
