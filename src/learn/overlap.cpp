#include <cstdint>

#include "base/console.h"
#include "cluster/distance.h"
#include "io/centre_file.h"
#include "learn/evaluate.h"

namespace kmeans {

void overlap_count(const Params& p, LearnFile& f) {
    emit(stderr, "\nCompute overlap:  ");
    const float threshold = static_cast<float>(static_cast<double>(f.mdist) * 0.5);
    long overlaps = 0;
    const int nvars = f.data.nvars;
    each_row(p, f.data, SpinFrom::last, [&](std::int64_t r) {
        const int own = f.clustno[static_cast<std::size_t>(r)];
        for (int j = 0; j < f.nused; ++j) {
            if (j == own) continue;
            if (distance(p.cityblock, f.data.row, f.clust.row(j), nvars) <= threshold) ++overlaps;
        }
    });
    emit(stdout, "\nNo.of overlaps (at mdist/2): %ld\n", overlaps);
    centre_file_overlaps(f.centre_file, overlaps);
}

}  // namespace kmeans
