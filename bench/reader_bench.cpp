// Throughput of the row reader and the distance search: the two costs of
// every pass over a data file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>
#include <unistd.h>

#include "base/centres.h"
#include "../tests/nearest_test_api.h"
#include "io/read_row.h"

using namespace kmeans;

// A row of `nvars` values written like typical measurement data.
static std::string sample_line(int nvars, unsigned seed) {
    std::string line;
    for (int v = 0; v < nvars; ++v) {
        seed = seed * 1103515245u + 12345u;
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s%.4f", v ? " " : "", (seed >> 8) % 100000 / 1000.0 - 50.0);
        line += buf;
    }
    return line + "\n";
}

static void BM_parse_row(benchmark::State& state) {
    std::string line = sample_line(static_cast<int>(state.range(0)), 7);
    static float row[max_vars];
    for (auto _ : state) benchmark::DoNotOptimize(parse_row(line, row));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * line.size()));
}
BENCHMARK(BM_parse_row)->Arg(4)->Arg(16)->Arg(256);

// One whole pass over a 100 000-row file of 8 values per row.
static void BM_file_pass(benchmark::State& state) {
    char path[] = "/tmp/kmeans-bench-XXXXXX";
    int fd = mkstemp(path);
    std::string text;
    for (unsigned r = 0; r < 100000; ++r) text += sample_line(8, r);
    if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) state.SkipWithError("write");
    close(fd);
    TextFile f;
    text_open(f, path);
    static float row[max_vars];
    for (auto _ : state) {
        text_rewind(f);
        int nvars = 0;
        long rows = 0;
        while (read_row(f, row, nvars) > 0) ++rows;
        benchmark::DoNotOptimize(rows);
    }
    text_close(f);
    unlink(path);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_file_pass);

// K centres and 256 rows of `nvars` values each, spread like measurement
// data (uniform in -50..50, fixed seed), for the nearest-centre search.
struct NearestData {
    Centres c;
    std::vector<float> rows;
    static constexpr int nrows = 256;
};

static NearestData nearest_data(int K, int nvars) {
    NearestData d;
    d.c.K = K;
    d.c.nvars = nvars;
    unsigned seed = 99;
    auto value = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<float>((seed >> 8) % 100000) / 1000.0f - 50.0f;
    };
    d.c.v.resize(static_cast<std::size_t>(K) * static_cast<std::size_t>(nvars));
    for (float& v : d.c.v) v = value();
    d.rows.resize(static_cast<std::size_t>(NearestData::nrows) * static_cast<std::size_t>(nvars));
    for (float& v : d.rows) v = value();
    return d;
}

// Time per row reported as "per_row" (the iteration may hold many rows).
static void per_row_counter(benchmark::State& state, std::int64_t rows_per_iteration) {
    state.counters["per_row"] = benchmark::Counter(static_cast<double>(rows_per_iteration),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

// The kernel named by argument 2 (0 portable, 1 AVX2, 2 AVX-512), shown as
// the label; false (and the case skipped) when this processor lacks it.
static bool use_path(benchmark::State& state, NearestPath& path) {
    path = static_cast<NearestPath>(state.range(2));
    state.SetLabel(nearest_path_name(path));
    if (nearest_path_runs(path)) return true;
    state.SkipWithError("this processor lacks the kernel");
    return false;
}

// The cases: K centres (argument 0) of nvars values (argument 1), each kernel.
static void nearest_cases(benchmark::internal::Benchmark* b) {
    b->ArgNames({"K", "nvars", "path"});
    const int cases[][2] = {{8, 8}, {20, 8}, {100, 8}, {768, 8}, {8, 2}, {100, 2}, {8, 64}, {100, 64}};
    for (const auto& c : cases)
        for (int path = 0; path <= 2; ++path) b->Args({c[0], c[1], path});
}

// nearest_all(): one row at a time on the centre table as it is (no
// preparation), as in the passes that move a centre after every row.
static void BM_nearest(benchmark::State& state) {
    const int K = static_cast<int>(state.range(0));
    const int nvars = static_cast<int>(state.range(1));
    NearestPath path;
    if (!use_path(state, path)) return;
    NearestData d = nearest_data(K, nvars);
    std::size_t r = 0;
    for (auto _ : state) {
        float best;
        benchmark::DoNotOptimize(
            nearest_all_with(path, d.c, d.rows.data() + r * static_cast<std::size_t>(nvars), nvars, K, false, best));
        benchmark::DoNotOptimize(best);
        r = (r + 1) % NearestData::nrows;
    }
    per_row_counter(state, 1);
}
BENCHMARK(BM_nearest)->Apply(nearest_cases);

// Blocks of 256 rows against centres prepared once: the search of the passes
// over fixed centres.
static void BM_nearest_rows(benchmark::State& state) {
    const int K = static_cast<int>(state.range(0));
    const int nvars = static_cast<int>(state.range(1));
    NearestPath path;
    if (!use_path(state, path)) return;
    NearestData d = nearest_data(K, nvars);
    CentreSet s;
    centres_prepare_all(s, d.c, nvars, K, false);
    s.path = path;
    std::vector<std::int32_t> winner(NearestData::nrows);
    std::vector<float> best(NearestData::nrows);
    for (auto _ : state) {
        nearest_rows(s, d.rows.data(), NearestData::nrows, nvars, winner.data(), best.data());
        benchmark::DoNotOptimize(winner.data());
        benchmark::DoNotOptimize(best.data());
        benchmark::ClobberMemory();
    }
    per_row_counter(state, NearestData::nrows);
}
BENCHMARK(BM_nearest_rows)->Apply(nearest_cases);

// One row at a time against prepared centres, one centre moved and its column
// updated after every row: the search of the adaptive passes if they keep
// their centres prepared.
static void BM_nearest_moving(benchmark::State& state) {
    const int K = static_cast<int>(state.range(0));
    const int nvars = static_cast<int>(state.range(1));
    NearestPath path;
    if (!use_path(state, path)) return;
    NearestData d = nearest_data(K, nvars);
    CentreSet s;
    centres_prepare_all(s, d.c, nvars, K, false);
    s.path = path;
    std::size_t r = 0;
    for (auto _ : state) {
        const float* x = d.rows.data() + r * static_cast<std::size_t>(nvars);
        float best;
        const int w = nearest_prepared(s, x, best);
        float* centre = d.c.row(w);
        for (int v = 0; v < nvars; ++v) centre[v] += 0.5f * (x[v] - centre[v]);
        centres_update(s, d.c, w, true);
        benchmark::DoNotOptimize(best);
        r = (r + 1) % NearestData::nrows;
    }
    per_row_counter(state, 1);
}
BENCHMARK(BM_nearest_moving)->Apply(nearest_cases);
