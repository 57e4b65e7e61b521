// The two distance measures. The arithmetic is part of the results: sums in
// double precision in variable order, rounded to single precision where noted.
#pragma once

#include <cfloat>
#include <cmath>

namespace kmeans {

// The sum under the Euclidean distance of `a` and `b` (`n` values each):
// squared differences summed in double in variable order, rounded to float.
inline float euclid_sum(const float* a, const float* b, int n) {
    double sum = 0.0;
    for (int v = 0; v < n; ++v) {
        double d = static_cast<double>(a[v]) - static_cast<double>(b[v]);
        sum += d * d;
    }
    return static_cast<float>(sum);
}

// Euclidean distance of `a` and `b`: the square root of euclid_sum() taken
// in double. Callers round the root to float, except the mean-distance total.
inline double euclid_root(const float* a, const float* b, int n) {
    return std::sqrt(static_cast<double>(euclid_sum(a, b, n)));
}

// Cityblock distance of `a` and `b`: absolute differences summed in double,
// the sum rounded to float.
inline float cityblock(const float* a, const float* b, int n) {
    double sum = 0.0;
    for (int v = 0; v < n; ++v) sum += std::fabs(static_cast<double>(a[v]) - static_cast<double>(b[v]));
    return static_cast<float>(sum);
}

// The term of a row in the within-cluster sum of squares, in double with no
// rounding to float: Euclidean, the squared differences of `a` and `b` (`n`
// values each) summed in variable order; Cityblock, the absolute differences
// so summed (the distance itself, not its square).
inline double spread_term(bool use_cityblock, const float* a, const float* b, int n) {
    double sum = 0.0;
    for (int v = 0; v < n; ++v) {
        double d = static_cast<double>(a[v]) - static_cast<double>(b[v]);
        sum += use_cityblock ? std::fabs(d) : d * d;
    }
    return sum;
}

// The distance of the run's kind, as a single-precision value.
inline float distance(bool use_cityblock, const float* a, const float* b, int n) {
    return use_cityblock ? cityblock(a, b, n) : static_cast<float>(euclid_root(a, b, n));
}

}  // namespace kmeans
