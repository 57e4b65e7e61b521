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

}  // namespace kmeans
