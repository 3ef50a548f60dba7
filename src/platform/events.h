// The input event queue: time-stamped key, button and window events.
#pragma once
#include <cstdint>

// Event codes: characters 0-255 (presses only), 4096 + scan code, the mouse buttons and
// the window's close request; input devices add codes from their own code base.
constexpr int kEventKeyBase = 4096;
constexpr int kEventMouseLeft = 8192;
constexpr int kEventMouseMiddle = 8193;
constexpr int kEventMouseRight = 8194;
constexpr int kEventClose = 57005;
constexpr int kEventQueueSize = 256;

struct InputEvent {
    int code;
    bool pressed;
    std::int64_t time_us; // time stamp on the clock of platform/clock.h, in microseconds
};

// Queues an event in time-stamp order (equal stamps keep arrival order). A full queue
// (256 events) drops the new event and returns false. Thread-safe.
bool event_push(int code, bool pressed, std::int64_t time_us);
// Queues an event stamped with the current clock.
bool event_push_now(int code, bool pressed);
// Takes the oldest event if its stamp is not later than time_us. Thread-safe.
bool event_poll_until(std::int64_t time_us, InputEvent *out);
// Takes the oldest event whatever its stamp.
bool event_poll(InputEvent *out);
// Number of queued events.
int event_count();
// Drops every queued event.
void event_clear();
