// The start of learning for one data file: random centres (SKM, AKM), or
// MaxDist and never-opened slots (AKMDI).
#pragma once

#include "base/centres.h"
#include "base/params.h"
#include "cluster/random.h"
#include "io/ranges.h"

namespace kmeans {

// Fills every centre of `clust` with random values inside `ranges`: k outer,
// v inner, value = r * c * (max - min) + min in double, rounded to float (c:
// draw_scale()). Lists them at debug level 2.
void random_centres(const Levels& l, Rng& rng, const Ranges& ranges, Centres& clust);

// The MaxDist estimate: the distance between the vectors of minima and
// maxima, divided by K.
float estimate_maxdist(const Ranges& r, int nvars, int K, bool use_cityblock);

// AKMDI's working MaxDist: switch M when given, else the estimate; reported
// with its label. Every slot of `clust` is filled with the marker.
float akmdi_start(const Params& p, const Ranges& ranges, Centres& clust);

}  // namespace kmeans
