#include "data/learn.h"

#include <memory>

#include "cli/cleanup.h"
#include "cli/console.h"
#include "cluster/algorithms.h"
#include "cluster/init.h"
#include "cluster/learn_state.h"
#include "results/evaluate.h"

// The learning algorithms by their switch code.
static const struct {
    int type;
    void (*run)(Run&, LearnFile&);
} algorithms[] = {
    {SKM, run_skm},
    {AKM, run_akm},
    {AKMDI, run_akmdi},
};

static void run_algorithm(Run& run, LearnFile& f) {
    for (const auto& a : algorithms) {
        if (a.type == run.p.type) return a.run(run, f);
    }
    panic(10, "PANIC: Unknown algorithm. (type) Value:%d\n", run.p.type);
}

// The parameter line written once before the first data file.
static void parameter_line(const Params& p) {
    if (!shown(p, Show::quiet_lt2)) return;
    emit(stderr, "No.of clusters:%d Iterations:%d", p.K, p.R);
    emit(stderr, "%s", p.cityblock ? " Cityblock dist." : " Euclidean dist.");
    if (p.type == AKM || p.type == AKMDI)
        emit(stderr, " Alpha:%.4f ItParam:%.3f", static_cast<double>(p.Alpha), static_cast<double>(p.ItParam));
    emit(stderr, "\n");
}

// The per-file clean-up: the result files are complete and take their names,
// the data file is closed; the tables go with `f`. Both files are written
// out and closed before either takes its name, so that a write error in one
// leaves the earlier results of both in place.
static void file_cleanup(const Params& p, LearnFile& f) {
    say(p, Show::debug2, stdout, "\nRoughCleaning\n");
    result_close(f.centre_file);
    result_close(f.value_file);
    result_commit(f.centre_file);
    result_commit(f.value_file);
    text_close(f.data.text);
}

// Learns one data file from opening to clean-up.
static void learn_file(Run& run, const std::string& arg) {
    const Params& p = run.p;
    auto f = std::make_unique<LearnFile>();
    data_open(f->data, arg);
    f->centre_name = result_name(arg, ".KMC");
    f->value_name = result_name(arg, ".KTF");
    if (!result_create(f->centre_file, f->centre_name))
        panic(5, "\nPANIC: Can't create file: %s\n\n", f->centre_name.c_str());
    say(p, Show::quiet_lt3, stderr, "\nWorking on file: %-12s  Creating files: %-12s %s\n", arg.c_str(),
        f->centre_name.c_str(), f->value_name.c_str());

    ranges_reset(f->ranges);
    first_pass(p, f->data, f->spinner, &f->ranges);
    init_learning(run, *f);
    run_algorithm(run, *f);
    evaluate(run, *f);
    run.last_nused = f->nused;
    file_cleanup(p, *f);
}

void learn_files(Run& run) {
    const Params& p = run.p;
    parameter_line(p);
    for (const std::string& arg : p.data_files) {
        if (is_result_name(arg)) {
            say(p, Show::quiet_lt3, stderr, "INFO: Ignoring file: %s\n", arg.c_str());
            continue;
        }
        learn_file(run, arg);
    }
}
