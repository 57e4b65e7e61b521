// The choice between the kernels of the nearest-centre search and the
// prepared centres. The kernels themselves are in translation units of their
// own (nearest_kernels.h).
#include "cluster/nearest.h"

#include <algorithm>
#include <cassert>

#include <limits>

namespace kmeans {

namespace {

NearestPath detect_path() {
#ifdef KMEANS_VECTOR_KERNELS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl")) return NearestPath::avx512;
    if (__builtin_cpu_supports("avx2")) return NearestPath::avx2;
#endif
    return NearestPath::portable;
}

// The kernel that `kernel` forces (portable for automatic, which forces none).
NearestPath forced_path(Kernel kernel) {
    switch (kernel) {
    case Kernel::avx512: return NearestPath::avx512;
    case Kernel::avx2: return NearestPath::avx2;
    default: return NearestPath::portable;
    }
}

}  // namespace

NearestPath nearest_path_best() {
    static const NearestPath best = detect_path();
    return best;
}

NearestPath nearest_path_for(Kernel kernel, int ncand, int nvars) {
    if (kernel != Kernel::automatic && nearest_path_runs(forced_path(kernel))) return forced_path(kernel);
    const NearestPath best = nearest_path_best();
    if (best == NearestPath::avx512 && ncand <= 8 && nvars < 32) return NearestPath::avx2;
    return best;
}

NearestPath nearest_path_row_major(Kernel kernel, int ncand, int nvars) {
    // Rows of one or two values: transposing 8 centres costs more than the
    // sums themselves, and the portable kernel is faster.
    if (kernel == Kernel::automatic && nvars <= 2) return NearestPath::portable;
    return nearest_path_for(kernel, ncand, nvars);
}

bool nearest_path_runs(NearestPath path) {
    return static_cast<int>(path) >= 0 && static_cast<int>(path) <= static_cast<int>(nearest_path_best());
}

bool nearest_kernel_runs(Kernel kernel) {
    return kernel == Kernel::automatic || nearest_path_runs(forced_path(kernel));
}

const char* nearest_path_name(NearestPath path) {
    switch (path) {
    case NearestPath::avx512: return "avx512";
    case NearestPath::avx2: return "avx2";
    default: return "portable";
    }
}

int detail::search_row_major(NearestPath path, const float* centres, int stride, int ncand, const float* x,
                             int nvars, bool use_cityblock, TakeRef take, float& best) {
    assert(ncand >= 0);
    assert(nvars >= 0 && nvars <= max_vars && nvars <= stride);
    assert(nearest_path_runs(path));
#ifdef KMEANS_VECTOR_KERNELS
    if (path == NearestPath::avx512)
        return nearest_row_major_avx512(centres, stride, ncand, x, nvars, use_cityblock, take, best);
    if (path == NearestPath::avx2)
        return nearest_row_major_avx2(centres, stride, ncand, x, nvars, use_cityblock, take, best);
#endif
    (void)path;
    return nearest_row_major_portable(centres, stride, ncand, x, nvars, use_cityblock, take, best);
}

void centres_update(CentreSet& s, const Centres& c, int k, bool candidate) {
    assert(k >= 0 && k < s.ncand && k < c.K && s.nvars <= c.nvars);
    const float* row = c.row(k);
    const std::size_t width = static_cast<std::size_t>(s.width);
    for (int v = 0; v < s.nvars; ++v)
        s.cols[static_cast<std::size_t>(v) * width + static_cast<std::size_t>(k)] =
            candidate ? static_cast<double>(row[v]) : std::numeric_limits<double>::quiet_NaN();
    s.take[static_cast<std::size_t>(k)] = candidate ? 1 : 0;
    if (candidate) {
        if (s.first < 0 || k < s.first) s.first = k;
    } else if (k == s.first) {
        s.first = -1;
        for (int j = k + 1; j < s.ncand; ++j)
            if (s.take[static_cast<std::size_t>(j)]) {
                s.first = j;
                break;
            }
    }
}

void centres_pull(CentreSet& s, Centres& c, int k, const float* x, float alpha) {
    assert(k >= 0 && k < s.ncand && k < c.K && s.nvars <= c.nvars && s.take[static_cast<std::size_t>(k)]);
#ifdef KMEANS_VECTOR_KERNELS
    if (s.path != NearestPath::portable)
        return nearest_pull_avx2(s.cols.data(), s.width, k, c.row(k), x, s.nvars, alpha);
#endif
    nearest_pull_portable(s.cols.data(), s.width, k, c.row(k), x, s.nvars, alpha);
}

bool adaptive_pass_runs(const CentreSet& s) {
#ifdef KMEANS_VECTOR_KERNELS
    return s.path != NearestPath::portable && s.ncand <= 8 && s.width == 8 && s.nvars <= adaptive_max_vars &&
           s.first == 0 && std::all_of(s.take.begin(), s.take.begin() + s.ncand, [](unsigned char t) { return t != 0; });
#else
    (void)s;
    return false;
#endif
}

AdaptivePass adaptive_begin(CentreSet& s, Centres& c, float alpha) {
    assert(adaptive_pass_runs(s) && c.nvars == s.nvars);
    AdaptivePass a;
    a.cols = s.cols.data();
    a.centres = c.v.data();
    a.nvars = s.nvars;
    a.alpha = alpha;
    a.cityblock = s.cityblock;
    return a;
}

void adaptive_row(AdaptivePass& a, const float* x, std::int32_t* winner) {
#ifdef KMEANS_VECTOR_KERNELS
    nearest_adaptive_avx2(a, x, winner);
#else
    (void)a, (void)x, (void)winner;
    assert(false);
#endif
}

void adaptive_end(AdaptivePass& a) {
#ifdef KMEANS_VECTOR_KERNELS
    nearest_adaptive_end_avx2(a);
#else
    (void)a;
#endif
}

void nearest_rows(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                  float* best) {
    assert(s.nvars >= 0 && s.nvars <= nvars && nvars <= max_vars);
    assert(s.ncand <= s.width && s.width % 8 == 0 && s.cols.size() == static_cast<std::size_t>(s.width) * s.nvars);
    assert(nearest_path_runs(s.path));
    const CentreColumns cols{s.cols.data(), s.nvars, s.width, s.first};
#ifdef KMEANS_VECTOR_KERNELS
    if (s.path == NearestPath::avx512) return nearest_rows_avx512(cols, s.cityblock, rows, n, nvars, winner, best);
    if (s.path == NearestPath::avx2) return nearest_rows_avx2(cols, s.cityblock, rows, n, nvars, winner, best);
#endif
    nearest_rows_portable(cols, s.cityblock, rows, n, nvars, winner, best);
}


void nearest_rows_second(const CentreSet& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                         float* best, float* second) {
    assert(s.nvars >= 0 && s.nvars <= nvars && nvars <= max_vars);
    assert(s.ncand <= s.width && s.width % 8 == 0 && s.width <= max_clusters + 8);
    assert(s.cols.size() == static_cast<std::size_t>(s.width) * s.nvars);
    assert(nearest_path_runs(s.path));
    const CentreColumns cols{s.cols.data(), s.nvars, s.width, s.first};
#ifdef KMEANS_VECTOR_KERNELS
    if (s.path == NearestPath::avx512)
        return nearest_rows_second_avx512(cols, s.cityblock, rows, n, nvars, winner, best, second);
    if (s.path == NearestPath::avx2)
        return nearest_rows_second_avx2(cols, s.cityblock, rows, n, nvars, winner, best, second);
#endif
    nearest_rows_second_portable(cols, s.cityblock, rows, n, nvars, winner, best, second);
}

}  // namespace kmeans
