#include "io/ranges.h"

#include <cfloat>

namespace kmeans {

void ranges_reset(Ranges& r) {
    for (int v = 0; v < max_vars; ++v) {
        r.min[v] = FLT_MAX;
        r.max[v] = -FLT_MAX;
    }
}

}  // namespace kmeans
