// kmeans-summary: how good a Learn or Recall result of kmeans is. Reads the
// data file and the result files as kmeans-plot does and prints, on
// standard output, per cluster its rows, their share, its sum of squares
// and the mean and largest distance of its rows to the centre, then the
// totals; -C gives the same as CSV.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/limits.h"
#include "base/registry.h"
#include "io/result_names.h"
#include "io/result_read.h"
#include "summary/args.h"
#include "summary/summary.h"

namespace kmeans {

namespace {

// Exit statuses: a command line that cannot be used, a file that cannot be
// read or does not fit the others, and standard output that cannot be
// written (as kmeans gives it).
constexpr int status_usage = 2;
constexpr int status_file = 1;
constexpr int status_output = 5;

// Ends the run with "kmeans-summary: REASON" on standard error and `status`.
[[noreturn]] void fail(int status, const std::string& reason) {
    std::string line = "kmeans-summary: " + reason + "\n";
    std::fputs(line.c_str(), stderr);
    std::exit(status);
}

// Writes `text` to standard output; a failed write ends the run.
void put(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        fail(status_output, std::string("cannot write standard output: ") + std::strerror(errno));
}

constexpr const char* usage_line = "usage: kmeans-summary <DataFile.ext> (+ClustCFile) (-C)(-B)\n";

// The answer to --help or --version (`program` being the base name).
int answer(Question q, const std::string& program) {
    if (q == Question::version) {
        put(program + " " + version + "\n");
        return 0;
    }
    put(std::string(usage_line) +
        "\n"
        "Tells how good what kmeans wrote for DataFile is: its Learn result (the .KMC\n"
        "and .KTF) or with +ClustCFile its Recall result (the .KMR). One line per\n"
        "cluster (rows, share of the rows, sum of squares, mean and largest distance\n"
        "of its rows to the centre), then the rows, the clusters used and the total\n"
        "sum of squares (what scikit-learn calls inertia).\n"
        "\n"
        "  -C  CSV with a header line\n"
        "  -B  Cityblock distance (for a result of kmeans -B): sums of distances\n"
        "\n"
        "Manual: man kmeans-summary\n");
    return 0;
}

// The whole run. Returns the exit status; failures end it through fail().
int summary_main(const std::string& program, const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fputs(usage_line, stderr);
        return status_usage;
    }
    SummaryArgs a;
    std::string reason = parse_summary_args(args, a);
    if (!reason.empty()) fail(status_usage, reason);
    if (a.files.question != Question::none) return answer(a.files.question, program);

    const std::string& data = a.files.data;
    const bool recall = !a.files.centres.empty();
    const std::string centre_path = recall ? a.files.centres : result_name(data, ".KMC");
    const std::string label_path = result_name(data, recall ? ".KMR" : ".KTF");

    int nvars = 0;
    std::vector<std::string> names;
    if (!data_width(data, nvars, names, reason)) fail(status_file, reason);
    CentreRows centres;
    if (!read_centres(centre_path, centres, reason)) fail(status_file, reason);
    if (centres.nvars < nvars)
        fail(status_file, centre_path + " holds " + std::to_string(centres.nvars) + " values per centre, " + data +
                              " " + std::to_string(nvars) + " per row");
    LabelCounts labels;
    if (!count_labels(label_path, centres.K, centre_path, recall, labels, reason)) fail(status_file, reason);

    Summary s = summary_start(centres.K, a.cityblock, recall);
    auto add = [&](std::int64_t, const float* x, int k) { summary_add(s, centres, x, nvars, k); };
    if (!each_labelled_row(data, label_path, recall, centres.K, labels.lines, add, reason)) fail(status_file, reason);
    put(a.csv ? summary_csv(s) : summary_text(s));
    return 0;
}

}  // namespace

}  // namespace kmeans

int main(int argc, char** argv) {
    kmeans::hold_standard_streams();
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return kmeans::summary_main(kmeans::program_base_name(argc > 0 ? argv[0] : nullptr), args);
}
