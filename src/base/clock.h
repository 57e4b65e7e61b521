// The wall clock in whole seconds.
#pragma once

#include <cstdint>

namespace kmeans {

// One reading of the wall clock.
struct ClockReading {
    std::int64_t whole = 0;    // seconds since the epoch, truncated
    std::int64_t rounded = 0;  // the same, rounded to the nearest second
};

// Reads the clock once.
ClockReading read_clock();

}  // namespace kmeans
