// The context of one run: the parameters and the little state that carries
// over from one data file to the next. Passed as the first parameter.
#pragma once

#include "cli/params.h"
#include "cluster/random.h"

// Exit status under switch U when no data file was learned.
constexpr int status_none_learned = -512;

struct Run {
    const Params& p;
    Rng rng;                      // runs on across data files
    int opened = 0;               // AKMDI: number of the slot opened last
    int last_nused = status_none_learned;  // used clusters of the last learned file
};
