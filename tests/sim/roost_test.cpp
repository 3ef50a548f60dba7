// Roost and splash emission, the particle pool and the particles' motion.
#include <cmath>
#include <numbers>

#include "platform/random.h"
#include "ride_fixture.h"
#include "sim/roost.h"

namespace {

constexpr double kPi = std::numbers::pi;

class RoostTest : public RideTest {
protected:
    void SetUp() override {
        RideTest::SetUp();
        roost_pool_reset();
        roost_count_set(kRoostCountDefault);
        random_seed(5489);
        // The ground throws default roost (count 10) from slot 0.
        RoostSpec s = roost_spec_default();
        s.kind = 1;
        terrain().tiles[0].roost[0] = s;
    }
    void TearDown() override {
        roost_pool_reset();
        roost_count_set(kRoostCountDefault);
        RideTest::TearDown();
    }
    // A bike in the air with its rear tyre's contact record set: touching below the axle
    // and sliding with velocity slide.
    Bike *sliding_rear(Vec3 slide) {
        Bike *b = make();
        bike_translate(b, 100, 10, 100);
        WheelContact &w = b->wheels[1];
        Vec3 c = body_position(w.body);
        w.depth = 0.1f;
        w.point[0] = float(c.x);
        w.point[1] = float(c.y - 1.0);
        w.point[2] = float(c.z);
        w.point_velocity[0] = float(slide.x);
        w.point_velocity[1] = float(slide.y);
        w.point_velocity[2] = float(slide.z);
        return b;
    }
    static int emit(Bike *b) {
        int before = roost_active_count();
        roost_emit(b, true);
        return roost_active_count() - before;
    }
    // Largest angle about the axle between the contact point and the live particles.
    static double widest_spread(const Bike *b, int wheel) {
        Vec3 c = body_position(b->wheels[wheel].body), p = vec3(b->wheels[wheel].point);
        double widest = 0;
        for (int i = roost_first_active(); i >= 0; i = roost_particle(i).next) {
            Vec3 q = vec3(roost_billboard(roost_particle(i).billboard).position);
            double a = std::acos(std::fmin(1.0, dot(normalised(q - c), normalised(p - c))));
            widest = std::fmax(widest, a);
        }
        return widest;
    }
};

TEST_F(RoostTest, AmountFollowsTheSetting) {
    Bike *b = sliding_rear({0, 0, 10});
    struct Case {
        int count, lo, hi;
    } cases[] = {{250, 2, 3}, {0, 0, 0}, {1000, 10, 10}, {99, 0, 1}};
    for (const Case &c : cases) {
        roost_count_set(c.count);
        int total = 0;
        for (int i = 0; i < 200; ++i) {
            roost_pool_reset();
            int n = emit(b);
            EXPECT_GE(n, c.lo) << c.count;
            EXPECT_LE(n, c.hi) << c.count;
            total += n;
        }
        if (c.count == 250) {
            EXPECT_NEAR(total / 200.0, 2.5, 0.2);
        }
    }
}

TEST_F(RoostTest, SpreadBySkidOrSpin) {
    // Skidding along the travel: within pi/64 of the contact point.
    // One particle per emission (count 100), so each sits exactly at its angle.
    Bike *b = sliding_rear({0, 0, -10});
    for (dBodyID body : b->body) body_set_linear_vel(body, {0, 0, -10});
    roost_count_set(100);
    for (int i = 0; i < 60; ++i) emit(b);
    EXPECT_LE(widest_spread(b, 1), kPi / 64 + 1e-6);
    EXPECT_GT(widest_spread(b, 1), kPi / 256);

    // Spinning against the travel at fast_speed or more: within fast_angle (pi/16).
    roost_pool_reset();
    dBodySetAngularVel(b->body[kBodyRearWheel], -70, 0, 0);
    b->wheels[1].point_velocity[2] = 60;
    for (int i = 0; i < 60; ++i) emit(b);
    EXPECT_LE(widest_spread(b, 1), kPi / 16 + 1e-6);
    EXPECT_GT(widest_spread(b, 1), kPi / 32);
    // The particles go up the back of the tyre (+z is backward) and fly off backward.
    int i = roost_first_active();
    ASSERT_GE(i, 0);
    EXPECT_GE(roost_billboard(roost_particle(i).billboard).position[2],
              b->wheels[1].point[2] - 1e-3);

    // The front wheel spinning slowly never throws beyond pi/8 (its slow_angle is pi/2).
    roost_pool_reset();
    b->wheels[1].depth = 0;
    WheelContact &f = b->wheels[0];
    Vec3 c = body_position(f.body);
    f.depth = 0.1f;
    f.point[0] = float(c.x);
    f.point[1] = float(c.y - 1.0);
    f.point[2] = float(c.z);
    f.point_velocity[2] = 10;
    dBodySetAngularVel(f.body, -1, 0, 0);
    for (int k = 0; k < 60; ++k) emit(b);
    EXPECT_LE(widest_spread(b, 0), kPi / 8 + 1e-6);
    EXPECT_GT(widest_spread(b, 0), kPi / 16);

    // Equal slow and fast speeds in tileinfo: no division by zero.
    roost_pool_reset();
    RoostSpec &s = terrain().tiles[0].roost[0];
    s.slow_speed = s.fast_speed = 20;
    for (int k = 0; k < 10; ++k) emit(b);
    EXPECT_GT(roost_active_count(), 0);
    for (int k = roost_first_active(); k >= 0; k = roost_particle(k).next)
        EXPECT_TRUE(std::isfinite(roost_particle(k).velocity[1]));
}

TEST_F(RoostTest, RollingThrowsNoRoostButSplashStillSplashes) {
    Bike *b = sliding_rear({0, 0, 3.9f}); // below slip_threshold 4
    for (dBodyID body : b->body) body_set_linear_vel(body, {0, 0, -20});
    EXPECT_EQ(emit(b), 0);
    RoostSpec splash = roost_spec_default();
    splash.kind = 2;
    splash.count = 3;
    terrain().tiles[0].roost[0] = splash;
    roost_count_set(1000);
    EXPECT_EQ(emit(b), 3);
    // 45 degrees up to one side of the travel, at about the travel speed.
    for (int i = roost_first_active(); i >= 0; i = roost_particle(i).next) {
        const RoostParticle &p = roost_particle(i);
        EXPECT_GT(p.velocity[1], 0);
        EXPECT_LE(std::sqrt(p.velocity[0] * p.velocity[0] + p.velocity[1] * p.velocity[1] +
                            p.velocity[2] * p.velocity[2]),
                  20 + 15);
    }
    // Slot 0 off: nothing at all, whatever the other slots hold.
    terrain().tiles[0].roost[1] = splash;
    terrain().tiles[0].roost[0].kind = 0;
    EXPECT_EQ(emit(b), 0);
}

TEST_F(RoostTest, RecordedRidersFindTheirOwnContacts) {
    // A bike settled on the ground with its rear wheel spinning; its contact records
    // cleared, as for a rider driven from records.
    Bike *b = bike_at_rest(100, 100, 128);
    dBodySetAngularVel(b->body[kBodyRearWheel], -40, 0, 0);
    for (WheelContact &w : b->wheels) w.depth = 0;
    roost_count_set(1000);
    EXPECT_EQ(emit(b), 0); // with the (empty) records
    int before = roost_active_count();
    roost_emit(b, false);
    EXPECT_EQ(roost_active_count() - before, 10); // the rear wheel only: the front is still
}

TEST_F(RoostTest, PoolAndMotion) {
    RoostSpec s = roost_spec_default();
    s.kind = 1;
    s.size = 0.25f;
    s.grow = 4;
    s.drag = 0.5f;
    s.fade_a = -2;
    for (int i = 0; i < kRoostParticles; ++i)
        ASSERT_TRUE(roost_particle_spawn({50, 12, 50}, {4, 8, 0}, s));
    EXPECT_FALSE(roost_particle_spawn({50, 12, 50}, {0, 0, 0}, s)); // full: dropped
    EXPECT_EQ(roost_active_count(), kRoostParticles);
    EXPECT_FALSE(roost_particle_spawn({NAN, 12, 50}, {0, 0, 0}, s));

    int first = roost_first_active();
    const RoostParticle &p = roost_particle(first);
    const RoostBillboard &bb = roost_billboard(p.billboard);
    EXPECT_EQ(bb.height, 0.25f);
    roost_particles_move(terrain());
    EXPECT_NEAR(p.position[0], 50 + 4.0 / 128, 1e-5);
    EXPECT_NEAR(p.velocity[0], 4 - 4 * 0.5 / 128, 1e-5);
    EXPECT_NEAR(p.velocity[1], 8 - 8 * 0.5 / 128 - 32.0 / 128, 1e-5);
    EXPECT_NEAR(bb.height, 0.25 + 4.0 / 128, 1e-6);
    EXPECT_EQ(bb.colour[3], 253);
    EXPECT_NEAR(bb.position[1], p.position[1], 1e-6);
    // They rise, fall back to the ground (at 10) and return to the pool.
    int steps = 0;
    while (roost_active_count() > 0 && steps < 1000) {
        roost_particles_move(terrain());
        ++steps;
    }
    EXPECT_EQ(roost_active_count(), 0);
    EXPECT_GT(steps, 64);
    EXPECT_EQ(bb.height, 0);
    EXPECT_TRUE(roost_particle_spawn({50, 12, 50}, {0, 0, 0}, s));
}

} // namespace
