#include <cmath>
#include <functional>
#include <limits>
#include <numbers>

#include "files/settings.h"
#include "sim_fixture.h"

namespace {

constexpr float kPi = std::numbers::pi_v<float>;

class SetupTest : public SimTest {};

TEST_F(SetupTest, ResetValues) {
    Bike *b = make();
    const BikeSetup &s = b->setup;
    const BikeModel &m = b->model;
    EXPECT_EQ(s.leveling, 20);
    EXPECT_EQ(s.roll_damping, 60);
    EXPECT_FLOAT_EQ(s.roll_limit_angle, kPi / 4);
    EXPECT_EQ(s.slow_damping_speed, 0);
    EXPECT_FLOAT_EQ(s.restricted_lock_angle, 0.0872665f);
    EXPECT_EQ(s.max_dab_speed, 30);
    EXPECT_FLOAT_EQ(s.sprocket_ratio, 48.0f / 13.0f);
    EXPECT_EQ(s.fork_hs_compression, m.fork_hs_compression);
    EXPECT_EQ(s.fork_ls_compression, 0);
    EXPECT_FLOAT_EQ(s.fork_spring, (m.fork_spring_min + m.fork_spring_max) / 2);
    EXPECT_EQ(s.fork_oil, m.fork_oil_min);
    EXPECT_FLOAT_EQ(s.shock_preload, m.shock_preload_max / 2);
    EXPECT_FLOAT_EQ(s.rider_mass_distribution, 1.0f / 3);
    EXPECT_EQ(s.stop_wheelies, 2);
    EXPECT_TRUE(s.front_antilock);
    EXPECT_FALSE(s.rear_antilock || s.auto_shift || s.auto_dab || s.arcade);
    EXPECT_TRUE(s.auto_align && s.spare);
}

TEST_F(SetupTest, SettersClampAndConvert) {
    Bike *b = make();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char *what;
        std::function<void(Bike *)> set;
        std::function<float(const Bike *)> get;
        float expected;
    } cases[] = {
        {"leveling high", [](Bike *x) { bike_set_leveling(x, 150); },
         [](const Bike *x) { return x->setup.leveling; }, 100},
        {"leveling NaN keeps", [=](Bike *x) { bike_set_leveling(x, nan); },
         [](const Bike *x) { return x->setup.leveling; }, 100},
        {"roll limit angle", [](Bike *x) { bike_set_roll_limit_angle(x, 4); },
         [](const Bike *x) { return x->setup.roll_limit_angle; }, kPi},
        {"restricted lock", [](Bike *x) { bike_set_restricted_lock_angle(x, 1); },
         [](const Bike *x) { return x->setup.restricted_lock_angle; }, kPi / 4},
        {"full lock speed floor", [](Bike *x) { bike_set_full_lock_speed(x, 0); },
         [](const Bike *x) { return x->setup.full_lock_speed; }, 1},
        {"slow damping factor floor", [](Bike *x) { bike_set_slow_damping_factor(x, 0); },
         [](const Bike *x) { return x->setup.slow_damping_factor; }, 1},
        {"landing falloff", [](Bike *x) { bike_set_landing_damping_falloff(x, 2); },
         [](const Bike *x) { return x->setup.landing_damping_falloff; }, 0.5f},
        {"max dab 20 mph", [](Bike *x) { bike_set_max_dab_speed(x, 20 * 1.4666666666666666f); },
         [](const Bike *x) { return x->setup.max_dab_speed; }, 29.333334f},
        {"max dab 5 mph", [](Bike *x) { bike_set_max_dab_speed(x, 5 * 1.4666666666666666f); },
         [](const Bike *x) { return x->setup.max_dab_speed; }, 7.3333335f},
        {"max dab floors at 7", [](Bike *x) { bike_set_max_dab_speed(x, 1); },
         [](const Bike *x) { return x->setup.max_dab_speed; }, 7},
        {"max dab ceiling", [](Bike *x) { bike_set_max_dab_speed(x, 500); },
         [](const Bike *x) { return x->setup.max_dab_speed; }, 100},
        {"sprockets -2 / +2 on 13/48", [](Bike *x) { bike_set_sprockets(x, -2, 2); },
         [](const Bike *x) { return x->setup.sprocket_ratio; }, 50.0f / 11.0f},
        {"sprocket adjustments clamp", [](Bike *x) { bike_set_sprockets(x, -7, 9); },
         [](const Bike *x) { return x->setup.sprocket_ratio; }, 50.0f / 11.0f},
        {"fork factor 1 (v 50)", [](Bike *x) { bike_set_fork(x, 1, 0, 1, 0, 0.5f, 0.5f, 0); },
         [](const Bike *x) { return x->setup.fork_hs_compression; }, 60},
        {"fork factor 0.25 (v 0)", [](Bike *x) { bike_set_fork(x, 0.25f, -1, 1, 0, 0, 0, 0); },
         [](const Bike *x) { return x->setup.fork_hs_compression; }, 15},
        {"fork factor 4 (v 100)", [](Bike *x) { bike_set_fork(x, 4, 1, 1, 0, 1, 1, 1); },
         [](const Bike *x) { return x->setup.fork_hs_compression; }, 240},
        {"fork factor clamps", [](Bike *x) { bike_set_fork(x, 9, 3, 1, 0, 2, 2, 2); },
         [](const Bike *x) { return x->setup.fork_hs_compression; }, 240},
        {"fork low speed clamps", [](Bike *x) { bike_set_fork(x, 1, 3, 1, -3, 0, 0, 0); },
         [](const Bike *x) { return x->setup.fork_ls_compression; }, 60},
        {"fork oil at 1 is the max", [](Bike *x) { bike_set_fork(x, 1, 0, 1, 0, 0, 0, 1); },
         [](const Bike *x) { return x->setup.fork_oil; }, 0.25f},
        {"shock spring at 1", [](Bike *x) { bike_set_shock(x, 1, 0, 2, 0, 1, 0); },
         [](const Bike *x) { return x->setup.shock_spring; }, 5174.16f},
        {"shock rebound factor", [](Bike *x) { bike_set_shock(x, 1, 0, 2, 0, 1, 0); },
         [](const Bike *x) { return x->setup.shock_hs_rebound; }, 1300},
        {"rider springs clamp", [](Bike *x) { bike_set_rider_springs(x, 2, -1); },
         [](const Bike *x) {
             return x->setup.rider_vertical_spring + 10 * x->setup.rider_forward_spring;
         },
         1},
        {"stop wheelies clamps", [](Bike *x) { bike_set_stop_wheelies(x, 9); },
         [](const Bike *x) { return float(x->setup.stop_wheelies); }, 3},
    };
    for (const Case &c : cases) {
        c.set(b);
        EXPECT_FLOAT_EQ(c.get(b), c.expected) << c.what;
    }

