#include "core/mainloop.h"
#include "platform/events.h"
#include "ui/menu.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// A clock the test moves by hand; sleeping advances it.
struct FakeClock {
    double t = 0;
    double slept = 0;
};
FakeClock g_clock;
double fake_now(void *) {
    return g_clock.t;
}
void fake_sleep(void *, double s) {
    g_clock.t += s;
    g_clock.slept += s;
}

struct World {
    bool track = true, riding = true, bike = true, online = false;
    int race_steps = 0;
    std::vector<double> throttle; // throttle seen by each applied step
};
World g_world;

LoopHooks world_hooks() {
    LoopHooks h{};
    h.track_loaded = [] { return g_world.track; };
    h.viewed_riding = [] { return g_world.riding; };
    h.viewed_has_bike = [] { return g_world.bike; };
    h.connected = [] { return g_world.online; };
    h.server_started = [] { return true; };
    h.race_step = [] { g_world.race_steps++; };
    h.rider_controls_apply = [](const ControlVector &cv) {
        g_world.throttle.push_back(cv.throttle);
    };
    return h;
}

class MainLoop : public ::testing::Test {
protected:
    void SetUp() override {
        g_clock = FakeClock{};
        g_world = World{};
        event_clear();
        menu_state() = MenuState{};
        mainloop_init(LoopClock{fake_now, fake_sleep, nullptr}, world_hooks());
    }
    void TearDown() override { event_clear(); }
    static std::int64_t us(double s) { return std::int64_t(std::llround(s * 1e6)); }
};

TEST_F(MainLoop, StallIsCappedAtSixteenSteps) {
    g_clock.t = 1.0; // the first frame took a whole second
    ASSERT_TRUE(mainloop_frame());
    EXPECT_EQ(loop_state().steps_run, 16);
    EXPECT_EQ(g_world.race_steps, 16);
    EXPECT_DOUBLE_EQ(loop_state().target_time, 0.125);
    EXPECT_EQ(loop_state().histogram[7], 1);
}

TEST_F(MainLoop, LockFpsAdvancesExactlyOneFrame) {
    loop_state().lock_fps = 30;
    g_clock.t = 0.010; // fast frame: the loop sleeps for the rest of 1/30 s
    ASSERT_TRUE(mainloop_frame());
    EXPECT_DOUBLE_EQ(loop_state().target_time, 1.0 / 30);
    EXPECT_NEAR(g_clock.slept, 1.0 / 30 - 0.010, 1e-12);
    g_clock.t += 0.5; // a slow frame still advances only 1/30 s
    ASSERT_TRUE(mainloop_frame());
    EXPECT_DOUBLE_EQ(loop_state().target_time, 2.0 / 30);
}

TEST_F(MainLoop, FastFrameSleepsUntilOneStep) {
    g_clock.t = 0.001;
    ASSERT_TRUE(mainloop_frame());
    EXPECT_NEAR(g_clock.t, kStep, 1e-12);
    EXPECT_EQ(loop_state().steps_run, 1);
    EXPECT_EQ(loop_state().histogram[0], 1);
}

TEST_F(MainLoop, ShortTapLastsTheStepsBetweenItsEvents) {
    const int kThrottleKey = 100;
    loop_state().bindings[2].key_code = kThrottleKey; // "Throttle"
    // One frame of 16 steps; step k has wall-clock time k/128.
    event_push(kThrottleKey, true, us(0.030));  // between steps 3 and 4
    event_push(kThrottleKey, false, us(0.060)); // between steps 7 and 8
    g_clock.t = 0.125;
    ASSERT_TRUE(mainloop_frame());
    ASSERT_EQ(g_world.throttle.size(), 16u);
    for (int k = 1; k <= 16; ++k)
        EXPECT_EQ(g_world.throttle[k - 1], (k >= 4 && k <= 7) ? 1.0 : 0.0) << "step " << k;
}

std::vector<int> g_menu_codes;

TEST_F(MainLoop, QueuedEventsAreAllDeliveredInOrder) {
    g_menu_codes.clear();
    menu_state().page = kMenuMainPage; // every press goes to the menu
    loop_hooks().menu_input = [](int code) { g_menu_codes.push_back(code); };
    const int kBase = 5000;
    // Arrive out of order: the queue keeps them in time-stamp order.
    for (int i = 1; i < 250; i += 2) ASSERT_TRUE(event_push(kBase + i, true, us(0.0004 * i)));
    for (int i = 0; i < 250; i += 2) ASSERT_TRUE(event_push(kBase + i, true, us(0.0004 * i)));
    g_clock.t = 0.0625; // 8 steps; events up to 0.0625 s arrive in this frame
    ASSERT_TRUE(mainloop_frame());
    g_clock.t = 0.125;
    ASSERT_TRUE(mainloop_frame());
    ASSERT_EQ(g_menu_codes.size(), 250u);
    for (int i = 0; i < 250; ++i) EXPECT_EQ(g_menu_codes[i], kBase + i);
}

