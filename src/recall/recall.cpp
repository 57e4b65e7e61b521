#include "recall/recall.h"

#include <cfloat>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/console.h"
#include "base/registry.h"
#include "cluster/nearest.h"
#include "io/centre_file.h"
#include "io/data_file.h"
#include "io/result_file.h"
#include "io/result_names.h"

namespace kmeans {

// Everything that belongs to one data file in Recall mode.
struct RecallFile {
    DataFile data;
    ResultFile result;                  // .KMR
    std::vector<std::int32_t> clustno;  // 1-based centre number, or -1
};

// The second pass: each row gets its nearest centre's number, or -1 when the
// nearest lies farther than MaxDist (or no distance is finite).
static Failure classify(const Params& p, const StoredCentres& s, RecallFile& f) {
    const int nvars = f.data.nvars;
    CentreSet set;
    centres_prepare_all(set, s.clust, nvars, s.count, p.clustering.cityblock, p.resources.kernel);
    centres_block(set, s.clust);
    std::vector<float> best_all = block_scratch(f.data);
    auto map = [&](const RowBlock& b, int worker) {
        std::int32_t* w = f.clustno.data() + b.first;
        float* best = best_all.data() + worker * max_block_rows;
        nearest_rows(set, b.values, static_cast<std::size_t>(b.count), nvars, w, best);
        for (std::int64_t i = 0; i < b.count; ++i) {
            const bool within = best[i] < FLT_MAX && !(best[i] > s.MaxDist);
            w[i] = within ? w[i] + 1 : -1;
        }
    };
    return each_block(p.levels, f.data, SpinFrom::start, static_cast<std::size_t>(s.count) * static_cast<std::size_t>(nvars), map,
               [](const RowBlock&) {});
}

// Recalls one data file: first pass, classification, result file. A file
// whose result name an earlier argument's result already bears is refused
// before anything of it is written. Every step that fails ends the run with
// its message (must).
static void recall_file(const Params& p, Workers& workers, const StoredCentres& s, WrittenResults& written,
                        const std::string& arg) {
    auto f = std::make_unique<RecallFile>();
    must(data_open(f->data, arg, workers));
    const std::string name = result_name(arg, ".KMR");
    must(claim_result_names(written, arg, {name}));
    say_recovery(result_recover({name}));
    must(result_create(f->result, name));
    say(p.levels, Show::quiet_lt3, stderr, "\nWorking on file: %-12s  Creating file: %s\n", arg.c_str(), name.c_str());

    must(first_pass(p, f->data, nullptr));
    const int nvars = f->data.nvars;
    if (nvars > s.clust.nvars)
        panic(5, "\nPANIC: Datafile has more variables than the centres: %s  %d>%d\n\n", arg.c_str(), nvars,
              s.clust.nvars);
    // Rows narrower than the centres are compared on their own values only:
    // values of the centres are ignored, which every quiet level shows.
    if (nvars > 0 && nvars < s.clust.nvars)
        emit(stderr,
            "\nVARNING: Datafile has fewer variables than the centres: %s  %d<%d"
            " (only the first %d of each centre are compared)\n",
            arg.c_str(), nvars, s.clust.nvars, nvars);
    // Without rows the cluster numbers get 0 bytes, which ends the run: say why first.
    if (f->data.N == 0) emit(stderr, "\nNo data rows in file: %s\n", arg.c_str());
    must(clustno_alloc(p.levels, f->clustno, f->data.N));
    must(classify(p, s, *f));

    if (p.levels.debug != 0) result_printf(f->result, "%s MaxDist:%-10.4G\n", arg.c_str(), static_cast<double>(s.MaxDist));
    for (std::int32_t c : f->clustno) result_int_line(f->result, c);
    Recovery rec;
    must(result_commit(f->result, &rec));
    say_recovery(rec);
    data_close(f->data);
}

void recall_files(const Params& p, Workers& workers) {
    StoredCentres centres;
    say_recovery(result_recover({p.invocation.centre_file}));
    must(read_centre_file(p, centres));
    WrittenResults written;
    for (const std::string& arg : p.invocation.data_files) {
        if (skip_result_name(p.levels, arg)) continue;
        recall_file(p, workers, centres, written, arg);
    }
}

}  // namespace kmeans