    // A stock tooth count that an adjustment takes below 3 counts as 3.
    b->model.front_sprocket = 4;
    bike_set_sprockets(b, -2, 0);
    EXPECT_FLOAT_EQ(b->setup.sprocket_ratio, 48.0f / 3.0f);
}

TEST_F(SetupTest, MassDistributionKeepsTheTotal) {
    Bike *b = make();
    const BikeModel &m = b->model;
    EXPECT_NEAR(b->total_mass, 13.96, 0.005);
    EXPECT_NEAR(bike_mass_total(b), 13.95875, 1e-5);
    auto mass = [&](int body) {
        dMass dm;
        dBodyGetMass(b->body[body], &dm);
        return dm.mass;
    };
    EXPECT_NEAR(mass(kBodyFrame), m.frame_mass + 2.0 / 3 * m.rider_mass, 1e-6);
    for (float d : {0.5f, 0.2f, 0.4f}) {
        bike_set_rider_mass_distribution(b, d);
        double used = d < 0.33f ? 0.33 : d;
        EXPECT_NEAR(mass(kBodyTorso), used * m.rider_mass, 1e-6) << d;
        EXPECT_NEAR(mass(kBodyFrame), m.frame_mass + (1 - used) * m.rider_mass, 1e-6) << d;
        EXPECT_NEAR(bike_mass_total(b), b->total_mass, 1e-5) << d;
    }
}

TEST_F(SetupTest, SetupApplyReachesTheBike) {
    Bike *b = make("cr125");
    SetupSettings &s = settings().setup;
    s.roll_limit_angle.value = 90;
    s.max_dab_speed.value = 20;
    s.front_sprocket_adjustment.value = -2;
    s.rear_sprocket_adjustment.value = 2;
    s.fork_compression_adjustment.value = 100;
    s.shock_preload_adjustment.value = 0;
    s.rider_mass_distribution.value = 0.5;
    ASSERT_TRUE(setup_apply(b));
    EXPECT_FLOAT_EQ(b->setup.roll_limit_angle, kPi / 2);
    EXPECT_NEAR(b->setup.max_dab_speed, 29.3333, 1e-4);
    EXPECT_FLOAT_EQ(b->setup.sprocket_ratio, 54.0f / 11.0f);
    EXPECT_FLOAT_EQ(b->setup.fork_hs_compression, 4 * b->model.fork_hs_compression);
    EXPECT_EQ(b->setup.shock_preload, 0);
    EXPECT_FLOAT_EQ(b->setup.rider_mass_distribution, 0.5f);

    // Refused while the bike moves.
    dBodySetLinearVel(b->body[kBodyFrame], 0, 0, -1);
    s.max_dab_speed.value = 40;
    EXPECT_FALSE(setup_apply(b));
    EXPECT_NEAR(b->setup.max_dab_speed, 29.3333, 1e-4);
}

TEST(SetupText, SuspensionAndGearingPage) {
    const BikeModel &m = *bike_model_find("crf450(2013)");
    EXPECT_EQ(setup_text_fork_spring(m, 0), "0.280 kg/mm");
    EXPECT_EQ(setup_text_fork_spring(m, 150), setup_text_fork_spring(m, 100));
    EXPECT_EQ(setup_text_fork_preload(m, 100), "25.40 mm");
    EXPECT_EQ(setup_text_fork_oil(m, 0), "127.00 mm");
    EXPECT_EQ(setup_text_fork_oil(m, 100), "76.20 mm");
    EXPECT_EQ(setup_text_shock_spring(m, 100), "7.70 kg/mm");
    EXPECT_EQ(setup_text_shock_preload(m, 50), "50.79 mm");
    EXPECT_EQ(setup_text_front_sprocket(m, -2), "11.00 teeth");
    EXPECT_EQ(setup_text_rear_sprocket(m, 2), "50.00 teeth");
}

} // namespace
