// The pseudo-random generator: the classic linear congruential sequence, so
// that a seed gives the same centres on every platform.
#pragma once

#include <cstdint>

struct Rng {
    std::uint32_t seed = 1;
};

// seed = seed * 1103515245 + 12345 (mod 2^32); returns bits 16..30, 0..32767.
inline int draw(Rng& rng) {
    rng.seed = rng.seed * 1103515245u + 12345u;
    return static_cast<int>((rng.seed >> 16) & 32767u);
}
