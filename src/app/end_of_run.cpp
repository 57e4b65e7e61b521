#include "app/end_of_run.h"

#include "base/clock.h"
#include "base/console.h"
#include "base/registry.h"
#include "cli/help.h"
#include "cluster/random.h"

namespace kmeans {

// The chance notice: one draw from the generator seeded anew with the low 16
// bits of the time; a draw below 1000 shows it at quiet level 0.
static bool notice_by_chance(const Params& p, std::int64_t now) {
    Rng rng{static_cast<std::uint32_t>(now) & 0xFFFFu};
    return draw(rng) < 1000 && shown(p, Show::quiet0);
}

void end_run(const Params& p, int last_nused) {
    const std::int64_t now = read_clock().rounded;
    if (p.notice || notice_by_chance(p, now)) write_notice();
    if (p.stopwatch) emit(stderr, "\nElapsed time: %ld s.\n", static_cast<long>(now - p.start_time));
    finish(run_status(p, last_nused));
}

}  // namespace kmeans
