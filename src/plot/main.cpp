// kmeans-plot: draws a Learn or Recall result of kmeans as one SVG file
// beside the data: a scatter-plot matrix of up to four variables, the rows
// coloured by cluster, the centres marked, a legend with the row counts.

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/limits.h"
#include "base/registry.h"
#include "cli/command_line.h"
#include "io/result_file.h"
#include "io/result_names.h"
#include "plot/args.h"
#include "plot/inputs.h"
#include "plot/plot.h"

namespace kmeans {

namespace {

// Exit statuses: a command line that cannot be used, and a file that cannot
// be read or written or does not fit the others.
constexpr int status_usage = 2;
constexpr int status_file = 1;

// Ends the run with "kmeans-plot: REASON" on standard error and `status`.
[[noreturn]] void fail(int status, const std::string& reason) {
    std::string line = "kmeans-plot: " + reason + "\n";
    std::fputs(line.c_str(), stderr);
    std::exit(status);
}

// The file-name part of a path.
std::string file_part(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Writes `text` as the file `name` the way kmeans writes its results: to an
// unnamed file beside it, flushed to disk and given the name only when
// complete, so that a failure never leaves half a picture nor destroys an
// earlier one. False when anything fails (nothing is left).
bool write_whole_file(const std::string& name, const std::string& text) {
    ResultFile f;
    if (failed(result_create(f, name))) return false;
    result_write(f, text.data(), text.size());
    return !failed(result_commit(f));
}

constexpr const char* usage_line = "usage: kmeans-plot <DataFile.ext> (+ClustCFile) (-V#,#,...)(-S#)(-Q)\n";

// The answer to --help or --version (`program` being the base name) on
// standard output; a failed write ends the run.
int answer(Question q, const std::string& program) {
    if (q == Question::version) {
        std::printf("%s %s\n", program.c_str(), version);
    } else {
        std::fputs(usage_line, stdout);
        std::fputs("\n"
                   "Draws what kmeans wrote for DataFile, its Learn result (the .KMC and .KTF)\n"
                   "or with +ClustCFile its Recall result (the .KMR), as one SVG picture beside\n"
                   "it, named like the results with the extension .SVG.\n"
                   "\n"
                   "  -V#,#,...  the variables shown, from 1, at most four (default: the first four)\n"
                   "  -S#        the most rows drawn, 1 to 1000000 (default: 20000)\n"
                   "  -Q         no \"Writing file\" line\n"
                   "\n"
                   "Manual: man kmeans-plot\n",
                   stdout);
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        fail(status_file, std::string("cannot write standard output: ") + std::strerror(errno));
    return 0;
}

// The whole run: the command line, the files, the picture. Returns the exit
// status; failures end the run through fail().
int plot_main(const std::string& program, const std::vector<std::string>& args) {
    if (args.empty()) {
        std::fputs(usage_line, stderr);
        return status_usage;
    }
    PlotArgs a;
    std::string reason = parse_plot_args(args, a);
    if (!reason.empty()) fail(status_usage, reason);
    if (a.question != Question::none) return answer(a.question, program);

    const bool recall = !a.centres.empty();
    const std::string centre_path = recall ? a.centres : result_name(a.data, ".KMC");
    const std::string label_path = result_name(a.data, recall ? ".KMR" : ".KTF");
    const std::string out_path = result_name(a.data, ".SVG");

    int nvars = 0;
    PlotInput in;
    if (!data_width(a.data, nvars, in.names, reason)) fail(status_file, reason);
    if (a.vars.empty())
        for (int v = 1; v <= std::min(nvars, plot_max_vars); ++v) in.vars.push_back(v);
    else
        in.vars = a.vars;
    for (int v : in.vars)
        if (v > nvars)
            fail(status_usage, "variable " + std::to_string(v) + " is out of range: " + a.data + " holds " +
                                   std::to_string(nvars) + (nvars == 1 ? " variable" : " variables"));

    CentreRows centres;
    if (!read_centres(centre_path, centres, reason)) fail(status_file, reason);
    if (centres.nvars < nvars)
        fail(status_file, centre_path + " holds " + std::to_string(centres.nvars) + " values per centre, " + a.data +
                              " " + std::to_string(nvars) + " per row");
    in.K = centres.K;

    LabelCounts labels;
    if (!count_labels(label_path, centres.K, centre_path, recall, labels, reason)) fail(status_file, reason);
    if (!sample_rows(a.data, label_path, recall, labels.lines, a.limit, in, reason)) fail(status_file, reason);
    in.counts = labels.counts;
    in.total_rows = labels.lines;

    // The centres' values of the shown variables; the axes cover them too.
    const std::size_t nv = in.vars.size();
    for (int k = 0; k < centres.K; ++k) {
        for (std::size_t j = 0; j < nv; ++j) {
            float c = centres.values[static_cast<std::size_t>(k) * static_cast<std::size_t>(centres.nvars) +
                                     static_cast<std::size_t>(in.vars[j] - 1)];
            in.centres.push_back(c);
            in.lo[j] = std::min(in.lo[j], static_cast<double>(c));
            in.hi[j] = std::max(in.hi[j], static_cast<double>(c));
        }
    }
    in.title = file_part(a.data);
    if (recall) in.title += ", Recall with " + file_part(centre_path);

    if (!a.quiet) std::fputs(("Writing file: " + out_path + "\n").c_str(), stderr);
    if (!write_whole_file(out_path, plot_svg(in))) fail(status_file, "cannot write " + out_path);
    return 0;
}

}  // namespace

}  // namespace kmeans

int main(int argc, char** argv) {
    kmeans::hold_standard_streams();
    kmeans::register_final_cleanup();  // a hidden temporary file never outlives the run
    std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return kmeans::plot_main(kmeans::program_base_name(argc > 0 ? argv[0] : nullptr), args);
}
