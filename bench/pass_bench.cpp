// Whole passes over a data file: the first pass (text to the row table) in
// megabytes of text per second, of a plain file and of a gzip and a zstd
// file (decompressed on one thread while the others read the text), and one SKM iteration over a table of 2,000,000 rows
// of 8 values, with one thread and with two.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/centres.h"
#include "base/parallel.h"
#include "cluster/algorithms.h"
#include "io/data_file.h"

#include <zlib.h>
#include <zstd.h>

using namespace kmeans;

namespace {

// Rows of 8 values around 8 group centres, written with 6 significant
// digits like the end-to-end benchmark's file.
std::string sample_text(std::size_t rows) {
    std::string text;
    std::uint32_t seed = 2026;
    char buf[32];
    for (std::size_t r = 0; r < rows; ++r) {
        const double centre = static_cast<double>(r % 8) * 4.0;
        for (int v = 0; v < 8; ++v) {
            seed = seed * 1103515245u + 12345u;
            const double x = centre + static_cast<double>((seed >> 8) % 20000) / 5000.0 - 2.0;
            std::snprintf(buf, sizeof buf, v ? " %.6g" : "%.6g", x);
            text += buf;
        }
        text += '\n';
    }
    return text;
}

// A temporary file holding `text`, removed at the end.
struct TempFile {
    std::string path;
    explicit TempFile(const std::string& text) {
        char name[] = "/tmp/kmeans-bench-XXXXXX";
        int fd = mkstemp(name);
        path = name;
        if (fd >= 0) {
            if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) path.clear();
            close(fd);
        }
    }
    ~TempFile() {
        if (!path.empty()) unlink(path.c_str());
    }
};

Params quiet_params(int threads) {
    Params p;
    p.levels.quiet = 3;
    p.resources.threads = threads;
    return p;
}

void BM_first_pass(benchmark::State& state) {
    static const std::string text = sample_text(300000);
    static const TempFile file(text);
    const Params p = quiet_params(static_cast<int>(state.range(0)));
    Workers workers;
    workers_start(workers, p.resources.threads);
    for (auto _ : state) {
        auto d = std::make_unique<DataFile>();
        if (failed(data_open(*d, file.path, workers))) {
            state.SkipWithError("cannot open the data file");
            return;
        }
        benchmark::DoNotOptimize(first_pass(p, *d, nullptr));
        data_close(*d);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_first_pass)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// `text` as gzip (kind 0) or zstd (kind 1) compress it by default.
std::string compressed(const std::string& text, int kind) {
    if (kind == 1) {
        std::string out(ZSTD_compressBound(text.size()), '\0');
        out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
        return out;
    }
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, static_cast<uLong>(text.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    z.avail_in = static_cast<uInt>(text.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

// Arguments: threads, then 0 for gzip or 1 for zstd.
void BM_first_pass_compressed(benchmark::State& state) {
    static const std::string text = sample_text(300000);
    static const TempFile gz(compressed(text, 0));
    static const TempFile zst(compressed(text, 1));
    const Params p = quiet_params(static_cast<int>(state.range(0)));
    Workers workers;
    workers_start(workers, p.resources.threads);
    for (auto _ : state) {
        auto d = std::make_unique<DataFile>();
        if (failed(data_open(*d, state.range(1) == 0 ? gz.path : zst.path, workers))) {
            state.SkipWithError("cannot open the data file");
            return;
        }
        benchmark::DoNotOptimize(first_pass(p, *d, nullptr));
        data_close(*d);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_first_pass_compressed)
    ->Args({1, 0})->Args({2, 0})->Args({1, 1})->Args({2, 1})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// 2,000,000 rows of 8 values held in memory, in 8 groups taken in turn, and
// 8 start centres; false when there is no memory for them.
constexpr std::int64_t table_rows = 2000000;
constexpr int table_vars = 8;
bool table_setup(const Params& p, DataFile& d, Workers& workers, Centres& start) {
    d.workers = &workers;
    d.N = table_rows;
    d.nvars = table_vars;
    if (!table_reserve(d.table, static_cast<std::uint64_t>(table_rows) * table_vars * sizeof(float))) return false;
    d.source = RowSource::memory;
    std::uint32_t seed = 7;
    for (std::int64_t r = 0; r < table_rows; ++r) {
        float row[table_vars];
        for (float& x : row) {
            seed = seed * 1103515245u + 12345u;
            x = static_cast<float>(r % 8) * 4.0f + static_cast<float>((seed >> 8) % 20000) / 5000.0f;
        }
        table_append(d.table, row, table_vars);
    }
    if (failed(centres_alloc(p.levels, start, p.clustering.clusters, table_vars))) return false;
    for (int k = 0; k < p.clustering.clusters; ++k)
        for (int v = 0; v < table_vars; ++v) start.row(k)[v] = static_cast<float>(k) * 4.0f + 1.0f;
    return true;
}

// One iteration of `algorithm` over the table, K = 8, on range(0) threads.
void pass_table(benchmark::State& state, int algorithm) {
    Params p = quiet_params(static_cast<int>(state.range(0)));
    p.clustering.iterations = 1;
    p.clustering.clusters = 8;
    p.clustering.algorithm = algorithm;
    Workers workers;
    workers_start(workers, p.resources.threads);
    auto d = std::make_unique<DataFile>();
    Centres start;
    if (!table_setup(p, *d, workers, start)) {
        state.SkipWithError("no memory for the table");
        return;
    }
    std::vector<std::int32_t> clustno(static_cast<std::size_t>(table_rows));
    for (auto _ : state) {
        Centres clust = start;
        benchmark::DoNotOptimize(algorithm == SKM ? run_skm(p, *d, clust, clustno) : run_akm(p, *d, clust, clustno));
        benchmark::DoNotOptimize(clust.v.data());
    }
    state.counters["ns/row"] = benchmark::Counter(static_cast<double>(table_rows) * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    table_release(d->table);
}

// One SKM iteration (winners, then the sums in file order).
void BM_skm_pass_table(benchmark::State& state) { pass_table(state, SKM); }
// One AKM iteration (every row moves its winner before the next is searched).
void BM_akm_pass_table(benchmark::State& state) { pass_table(state, AKM); }
BENCHMARK(BM_akm_pass_table)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_skm_pass_table)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
