// The system clock and sleeping.
#pragma once
#include <cstdint>

// Milliseconds of the monotonic clock that counts from system start.
std::uint64_t clock_ms();
// The same clock in seconds, with microsecond resolution.
double clock_seconds();
// Sleeps for the given time: whole milliseconds less one, then yields for the rest.
void clock_sleep(double seconds);
