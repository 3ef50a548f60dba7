// One physics world step with 1, 10 and 40 bikes: their seven bodies and six joints each,
// no contacts (the bikes fall freely). Reports the time per bike.
#include <benchmark/benchmark.h>

#include <vector>

#include "sim/bike.h"
#include "sim/world.h"
#include "track/terrain.h"

static void BM_PhysicsStep(benchmark::State &state) {
    const int count = int(state.range(0));
    terrain_init_flat(terrain(), 7, 2.0f, 10.0f);
    physics_world_create();
    std::vector<Bike *> bikes;
    for (int i = 0; i < count; ++i)
        bikes.push_back(bike_create("crf450(2013)", i, "1", "", "", "", ""));
    auto place_all = [&] {
        for (int i = 0; i < count; ++i) {
            bike_state_reset(bikes[i]);
            bike_translate(bikes[i], 20.0 + 6 * (i % 8), 200, 20.0 + 10 * (i / 8));
            // Some motion in every joint, as in a ride.
            dBodySetAngularVel(bikes[i]->body[kBodyRearWheel], 40, 0, 0);
            dBodySetAngularVel(bikes[i]->body[kBodyFrame], 0.5, 0.3, 0.2);
        }
    };
    place_all();
    int steps = 0;
    for (auto _ : state) {
        physics_step();
        if (++steps == 512) { // keep the fall short
            state.PauseTiming();
            place_all();
            steps = 0;
            state.ResumeTiming();
        }
    }
    // Seconds per bike and step (printed with an SI prefix, "u" = microseconds).
    state.counters["per_bike"] =
        benchmark::Counter(double(state.iterations()) * count,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    for (Bike *b : bikes) bike_destroy(b);
    physics_world_destroy();
    terrain_clear(terrain());
}
BENCHMARK(BM_PhysicsStep)->Arg(1)->Arg(10)->Arg(40)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
