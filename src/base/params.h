// The run parameters, in four parts: how the centres are learned, what the
// console and the result files show, how the work is done, and what the run
// was asked to do. Every default is here; the parts are filled and checked
// once at start-up (cli/), then read everywhere through const references.
// A function takes the part it uses; one that uses several takes Params.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/limits.h"

namespace kmeans {

enum Algorithm : int { SKM = 0, AKM = 1, AKMDI = 2 };

// The kernel of every nearest-centre search (KMEANS_KERNEL): automatic picks
// the fastest for each search's size; the others force that one. No choice
// changes a result bit.
enum class Kernel : int { automatic, portable, avx2, avx512 };

// How SKM and AKM place their centres before the first iteration
// (KMEANS_INIT): random points in the box of the data's ranges, or the greedy
// k-means++ start drawn from the rows.
enum class Start : int { random, kmeans_pp };

// The most starts one data file may be learned from (KMEANS_RESTARTS).
constexpr int max_restarts = 1000;

// The exact value that marks "no MaxDist given" (switch M absent).
constexpr float maxdist_unset = -1.0f;

// How the centres are learned (switches K, R, G, F, M, A, I and B, and the
// variables KMEANS_INIT and KMEANS_RESTARTS).
struct Clustering {
    int clusters = 5;                // K: 2 to max_clusters
    int iterations = 10;             // R: exactly this many, at least 1
    float rate = 0.5f;               // G (Alpha): learning rate at the start of every data file
    float rate_factor = 0.75f;       // F (ItParam): applied to the rate after every iteration
    float max_dist = maxdist_unset;  // M (MaxDist): maxdist_unset when not given
    int algorithm = SKM;             // A and I
    bool cityblock = false;          // B: Cityblock distance, else Euclidean
    Start start = Start::random;     // KMEANS_INIT: the start of SKM and AKM
    int restarts = 1;                // KMEANS_RESTARTS: starts of SKM and AKM, 1 to max_restarts; the lowest sum of squares is kept
};

// Whether the run reports the sum of squares of every start (a line per
// start): only when KMEANS_INIT or KMEANS_RESTARTS asked for more than the
// plain random start, so that an unchanged command's console stays as it is.
inline bool starts_reported(const Clustering& c) { return c.restarts > 1 || c.start != Start::random; }

// What is shown and reported (switches Q, D, U, T and C). The debug level
// also adds lines to the result files and the work of the statistics.
struct Levels {
    int quiet = 0;           // Q: 0 = everything, 3 = nothing but errors
    int debug = 0;           // D: 0 = off
    int used = 0;            // U: 0 = off; 1 = exit status; 2 = also printed
    bool stopwatch = false;  // T
    bool notice = false;     // C
};

// How the work is done, never what it gives: no output byte depends on these
// (environment variables KMEANS_THREADS, KMEANS_MEMORY, KMEANS_KERNEL,
// KMEANS_PRUNE, KMEANS_SPILL and TMPDIR).
struct Resources {
    int threads = 0;                    // 0 = one per processor
    std::int64_t memory_mb = -1;        // budget for the rows kept in memory; -1 = half the physical memory
    Kernel kernel = Kernel::automatic;  // KMEANS_KERNEL: the nearest-search kernel of every pass
    bool prune = true;                  // KMEANS_PRUNE: SKM passes skip rows whose winner cannot change
    std::string spill_dir;              // KMEANS_SPILL: where rows beyond the budget go; empty = TMPDIR or beside the data
    std::string tmp_dir;                // TMPDIR, the first place of the spill file when KMEANS_SPILL is unset
};

// What the run was asked to do: the arguments and the environment as read,
// the clock at the start.
struct Invocation {
    std::string centre_file;               // Recall: the "+" argument (".KMC" added); empty = Learn mode
    std::vector<std::string> data_files;   // data-file arguments, in order (patterns expanded)
    std::string program;                   // program base name (banner, help, environment variable)
    std::string switches;                  // all switch text, upper case, the environment value last
    std::string env_value;                 // the environment value, upper case
    std::int64_t start_time = 0;           // whole seconds, rounded
    std::optional<std::uint32_t> seed;     // KMEANS_SEED; without it the clock seeds
};

struct Params {
    Clustering clustering;
    Levels levels;
    Resources resources;
    Invocation invocation;
};

// Whether switch M gave a MaxDist: the parameter no longer holds the exact
// bit pattern of the unset mark.
inline bool maxdist_given(const Clustering& c) {
    return std::bit_cast<std::uint32_t>(c.max_dist) != std::bit_cast<std::uint32_t>(maxdist_unset);
}

}  // namespace kmeans
