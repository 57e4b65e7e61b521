// The pseudo-random generator: the classic linear congruential sequence, so
// that a seed gives the same centres on every platform.
#pragma once

#include <bit>
#include <cstdint>

namespace kmeans {

struct Rng {
    std::uint32_t seed = 1;
};

// seed = seed * 1103515245 + 12345 (mod 2^32); returns bits 16..30, 0..32767.
inline int draw(Rng& rng) {
    rng.seed = rng.seed * 1103515245u + 12345u;
    return static_cast<int>((rng.seed >> 16) & 32767u);
}

// A number in [0, 1) from three draws, 45 bits: ((d1 * 32768 + d2) * 32768
// + d3) / 2^45, exact in double. For choices among many rows, where a
// single draw's 32768 steps would be too coarse.
inline double draw_unit(Rng& rng) {
    std::uint64_t bits = 0;
    for (int i = 0; i < 3; ++i) bits = bits * 32768u + static_cast<std::uint64_t>(draw(rng));
    return static_cast<double>(bits) * 0x1p-45;
}

// The single-precision constant nearest to 1/32767 (bits 0x38000100) that
// scales a draw into [0, 1].
inline float draw_scale() { return std::bit_cast<float>(std::uint32_t{0x38000100u}); }

}  // namespace kmeans
