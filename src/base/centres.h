// The centre table `clust` and the cluster numbers `clustno`.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "base/failure.h"
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

// Reserves K zero-filled rows of nvars values, row after row; at debug
// level 2 every reserved row is reported ("\n%d bytes memory reserved.\n").
// A row of 0 bytes or a failed reservation gives a memory_centre failure
// naming the 1-based row that failed and its size.
[[nodiscard]] Failure centres_alloc(const Levels& l, Centres& c, int K, int nvars);

// Reserves one cluster number per data row (N entries), reported at debug
// level 2; 0 bytes or a failed reservation gives a memory_clustno failure.
[[nodiscard]] Failure clustno_alloc(const Levels& l, std::vector<std::int32_t>& clustno, std::int64_t N);

// Whether `centre` is a never-opened slot: its first value, read as a signed
// 32-bit pattern, is at or above that of the marker (positive values at or
// above the largest finite float, infinity included; no negative value).
inline bool never_opened(const float* centre) {
    std::int32_t bits;
    std::memcpy(&bits, centre, sizeof bits);
    return bits >= 0x7F7FFFFF;
}

}  // namespace kmeans
