#include "core/mainloop.h"

#include "platform/messages.h"
#include "ui/menu.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>

namespace {

struct Loop {
    LoopState state;
    LoopHooks hooks;
    LoopClock clock;
};
Loop g_loop;

bool call(bool (*f)()) {
    return f ? f() : false;
}
void call(void (*f)()) {
    if (f) f();
}

double now() {
    return g_loop.clock.now ? g_loop.clock.now(g_loop.clock.ctx) : 0.0;
}
void sleep_for(double seconds) {
    if (g_loop.clock.sleep) g_loop.clock.sleep(g_loop.clock.ctx, seconds);
}

double &control(ControlVector &cv, ControlTarget t) {
    double *values = &cv.steer;
    return values[t];
}

const BindingEntry kDefaultBindings[kRidingControls] = {
    {"Left", kSteer, +1, 0, -1, -1, 0, 1},
    {"Right", kSteer, -1, 0, -1, -1, 0, 1},
    {"Throttle", kThrottle, +1, 0, -1, -1, 0, 1},
    {"Front Brake", kBrakeFront, +1, 0, -1, -1, 0, 1},
    {"Rear Brake", kBrakeRear, +1, 0, -1, -1, 0, 1},
    {"Upshift", kShift, +1, 0, -1, -1, 0, 1},
    {"Downshift", kShift, -1, 0, -1, -1, 0, 1},
    {"Clutch", kClutch, +1, 0, -1, -1, 0, 1},
    {"Sit/Dab", kDab, +1, 0, -1, -1, 0, 1},
    {"Back up", kBackUp, +1, 0, -1, -1, 0, 1},
    {"Lean Forward", kLean, -1, 0, -1, -1, 0, 1},
    {"Lean Backward", kLean, +1, 0, -1, -1, 0, 1},
};

bool pressed_key(const InputEvent &e, int command) {
    int code = g_loop.state.command_keys[command];
    return e.pressed && code >= 0 && e.code == code;
}

void game_key(const InputEvent &e) {
    LoopState &s = g_loop.state;
    LoopHooks &h = g_loop.hooks;
    MenuState &menu = menu_state();
    if (pressed_key(e, kKeyChat) && s.mode != ViewMode::editor) {
        menu.page = kMenuChatPage;
        menu.hovered = 0;
        return;
    }
    if (s.mode == ViewMode::title) return;
    if (s.mode == ViewMode::editor && h.editor_key && h.editor_key(e.code, e.pressed)) return;
    if (!e.pressed) return;
    bool online = call(h.connected);
    if (pressed_key(e, kKeyPause) && !online) s.paused = !s.paused;
    if (pressed_key(e, kKeyStep) && s.paused) call(h.race_step);
    if (e.code == 9) mainloop_cycle_view_mode();
    if (pressed_key(e, kKeyRewind) && h.playback_seek) h.playback_seek(-1.0);
    if (pressed_key(e, kKeySkip) && h.playback_seek) h.playback_seek(+1.0);
    bool prev = pressed_key(e, kKeyPrev), next = pressed_key(e, kKeyNext);
    if ((prev || next) && (!call(h.viewed_riding) || call(h.view_switch_allowed))) {
        call(prev ? h.view_previous : h.view_next);
    }
    if (pressed_key(e, kKeyScreenshot) && s.mode != ViewMode::editor) call(h.screenshot);
    if (e.code >= '0' && e.code <= '9' && h.select_camera) h.select_camera(e.code - '0');
}

void menu_key(const InputEvent &e) {
    LoopHooks &h = g_loop.hooks;
    if (!e.pressed) return;
    if (h.menu_input) h.menu_input(e.code);
    call(h.viewed_lookup);
    if (!call(h.track_loaded)) g_loop.state.mode = ViewMode::title;
}

} // namespace

LoopState &loop_state() {
    return g_loop.state;
}
LoopHooks &loop_hooks() {
    return g_loop.hooks;
}

