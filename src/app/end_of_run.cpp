#include "app/end_of_run.h"

#include "base/clock.h"
#include "base/console.h"
#include "base/registry.h"
#include "cli/help.h"

namespace kmeans {

void end_run(const Params& p, int last_nused) {
    const std::int64_t now = read_clock().rounded;
    if (p.levels.notice || (notice_by_chance(now) && shown(p.levels, Show::quiet0))) write_notice();
    if (p.levels.stopwatch) emit(stderr, "\nElapsed time: %ld s.\n", static_cast<long>(now - p.invocation.start_time));
    finish_run(run_status(p.levels, last_nused));
}

}  // namespace kmeans
