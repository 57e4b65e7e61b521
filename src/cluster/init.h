// The initialisation of one data file after its first pass: the centre
// table, the range report, MaxDist (AKMDI) or random centres, `clustno`.
#pragma once

#include "cli/run.h"
#include "cluster/learn_state.h"

// The constant nearest to 1/32767 that scales a draw into [0, 1].
float draw_scale();

// Fills every centre with random values inside the ranges: k outer, v inner,
// value = r * c * (max - min) + min in double, rounded to float.
void random_centres(Run& run, LearnFile& f);

// The MaxDist estimate: the distance between the vectors of minima and
// maxima, divided by K.
float estimate_maxdist(const Ranges& r, int nvars, int K, bool use_cityblock);

void init_learning(Run& run, LearnFile& f);