void mainloop_init(const LoopClock &clock, const LoopHooks &hooks) {
    g_loop.clock = clock;
    g_loop.hooks = hooks;
    LoopState &s = g_loop.state;
    s = LoopState{};
    std::copy(std::begin(kDefaultBindings), std::end(kDefaultBindings), s.bindings);
    std::fill(std::begin(s.command_keys), std::end(s.command_keys), -1);
    s.esc_code = kEventKeyBase + 0x01;
    s.mode = ViewMode::rider;
    s.orbit_distance = 10;
    s.orbit_height = 5;
    s.min_delta = 1.0;
    s.max_delta = 0.0;
    s.remembered_page = menu_state().page;
    s.now = s.last_frame_time = now();
}

void mainloop_fix_view_mode() {
    LoopState &s = g_loop.state;
    LoopHooks &h = g_loop.hooks;
    if (call(h.track_loaded) && s.mode == ViewMode::title) s.mode = ViewMode::rider;
    if (call(h.viewed_riding) && s.mode != ViewMode::editor && s.mode != ViewMode::rider &&
        s.mode != ViewMode::orbit)
        s.mode = ViewMode::rider;
    if (!call(h.viewed_has_bike)) s.mode = ViewMode::camera;
    if (!call(h.track_loaded)) s.mode = ViewMode::title;
}

void mainloop_cycle_view_mode() {
    LoopState &s = g_loop.state;
    switch (s.mode) {
    case ViewMode::rider:
        s.mode = s.editor_enabled ? ViewMode::editor : ViewMode::orbit;
        break;
    case ViewMode::editor:
        call(g_loop.hooks.editor_leave);
        s.mode = ViewMode::orbit;
        break;
    case ViewMode::orbit:
        s.mode = ViewMode::camera;
        break;
    case ViewMode::camera:
        s.mode = ViewMode::rider;
        break;
    case ViewMode::title:
        break;
    }
}

void mainloop_key(const InputEvent &e) {
    LoopState &s = g_loop.state;
    LoopHooks &h = g_loop.hooks;
    MenuState &menu = menu_state();
    if (e.code == kEventMouseLeft) s.mouse_held = e.pressed;
    if (s.binding_capture) {
        if (e.pressed && h.capture_key) h.capture_key(e.code);
        return;
    }
    // Key bindings hold 1 while their key is down.
    for (BindingEntry &b : s.bindings)
        if (b.key_code >= 0 && b.key_code == e.code) b.value = e.pressed ? 1.0 : 0.0;

    if (e.pressed && e.code == s.esc_code) {
        menu.page = menu.page == kMenuClosed ? kMenuMainPage : kMenuClosed;
        menu.hovered = 0;
        if (menu.page != kMenuClosed) {
            menu_key(e);
            return;
        }
    }
    if (menu.page == kMenuClosed)
        game_key(e);
    else
        menu_key(e);
}

void mainloop_step(double step_wall_time, bool last_of_frame) {
    LoopState &s = g_loop.state;
    LoopHooks &h = g_loop.hooks;
    MenuState &menu = menu_state();
    s.steps_run++;
    s.controls = ControlVector{};

    // Events belonging to this step; the last step of a frame takes all that are queued.
    std::int64_t until = last_of_frame ? INT64_MAX : std::int64_t(std::floor(step_wall_time * 1e6));
    InputEvent e;
    while (event_poll_until(until, &e)) {
        if (menu.page != s.remembered_page) {
            s.remembered_page = menu.page;
            menu.page_guard = true;
        }
        mainloop_key(e);
    }
    if (s.binding_capture) call(h.capture_axes);

    for (BindingEntry &b : s.bindings) {
        if (b.axis >= 0 && h.axis_value) {
            double span = b.high - b.low;
            double v = span != 0 ? (h.axis_value(b.axis) / 32768.0 - b.low) / span : 0.0;
            b.value = std::clamp(v, 0.0, 1.0);
        }
        control(s.controls, b.target) += b.value * b.scale;
    }

    bool online = call(h.connected);
    bool riding = call(h.viewed_riding);
    bool menu_open = menu.page != kMenuClosed;
    if (menu_open && riding && !online) return; // offline riding freezes behind the menu

    if (s.mode == ViewMode::editor) {
        if (h.editor_step) h.editor_step(s.controls);
        if (!online) return;
        s.paused = false;
    } else if (!menu_open && s.mode != ViewMode::title) {
        if (riding) {
            if (call(h.time_trial) && call(h.time_trial_abort_enabled) && s.controls.back_up > 0.5)
                call(h.time_trial_restart);
            if (h.rider_controls_apply) h.rider_controls_apply(s.controls);
        } else if (s.mode == ViewMode::orbit) {
            s.orbit_angle += s.controls.steer * 2 * M_PI / 1024;
            while (s.orbit_angle > M_PI) s.orbit_angle -= 2 * M_PI;
            while (s.orbit_angle < -M_PI) s.orbit_angle += 2 * M_PI;
            if (s.controls.throttle > 0.5)
                s.orbit_distance = std::max(0.25, s.orbit_distance - 1.0 / 64);
            if (s.controls.brake_front > 0.5) s.orbit_distance += 1.0 / 64;
            s.orbit_height += kStep * s.controls.shift;
        }
        if (s.mode == ViewMode::camera && h.camera_step) h.camera_step(s.controls);
        if (online) s.paused = false;
    }

    call(h.network_step);
    if (!call(h.track_loaded)) s.mode = ViewMode::title;
    if (s.paused || s.mode == ViewMode::title || (online && !call(h.server_started))) return;
    call(h.race_step);
    call(h.record_audio_step);
}

