// Learn mode: one data file after another, each read from opening to the
// commit of its two result files in learn_file(), one step a call.
#include "learn/learn.h"

#include <memory>

#include "base/console.h"
#include "base/registry.h"
#include "cluster/algorithms.h"
#include "cluster/init.h"
#include "cluster/starts.h"
#include "io/result_names.h"
#include "learn/learn_file.h"

namespace kmeans {

// What runs on from one data file to the next.
struct LearnRun {
    Rng& rng;                // the random starts continue the sequence
    Workers& workers;        // the threads of every pass
    int opened = 0;          // AKMDI's last opened slot, shown across files
    WrittenResults written;  // result names taken so far
};

// The parameter line written once before the first data file.
static void parameter_line(const Params& p) {
    const Clustering& c = p.clustering;
    if (!shown(p.levels, Show::quiet_lt2)) return;
    emit(stderr, "No.of clusters:%d Iterations:%d", c.clusters, c.iterations);
    emit(stderr, "%s", c.cityblock ? " Cityblock dist." : " Euclidean dist.");
    if (c.algorithm == AKM || c.algorithm == AKMDI)
        emit(stderr, " Alpha:%.4f ItParam:%.3f", static_cast<double>(c.rate), static_cast<double>(c.rate_factor));
    emit(stderr, "\n");
}

// AKMDI opens its clusters from the data: no start to choose or repeat.
static void akmdi_starts_note(const Params& p) {
    if (p.clustering.algorithm == AKMDI && starts_reported(p.clustering))
        say(p.levels, Show::quiet_lt3, stderr,
            "INFO: AKMDI opens its clusters from the data; KMEANS_INIT and KMEANS_RESTARTS are not used.\n");
}

// The .KMC and the .KTF of `arg`, both created here, before anything is
// learned: unnamed until the commit. Names that an earlier argument's
// results already bear are refused first; what an interrupted run left
// under them is finished or removed.
static Failure create_result_files(LearnRun& run, LearnFile& f, const std::string& arg) {
    const std::string centre_name = result_name(arg, ".KMC");
    const std::string value_name = result_name(arg, ".KTF");
    if (Failure fail = claim_result_names(run.written, arg, {centre_name, value_name}); failed(fail)) return fail;
    say_recovery(result_recover({centre_name, value_name}));
    if (Failure fail = result_create(f.centre_file, centre_name); failed(fail)) return fail;
    return result_create(f.value_file, value_name);
}

// After the first pass: the centre table, the end of the spinner's line, the
// range report, MaxDist and never-opened slots (AKMDI) or the first start
// (random centres or k-means++), and `clustno`.
static Failure start_learning(const Params& p, Rng& rng, LearnFile& f) {
    // Without rows the centre rows get 0 bytes, which ends the run: say why first.
    if (f.data.N == 0) emit(stderr, "\nNo data rows in file: %s", f.data.name.c_str());
    if (Failure fail = centres_alloc(p.levels, f.clust, p.clustering.clusters, f.data.nvars); failed(fail)) return fail;
    say(p.levels, Show::quiet0, stderr, "\n");
    for (int v = 0; v < f.data.nvars; ++v)
        say(p.levels, Show::debug2, stdout, "min[%d]=%-12.6G max[%d]=%-12.6G\n", v,
            static_cast<double>(f.ranges.min[v]), v, static_cast<double>(f.ranges.max[v]));
    if (p.clustering.algorithm == AKMDI) f.MaxDist = akmdi_start(p, f.ranges, f.clust);
    else if (Failure fail = draw_start(p, rng, f.data, f.ranges, f.clust); failed(fail)) return fail;
    return clustno_alloc(p.levels, f.clustno, f.data.N);
}

// The learning algorithm the switches chose; SKM and AKM from every start
// KMEANS_RESTARTS asks for, keeping the best.
static Failure run_algorithm(const Params& p, LearnRun& run, LearnFile& f) {
    switch (p.clustering.algorithm) {
        case SKM:
        case AKM: return learn_from_starts(p, run.rng, f.data, f.ranges, f.clust, f.clustno, &f.pruning);
        case AKMDI: return run_akmdi(p, f.data, f.clust, f.clustno, f.MaxDist, run.opened);
        default: panic(10, "PANIC: Unknown algorithm. (type) Value:%d\n", p.clustering.algorithm);
    }
}

// Learns one data file; returns its used clusters. Every step that fails
// ends the run with its message (must); the results then keep their earlier
// contents.
static int learn_file(const Params& p, LearnRun& run, const std::string& arg) {
    auto f = std::make_unique<LearnFile>();
    must(data_open(f->data, arg, run.workers));
    must(create_result_files(run, *f, arg));
    say(p.levels, Show::quiet_lt3, stderr, "\nWorking on file: %-12s  Creating files: %-12s %s\n", arg.c_str(),
        f->centre_file.name.c_str(), f->value_file.name.c_str());

    ranges_reset(f->ranges);
    must(first_pass(p, f->data, &f->ranges));  // also decides: rows in memory, or read again
    must(start_learning(p, run.rng, *f));
    must(run_algorithm(p, run, *f));

    // The evaluation: every row to its nearest centre, the centre file, every
    // row again among the used centres into the value file, the overlaps.
    if (shown(p.levels, Show::debug1)) emit(stderr, "\nCompute custervalues:  ");
    else say(p.levels, Show::quiet0, stderr, "\n ");  // its blank is where the spinner turns
    must(assignment_pass(p, *f));
    must(statistics_and_centres(p, *f));
    say(p.levels, Show::debug1, stderr, "Writing clustervaluefile:  ");
    must(final_pass(p, *f));
    if (p.levels.debug != 0) must(overlap_count(p, *f));
    say(p.levels, Show::quiet_lt3, stderr, "\n");

    // Both results take their names as a pair, or neither does.
    say(p.levels, Show::debug2, stdout, "\nRoughCleaning\n");
    Recovery rec;
    must(result_commit_pair(f->centre_file, f->value_file, &rec));
    say_recovery(rec);
    data_close(f->data);
    return f->nused;
}

int learn_files(const Params& p, Rng& rng, Workers& workers) {
    int last_nused = status_none_learned;
    LearnRun run{rng, workers, 0, {}};
    parameter_line(p);
    akmdi_starts_note(p);
    for (const std::string& arg : p.invocation.data_files) {
        if (skip_result_name(p.levels, arg)) continue;
        last_nused = learn_file(p, run, arg);
    }
    return last_nused;
}

}  // namespace kmeans
