// Throughput of the row reader and the distance search: the two costs of
// every pass over a data file.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "base/centres.h"
#include "cluster/nearest.h"
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

// Nearest of K centres for one row of 8 values.
static void BM_nearest(benchmark::State& state) {
    Centres c;
    c.K = static_cast<int>(state.range(0));
    c.nvars = 8;
    c.v.resize(static_cast<std::size_t>(c.K) * 8);
    for (std::size_t i = 0; i < c.v.size(); ++i) c.v[i] = static_cast<float>(i % 17);
    float x[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : state) {
        float best;
        benchmark::DoNotOptimize(nearest_all(c, x, 8, c.K, false, best));
    }
}
BENCHMARK(BM_nearest)->Arg(5)->Arg(50)->Arg(768);
