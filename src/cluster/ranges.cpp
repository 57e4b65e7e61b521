#include "cluster/ranges.h"

#include <cfloat>

void ranges_reset(Ranges& r) {
    for (int v = 0; v < max_vars; ++v) {
        r.min[v] = FLT_MAX;
        r.max[v] = -FLT_MAX;
    }
}
