#include "platform/events.h"

#include "platform/clock.h"

#include <mutex>

namespace {
struct EventQueue {
    std::mutex lock;
    InputEvent ring[kEventQueueSize];
    int head = 0;
    int count = 0;
};
EventQueue g_queue;
} // namespace

bool event_push(int code, bool pressed, std::int64_t time_us) {
    std::lock_guard<std::mutex> guard(g_queue.lock);
    if (g_queue.count >= kEventQueueSize) return false;
    // Place at the tail, then move towards the head past every later event.
    int i = g_queue.count++;
    while (i > 0) {
        InputEvent &prev = g_queue.ring[(g_queue.head + i - 1) % kEventQueueSize];
        if (prev.time_us <= time_us) break;
        g_queue.ring[(g_queue.head + i) % kEventQueueSize] = prev;
        --i;
    }
    g_queue.ring[(g_queue.head + i) % kEventQueueSize] = InputEvent{code, pressed, time_us};
    return true;
}

bool event_push_now(int code, bool pressed) {
    return event_push(code, pressed, std::int64_t(clock_seconds() * 1e6));
}

bool event_poll_until(std::int64_t time_us, InputEvent *out) {
    std::lock_guard<std::mutex> guard(g_queue.lock);
    if (g_queue.count == 0) return false;
    const InputEvent &e = g_queue.ring[g_queue.head];
    if (e.time_us > time_us) return false;
    if (out) *out = e;
    g_queue.head = (g_queue.head + 1) % kEventQueueSize;
    g_queue.count--;
    return true;
}

bool event_poll(InputEvent *out) {
    return event_poll_until(INT64_MAX, out);
}

int event_count() {
    std::lock_guard<std::mutex> guard(g_queue.lock);
    return g_queue.count;
}

void event_clear() {
    std::lock_guard<std::mutex> guard(g_queue.lock);
    g_queue.head = g_queue.count = 0;
}
