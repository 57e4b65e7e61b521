#include <cstdint>
#include <vector>

#include "base/console.h"
#include "cluster/distance.h"
#include "io/centre_file.h"
#include "learn/learn_file.h"

namespace kmeans {

Failure overlap_count(const Params& p, LearnFile& f) {
    emit(stderr, "\nCompute overlap:  ");
    const float threshold = static_cast<float>(static_cast<double>(f.mdist) * 0.5);
    const int nvars = f.data.nvars;
    const std::size_t cost = static_cast<std::size_t>(f.nused) * static_cast<std::size_t>(nvars);
    std::vector<long> per_block(block_count(f.data, cost));
    auto map = [&](const RowBlock& b, int) {
        long n = 0;
        const float* x = b.values;
        for (std::int64_t r = b.first; r < b.first + b.count; ++r, x += nvars) {
            const int own = f.clustno[static_cast<std::size_t>(r)];
            for (int j = 0; j < f.nused; ++j) {
                if (j == own) continue;
                if (distance(p.clustering.cityblock, x, f.clust.row(j), nvars) <= threshold) ++n;
            }
        }
        per_block[b.index] = n;
    };
    long overlaps = 0;
    Failure fail = each_block(p.levels, f.data, SpinFrom::last, cost, map,
                              [&](const RowBlock& b) { overlaps += per_block[b.index]; });
    if (failed(fail)) return fail;
    emit(stdout, "\nNo.of overlaps (at mdist/2): %ld\n", overlaps);
    centre_file_overlaps(f.centre_file, overlaps);
    return Failure{};
}

}  // namespace kmeans
