#include "files/settings.h"
#include "files/setup.h"
#include "files/vfs.h"
#include "platform/messages.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        settings_reset();
        setup_reset_for_tests();
    }
    void TearDown() override {
        setup_set_hooks(nullptr);
        settings_reset();
        setup_reset_for_tests();
        messages_set_run_time(0);
    }
};

TEST_F(SetupTest, SetupTextHoldsOnlyTheSetupKeysInOrder) {
    std::string text = setup_text();
    std::istringstream in(text);
    std::vector<std::string> keys;
    std::string line;
    while (std::getline(in, line)) keys.push_back(line.substr(0, line.find('=')));
    ASSERT_EQ(keys.size(), 57u);
    EXPECT_EQ(keys[0], "bike");
    EXPECT_EQ(keys[5], "bike_texture");
    EXPECT_EQ(keys[7], "stability");
    EXPECT_EQ(keys[22], "restricted_lock");
    EXPECT_EQ(keys[23], "arcade");
    EXPECT_EQ(keys[33], "auto_clutch_rpms");
    EXPECT_EQ(keys.back(), "rider_mass_distribution");
    for (const std::string &k : keys) EXPECT_TRUE(setup_read_line(k.c_str(), "")) << k;
    EXPECT_FALSE(setup_read_line("laps", "3"));
    EXPECT_FALSE(setup_read_line("bike ", "cr125"));
}

TEST_F(SetupTest, SetupFileRoundTrip) {
    VfsSandbox box;
    SetupSettings &u = settings().setup;
    setup_read_line("stability", "47"); // assists such as roll_limit_factor 17.7
    setup_read_line("stop_wheelies", "Front Only");
    setup_read_line("max_dab_speed", "33");
    setup_read_line("fork_preload_adjustment", "71.5");
    setup_read_line("number", "42");
    Stream *s = vfs_open("@setups/fast", "wb");
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(setup_write(s));
    ASSERT_TRUE(vfs_close(s));
    std::string written = box.dir().read("xdg/Vantorq/setups/fast");
    EXPECT_EQ(written, setup_text());

    settings_reset();
    std::istringstream in(written);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t eq = line.find('=');
        setup_read_line(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str());
    }
    EXPECT_EQ(choice_text(u.stop_wheelies), "Front Only");
    EXPECT_EQ(u.max_dab_speed.value, 33);
    EXPECT_EQ(u.fork_preload_adjustment.value, 71.5);
    EXPECT_EQ(u.number.text, "42");
    EXPECT_EQ(setup_text(), written);
}

TEST_F(SetupTest, AssistLevels) {
    const SetupSettings &u = settings().setup;
    struct Case {
        double stability;
        double roll_damping, roll_limit_angle, roll_limit_factor, direct_steering;
        double slow_damping_factor, land_damping_falloff, restricted_lock;
    };
    const Case cases[] = {
        {0, 40, 90, 0, 1, 1, 0, 45},
        {100, 80, 35, 32, 0, 2, 0.25, 5},
        {50, 65, 42.5, 21, 1, 1.75, 0.25, 7.5},
        {90, 77.5, 35, 32, 0.5, 2, 0.25, 5},
        {59.9, 69.5, 40.25, 30.9, 1, 1.975, 0.25, 5.25}, // cut to 59: level 2.95
        {-10, 40, 90, 0, 1, 1, 0, 45},
        {250, 80, 35, 32, 0, 2, 0.25, 5},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.stability);
        assist_from_stability(c.stability);
        EXPECT_NEAR(u.roll_damping.value, c.roll_damping, 1e-5);
        EXPECT_NEAR(u.roll_limit_angle.value, c.roll_limit_angle, 1e-5);
        EXPECT_NEAR(u.roll_limit_factor.value, c.roll_limit_factor, 1e-5);
        EXPECT_NEAR(u.direct_steering.value, c.direct_steering, 1e-5);
        EXPECT_NEAR(u.slow_damping_factor.value, c.slow_damping_factor, 1e-5);
        EXPECT_NEAR(u.land_damping_falloff.value, c.land_damping_falloff, 1e-5);
        EXPECT_NEAR(u.restricted_lock.value, c.restricted_lock, 1e-5);
        EXPECT_EQ(u.leveling.value, 20);
        EXPECT_EQ(u.max_steering_force.value, 400);
    }
}

