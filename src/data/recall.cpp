#include "data/recall.h"

#include <cfloat>
#include <cstdint>
#include <memory>
#include <vector>

#include "cli/cleanup.h"
#include "cli/console.h"
#include "cli/format.h"
#include "cli/keyboard.h"
#include "cluster/nearest.h"
#include "data/centre_file.h"
#include "data/data_file.h"
#include "data/result_file.h"

// Everything that belongs to one data file in Recall mode.
struct RecallFile {
    DataFile data;
    ResultFile result;                  // .KMR
    std::vector<std::int32_t> clustno;  // 1-based centre number, or -1
    Spinner spinner;
};

// The second pass: each row gets its nearest centre's number, or -1 when the
// nearest lies farther than MaxDist (or no distance is finite).
static void classify(const Params& p, const StoredCentres& s, RecallFile& f) {
    f.spinner = Spinner{};
    each_row(p, f.data, f.spinner, [&](std::int64_t r) {
        float best;
        int w = nearest_all(s.clust, f.data.row, f.data.nvars, s.count, p.cityblock, best);
        const bool within = best < FLT_MAX && !(best > s.MaxDist);
        f.clustno[static_cast<std::size_t>(r)] = within ? w + 1 : -1;
    });
}

static void recall_file(const Params& p, const StoredCentres& s, const std::string& arg) {
    auto f = std::make_unique<RecallFile>();
    data_open(f->data, arg);
    std::string name = result_name(arg, ".KMR");
    if (!result_create(f->result, name)) panic(5, "\nPANIC: Can't create file: %s\n\n", name.c_str());
    say(p, Show::quiet_lt3, stderr, "\nWorking on file: %-12s  Creating file: %s\n", arg.c_str(), name.c_str());

    first_pass(p, f->data, f->spinner, nullptr);
    if (f->data.nvars > s.clust.nvars)
        panic(5, "\nPANIC: Datafile has more variables than the centres: %s  %d>%d\n\n", arg.c_str(),
              f->data.nvars, s.clust.nvars);
    clustno_alloc(p, f->clustno, f->data.N);
    classify(p, s, *f);

    if (p.debug != 0) result_printf(f->result, "%s MaxDist:%-10.4G\n", arg.c_str(), static_cast<double>(s.MaxDist));
    char line[16];
    for (std::int32_t c : f->clustno) result_write(f->result, line, int_line(line, c));
    result_commit(f->result);
    text_close(f->data.text);
}

void recall_files(Run& run) {
    const Params& p = run.p;
    StoredCentres centres;
    read_centre_file(p, centres);
    for (const std::string& arg : p.data_files) {
        if (is_result_name(arg)) {
            say(p, Show::quiet_lt3, stderr, "INFO: Ignoring file: %s\n", arg.c_str());
            continue;
        }
        recall_file(p, centres, arg);
    }
}
