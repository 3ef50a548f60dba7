#include "platform/clock.h"

#include <cmath>
#include <ctime>
#include <sched.h>

static timespec now_monotonic() {
    timespec ts{};
    // CLOCK_BOOTTIME counts from system start, including suspend, like the
    // system millisecond clock the log stamps are defined against.
    if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0) clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts;
}

std::uint64_t clock_ms() {
    timespec ts = now_monotonic();
    return std::uint64_t(ts.tv_sec) * 1000u + std::uint64_t(ts.tv_nsec) / 1000000u;
}

double clock_seconds() {
    timespec ts = now_monotonic();
    return double(ts.tv_sec) + double(ts.tv_nsec / 1000) * 1e-6;
}

void clock_sleep(double seconds) {
    if (!(seconds > 0)) return;
    double end = clock_seconds() + seconds;
    double whole_ms = std::floor(seconds * 1000.0) - 1.0;
    if (whole_ms > 0) {
        timespec ts{};
        ts.tv_sec = time_t(whole_ms / 1000.0);
        ts.tv_nsec = long((whole_ms - double(ts.tv_sec) * 1000.0) * 1e6);
        nanosleep(&ts, nullptr);
    }
    // Yield for the rest instead of oversleeping by a scheduler tick.
    while (clock_seconds() < end) sched_yield();
}
