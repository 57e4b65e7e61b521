// The program's fixed limits and identity, shared by every layer.
#pragma once

#include <cfloat>

namespace kmeans {

constexpr int max_vars = 2048;      // values (variables) in one row
constexpr int max_clusters = 768;   // every per-cluster table has room for this many
constexpr int max_threads = 1024;   // KMEANS_THREADS
constexpr const char* version = "1.15";
constexpr const char* platform_tag = "W32 DOS";

// The value that fills a centre no row has opened yet (AKMDI), and the
// starting best distance of every nearest-centre search: the largest finite
// single-precision value.
constexpr float marker = FLT_MAX;

}  // namespace kmeans
