// The tyre and sphere contact geometry against triangles and the terrain mesh.
#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "sim/ground.h"
#include "sim/tyre.h"
#include "track/terrain.h"

namespace {

constexpr double kR = 0.8333, kTube = 0.3333; // front tyre
const Vec3 kX{1, 0, 0}, kUp{0, 1, 0};

// A large horizontal triangle at y = 0 with its normal up, covering x, z in 0..10.
const Vec3 kA{0, 0, 0}, kB{0, 0, 10}, kC{10, 0, 0};

TorusPose pose(Vec3 centre, Vec3 axle, double rim = kR, double tube = kTube) {
    TorusPose p;
    EXPECT_TRUE(torus_pose(centre, axle, rim, tube, p));
    return p;
}

void expect_vec(Vec3 got, Vec3 want, double tol, const char *what) {
    EXPECT_NEAR(got.x, want.x, tol) << what;
    EXPECT_NEAR(got.y, want.y, tol) << what;
    EXPECT_NEAR(got.z, want.z, tol) << what;
}

TEST(TorusTriangle, EveryStage) {
    const double r = kTube;
    struct Case {
        const char *name;
        Vec3 centre, axle;
        Vec3 v0, v1, v2;
        double depth;
        Vec3 normal, point;
    };
    // A wheel beside the triangle's x = 0 edge, its tube over the edge (stage 4, edge).
    Vec3 edge_q{-0.2, r - 0.1, 2}, edge_s{0, 0, 2};
    double edge_d = length(edge_q - edge_s);
    // A wheel cutting the plane just beyond the z = 0 edge: the edge pierces its disc.
    Vec3 cut_c{2, kR - 0.2, -0.3};
    Vec3 cut_n = normalised(cross(kA - kC, cross(Vec3{2, 0, 0} - cut_c, kX)));
    Vec3 cut_rim = cut_c + normalised(Vec3{2, 0, 0} - cut_c) * kR;
    // A flat wheel over the top corner of a peak (stage 4, corner: pushed along the axle).
    Vec3 peak0{0, 0, 0}, peak1{0, -2, 10}, peak2{10, -2, 0};
    const Case cases[] = {
        {"face", {2, kR + r - 0.1, 2}, kX, kA, kB, kC, 0.1, kUp, {2, -0.1, 2}},
        {"rim crossing the face", {2, kR - 0.2, 2}, kX, kA, kB, kC, r + 0.2, kUp, {2, -0.2 - r, 2}},
        {"rim behind the plane",
         {2, -kR - 0.5, 2},
         kX,
         kA,
         kB,
         kC,
         2 * kR,
         kUp,
         {2, -2 * kR - 0.5, 2}},
        {"edge",
         {-0.2, kR + r - 0.1, 2},
         kX,
         kA,
         kB,
         kC,
         r - edge_d,
         (edge_q - edge_s) * (1 / edge_d),
         edge_s},
        {"edge through the disc", cut_c, kX, kA, kB, kC, r - 1.0 / (1 << 20), cut_n,
         cut_rim - cut_n * r},
        {"corner", {0, 0.3, 0}, kUp, peak0, peak1, peak2, r - 0.3, kUp, peak0},
    };
    for (const Case &c : cases) {
        GroundHit hit;
        ASSERT_TRUE(torus_triangle(pose(c.centre, c.axle), c.v0, c.v1, c.v2, true, hit)) << c.name;
        EXPECT_NEAR(hit.depth, c.depth, 1e-6) << c.name;
        expect_vec(hit.normal, c.normal, 1e-6, c.name);
        expect_vec(hit.point, c.point, 1e-6, c.name);
    }
    // Without the edge-and-corner stage the edge and corner cases touch nothing.
    GroundHit hit;
    EXPECT_FALSE(torus_triangle(pose({-0.2, kR + r - 0.1, 2}, kX), kA, kB, kC, false, hit));
    EXPECT_FALSE(torus_triangle(pose({0, 0.3, 0}, kUp), peak0, peak1, peak2, false, hit));
    // Clear of the triangle: nothing.
    EXPECT_FALSE(torus_triangle(pose({2, kR + r + 0.01, 2}, kX), kA, kB, kC, true, hit));
    EXPECT_FALSE(torus_triangle(pose({-1.5, 0.5, 2}, kX), kA, kB, kC, true, hit));
}

TEST(TorusTriangle, WheelLyingFlat) {
    // The axle along the triangle's normal: every rim point is equally near the plane.
    for (Vec3 axle : {kUp, Vec3{0, -1, 0}, normalised(Vec3{1e-9, 1, 0})}) {
        GroundHit hit;
        ASSERT_TRUE(torus_triangle(pose({3, kTube - 0.05, 3}, axle), kA, kB, kC, true, hit));
        EXPECT_NEAR(hit.depth, 0.05, 1e-9);
        expect_vec(hit.normal, kUp, 1e-9, "flat");
        EXPECT_NEAR(hit.point.y, -0.05, 1e-9);
        EXPECT_NEAR(length(Vec3{hit.point.x - 3, 0, hit.point.z - 3}), kR, 1e-9);
    }
}

TEST(TorusTriangle, PoseRejectsBadInput) {
    TorusPose p;
    EXPECT_FALSE(torus_pose({0, 0, 0}, {0, 0, 0}, kR, kTube, p));
    EXPECT_FALSE(torus_pose({NAN, 0, 0}, kX, kR, kTube, p));
    EXPECT_FALSE(torus_pose({0, 0, 0}, kX, 0, kTube, p));
    EXPECT_FALSE(torus_pose({0, 0, 0}, kX, kR, -1, p));
    ASSERT_TRUE(torus_pose({0, 5, 0}, {2, 0, 0}, kR, kTube, p));
    EXPECT_NEAR(p.axle.x, 1, 1e-12);
    EXPECT_NEAR(p.lo.x, -kTube, 1e-12); // an upright wheel is only a tube wide
    EXPECT_NEAR(p.hi.y, 5 + kR + kTube, 1e-12);
}

TEST(TorusTriangle, EdgeNearestRim) {
    // A segment along x through the bottom of an upright wheel's rim: it meets the rim
    // circle at the centre's foot.
    Vec3 c{0.5, kR, 0};
    double t = edge_nearest_rim(c, kX, kR, {-1, 0, 0}, {3, 0, 0});
    EXPECT_NEAR(t, 0.5, 1e-9);
    // A segment in the wheel plane below the rim, along z: the nearest point is under the
    // centre, 0.2 below the rim.
    t = edge_nearest_rim({0, kR + 0.2, 1}, kX, kR, {0, 0, 0}, {0, 0, 4});
    EXPECT_NEAR(t, 0.25, 1e-6);
    // Entirely to one side: clamped to the nearer end.
    t = edge_nearest_rim({0, kR, 10}, kX, kR, {0, 0, 0}, {0, 0, 4});
    EXPECT_EQ(t, 1);
}

class TerrainContact : public ::testing::Test {
protected:
    void SetUp() override { terrain_init_flat(t_, 6, 2.0f, 10.0f); }
    void shape(double (*height)(int i, int j)) {
        for (int j = 0; j < t_.side; ++j)
            for (int i = 0; i < t_.side; ++i)
                t_.heights[std::size_t(i + t_.side * j)] = float(height(i, j));
    }
    bool tyre(Vec3 centre, Vec3 axle, GroundHit &hit) {
        return torus_terrain_deepest(t_, centre, axle, kR, kTube, hit);
    }
    Terrain t_;
};

TEST_F(TerrainContact, FlatGroundSpecValues) {
    // Centre at rim + tube - 0.1 above flat ground: depth 0.1 straight up, squash 0.3,
    // stiffness 1000 + 24000 * 0.3^3 (with a tube of 1/3 ft).
    GroundHit hit;
    ASSERT_TRUE(tyre({51, 10 + kR + kTube - 0.1, 63}, kX, hit));
    EXPECT_NEAR(hit.depth, 0.1, 1e-6);
    expect_vec(hit.normal, kUp, 1e-9, "flat");
    EXPECT_NEAR(hit.point.y, 10 - 0.1, 1e-6);
    double k, c;
    tyre_stiffness(0.1, 1.0 / 3, k, c);
    EXPECT_NEAR(k, 1648, 1e-9);
    EXPECT_NEAR(c, 200 + 2300 * 0.027, 1e-9);
    tyre_stiffness(2.0, 1.0 / 3, k, c); // squash is at most 1
    EXPECT_EQ(k, 25000);
    // In the air: nothing; a wheel below the ground is pushed back up through it.
    EXPECT_FALSE(tyre({51, 10 + kR + kTube + 0.01, 63}, kX, hit));
    ASSERT_TRUE(tyre({51, 10 - kR - 0.5, 63}, kX, hit));
    EXPECT_NEAR(hit.depth, 2 * kR, 1e-9);
    EXPECT_GT(hit.normal.y, 0.999);
    // Beyond the square the ground continues at its border height.
    ASSERT_TRUE(tyre({-40, 10 + kR + kTube - 0.1, 300}, kX, hit));
    EXPECT_NEAR(hit.depth, 0.1, 1e-6);
    EXPECT_FALSE(tyre({1e30, 10, 0}, kX, hit));
}

TEST_F(TerrainContact, SlopeContactBelowTheNearestTyrePoint) {
    // Ground rising toward -z at 30 degrees: the tyre touches it where its surface is
    // nearest the slope, along the slope's normal from the centre, not below the axle.
    const double s = std::tan(std::numbers::pi / 6);
    shape([](int, int j) { return 100 - j * 2.0 * std::tan(std::numbers::pi / 6); });
    Vec3 n = normalised({0, 1, s});
    Vec3 centre = Vec3{65, 100 - 60 * s, 60} + n * (kR + kTube - 0.1);
    GroundHit hit;
    ASSERT_TRUE(tyre(centre, kX, hit));
    EXPECT_NEAR(hit.depth, 0.1, 1e-5); // float heights
    expect_vec(hit.normal, n, 1e-5, "slope normal");
    expect_vec(hit.point, centre - n * (kR + kTube), 1e-5, "slope point");
    EXPECT_GT(std::fabs(hit.point.z - centre.z), 0.5);
}

double tilted(int i, int j) {
    return 10 + 0.31 * i - 0.17 * j;
}
double hills(int i, int j) {
    return 10 + 1.5 * std::sin(i * 0.21) * std::cos(j * 0.17);
}

TEST_F(TerrainContact, RollingAcrossEdgesAndDiagonalsIsContinuous) {
    // A tyre moved in small steps along a line that crosses cell edges and diagonals at
    // all angles, kept at a constant height over the ground below its centre.
    struct Run {
        const char *name;
        double (*height)(int, int);
        double max_depth_step, max_normal_step;
    } runs[] = {
        // Float heights leave the plane's triangles coplanar to about 1e-7.
        {"flat", nullptr, 1e-6, 1e-6},
        {"tilted plane", tilted, 1e-6, 1e-6},
        // In a hollow the deepest face changes at a crease, where the normal may turn by
        // the angle between the two faces (at most 0.038 on these hills) but the depth
        // does not jump.
        {"hills", hills, 2e-3, 0.04},
    };
    for (const Run &run : runs) {
        if (run.height) shape(run.height);
        GroundHit prev{};
        bool have = false;
        double lo = INFINITY, hi = -INFINITY;
        for (int k = 0; k <= 2000; ++k) {
            double x = 40 + k * 0.01, z = 40 + k * 0.0073;
            // Heading along the line, leaning slightly: the axle is not horizontal.
            Vec3 axle = normalised({0.73, 0.05, -1});
            Vec3 c{x, terrain_height(t_, x, z) + kR + kTube - 0.08, z};
            GroundHit hit;
            ASSERT_TRUE(tyre(c, axle, hit)) << run.name << " " << k;
            lo = std::fmin(lo, hit.depth);
            hi = std::fmax(hi, hit.depth);
            if (have) {
                EXPECT_LT(std::fabs(hit.depth - prev.depth), run.max_depth_step)
                    << run.name << " at " << k;
                EXPECT_LT(length(hit.normal - prev.normal), run.max_normal_step)
                    << run.name << " at " << k;
            }
            prev = hit;
            have = true;
        }
        if (run.max_depth_step < 1e-3) {
            EXPECT_NEAR(hi - lo, 0, 1e-5) << run.name;
        }
    }
}

TEST_F(TerrainContact, SphereQueries) {
    GroundHit hit;
    // Resting on flat ground.
    ASSERT_TRUE(sphere_terrain_deepest(t_, {50.5, 10.4, 50.5}, 0.5, hit));
    EXPECT_NEAR(hit.depth, 0.1, 1e-9);
    expect_vec(hit.normal, kUp, 1e-9, "rest");
    // A hard hit that carried the centre below the ground still pushes up, deeper than
    // the radius, so the sphere comes back instead of tunnelling through.
    ASSERT_TRUE(sphere_terrain_deepest(t_, {50.5, 9.7, 50.5}, 0.5, hit));
    EXPECT_NEAR(hit.depth, 0.8, 1e-9);
    expect_vec(hit.normal, kUp, 1e-9, "below");
    // Clear of the ground, or no radius: nothing.
    EXPECT_FALSE(sphere_terrain_deepest(t_, {50.5, 10.51, 50.5}, 0.5, hit));
    EXPECT_FALSE(sphere_terrain_deepest(t_, {50.5, 10, 50.5}, 0, hit));
    EXPECT_FALSE(sphere_terrain_deepest(t_, {NAN, 10, 50.5}, 0.5, hit));
    // At the top edge of a 45 degree ramp (x 58..60): pushed away from the edge.
    shape([](int i, int) { return i >= 30 ? 12.0 : 10.0; });
    ASSERT_TRUE(sphere_terrain_deepest(t_, {59.8, 12.2, 50}, 0.5, hit));
    EXPECT_NEAR(hit.depth, 0.5 - std::sqrt(0.08), 1e-6);
    expect_vec(hit.normal, normalised({-1, 1, 0}), 1e-6, "edge");
}

TEST(GroundNormal, CleanUp) {
    expect_vec(clean_ground_normal({0, 2, 0}), kUp, 0, "up");
    expect_vec(clean_ground_normal({3, -1, 4}), {0.6, 0, 0.8}, 1e-12, "sideways");
    expect_vec(clean_ground_normal({0.01, -1, 0}), kUp, 0, "down");
    expect_vec(clean_ground_normal({0, 0, 0}), kUp, 0, "zero");
}

} // namespace
