#include "track/ruts.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// Flat ground at height 10, spacing 1, one default surface (lower 50, upper 150,
// displacement 2, radius 4, max slope 0.25, off speed 10, on speed 15, depth 1).
Terrain flat_ground() {
    Terrain t;
    terrain_init_flat(t, 7, 1.0f, 10.0f);
    return t;
}

TEST(Ruts, WheelsPushPointsOnlyWhenFastAndHardEnough) {
    Terrain t = flat_ground();
    RutRing ring;
    EXPECT_FALSE(rut_record(ring, t, 100, 100, 9.0, 500, 0));  // below the off speed
    EXPECT_FALSE(rut_record(ring, t, 100, 100, 20.0, 40, 30)); // |push| 50 is not above 50
    EXPECT_TRUE(rut_record(ring, t, 100, 100, 12.5, 200, 0));  // half speed factor: 100
    EXPECT_FLOAT_EQ(ring.points[0].fx, 100.0f);
    EXPECT_TRUE(rut_record(ring, t, 100, 100, -20.0, 0, -80)); // the speed's size counts
    EXPECT_EQ(ring.count, 2);
    for (int i = 2; i < kRutRingSize; i++) ASSERT_TRUE(rut_record(ring, t, 1, 1, 20, 100, 0));
    EXPECT_FALSE(rut_record(ring, t, 1, 1, 20, 100, 0)); // full
}

TEST(Ruts, SoilMovesBehindThePush) {
    Terrain t = flat_ground();
    RutRing ring;
    ASSERT_TRUE(rut_record(ring, t, 100, 100, 20.0, 100, 0));
    EXPECT_EQ(rut_work(ring, t, 100, 95, 0.0), 0);   // "--erode" 0: nothing happens
    EXPECT_EQ(rut_work(ring, t, 95, 100, 100.0), 0); // the bike is on it: the point waits
    EXPECT_EQ(ring.count, 1);
    EXPECT_EQ(rut_work(ring, t, 0, 0, 100.0), 1);
    EXPECT_EQ(ring.count, 0);
    // F = 100: half way from lower to upper, so the soil goes 1 unit back, to (99, 100).
    double k = 100.0 / 2048.0;
    double w = 2 * std::pow(0.25, 3) - 3 * std::pow(0.25, 2) + 1; // one sample of four away
    EXPECT_NEAR(terrain_height(t, 100, 100), 10.0 - k + k * w, 1e-6);
    EXPECT_NEAR(terrain_height(t, 99, 100), 10.0 - k * w + k, 1e-6);
    EXPECT_EQ(t.rut_count, 2);
}

TEST(Ruts, NoSoilIsPushedUpASteepSlope) {
    Terrain t;
    terrain_init_flat(t, 7, 1.0f, 0.0f);
    for (int j = 0; j < t.side; j++) {
        for (int i = 0; i < t.side; i++) t.heights[std::size_t(i + t.side * j)] = float(-i);
    }
    RutRing ring;
    ASSERT_TRUE(rut_record(ring, t, 100, 100, 20.0, 100, 0)); // the spot behind is 1 higher
    EXPECT_EQ(rut_work(ring, t, 0, 0, 100.0), 1);
    EXPECT_EQ(t.rut_count, 0);
    EXPECT_DOUBLE_EQ(terrain_height(t, 100, 100), -100.0);
}

TEST(Ruts, EqualErodeBoundsNeverDivideByZero) {
    Terrain t = flat_ground();
    ErodeSpec &e = t.tiles[0].erode;
    e.off_speed = e.on_speed = 15.0f;
    e.lower = e.upper = 50.0f;
    RutRing ring;
    EXPECT_FALSE(rut_record(ring, t, 100, 100, 14.9, 500, 0));
    ASSERT_TRUE(rut_record(ring, t, 100, 100, 15.0, 500, 0));
    EXPECT_EQ(rut_work(ring, t, 0, 0, 100.0), 1);
    for (double x = 90; x <= 110; x += 0.5) ASSERT_TRUE(std::isfinite(terrain_height(t, x, 100)));
    EXPECT_LT(terrain_height(t, 100, 100), 10.0);
}

} // namespace
