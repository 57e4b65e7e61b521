#include "learn/learn.h"

#include <memory>

#include "base/console.h"
#include "base/registry.h"
#include "cluster/algorithms.h"
#include "cluster/init.h"
#include "io/name_clash.h"
#include "learn/evaluate.h"
#include "learn/learn_file.h"

namespace kmeans {

// The parameter line written once before the first data file.
static void parameter_line(const Params& p) {
    if (!shown(p.levels, Show::quiet_lt2)) return;
    emit(stderr, "No.of clusters:%d Iterations:%d", p.clustering.clusters, p.clustering.iterations);
    emit(stderr, "%s", p.clustering.cityblock ? " Cityblock dist." : " Euclidean dist.");
    if (p.clustering.algorithm == AKM || p.clustering.algorithm == AKMDI)
        emit(stderr, " Alpha:%.4f ItParam:%.3f", static_cast<double>(p.clustering.rate), static_cast<double>(p.clustering.rate_factor));
    emit(stderr, "\n");
}

// After the first pass: the centre table, the end of the spinner's line, the
// range report, MaxDist and never-opened slots (AKMDI) or random centres,
// and `clustno`.
static void init_learning(const Params& p, Rng& rng, LearnFile& f) {
    // Without rows the centre rows get 0 bytes, which ends the run: say why first.
    if (f.data.N == 0) emit(stderr, "\nNo data rows in file: %s", f.data.name.c_str());
    centres_alloc(p, f.clust, p.clustering.clusters, f.data.nvars);
    say(p.levels, Show::quiet0, stderr, "\n");
    for (int v = 0; v < f.data.nvars; ++v)
        say(p.levels, Show::debug2, stdout, "min[%d]=%-12.6G max[%d]=%-12.6G\n", v, static_cast<double>(f.ranges.min[v]),
            v, static_cast<double>(f.ranges.max[v]));
    if (p.clustering.algorithm == AKMDI) f.MaxDist = akmdi_start(p, f.ranges, f.clust);
    else random_centres(p, rng, f.ranges, f.clust);
    clustno_alloc(p, f.clustno, f.data.N);
}

// The learning algorithm the switches chose.
static void run_algorithm(const Params& p, LearnFile& f, int& opened) {
    switch (p.clustering.algorithm) {
        case SKM: return run_skm(p, f.data, f.clust, f.clustno);
        case AKM: return run_akm(p, f.data, f.clust, f.clustno);
        case AKMDI: return run_akmdi(p, f.data, f.clust, f.clustno, f.MaxDist, opened);
        default: panic(10, "PANIC: Unknown algorithm. (type) Value:%d\n", p.clustering.algorithm);
    }
}

// The per-file clean-up: the result files are complete and take their names
// as a pair, the data file is closed; the tables go with `f`. A write error
// in either file, or a name that cannot be taken, leaves the earlier pair of
// results as it was.
static void file_cleanup(const Params& p, LearnFile& f) {
    say(p.levels, Show::debug2, stdout, "\nRoughCleaning\n");
    result_commit_pair(f.centre_file, f.value_file);
    data_close(f.data);
}

// Learns one data file from opening to clean-up; returns its used clusters.
// A file whose result names an earlier argument's results already bear is
// refused before anything of it is written.
static int learn_file(const Params& p, Rng& rng, Workers& workers, int& opened, WrittenResults& written,
                      const std::string& arg) {
    auto f = std::make_unique<LearnFile>();
    data_open(f->data, arg, workers);
    f->centre_name = result_name(arg, ".KMC");
    f->value_name = result_name(arg, ".KTF");
    claim_result_names(written, arg, {f->centre_name, f->value_name});
    result_create_or_panic(f->centre_file, f->centre_name);
    say(p.levels, Show::quiet_lt3, stderr, "\nWorking on file: %-12s  Creating files: %-12s %s\n", arg.c_str(),
        f->centre_name.c_str(), f->value_name.c_str());

    ranges_reset(f->ranges);
    first_pass(p, f->data, &f->ranges);
    init_learning(p, rng, *f);
    run_algorithm(p, *f, opened);
    evaluate(p, *f);
    file_cleanup(p, *f);
    return f->nused;
}

int learn_files(const Params& p, Rng& rng, Workers& workers) {
    int last_nused = status_none_learned;
    int opened = 0;  // AKMDI's last opened slot, shown across files
    WrittenResults written;
    parameter_line(p);
    for (const std::string& arg : p.invocation.data_files) {
        if (skip_result_name(p, arg)) continue;
        last_nused = learn_file(p, rng, workers, opened, written, arg);
    }
    return last_nused;
}

}  // namespace kmeans
