// The clocks: the wall clock in whole seconds (the seed, the stopwatch), and
// a monotonic clock for the pace of the progress output and the keyboard.
#pragma once

#include <cstdint>

namespace kmeans {

// One reading of the wall clock.
struct ClockReading {
    std::int64_t whole = 0;    // seconds since the epoch, truncated
    std::int64_t rounded = 0;  // the same, rounded to the nearest second
};

// Reads the wall clock once.
ClockReading read_clock();

// Nanoseconds of the monotonic clock (from an arbitrary start).
std::int64_t monotonic_ns();

}  // namespace kmeans
