#include "base/centres.h"

#include <new>

#include "base/console.h"
#include "base/registry.h"

namespace kmeans {

void centres_alloc(const Params& p, Centres& c, int K, int nvars) {
    const long long bytes = 4LL * nvars;
    const std::size_t width = static_cast<std::size_t>(nvars);
    c.v.clear();
    try {
        c.v.reserve(static_cast<std::size_t>(K) * width);  // one block when it can be had
    } catch (const std::bad_alloc&) {
    }
    for (int k = 0; k < K; ++k) {
        bool ok = bytes > 0;
        if (ok) {
            try {
                c.v.resize(static_cast<std::size_t>(k + 1) * width, 0.0f);
            } catch (const std::bad_alloc&) {
                ok = false;
            }
        }
        if (!ok) {
            emit(stderr, "\nAttemted to reserve %lld bytes memory. (clust[])\n", bytes);
            panic(2, "PANIC: Not enough memory for cluster: %d\n", k + 1);
        }
        say(p.levels, Show::debug2, stderr, "\n%lld bytes memory reserved.\n", bytes);
    }
    c.K = K;
    c.nvars = nvars;
}

void clustno_alloc(const Params& p, std::vector<std::int32_t>& clustno, std::int64_t N) {
    const long long bytes = 4LL * N;
    bool ok = bytes > 0;
    if (ok) {
        try {
            clustno.assign(static_cast<std::size_t>(N), 0);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    if (!ok) {
        emit(stderr, "Attemted to reserve %lld bytes memory. (clustno)\n", bytes);
        panic(2, "PANIC: Not enough memory.\n");
    }
    say(p.levels, Show::debug2, stderr, "%lld bytes memory reserved.\n", bytes);
}

}  // namespace kmeans
