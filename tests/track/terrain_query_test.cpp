#include "support/fixture_track.h"
#include "track/terrain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

class TerrainQuery : public ::testing::Test {
protected:
    void SetUp() override {
        FixtureTrack f; // n = 7: 257 x 257 samples, spacing 2
        t = fixture_terrain(f);
    }
    double h(int i, int j) const {
        i = std::clamp(i, 0, t.side - 1);
        j = std::clamp(j, 0, t.side - 1);
        return t.heights[std::size_t(i) + std::size_t(t.side) * std::size_t(j)];
    }
    double at(double fi, double fj) const {
        return terrain_height(t, fi * t.spacing, fj * t.spacing);
    }
    Terrain t;
};

TEST_F(TerrainQuery, OnASampleTheHeightIsThatSample) {
    const int samples[][2] = {{0, 0}, {1, 0},    {0, 1},     {5, 8},
                              {8, 5}, {100, 37}, {255, 256}, {256, 256}};
    for (const auto &s : samples)
        EXPECT_DOUBLE_EQ(at(s[0], s[1]), h(s[0], s[1])) << s[0] << "," << s[1];
}

TEST_F(TerrainQuery, DiagonalsAlternateLikeACheckerboard) {
    // The diagonal is an edge of both triangles, so along it the height is linear between
    // its two ends; across the other diagonal it is not.
    const int cells[][2] = {{10, 20}, {11, 20}, {10, 21}, {37, 64}, {0, 0}, {0, 1}};
    for (const auto &c : cells) {
        int i = c[0], j = c[1];
        bool even = (i + j) % 2 == 0;
        for (double q : {0.25, 0.5, 0.8}) {
            double expected = even ? h(i, j) + q * (h(i + 1, j + 1) - h(i, j))
                                   : h(i + 1, j) + q * (h(i, j + 1) - h(i + 1, j));
            double got = even ? at(i + q, j + q) : at(i + 1 - q, j + q);
            EXPECT_NEAR(got, expected, 1e-9) << "cell " << i << "," << j << " q " << q;
        }
    }
}

TEST_F(TerrainQuery, OffTheDiagonalThePlaneOfTheTriangleHolds) {
    // Cell (10, 20) is even: the lower-right triangle (i + 1, j), (i, j), (i + 1, j + 1).
    int i = 10, j = 20;
    double u = 0.7, v = 0.2;
    double expected =
        h(i + 1, j) + (1 - u) * (h(i, j) - h(i + 1, j)) + v * (h(i + 1, j + 1) - h(i + 1, j));
    EXPECT_NEAR(at(i + u, j + v), expected, 1e-9);
    // Cell (11, 20) is odd: the upper-left triangle (i, j), (i + 1, j), (i, j + 1).
    i = 11;
    u = 0.2;
    v = 0.3;
    expected = h(i, j) + u * (h(i + 1, j) - h(i, j)) + v * (h(i, j + 1) - h(i, j));
    EXPECT_NEAR(at(i + u, j + v), expected, 1e-9);
}

TEST_F(TerrainQuery, ExactlyOnTheDiagonalTheFirstTriangleAnswers) {
    // Even cell: the first triangle is the one holding corner (i + 1, j).
    int i = 10, j = 20;
    TerrainVector on = terrain_normal(t, (i + 0.5) * t.spacing, (j + 0.5) * t.spacing);
    TerrainVector first = terrain_normal(t, (i + 0.6) * t.spacing, (j + 0.3) * t.spacing);
    TerrainVector second = terrain_normal(t, (i + 0.3) * t.spacing, (j + 0.6) * t.spacing);
    EXPECT_DOUBLE_EQ(on.x, first.x);
    EXPECT_DOUBLE_EQ(on.y, first.y);
    EXPECT_DOUBLE_EQ(on.z, first.z);
    EXPECT_NE(on.x, second.x);
}

TEST_F(TerrainQuery, NormalAgreesWithTheHeightsFiniteDifference) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> cell(2.0, 250.0), frac(0.05, 0.95);
    const double eps = 1e-4;
    int checked = 0;
    while (checked < 200) {
        double fi = std::floor(cell(rng)), fj = std::floor(cell(rng));
        double u = frac(rng), v = frac(rng);
        // Stay clear of both diagonals so the finite difference stays in one triangle.
        if (std::fabs(u - v) < 0.05 || std::fabs(u + v - 1) < 0.05) continue;
        double x = (fi + u) * t.spacing, z = (fj + v) * t.spacing;
        TerrainVector n = terrain_normal(t, x, z);
        ASSERT_GT(n.y, 0.0);
        double dhdx = (terrain_height(t, x + eps, z) - terrain_height(t, x - eps, z)) / (2 * eps);
        double dhdz = (terrain_height(t, x, z + eps) - terrain_height(t, x, z - eps)) / (2 * eps);
        EXPECT_NEAR(-n.x / n.y, dhdx, 1e-6) << x << "," << z;
        EXPECT_NEAR(-n.z / n.y, dhdz, 1e-6) << x << "," << z;
        checked++;
    }
}

TEST_F(TerrainQuery, NormalIsInWorldUnitsAndNotNormalised) {
    Terrain flat;
    terrain_init_flat(flat, 7, 2.0f, 5.0f);
    TerrainVector n = terrain_normal(flat, 33.3, 71.9);
    EXPECT_DOUBLE_EQ(n.x, 0.0);
    EXPECT_DOUBLE_EQ(n.y, 4.0); // spacing squared
    EXPECT_DOUBLE_EQ(n.z, 0.0);
    EXPECT_DOUBLE_EQ(terrain_height(flat, 100.0, 3.0), 5.0);
}

