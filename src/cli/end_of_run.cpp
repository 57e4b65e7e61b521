#include "cli/end_of_run.h"

#include "cli/cleanup.h"
#include "cli/clock.h"
#include "cli/console.h"
#include "cli/help.h"
#include "cli/switches.h"

void end_run(Run& run) {
    const Params& p = run.p;
    std::int64_t now = now_seconds();
    run.rng.seed = static_cast<std::uint32_t>(now) & 0xFFFFu;
    // With switch C always; otherwise by chance (one draw), unless quiet.
    if (switch_present(p.switches, 'C') || (draw(run.rng) < 1000 && p.quiet == 0)) write_notice();
    if (switch_present(p.switches, 'T'))
        emit(stderr, "\nElapsed time: %ld s.\n", static_cast<long>(now - p.start_time));
    finish(p.used_level > 0 ? run.last_nused : 0);
}
