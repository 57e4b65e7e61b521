// The portable kernel of the nearest-centre search: plain C++ that any
// processor runs, compiled without instruction-set options. See
// nearest_kernels.h.
#include <cfloat>
#include <cstddef>
#include <cstdint>

#include "base/limits.h"
#include "cluster/nearest_kernels.h"

namespace kmeans {

namespace {

#include "cluster/nearest_search.inc"

// The sum of one centre `c` (as distance() adds it).
template <bool CB>
inline float sum1(const float* x, const float* c, int nvars) {
    double s = 0.0;
    for (int v = 0; v < nvars; ++v) {
        const double d = static_cast<double>(x[v]) - static_cast<double>(c[v]);
        s += CB ? __builtin_fabs(d) : d * d;
    }
    return static_cast<float>(s);
}

// Row-major centres, 4 at a time (four independent chains of additions),
// the last few one by one.
template <bool CB>
int row_major(const float* centres, int stride, int ncand, const float* x, int nvars, TakeRef take, float& best) {
    Best b = start(CB);
    const std::size_t step = static_cast<std::size_t>(stride);
    const float* c0 = centres;
    int k0 = 0;
    for (; k0 + 4 <= ncand; k0 += 4, c0 += 4 * step) {
        const float* c1 = c0 + step;
        const float* c2 = c1 + step;
        const float* c3 = c2 + step;
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
        for (int v = 0; v < nvars; ++v) {
            const double xv = x[v];
            const double d0 = xv - static_cast<double>(c0[v]), d1 = xv - static_cast<double>(c1[v]);
            const double d2 = xv - static_cast<double>(c2[v]), d3 = xv - static_cast<double>(c3[v]);
            if (CB) {
                s0 += __builtin_fabs(d0);
                s1 += __builtin_fabs(d1);
                s2 += __builtin_fabs(d2);
                s3 += __builtin_fabs(d3);
            } else {
                s0 += d0 * d0;
                s1 += d1 * d1;
                s2 += d2 * d2;
                s3 += d3 * d3;
            }
        }
        const float sums[4] = {static_cast<float>(s0), static_cast<float>(s1), static_cast<float>(s2),
                               static_cast<float>(s3)};
        accept<CB>(b, sums, 4, k0, take);
    }
    for (; k0 < ncand; ++k0, c0 += step) {
        const float s = sum1<CB>(x, c0, nvars);
        accept<CB>(b, &s, 1, k0, take);
    }
    best = b.dist;
    return b.winner;
}

// The groups of 8 prepared centres from k0 on, G groups side by side; stops
// early when every partial sum has reached the best one's sum.
template <bool CB, int G>
void groups(const CentreColumns& s, int k0, const float* x, Best& b) {
    double acc[G][8] = {};
    const std::size_t width = static_cast<std::size_t>(s.width);
    const int nvars = s.nvars;
    for (int v = 0; v < nvars;) {
        const int end = nvars - v > 32 ? v + 16 : nvars;
        for (; v < end; ++v) {
            const double xv = x[v];
            const double* col = s.cols + static_cast<std::size_t>(v) * width + static_cast<std::size_t>(k0);
            #pragma GCC unroll 8
            for (int g = 0; g < G; ++g)
                for (int j = 0; j < 8; ++j) {
                    const double d = xv - col[8 * g + j];
                    acc[g][j] += CB ? __builtin_fabs(d) : d * d;
                }
        }
        if (v < nvars) {
            bool any = false;
            #pragma GCC unroll 8
            for (int g = 0; g < G; ++g)
                for (int j = 0; j < 8; ++j) any |= static_cast<float>(acc[g][j]) < b.bound;
            if (!any) return;
        }
    }
    #pragma GCC unroll 8
    for (int g = 0; g < G; ++g) {
        float sums[8];
        for (int j = 0; j < 8; ++j) sums[j] = static_cast<float>(acc[g][j]);
        accept<CB>(b, sums, 8, k0 + 8 * g, take_all);
    }
}

// The prepared search of each row, group by group.
template <bool CB>
void search_rows(const CentreColumns& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                 float* best) {
    for (std::size_t i = 0; i < n; ++i) {
        const float* x = rows + i * static_cast<std::size_t>(nvars);
        Best b = start(CB);
        int k0 = 0;
        for (; k0 + 16 <= s.width; k0 += 16) groups<CB, 2>(s, k0, x, b);
        for (; k0 < s.width; k0 += 8) groups<CB, 1>(s, k0, x, b);
        winner[i] = b.winner >= 0 ? b.winner : s.first;
        best[i] = b.dist;
    }
}

// The prepared search of each row with every sum kept: every sum of the
// row first (a candidate's sum is never NaN, the others' always), then the
// decision of accept() in cluster order.
template <bool CB>
void search_rows_all(const CentreColumns& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                     float* best, float* sums) {
    const std::size_t width = static_cast<std::size_t>(s.width);
    for (std::size_t i = 0; i < n; ++i) {
        const float* x = rows + i * static_cast<std::size_t>(nvars);
        float* out = sums + i * width;
        for (std::size_t k = 0; k < width; ++k) {
            double acc = 0.0;
            for (int v = 0; v < s.nvars; ++v) {
                const double d = static_cast<double>(x[v]) - s.cols[static_cast<std::size_t>(v) * width + k];
                acc += CB ? __builtin_fabs(d) : d * d;
            }
            out[k] = static_cast<float>(acc);
        }
        Best b = start(CB);
        accept<CB>(b, out, s.width, 0, take_all);
        winner[i] = b.winner >= 0 ? b.winner : s.first;
        best[i] = b.dist;
    }
}

// The prepared search of each row with the smallest sum of the other
// candidates: every sum of the row first (search_rows_all()), then the
// smallest of those but the winner's.
template <bool CB>
void search_rows_second(const CentreColumns& s, const float* rows, std::size_t n, int nvars, std::int32_t* winner,
                        float* best, float* second) {
    float sums[max_clusters + 8];
    for (std::size_t i = 0; i < n; ++i) {
        search_rows_all<CB>(s, rows + i * static_cast<std::size_t>(nvars), 1, nvars, winner + i, best + i, sums);
        const bool found = best[i] < FLT_MAX;  // a winner below the start of the search
        float other = inf;
        for (int k = 0; k < s.width; ++k)
            if (k != winner[i] && sums[k] < other) other = sums[k];
        second[i] = found ? other : 0.0f;
    }
}

// The sums of row `x` against the blocks of 8 prepared columns at col0 + 8 *
// blocks[i] (i < n; blocks null: the blocks from col0 on), with the smallest
// of each.
template <bool CB>
void block_sums(const CentreColumns& s, const float* x, const std::int32_t* blocks, int n, float* sums, float* mins) {
    const std::size_t width = static_cast<std::size_t>(s.width);
    for (int i = 0; i < n; ++i) {
        const double* col0 = s.cols + 8 * static_cast<std::size_t>(blocks ? blocks[i] : i);
        double acc[8] = {};
        for (int v = 0; v < s.nvars; ++v) {
            const double xv = x[v];
            const double* col = col0 + static_cast<std::size_t>(v) * width;
            for (int j = 0; j < 8; ++j) {
                const double d = xv - col[j];
                acc[j] += CB ? __builtin_fabs(d) : d * d;
            }
        }
        float least = inf;
        for (int j = 0; j < 8; ++j) {
            const float f = static_cast<float>(acc[j]);
            sums[8 * i + j] = f;
            least = f < least ? f : least;
        }
        mins[i] = least;
    }
}

}  // namespace

float euclid_cut(float r) { return cut_of(r); }

int nearest_row_major_portable(const float* centres, int stride, int ncand, const float* x, int nvars,
                               bool cityblock, TakeRef take, float& best) {
    return cityblock ? row_major<true>(centres, stride, ncand, x, nvars, take, best)
                     : row_major<false>(centres, stride, ncand, x, nvars, take, best);
}

void nearest_rows_portable(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                           std::int32_t* winner, float* best) {
    if (cityblock) search_rows<true>(s, rows, n, nvars, winner, best);
    else search_rows<false>(s, rows, n, nvars, winner, best);
}

void nearest_rows_all_portable(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n, int nvars,
                               std::int32_t* winner, float* best, float* sums) {
    if (cityblock) search_rows_all<true>(s, rows, n, nvars, winner, best, sums);
    else search_rows_all<false>(s, rows, n, nvars, winner, best, sums);
}

void nearest_rows_second_portable(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n,
                                  int nvars, std::int32_t* winner, float* best, float* second) {
    if (cityblock) search_rows_second<true>(s, rows, n, nvars, winner, best, second);
    else search_rows_second<false>(s, rows, n, nvars, winner, best, second);
}

void nearest_block_sums_portable(const CentreColumns& s, bool cityblock, const float* x, const std::int32_t* blocks,
                                 int n, float* sums, float* mins) {
    if (cityblock) block_sums<true>(s, x, blocks, n, sums, mins);
    else block_sums<false>(s, x, blocks, n, sums, mins);
}

void nearest_all_block_sums_portable(const CentreColumns& s, bool cityblock, const float* rows, std::size_t n,
                                     int nvars, float* sums, float* mins) {
    const std::size_t width = static_cast<std::size_t>(s.width);
    for (std::size_t i = 0; i < n; ++i) {
        const float* x = rows + i * static_cast<std::size_t>(nvars);
        if (cityblock) block_sums<true>(s, x, nullptr, s.width / 8, sums + i * width, mins + i * (width / 8));
        else block_sums<false>(s, x, nullptr, s.width / 8, sums + i * width, mins + i * (width / 8));
    }
}

void nearest_screen_portable(const BlockedCentres& b, const float* rows, std::size_t n, int stride, const double* nx,
                             unsigned char* cand, float* lows, float* rest) {
    const std::size_t w = static_cast<std::size_t>(b.width);
    float dots[max_clusters + 8];
    double low[max_clusters + 8];
    for (std::size_t i = 0; i < n; ++i) {
        const float* x = rows + i * static_cast<std::size_t>(stride);
        for (std::size_t k = 0; k < w; ++k) dots[k] = 0.0f;
        for (int v = 0; v < b.nvars; ++v) {
            const float* col = b.colsf + static_cast<std::size_t>(v) * w;
            for (std::size_t k = 0; k < w; ++k) {
                const float p = x[v] * col[k];
                dots[k] += p;
            }
        }
        const double rx = __builtin_sqrt(nx[i]);
        double most = inf;
        for (std::size_t k = 0; k < w; ++k) {
            const double s = nx[i] + b.norm2[k];
            const double a = s - 2.0 * static_cast<double>(dots[k]);
            const double e = (b.c1 * rx * b.norm[k] + b.c2 * s) + b.c3;
            low[k] = a - e;
            if (a + e < most) most = a + e;  // never a NaN (not a candidate)
        }
        const double limit = most * (1.0 + b.tau) + 0x1p-140;
        rest[i] = inf;
        for (std::size_t k = 0; k < w; k += 8) {
            unsigned bits = 0;
            for (std::size_t j = 0; j < 8; ++j) {
                const double l = low[k + j];
                const double f = l * (b.shrink * (1.0 - 0x1p-22));
                const float fl = f < 0x1p-100 ? 0.0f : static_cast<float>(f);  // NaN stays NaN
                if (lows) lows[i * w + k + j] = fl;
                if (l <= limit) bits |= 1u << j;
                else if (fl < rest[i]) rest[i] = fl;
            }
            cand[i * (w / 8) + k / 8] = static_cast<unsigned char>(bits);
        }
    }
}

void sums_add_portable(float* sums, std::uint32_t* count, const float* rows, const std::int32_t* clustno,
                       std::size_t n, int nvars, int v0, int v1) {
    const std::size_t stride = static_cast<std::size_t>(nvars);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t k = static_cast<std::size_t>(clustno[i]);
        float* sum = sums + k * stride;
        const float* x = rows + i * stride;
        for (int v = v0; v < v1; ++v) sum[v] += x[v];
        if (count) ++count[k];
    }
}

void nearest_pull_portable(double* cols, int width, int k, float* row, const float* x, int nvars, float alpha) {
    const double a = static_cast<double>(alpha);
    for (int v = 0; v < nvars; ++v) {
        const double c = static_cast<double>(row[v]);
        const float moved = static_cast<float>(c + a * (static_cast<double>(x[v]) - c));
        row[v] = moved;
        cols[static_cast<std::size_t>(v) * static_cast<std::size_t>(width) + static_cast<std::size_t>(k)] =
            static_cast<double>(moved);
    }
}

}  // namespace kmeans
