#include "summary/summary.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>

#include "cluster/distance.h"

namespace kmeans {

Summary summary_start(int K, bool cityblock, bool recall) {
    Summary s;
    s.cityblock = cityblock;
    s.recall = recall;
    s.clusters.assign(static_cast<std::size_t>(K), ClusterFigures{});
    return s;
}

void summary_add(Summary& s, const CentreRows& c, const float* x, int nvars, int k) {
    assert(nvars <= c.nvars && c.K == static_cast<int>(s.clusters.size()));
    ++s.rows;
    if (k == -1) {
        ++s.unassigned;
        return;
    }
    assert(k >= 1 && k <= c.K);
    const float* centre = c.values.data() + static_cast<std::size_t>(k - 1) * static_cast<std::size_t>(c.nvars);
    const double term = spread_term(s.cityblock, x, centre, nvars);
    const double distance = s.cityblock ? term : std::sqrt(term);
    ClusterFigures& f = s.clusters[static_cast<std::size_t>(k - 1)];
    ++f.rows;
    f.sse += term;
    f.distances += distance;
    f.largest = std::max(f.largest, distance);
    s.sse += term;
    s.distances += distance;
    s.largest = std::max(s.largest, distance);
}

int summary_used(const Summary& s) {
    return static_cast<int>(std::count_if(s.clusters.begin(), s.clusters.end(),
                                          [](const ClusterFigures& f) { return f.rows > 0; }));
}

namespace {

// printf into a string (the C locale: the program never sets another).
template <class... Args>
std::string line(const char* fmt, Args... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

double share(std::int64_t part, std::int64_t whole) {
    return whole == 0 ? 0.0 : static_cast<double>(part) / static_cast<double>(whole);
}

}  // namespace

std::string summary_text(const Summary& s) {
    const char* what = s.cityblock ? "sum of distances" : "sum of squares";
    std::string t = line("%7s %10s %7s %17s %14s %16s\n", "cluster", "rows", "share", what, "mean distance",
                         "largest distance");
    for (std::size_t k = 0; k < s.clusters.size(); ++k) {
        const ClusterFigures& f = s.clusters[k];
        t += line("%7zu %10lld %6.2f%% %17.10g", k + 1, static_cast<long long>(f.rows), 100.0 * share(f.rows, s.rows),
                  f.sse);
        if (f.rows == 0) t += line(" %14s %16s\n", "-", "-");
        else t += line(" %14.6g %16.6g\n", f.distances / static_cast<double>(f.rows), f.largest);
    }
    t += line("\nRows: %lld\n", static_cast<long long>(s.rows));
    t += line("Clusters used: %d of %zu\n", summary_used(s), s.clusters.size());
    t += line("Total %s: %.10g\n", what, s.sse);
    if (s.recall) t += line("Rows given -1: %lld\n", static_cast<long long>(s.unassigned));
    return t;
}

std::string summary_csv(const Summary& s) {
    std::string t = line("cluster,rows,share,%s,mean_distance,largest_distance\n",
                         s.cityblock ? "sum_of_distances" : "sum_of_squares");
    auto figures = [&](const std::string& name, std::int64_t rows, double sse, double distances, double largest) {
        t += name + line(",%lld,%.17g", static_cast<long long>(rows), share(rows, s.rows));
        if (rows == 0) t += line(",%.17g,,\n", sse);
        else t += line(",%.17g,%.17g,%.17g\n", sse, distances / static_cast<double>(rows), largest);
    };
    for (std::size_t k = 0; k < s.clusters.size(); ++k) {
        const ClusterFigures& f = s.clusters[k];
        figures(std::to_string(k + 1), f.rows, f.sse, f.distances, f.largest);
    }
    if (s.recall) t += line("-1,%lld,%.17g,,,\n", static_cast<long long>(s.unassigned), share(s.unassigned, s.rows));
    figures("total", s.rows - s.unassigned, s.sse, s.distances, s.largest);
    return t;
}

}  // namespace kmeans