TEST_F(SetupTest, ConvertedValues) {
    setup_read_line("roll_limit_angle", "90");
    setup_read_line("restricted_lock", "45");
    setup_read_line("max_dab_speed", "20");
    setup_read_line("fork_compression_adjustment", "0");
    setup_read_line("fork_rebound_adjustment", "100");
    setup_read_line("shock_slow_compression_adjustment", "100");
    setup_read_line("rider_zdamping", "25");
    setup_read_line("front_sprocket_adjustment", "-2");
    SetupValues v = setup_values();
    EXPECT_EQ(v.roll_limit_angle, float(90 * 0.017453292519943295));
    EXPECT_EQ(v.restricted_lock_angle, float(45 * 0.017453292519943295));
    EXPECT_EQ(v.max_dab_speed, float(20 * 1.4666666666666666));
    EXPECT_EQ(v.fork_hs_compression, 0.25f);
    EXPECT_EQ(v.fork_hs_rebound, 4.0f);
    EXPECT_EQ(v.shock_hs_compression, 1.0f);
    EXPECT_EQ(v.shock_ls_compression, 1.0f);
    EXPECT_EQ(v.fork_ls_compression, 0.0f);
    EXPECT_EQ(v.rider_forward_damping, 0.25f);
    EXPECT_EQ(v.rider_mass_distribution, 0.33f);
    EXPECT_EQ(v.front_sprocket, -2.0f);

    const struct {
        const char *choice;
        int code;
    } wheelies[] = {{"No", 0}, {"Yes", 3}, {"Front Only", 2}};
    for (const auto &w : wheelies) {
        setup_read_line("stop_wheelies", w.choice);
        EXPECT_EQ(setup_values().stop_wheelies, w.code) << w.choice;
    }
    setup_read_line("arcade", "Yes");
    EXPECT_EQ(setup_values().arcade, 1);
    setup_set_arcade_locked(true);
    EXPECT_EQ(setup_values().arcade, 0);
}

// A fake bike that records what it is handed.
struct FakeBike {
    double speed = 0;
    std::vector<std::string> calls;
};
FakeBike *fake(Bike *b) {
    return reinterpret_cast<FakeBike *>(b);
}
void note(Bike *b, const char *name, std::initializer_list<double> values) {
    std::string text = name;
    char buf[32];
    for (double v : values) {
        std::snprintf(buf, sizeof buf, " %g", v);
        text += buf;
    }
    fake(b)->calls.push_back(text);
}

SetupHooks recording_hooks() {
    SetupHooks h{};
    h.linear_speed = [](const Bike *b) { return reinterpret_cast<const FakeBike *>(b)->speed; };
#define VQ_HOOK1(field, type) h.field = [](Bike *b, type v) { note(b, #field, {double(v)}); };
    VQ_HOOK1(leveling, float)
    VQ_HOOK1(roll_damping, float)
    VQ_HOOK1(roll_limit_angle, float)
    VQ_HOOK1(roll_limit_factor, float)
    VQ_HOOK1(steering_damping, float)
    VQ_HOOK1(steering_strength, float)
    VQ_HOOK1(max_steering_force, float)
    VQ_HOOK1(arcade, int)
    VQ_HOOK1(front_antilock, int)
    VQ_HOOK1(rear_antilock, int)
    VQ_HOOK1(stop_wheelies, int)
    VQ_HOOK1(auto_shift, int)
    VQ_HOOK1(auto_dab, int)
    VQ_HOOK1(auto_align, int)
    VQ_HOOK1(direct_steering, float)
    VQ_HOOK1(slow_damping_speed, float)
    VQ_HOOK1(slow_damping_factor, float)
    VQ_HOOK1(landing_damping_falloff, float)
    VQ_HOOK1(landing_damping_factor, float)
    VQ_HOOK1(full_lock_speed, float)
    VQ_HOOK1(restricted_lock_speed, float)
    VQ_HOOK1(restricted_lock_angle, float)
    VQ_HOOK1(auto_clutch_rpm, float)
    VQ_HOOK1(front_brake_torque, float)
    VQ_HOOK1(rear_brake_torque, float)
    VQ_HOOK1(max_dab_speed, float)
    VQ_HOOK1(rider_mass_distribution, float)
#undef VQ_HOOK1
    h.sprockets = [](Bike *b, float f, float r) { note(b, "sprockets", {f, r}); };
    h.fork = [](Bike *b, float a, float c, float d, float e, float f, float g, float i) {
        note(b, "fork", {a, c, d, e, f, g, i});
    };
    h.shock = [](Bike *b, float a, float c, float d, float e, float f, float g) {
        note(b, "shock", {a, c, d, e, f, g});
    };
    h.rider_springs = [](Bike *b, float v, float f) { note(b, "rider_springs", {v, f}); };
    h.rider_dampings = [](Bike *b, float v, float f) { note(b, "rider_dampings", {v, f}); };
    return h;
}

