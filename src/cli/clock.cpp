#include "cli/clock.h"

#include <ctime>

std::int64_t now_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) + (ts.tv_nsec >= 500000000L ? 1 : 0);
}