bool mainloop_frame() {
    LoopState &s = g_loop.state;
    LoopHooks &h = g_loop.hooks;
    MenuState &menu = menu_state();
    if (menu.quit_requested) return false;

    mainloop_fix_view_mode();
    if (!s.headless) {
        call(h.draw_frame);
        if (h.end_frame && !h.end_frame()) return false;
        call(h.sound_frame);
    }

    // Frame delta.
    bool online = call(h.connected);
    double t = now();
    double elapsed = t - s.last_frame_time;
    int k = 0;
    while (k < 7 && !(elapsed < kStep * double(1 << k))) ++k;
    s.histogram[k]++;
    double delta;
    for (;;) {
        if (s.headless) {
            delta = 16 * kStep; // as fast as the CPU allows, in whole frames of 1/8 s
        } else if (!online && s.lock_fps > 0) {
            double frame = 1.0 / s.lock_fps;
            if (elapsed < frame) {
                sleep_for(frame - elapsed);
                t = now();
            }
            delta = frame;
        } else if (!online && s.warp) {
            delta = 100 * kStep;
        } else if (elapsed >= kStep) {
            delta = std::min(elapsed, 0.125);
        } else {
            sleep_for(kStep - elapsed);
            t = now();
            elapsed = t - s.last_frame_time;
            continue;
        }
        break;
    }
    s.min_delta = std::min(s.min_delta, delta);
    s.max_delta = std::max(s.max_delta, delta);

    // Online pacing: follow the server's clock.
    if (online && h.server_step && h.local_step) {
        std::int64_t local = h.local_step();
        double lead = double(h.server_step() - local - 1) * kStep;
        std::int64_t start = h.race_start_step ? h.race_start_step() : 0;
        if (lead < 0)
            delta *= 0.5 + 0.5 * std::clamp(lead + 1, 0.0, 1.0);
        else if (local < start)
            delta *= 1 + 3 * std::clamp(lead, 0.0, 1.0);
        else
            delta *= 1 + 0.125 * std::clamp(8 * lead, 0.0, 1.0);
    }

    s.now = t;
    s.last_frame_time = t;
    s.target_time += delta;
    s.run_time += delta;
    messages_set_run_time(s.run_time);

    call(h.menu_frame);
    menu.page_guard = false;
    s.remembered_page = menu.page;

    while (s.sim_time < s.target_time) {
        s.sim_time += kStep;
        double wall = t - (s.target_time - s.sim_time);
        mainloop_step(wall, wall >= t);
        if (s.max_steps > 0 && s.steps_run >= s.max_steps) return false;
        if (menu.quit_requested) return false;
    }

    if (s.warp && s.mode != ViewMode::title && call(h.leader_finished_race)) call(h.warp_restart);
    if (s.mode != ViewMode::title) call(h.terrain_frame);
    messages_tick(s.run_time);
    return true;
}

void mainloop_run() {
    while (mainloop_frame()) {}
}
