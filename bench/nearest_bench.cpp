// The nearest-centre search of SKM on long rows, plain and blocked (float
// products, then exact sums for the few centres near the best): 8192 rows of
// range(0) values in 64 groups against range(1) centres drawn from the rows,
// on the fastest kernel. And whole SKM runs of 10 iterations over 200,000
// rows of 8 values in memory, with the exact pruning of the passes after the
// first (KMEANS_PRUNE=on) and without it (off), K = range(0).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "base/centres.h"
#include "base/parallel.h"
#include "cluster/algorithms.h"
#include "cluster/nearest.h"
#include "io/data_file.h"

using namespace kmeans;

namespace {

// `rows` rows of `nvars` values: 64 group centres uniform in [0, 10), each
// value plus noise of about 1.
std::vector<float> grouped_rows(int rows, int nvars, std::uint32_t seed) {
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<float>((seed >> 8) % 65536) / 65536.0f;
    };
    std::vector<float> centre(static_cast<std::size_t>(64 * nvars));
    for (float& c : centre) c = 10.0f * next();
    std::vector<float> x(static_cast<std::size_t>(rows) * static_cast<std::size_t>(nvars));
    for (int r = 0; r < rows; ++r) {
        const float* g = centre.data() + static_cast<std::size_t>((r * 37) % 64 * nvars);
        for (int v = 0; v < nvars; ++v)
            x[static_cast<std::size_t>(r) * static_cast<std::size_t>(nvars) + static_cast<std::size_t>(v)] =
                g[v] + 2.0f * (next() + next() + next() - 1.5f);
    }
    return x;
}

// Searches the rows against the prepared centres, blocked or not.
void search(benchmark::State& state, bool blocked) {
    const int nvars = static_cast<int>(state.range(0));
    const int K = static_cast<int>(state.range(1));
    constexpr int rows = 8192;
    const std::vector<float> x = grouped_rows(rows, nvars, 11);
    Centres c;
    c.K = K;
    c.nvars = nvars;
    for (int k = 0; k < K; ++k)
        c.v.insert(c.v.end(), x.begin() + static_cast<std::ptrdiff_t>(k * 61 % rows) * nvars,
                   x.begin() + static_cast<std::ptrdiff_t>(k * 61 % rows + 1) * nvars);
    CentreSet s;
    centres_prepare_all(s, c, nvars, K, false, Kernel::automatic);
    if (blocked && !centres_block(s, c)) {
        state.SkipWithError("the blocked search does not take this size");
        return;
    }
    std::vector<std::int32_t> winner(rows);
    std::vector<float> best(rows);
    for (auto _ : state) {
        nearest_rows(s, x.data(), rows, nvars, winner.data(), best.data());
        benchmark::DoNotOptimize(winner.data());
    }
    state.counters["ns/row"] = benchmark::Counter(static_cast<double>(rows) * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_nearest_plain(benchmark::State& state) { search(state, false); }
void BM_nearest_blocked(benchmark::State& state) { search(state, true); }
BENCHMARK(BM_nearest_plain)
    ->Args({128, 100})->Args({128, 256})->Args({32, 100})->Args({128, 32})->Args({8, 100})->Args({8, 256})->Args({8, 768})->Args({16, 256})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_nearest_blocked)
    ->Args({128, 100})->Args({128, 256})->Args({32, 100})->Args({128, 32})->Args({8, 100})->Args({8, 256})->Args({8, 768})->Args({16, 256})->Unit(benchmark::kMillisecond);

// SKM, 10 iterations over 200,000 rows of 8 values, K = range(0), pruning
// on (range(1) = 1) or off, one thread.
void BM_skm_pruned(benchmark::State& state) {
    constexpr int rows = 200000, nvars = 8;
    Params p;
    p.levels.quiet = 3;
    p.resources.threads = 1;
    p.resources.prune = state.range(1) != 0;
    p.clustering.iterations = 10;
    p.clustering.clusters = static_cast<int>(state.range(0));
    Workers workers;
    workers_start(workers, 1);
    auto d = std::make_unique<DataFile>();
    d->workers = &workers;
    d->N = rows;
    d->nvars = nvars;
    const std::vector<float> x = grouped_rows(rows, nvars, 5);
    if (!table_reserve(d->table, x.size() * sizeof(float)) || !table_append(d->table, x.data(), x.size())) {
        state.SkipWithError("no memory for the table");
        return;
    }
    d->source = RowSource::memory;
    Centres start;
    if (failed(centres_alloc(p.levels, start, p.clustering.clusters, nvars))) return;
    for (int k = 0; k < start.K; ++k)
        for (int v = 0; v < nvars; ++v) start.row(k)[v] = x[static_cast<std::size_t>(k * 997 % rows * nvars + v)];
    std::vector<std::int32_t> clustno(static_cast<std::size_t>(rows));
    for (auto _ : state) {
        Centres clust = start;
        benchmark::DoNotOptimize(run_skm(p, *d, clust, clustno));
        benchmark::DoNotOptimize(clust.v.data());
    }
    table_release(d->table);
}
BENCHMARK(BM_skm_pruned)
    ->Args({8, 0})->Args({8, 1})->Args({100, 0})->Args({100, 1})->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
