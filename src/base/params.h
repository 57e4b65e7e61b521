// The run parameters: every default in one place, filled and checked once at
// start-up (cli/), then read everywhere through a const reference.
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

// The exact value that marks "no MaxDist given" (switch M absent).
constexpr float maxdist_unset = -1.0f;

struct Params {
    int K = 5;                  // number of clusters, 2 to max_clusters
    int R = 10;                 // number of iterations, at least 1
    float Alpha = 0.5f;         // learning rate at the start of every data file
    float ItParam = 0.75f;      // factor applied to Alpha after every iteration
    float MaxDist = maxdist_unset;
    int type = SKM;             // learning algorithm
    bool cityblock = false;     // distance kind: Cityblock, else Euclidean
    int used_level = 0;         // switch U; 0 = off
    int debug = 0;              // switch D; 0 = off
    int quiet = 0;              // switch Q; 0 = off
    bool stopwatch = false;     // switch T
    bool notice = false;        // switch C
    std::string ClustCFile;     // centre file for Recall; empty = Learn mode
    std::vector<std::string> data_files;  // data-file arguments, in order
    std::string progname;       // program base name (banner, help, environment)
    std::string switches;       // all switch text, upper case, environment last
    std::string env_value;      // the environment value, upper case
    std::int64_t start_time = 0;  // whole seconds, rounded
    std::optional<std::uint32_t> seed;  // KMEANS_SEED; without it the clock seeds
    int threads = 0;            // KMEANS_THREADS; 0 = one per processor
    std::int64_t memory_mb = -1;  // KMEANS_MEMORY; -1 = half the physical memory
    Kernel kernel = Kernel::automatic;  // KMEANS_KERNEL
};

// Whether switch M gave a MaxDist: the parameter no longer holds the exact
// bit pattern of the unset mark.
inline bool maxdist_given(const Params& p) {
    return std::bit_cast<std::uint32_t>(p.MaxDist) != std::bit_cast<std::uint32_t>(maxdist_unset);
}

}  // namespace kmeans
