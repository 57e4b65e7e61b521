#include "plot/inputs.h"

#include <algorithm>

namespace kmeans {

bool sample_rows(const std::string& data_path, const std::string& label_path, bool recall, std::int64_t total,
                 std::int64_t limit, PlotInput& in, std::string& err) {
    const std::size_t nv = in.vars.size();
    in.values.clear();
    in.cluster.clear();
    in.row.clear();
    in.lo.assign(nv, 0);
    in.hi.assign(nv, 0);
    const std::size_t drawn = static_cast<std::size_t>(std::min(total, limit));
    in.values.reserve(drawn * nv);
    in.cluster.reserve(drawn);
    in.row.reserve(drawn);
    RowSampler sampler{total, limit};
    return each_labelled_row(data_path, label_path, recall, in.K, total, [&](std::int64_t r, const float* row, int k) {
        for (std::size_t j = 0; j < nv; ++j) {
            double v = row[static_cast<std::size_t>(in.vars[j] - 1)];
            if (r == 0 || v < in.lo[j]) in.lo[j] = v;
            if (r == 0 || v > in.hi[j]) in.hi[j] = v;
        }
        if (sampler.take()) {
            for (std::size_t j = 0; j < nv; ++j) in.values.push_back(row[static_cast<std::size_t>(in.vars[j] - 1)]);
            in.cluster.push_back(k);
            in.row.push_back(r);
        }
    }, err);
}

}  // namespace kmeans