TEST(EventQueue, HoldsAtMost256) {
    event_clear();
    for (int i = 0; i < kEventQueueSize; ++i) ASSERT_TRUE(event_push(i, true, i));
    EXPECT_FALSE(event_push(999, true, 0)); // the 257th is dropped
    InputEvent e;
    ASSERT_TRUE(event_poll(&e));
    EXPECT_EQ(e.code, 0);
    EXPECT_FALSE(event_poll_until(-1, &e)); // the head is later than the limit
    event_clear();
}

TEST_F(MainLoop, PauseAndStepKeys) {
    const int kPause = 4096 + 0x45, kStepKey = '.';
    loop_state().command_keys[kKeyPause] = kPause;
    loop_state().command_keys[kKeyStep] = kStepKey;
    auto press = [](int code) { mainloop_key(InputEvent{code, true, 0}); };
    press(kStepKey); // not paused: nothing
    EXPECT_EQ(g_world.race_steps, 0);
    press(kPause);
    EXPECT_TRUE(loop_state().paused);
    press(kStepKey);
    EXPECT_EQ(g_world.race_steps, 1);
    g_clock.t = 0.125;
    mainloop_frame(); // paused: no race steps run
    EXPECT_EQ(g_world.race_steps, 1);
    press(kPause);
    EXPECT_FALSE(loop_state().paused);
    g_world.online = true;
    press(kPause); // connected: the pause key does nothing
    EXPECT_FALSE(loop_state().paused);
}

TEST_F(MainLoop, ViewModesCycleAndFixUps) {
    LoopState &s = loop_state();
    auto tab = [] { mainloop_key(InputEvent{9, true, 0}); };
    s.mode = ViewMode::rider;
    tab();
    EXPECT_EQ(s.mode, ViewMode::orbit);
    tab();
    EXPECT_EQ(s.mode, ViewMode::camera);
    tab(); // while riding, camera goes back to rider
    EXPECT_EQ(s.mode, ViewMode::rider);
    s.editor_enabled = true;
    tab();
    EXPECT_EQ(s.mode, ViewMode::editor);
    tab();
    EXPECT_EQ(s.mode, ViewMode::orbit);
    s.mode = ViewMode::title;
    tab();
    EXPECT_EQ(s.mode, ViewMode::title);

    // Fix-ups: riding forces rider from camera; no bike forces camera; no track title.
    s.mode = ViewMode::camera;
    mainloop_fix_view_mode();
    EXPECT_EQ(s.mode, ViewMode::rider);
    g_world.bike = false;
    g_world.riding = false;
    mainloop_fix_view_mode();
    EXPECT_EQ(s.mode, ViewMode::camera);
    g_world.track = false;
    mainloop_fix_view_mode();
    EXPECT_EQ(s.mode, ViewMode::title);
    g_world.track = g_world.bike = true;
    mainloop_fix_view_mode();
    EXPECT_EQ(s.mode, ViewMode::rider);
}

TEST_F(MainLoop, MenuFreezesOfflineRiding) {
    mainloop_key(InputEvent{loop_state().esc_code, true, 0});
    EXPECT_EQ(menu_state().page, kMenuMainPage);
    g_clock.t = 0.125;
    mainloop_frame();
    EXPECT_EQ(g_world.race_steps, 0);
    g_world.online = true; // online the race goes on behind the menu
    g_clock.t = 0.25;
    mainloop_frame();
    EXPECT_EQ(g_world.race_steps, 16);
    mainloop_key(InputEvent{loop_state().esc_code, true, 0});
    EXPECT_EQ(menu_state().page, kMenuClosed);
}

TEST_F(MainLoop, OnlinePacingFollowsTheServer) {
    g_world.online = true;
    static std::int64_t server = 0, local = 0, start = 0;
    loop_hooks().server_step = [] { return server; };
    loop_hooks().local_step = [] { return local; };
    loop_hooks().race_start_step = [] { return start; };
    struct Case {
        std::int64_t server, local, start;
        double factor;
    };
    const Case cases[] = {
        {0, 200, 0, 0.5},     // far ahead of the server: half speed
        {1000, 0, 5000, 4.0}, // far behind before the start: four times
        {1000, 0, 0, 1.125},  // far behind after the start: at most 12.5 % faster
        {101, 100, 0, 1.0},   // in step
    };
    for (const Case &c : cases) {
        server = c.server, local = c.local, start = c.start;
        double before = loop_state().target_time;
        g_clock.t += 0.125;
        mainloop_frame();
        EXPECT_NEAR(loop_state().target_time - before, 0.125 * c.factor, 1e-12);
    }
}

TEST_F(MainLoop, HeadlessRunsWholeFramesUntilTheStepLimit) {
    LoopState &s = loop_state();
    s.headless = true;
    s.max_steps = 60 * 128;
    g_world.track = false; // nothing loaded: steps run in the title mode
    mainloop_run();
    EXPECT_EQ(s.steps_run, 7680);
    EXPECT_EQ(g_clock.slept, 0.0);
}

} // namespace
