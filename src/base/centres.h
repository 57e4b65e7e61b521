// The centre table `clust` and the cluster numbers `clustno`.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/params.h"

namespace kmeans {

// K centres of nvars single-precision values each, row k at v[k * nvars].
struct Centres {
    int K = 0;
    int nvars = 0;
    std::vector<float> v;
    float* row(int k) { return v.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(nvars); }
    const float* row(int k) const {
        return v.data() + static_cast<std::size_t>(k) * static_cast<std::size_t>(nvars);
    }
};

// Reserves K zero-filled rows of nvars values, row after row. A row of 0
// bytes or a failed reservation writes "\nAttemted to reserve %d bytes
// memory. (clust[])\n" and ends the run with "PANIC: Not enough memory for
// cluster: %d\n" naming the 1-based row that failed, status 2; at debug
// level 2 every reserved row is reported.
void centres_alloc(const Params& p, Centres& c, int K, int nvars);

// Reserves one cluster number per data row (N entries), with the memory
// messages of `clustno`: 0 bytes or a failure ends the run with status 2.
void clustno_alloc(const Params& p, std::vector<std::int32_t>& clustno, std::int64_t N);

// Whether `centre` is a never-opened slot: its first value, read as a signed
// 32-bit pattern, is at or above that of the marker (positive values at or
// above the largest finite float, infinity included; no negative value).
inline bool never_opened(const float* centre) {
    std::int32_t bits;
    std::memcpy(&bits, centre, sizeof bits);
    return bits >= 0x7F7FFFFF;
}

}  // namespace kmeans