TEST_F(TerrainQuery, OutsideTheSquareTheBorderContinues) {
    double e = t.extent;
    EXPECT_DOUBLE_EQ(terrain_height(t, -50.0, 31.0), terrain_height(t, 0.0, 31.0));
    EXPECT_DOUBLE_EQ(terrain_height(t, e + 50.0, 31.0), terrain_height(t, e, 31.0));
    EXPECT_DOUBLE_EQ(terrain_height(t, 31.0, -1e12), terrain_height(t, 31.0, 0.0));
    EXPECT_DOUBLE_EQ(terrain_height(t, 1e300, 1e300), h(256, 256));
    EXPECT_DOUBLE_EQ(terrain_height(t, -1e300, -1e300), h(0, 0));
}

TEST_F(TerrainQuery, NonFinitePositionsMapToABorderCell) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_DOUBLE_EQ(terrain_height(t, nan, 31.0), terrain_height(t, 0.0, 31.0));
    EXPECT_DOUBLE_EQ(terrain_height(t, 31.0, nan), terrain_height(t, 31.0, 0.0));
    EXPECT_DOUBLE_EQ(terrain_height(t, inf, 31.0), terrain_height(t, t.extent, 31.0));
    EXPECT_DOUBLE_EQ(terrain_height(t, -inf, -inf), h(0, 0));
    TerrainVector n = terrain_normal(t, nan, inf);
    EXPECT_TRUE(std::isfinite(n.x) && std::isfinite(n.y) && std::isfinite(n.z));
    EXPECT_EQ(terrain_tile(t, nan, nan), t.tilemap[0]);
}

TEST(TerrainTile, CellsCoverTwoSampleIntervalsAndClampToTheSquare) {
    FixtureTrack f;
    f.tile_types = 4;
    f.tile = [](int cx, int cz) { return std::uint8_t((cx + 3 * cz) % 4); };
    Terrain t = fixture_terrain(f); // spacing 2: one cell is 4 units wide
    struct Case {
        double x, z;
        int cx, cz;
    };
    const Case cases[] = {
        {0.0, 0.0, 0, 0},   {3.99, 0.0, 0, 0},        {4.0, 0.0, 1, 0},
        {0.0, 4.0, 0, 1},   {13.0, 9.0, 3, 2},        {-7.0, 9.0, 0, 2},
        {9.0, 1e9, 2, 127}, {511.9, 511.9, 127, 127}, {600.0, -3.0, 127, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(terrain_tile(t, c.x, c.z), (c.cx + 3 * c.cz) % 4) << c.x << "," << c.z;
    }
}

TEST(TerrainRut, DigsASmoothBowlInsideTheSquareOnly) {
    Terrain t;
    terrain_init_flat(t, 7, 1.0f, 10.0f);
    terrain_rut(t, 50.0, 60.0, 4.0, -1.0);
    EXPECT_EQ(t.rut_count, 1);
    EXPECT_NE(t.modified, 0);
    EXPECT_NEAR(terrain_height(t, 50.0, 60.0), 9.0, 1e-6);
    // t = 0.5: 2t^3 - 3t^2 + 1 = 0.5
    EXPECT_NEAR(terrain_height(t, 52.0, 60.0), 9.5, 1e-6);
    EXPECT_DOUBLE_EQ(terrain_height(t, 54.0, 60.0), 10.0);
    EXPECT_FLOAT_EQ(t.min_height, 9.0f);
    // At a corner, samples outside are not written and nothing breaks.
    terrain_rut(t, 0.0, 0.0, 3.0, 2.0);
    EXPECT_NEAR(terrain_height(t, 0.0, 0.0), 12.0, 1e-6);
    EXPECT_FLOAT_EQ(t.max_height, 12.0f);
}

TEST(TerrainRut, LockedZeroOrNonFiniteRutsChangeNothing) {
    Terrain t;
    terrain_init_flat(t, 7, 1.0f, 10.0f);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    terrain_rut(t, 50.0, 50.0, 4.0, 0.0);
    terrain_rut(t, nan, 50.0, 4.0, 1.0);
    terrain_rut(t, 50.0, 50.0, nan, 1.0);
    terrain_rut(t, 50.0, 50.0, 4.0, std::numeric_limits<double>::infinity());
    t.ruts_locked = true;
    terrain_rut(t, 50.0, 50.0, 4.0, 1.0);
    EXPECT_EQ(t.modified, 0);
    EXPECT_EQ(t.rut_count, 0);
    EXPECT_DOUBLE_EQ(terrain_height(t, 50.0, 50.0), 10.0);
    // A huge radius stays bounded by the square.
    t.ruts_locked = false;
    terrain_rut(t, 50.0, 50.0, 1e30, 1.0);
    EXPECT_NEAR(terrain_height(t, 50.0, 50.0), 11.0, 1e-6);
}

TEST(TerrainEmpty, QueriesAnswerSafelyWithoutATerrain) {
    Terrain t;
    EXPECT_DOUBLE_EQ(terrain_height(t, 1.0, 2.0), 0.0);
    EXPECT_DOUBLE_EQ(terrain_normal(t, 1.0, 2.0).y, 1.0);
    EXPECT_EQ(terrain_tile(t, 1.0, 2.0), 0);
}

} // namespace
