// The rider's share of a bike step: the rider stages with the assists (coupling springs,
// crash checks, stop helpers, steering law, steering damping, foot down and feet) of one
// bike riding on flat ground, and the drawn pose (nine bones and the head) of one bike.
#include <benchmark/benchmark.h>

#include "sim/assists.h"
#include "sim/bike.h"
#include "sim/ground.h"
#include "sim/pose.h"
#include "sim/rider.h"
#include "sim/world.h"
#include "track/terrain.h"

namespace {

Bike *riding_bike() {
    terrain_init_flat(terrain(), 8, 4.0f, 10.0f);
    physics_world_create();
    Bike *b = bike_create("crf450(2013)", 0, "1", "", "", "", "");
    bike_place(b, 1000, 10, 1900, 0);
    for (dBodyID body : b->body) body_set_linear_vel(body, {0, 0, -30});
    body_set_angular_vel(b->body[kBodyFrontWheel], {-26, 0, 0});
    body_set_angular_vel(b->body[kBodyRearWheel], {-28, 0, 0});
    bike_collide_ground(b);
    physics_step();
    return b;
}

void done(Bike *b) {
    bike_destroy(b);
    physics_world_destroy();
    terrain_clear(terrain());
}

} // namespace

static void BM_RiderStages(benchmark::State &state) {
    Bike *b = riding_bike();
    rider_set_steer(b, -0.3f);
    rider_set_sit_dab(b, 0.5f);
    for (auto _ : state) {
        rider_crash_check_motion(b);
        rider_fall_update(b);
        rider_stop_update(b);
        rider_coupling_update(b);
        steering_assist_update(b);
        steering_damping_apply(b);
        rider_dab_update(b);
        rider_feet_update(b);
        state.PauseTiming();
        physics_contacts_clear(); // the springs made this step
        for (dBodyID body : b->body) {
            dBodySetForce(body, 0, 0, 0);
            dBodySetTorque(body, 0, 0, 0);
        }
        state.ResumeTiming();
    }
    done(b);
}
BENCHMARK(BM_RiderStages)->Unit(benchmark::kMicrosecond);

static void BM_RiderPose(benchmark::State &state) {
    Bike *b = riding_bike();
    b->dab_pose = 0.5f;
    RiderBones bones{};
    for (auto _ : state) {
        rider_arm_bones(b, bones);
        rider_leg_bones(b, bones);
        rider_torso_bone(b, bones);
        HeadPose head = rider_head_pose(b);
        benchmark::DoNotOptimize(bones);
        benchmark::DoNotOptimize(head);
    }
    done(b);
}
BENCHMARK(BM_RiderPose)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
