#include "cluster/init.h"

#include <bit>
#include <cmath>
#include <cstdint>

#include "cli/console.h"

float draw_scale() { return std::bit_cast<float>(std::uint32_t{0x38000100u}); }

void random_centres(Run& run, LearnFile& f) {
    const Params& p = run.p;
    const double c = draw_scale();
    say(p, Show::debug2, stdout, "Randomizing %d clusters\n", f.clust.K);
    for (int k = 0; k < f.clust.K; ++k) {
        float* centre = f.clust.row(k);
        for (int v = 0; v < f.clust.nvars; ++v) {
            float range = f.ranges.max[v] - f.ranges.min[v];
            int r = draw(run.rng);
            centre[v] = static_cast<float>(static_cast<double>(r) * c * static_cast<double>(range) +
                                           static_cast<double>(f.ranges.min[v]));
            say(p, Show::debug2, stdout, "clust[%d][%d]=%-12.6G ", k, v, static_cast<double>(centre[v]));
        }
        say(p, Show::debug2, stdout, "\n");
    }
}

float estimate_maxdist(const Ranges& r, int nvars, int K, bool use_cityblock) {
    double sum = 0.0;
    for (int v = 0; v < nvars; ++v) {
        double d = static_cast<double>(r.max[v]) - static_cast<double>(r.min[v]);
        sum += use_cityblock ? std::fabs(d) : d * d;
    }
    double total = static_cast<float>(sum);
    if (!use_cityblock) total = std::sqrt(total);
    return static_cast<float>(total / K);
}

// Working MaxDist for AKMDI and every slot filled with the marker.
static void akmdi_start(const Params& p, LearnFile& f) {
    bool given = std::bit_cast<std::uint32_t>(p.MaxDist) != std::bit_cast<std::uint32_t>(maxdist_unset);
    f.MaxDist = given ? p.MaxDist : estimate_maxdist(f.ranges, f.data.nvars, p.K, p.cityblock);
    say(p, Show::quiet_lt2, stderr, "%s MaxDist:%-10.4G\n", given ? "Given" : "Estimated",
        static_cast<double>(f.MaxDist));
    std::fill(f.clust.v.begin(), f.clust.v.end(), marker);
}

void init_learning(Run& run, LearnFile& f) {
    const Params& p = run.p;
    centres_alloc(p, f.clust, p.K, f.data.nvars);
    say(p, Show::quiet0, stderr, "\n");
    for (int v = 0; v < f.data.nvars; ++v)
        say(p, Show::debug2, stdout, "min[%d]=%-12.6G max[%d]=%-12.6G\n", v, static_cast<double>(f.ranges.min[v]),
            v, static_cast<double>(f.ranges.max[v]));
    if (p.type == AKMDI) akmdi_start(p, f);
    else random_centres(run, f);
    clustno_alloc(p, f.clustno, f.data.N);
}
