#include "base/centres.h"

#include <new>

#include "base/console.h"

namespace kmeans {

Failure centres_alloc(const Levels& l, Centres& c, int K, int nvars) {
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
            Failure f;
            f.what = Fault::memory_centre;
            f.bytes = bytes;
            f.row = k + 1;
            return f;
        }
        say(l, Show::debug2, stderr, "\n%lld bytes memory reserved.\n", bytes);
    }
    c.K = K;
    c.nvars = nvars;
    return Failure{};
}

Failure clustno_alloc(const Levels& l, std::vector<std::int32_t>& clustno, std::int64_t N) {
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
        Failure f;
        f.what = Fault::memory_clustno;
        f.bytes = bytes;
        return f;
    }
    say(l, Show::debug2, stderr, "%lld bytes memory reserved.\n", bytes);
    return Failure{};
}

}  // namespace kmeans
