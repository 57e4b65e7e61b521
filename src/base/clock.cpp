#include "base/clock.h"

#include <ctime>

namespace kmeans {

ClockReading read_clock() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    ClockReading r;
    r.whole = static_cast<std::int64_t>(ts.tv_sec);
    r.rounded = r.whole + (ts.tv_nsec >= 500000000L ? 1 : 0);
    return r;
}

std::int64_t monotonic_ns() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

}  // namespace kmeans
