// The main loop: frames, fixed simulation steps of 1/128 s, event delivery per step,
// the control vector, view modes, pause and single step, and online pacing.
#pragma once
#include "platform/events.h"

#include <cstdint>

constexpr double kStep = 1.0 / 128.0;

enum class ViewMode { rider, editor, orbit, camera, title };

// The nine per-step control values built from the bindings.
struct ControlVector {
    double steer, throttle, brake_front, brake_rear, shift, clutch, dab, back_up, lean;
};
enum ControlTarget {
    kSteer,
    kThrottle,
    kBrakeFront,
    kBrakeRear,
    kShift,
    kClutch,
    kDab,
    kBackUp,
    kLean
};

// One riding control mapped onto the control vector. key_code and axis are resolved
// from the configured binding names by the input layer (none = -1).
struct BindingEntry {
    const char *label;
    ControlTarget target;
    double scale;
    double value;     // 1 while the key is down (key bindings)
    int key_code;     // -1 for none
    int axis;         // -1 for none
    double low, high; // axis ends
};
constexpr int kRidingControls = 12;

// The command controls, in the configuration's order after the riding controls.
enum CommandKey {
    kKeyPause,
    kKeyStep,
    kKeyRewind,
    kKeySkip,
    kKeyPrev,
    kKeyNext,
    kKeyChat,
    kKeyScreenshot,
    kCommandKeys
};

// The clock and sleep the loop runs on. Tests drive both.
struct LoopClock {
    double (*now)(void *ctx);
    void (*sleep)(void *ctx, double seconds);
    void *ctx;
};

// What the loop calls in the other subsystems. A null entry is a subsystem that is not
// present (or not built yet): the loop skips that call. Predicates default to false.
struct LoopHooks {
    bool (*track_loaded)();             // a track is loaded
    bool (*viewed_riding)();            // the viewed slot is a live, racing rider
    bool (*viewed_has_bike)();          // the viewed slot has a bike
    bool (*connected)();                // online: connected to a race server
    bool (*server_started)();           // online: the server announced its first step
    std::int64_t (*server_step)();      // online: the latest step announced by the server
    std::int64_t (*local_step)();       // steps run in the current race
    std::int64_t (*race_start_step)();  // the race's start step
    bool (*time_trial)();               // the race is a time trial
    bool (*time_trial_abort_enabled)(); // the "Backing Up Aborts Attempt" setting
    void (*time_trial_restart)();
    bool (*leader_finished_race)(); // warp: the leader completed the race's laps
    void (*warp_restart)();         // rotate the lineup by one and start a new race
    void (*race_step)();            // one race step
    void (*network_step)();         // one network step
    void (*rider_controls_apply)(const ControlVector &cv);
    void (*editor_step)(const ControlVector &cv);
    bool (*editor_key)(int code, bool pressed); // true when the editor took the key
    void (*editor_leave)(); // rebuild drawing data and settle bikes on the terrain
    void (*camera_step)(const ControlVector &cv);
    void (*menu_input)(int code); // a press while a menu is open
    void (*menu_frame)();         // cursor hover and page bookkeeping
    void (*playback_seek)(double seconds);
    void (*view_previous)();
    void (*view_next)();
    bool (*view_switch_allowed)();
    void (*screenshot)();
    void (*select_camera)(int digit);
    void (*draw_frame)();           // draw the current view, HUD, banners and menus
    bool (*end_frame)();            // false when the frame could not be shown
    void (*sound_frame)();          // engine voices and the audio hand-over
    void (*terrain_frame)();        // per-frame terrain update
    void (*record_audio_step)();    // append this step's samples to the recording
    double (*axis_value)(int axis); // raw axis reading, -32768..32767
    bool (*capture_key)(int code);  // binding capture takes a press (true = consumed)
    void (*capture_axes)();         // binding capture looks at the axes after the events
    void (*viewed_lookup)();        // look the viewed bike up again after menu input
};

struct LoopState {
    // frame clock
    double last_frame_time;
    double target_time;
    double sim_time;
    double run_time;
    double now; // time of the latest delta measurement
    // frame statistics
    int histogram[8];
    double min_delta, max_delta;
    // loop state
    ViewMode mode;
    bool paused;
    bool mouse_held;
    bool binding_capture; // a control is being bound (input layer)
    double orbit_angle, orbit_distance, orbit_height;
    ControlVector controls;
    BindingEntry bindings[kRidingControls];
    int command_keys[kCommandKeys]; // event codes, -1 for none
    int esc_code;                   // the fixed menu key "esc"
    std::int64_t steps_run;         // simulation steps since the loop started
    // settings
    double lock_fps; // 0 = off
    bool warp;
    bool headless;          // fixed 16 steps a frame, never sleeps
    std::int64_t max_steps; // headless: end the loop after this many steps (0 = no limit)
    bool editor_enabled;
    int remembered_page;
};

// Resets the loop state: default bindings table, settings off, frame clock at now.
void mainloop_init(const LoopClock &clock, const LoopHooks &hooks);
LoopState &loop_state();
LoopHooks &loop_hooks();

// One frame iteration (fix-ups, drawing, delta, steps, warp, messages). Returns false
// when the loop must end (quit requested, end-of-frame failure, step limit reached).
bool mainloop_frame();
// Runs frames until one returns false.
void mainloop_run();
// One simulation step at the given wall-clock time (used by mainloop_frame).
void mainloop_step(double step_wall_time, bool last_of_frame);
// Handles one input event as the key handling of a step does.
void mainloop_key(const InputEvent &e);
// Frame step 1: the view-mode fix-ups.
void mainloop_fix_view_mode();
// The TAB key: the next view mode.
void mainloop_cycle_view_mode();
