#include "learn/evaluate.h"

#include "base/console.h"

namespace kmeans {

void evaluate(const Params& p, LearnFile& f) {
    assignment_pass(p, f);
    statistics_and_centres(p, f);
    final_pass(p, f);
    if (p.levels.debug != 0) overlap_count(p, f);
    say(p.levels, Show::quiet_lt3, stderr, "\n");
}

}  // namespace kmeans
