// Per-variable ranges of a data file, gathered by its first pass.
#pragma once

#include <algorithm>
#include <cstdint>

#include "base/limits.h"

namespace kmeans {

struct Ranges {
    float min[max_vars];
    float max[max_vars];
};

// Every min to the largest finite float, every max to its negative.
void ranges_reset(Ranges& r);

// Widens the ranges of the first `nvars` variables to include `row`.
inline void ranges_update(Ranges& r, const float* row, int nvars) {
    for (int v = 0; v < nvars; ++v) {
        if (row[v] < r.min[v]) r.min[v] = row[v];
        if (row[v] > r.max[v]) r.max[v] = row[v];
    }
}

// The same for `rows` rows of `nvars` values, row after row at `values`:
// the ranges updating `r` with one row after the other gives.
inline void ranges_update_rows(Ranges& r, const float* values, std::int64_t rows, int nvars) {
    for (int v = 0; v < nvars; ++v) {
        // A variable at a time, its bounds held apart from `r` (which the
        // rows could alias) while its values are passed.
        float lo = r.min[v], hi = r.max[v];
        const float* x = values + v;
        for (std::int64_t i = 0; i < rows; ++i, x += nvars) {
            lo = std::min(lo, *x);  // *x < lo ? *x : lo, as ranges_update
            hi = std::max(hi, *x);  // hi < *x ? *x : hi
        }
        r.min[v] = lo;
        r.max[v] = hi;
    }
}

// Widens the ranges of the first `nvars` variables of `r` to include those
// of `part`, ranges gathered over later rows: the same ranges as updating `r`
// with each of those rows in turn (a tie keeps the earlier value).
inline void ranges_merge(Ranges& r, const Ranges& part, int nvars) {
    ranges_update(r, part.min, nvars);
    ranges_update(r, part.max, nvars);
}

}  // namespace kmeans
