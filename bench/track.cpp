// Terrain queries and track loading.
#include "track/track.h"
#include "files/vfs.h"
#include "track/gates.h"
#include "track/terrain.h"
#include "track/terrain_io.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// An n = 10 terrain (2049 x 2049 samples) with rolling hills and four surface types.
Terrain big_terrain() {
    Terrain t;
    terrain_init_flat(t, 10, 2.0f, 0.0f);
    for (int j = 0; j < t.side; j++) {
        for (int i = 0; i < t.side; i++) {
            t.heights[std::size_t(i) + std::size_t(t.side) * j] =
                float(30.0 * std::sin(i * 0.013) * std::cos(j * 0.017) +
                      3.0 * std::sin(i * 0.2 + j * 0.1));
        }
    }
    t.min_height = -33.0f;
    t.max_height = 33.0f;
    t.tiles.assign(4, tile_type_default());
    t.tile_codes = surface_transition_codes(t.tiles);
    for (std::size_t k = 0; k < t.tilemap.size(); k++) t.tilemap[k] = std::uint8_t(k % 4);
    return t;
}

const Terrain &shared_terrain() {
    static const Terrain t = big_terrain();
    return t;
}

// Points spread over the whole square: every query misses the caches (the worst case).
std::vector<double> random_points(double extent, std::size_t n) {
    std::mt19937 rng(1);
    std::uniform_real_distribution<double> d(0.0, extent);
    std::vector<double> p(2 * n);
    for (double &v : p) v = d(rng);
    return p;
}

// Points near riders: within 40 units of a centre that moves across the square, as the
// wheels, robots and cameras of a race ask.
std::vector<double> local_points(double extent, std::size_t n) {
    std::mt19937 rng(2);
    std::uniform_real_distribution<double> d(-40.0, 40.0);
    std::vector<double> p(2 * n);
    for (std::size_t k = 0; k < n; k++) {
        double c = 100.0 + (extent - 200.0) * double(k) / double(n);
        p[2 * k] = c + d(rng);
        p[2 * k + 1] = extent - c + d(rng);
    }
    return p;
}

void BM_TerrainHeight(benchmark::State &state) {
    const Terrain &t = shared_terrain();
    std::vector<double> p =
        state.range(0) ? local_points(t.extent, 1 << 16) : random_points(t.extent, 1 << 16);
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(terrain_height(t, p[k], p[k + 1]));
        k = (k + 2) & (p.size() - 1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TerrainHeight)->ArgName("local")->Arg(0)->Arg(1);

void BM_TerrainNormal(benchmark::State &state) {
    const Terrain &t = shared_terrain();
    std::vector<double> p =
        state.range(0) ? local_points(t.extent, 1 << 16) : random_points(t.extent, 1 << 16);
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(terrain_normal(t, p[k], p[k + 1]));
        k = (k + 2) & (p.size() - 1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TerrainNormal)->ArgName("local")->Arg(0)->Arg(1);

void BM_TerrainTile(benchmark::State &state) {
    const Terrain &t = shared_terrain();
    std::vector<double> p = random_points(t.extent, 1 << 16);
    std::size_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(terrain_tile(t, p[k], p[k + 1]));
        k = (k + 2) & (p.size() - 1);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TerrainTile);

// A track folder of the big terrain under a private home folder.
struct BenchTrack {
    std::string root;
    BenchTrack() {
        char tmpl[] = "/tmp/vq_bench_track_XXXXXX";
        root = mkdtemp(tmpl);
        setenv("XDG_DATA_HOME", root.c_str(), 1);
        setenv("VQ_HOME", root.c_str(), 1);
        vfs_reset_for_tests();
        Terrain t = big_terrain();
        terrain_save("@tracks/big", t, true);
        Terrain png = big_terrain();
        terrain_save("@tracks/bigpng", png, false);
        GateData g;
        g.checkpoints.resize(4);
        for (int k = 0; k < 4; k++) {
            g.checkpoints[std::size_t(k)].centre[0] = 500.0f + 100.0f * k;
            g.checkpoints[std::size_t(k)].radius = 20.0f;
            g.first_lap.push_back(k);
            g.normal_lap.push_back(k);
        }
        gates_save_file("@tracks/big/timing_gates", g);
    }
    ~BenchTrack() {
        track_free();
        std::error_code ec;
        std::filesystem::remove_all(root, ec);
    }
};

void BM_TrackLoad(benchmark::State &state, const char *dir) {
    static BenchTrack track;
    for (auto _ : state) {
        if (!track_load(dir, 0)) state.SkipWithError("load failed");
    }
    track_free();
}
BENCHMARK_CAPTURE(BM_TrackLoad, inline_n10, "tracks/big")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TrackLoad, png_n10, "tracks/bigpng")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
