#include "cluster/centres.h"

#include <new>

#include "cli/cleanup.h"
#include "cli/console.h"

void centres_alloc(const Params& p, Centres& c, int K, int nvars) {
    long long bytes = 4LL * nvars;
    bool ok = bytes > 0;
    if (ok) {
        try {
            c.v.assign(static_cast<std::size_t>(K) * static_cast<std::size_t>(nvars), 0.0f);
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    if (!ok) {
        emit(stderr, "\nAttemted to reserve %lld bytes memory. (clust[])\n", bytes);
        panic(2, "PANIC: Not enough memory for cluster: %d\n", 1);
    }
    c.K = K;
    c.nvars = nvars;
    for (int k = 0; k < K; ++k) say(p, Show::debug2, stderr, "\n%lld bytes memory reserved.\n", bytes);
}

void clustno_alloc(const Params& p, std::vector<std::int32_t>& clustno, std::int64_t N) {
    long long bytes = 4LL * N;
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
    say(p, Show::debug2, stderr, "%lld bytes memory reserved.\n", bytes);
}