TEST_F(SetupTest, ApplyHandsOverInOrder) {
    SetupHooks hooks = recording_hooks();
    setup_set_hooks(&hooks);
    FakeBike bike;
    setup_read_line("rider_yspring", "80");
    ASSERT_TRUE(setup_apply(reinterpret_cast<Bike *>(&bike)));
    const std::vector<std::string> expected = {
        "leveling 20",
        "roll_damping 60",
        "roll_limit_angle 0.785398",
        "roll_limit_factor 10",
        "steering_damping 45",
        "steering_strength 75",
        "max_steering_force 400",
        "arcade 1",
        "front_antilock 1",
        "rear_antilock 0",
        "stop_wheelies 0",
        "auto_shift 1",
        "auto_dab 1",
        "auto_align 1",
        "direct_steering 1",
        "slow_damping_speed 40",
        "slow_damping_factor 2",
        "landing_damping_falloff 0.25",
        "landing_damping_factor 2",
        "full_lock_speed 10",
        "restricted_lock_speed 50",
        "restricted_lock_angle 0.130900",
        "auto_clutch_rpm 5000",
        "front_brake_torque 250",
        "rear_brake_torque 250",
        "max_dab_speed 29.3333",
        "sprockets 0 0",
        "fork 1 0 1 0 0.5 0.5 0.5",
        "shock 1 0 1 0 0.5 0.5",
        "rider_springs 0.8 0.5",
        "rider_dampings 0.5 0.5",
        "rider_mass_distribution 0.33",
    };
    EXPECT_EQ(bike.calls.size(), expected.size());
    for (std::size_t i = 0; i < expected.size() && i < bike.calls.size(); i++) {
        // "%g" prints 6 significant digits; compare names exactly and numbers loosely.
        std::istringstream want(expected[i]), got(bike.calls[i]);
        std::string wn, gn;
        want >> wn;
        got >> gn;
        EXPECT_EQ(gn, wn) << i;
        double a, b;
        while (want >> a) {
            ASSERT_TRUE(got >> b) << bike.calls[i];
            EXPECT_NEAR(b, a, 1e-5) << bike.calls[i];
        }
    }
}

TEST_F(SetupTest, ApplyRefusedWhileMoving) {
    SetupHooks hooks = recording_hooks();
    setup_set_hooks(&hooks);
    FakeBike bike;
    Bike *b = reinterpret_cast<Bike *>(&bike);
    auto shown = [] { return messages_state().next; };

    bike.speed = 0.2;
    messages_set_run_time(100);
    int before = shown();
    EXPECT_FALSE(setup_apply(b)); // first refusal: silent
    EXPECT_EQ(shown(), before);
    messages_set_run_time(105);
    EXPECT_FALSE(setup_apply(b)); // within 10 s of the last one: the message
    EXPECT_EQ(shown(), before + 1);
    EXPECT_STREQ(messages_shown_line(0), "Settings not applied.  Mechanic can't keep up error.");
    messages_set_run_time(116);
    EXPECT_FALSE(setup_apply(b)); // 11 s later: silent again
    EXPECT_EQ(shown(), before + 1);
    EXPECT_TRUE(bike.calls.empty());

    bike.speed = 0.125; // not above the limit
    EXPECT_TRUE(setup_apply(b));
    EXPECT_FALSE(bike.calls.empty());

    setup_set_hooks(nullptr);
    EXPECT_FALSE(setup_apply(b));
}

} // namespace
