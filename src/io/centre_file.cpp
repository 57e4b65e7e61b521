#include "io/centre_file.h"

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <string>

#include "base/console.h"
#include "base/keyboard.h"
#include "io/read_row.h"

namespace kmeans {

void centre_file_mdist(ResultFile& f, double mdist, int npairs, float totd) {
    result_printf(f, "mdist:%-12.6G no:%-5d totd:%-12.6G\n", mdist, npairs, static_cast<double>(totd));
}

void centre_file_centres(const Levels& l, ResultFile& f, float maxdist, const Centres& clust,
                         const std::vector<std::int32_t>& counts, int nused) {
    if (l.debug != 0) result_printf(f, "MaxDist:%-10.4G\n", static_cast<double>(maxdist));
    else result_printf(f, "%-10.4G\n", static_cast<double>(maxdist));
    for (int k = 0; k < nused; ++k) {
        poll_cancel();
        if (l.debug != 0) result_printf(f, "Counts=%-6ld ", static_cast<long>(counts[static_cast<std::size_t>(k)]));
        const float* centre = clust.row(k);
        for (int v = 0; v < clust.nvars; ++v) {
            if (l.debug >= 2) result_printf(f, "k[%d][%d]=%-12.6G ", k, v, static_cast<double>(centre[v]));
            else result_printf(f, "%-12.6G ", static_cast<double>(centre[v]));
        }
        result_write(f, "\n", 1);
    }
}

bool report_line(const std::string& line) {
    for (const char* label : {"mdist:", "MaxDist:", "Counts=", "No.of overlaps"})
        if (line.rfind(label, 0) == 0) return true;
    return false;
}

void centre_file_overlaps(ResultFile& f, long overlaps) {
    result_printf(f, "No.of overlaps (at mdist/2): %ld\n", overlaps);
}


// MaxDist from the centre file's first row, or from switch M.
static void take_maxdist(const Params& p, StoredCentres& s, int nvars, float first) {
    const char* name = p.invocation.centre_file.c_str();
    if (nvars > 1) emit(stderr, "VARNING: More than one column in MaxDist row: %s\n", name);
    if (maxdist_given(p.clustering)) {
        s.MaxDist = p.clustering.max_dist;
        say(p.levels, Show::quiet_lt2, stderr, "Given MaxDist:%-10.4G\n", static_cast<double>(s.MaxDist));
    } else if (first > 0.0f) {
        s.MaxDist = first;
        say(p.levels, Show::quiet_lt2, stderr, "MaxDist from file:%-10.4G\n", static_cast<double>(s.MaxDist));
    } else {
        s.MaxDist = FLT_MAX;
        emit(stderr, "VARNING: Bad MaxDist %.4f set to %-10.4G: %s\n", static_cast<double>(first),
             static_cast<double>(s.MaxDist), name);
    }
}

// A failure of the centre file `name` of kind `what`.
static Failure centre_failure(Fault what, const char* name) {
    Failure f;
    f.what = what;
    f.path = name;
    return f;
}

// The rows of the open centre file `file`: MaxDist, then the centres.
static Failure read_centres(const Params& p, TextFile& file, StoredCentres& s) {
    const char* name = p.invocation.centre_file.c_str();
    std::vector<float> row(max_vars);
    std::vector<float> values;  // the centres, row after row
    int nvars = 0;
    int rows = 0;
    RowRefusal why;
    for (;;) {
        int n = read_row(file, row.data(), nvars, why);
        if (n == row_end) break;
        if (n == row_count_mismatch) emit(stderr, "%s", row_reason(why, file.line).c_str());
        poll_cancel();
        if (n < 0) {
            Failure f = centre_failure(Fault::centre_row, name);
            f.row = rows + 1;
            if (n != row_count_mismatch) f.reason = row_reason(why, file.line);
            if (report_line(file.line))
                f.reason += "\nThe file looks like a report written with switch D,"
                            " which cannot be read back: learn without D for a centre file.";
            return f;
        }
        if (rows == 0) {
            take_maxdist(p, s, nvars, row[0]);
            nvars = 0;
        } else {
            if (rows > max_clusters) return centre_failure(Fault::centre_count, name);
            values.insert(values.end(), row.begin(), row.begin() + nvars);
        }
        ++rows;
    }
    if (rows < 2) return centre_failure(Fault::no_centres, name);

    s.count = rows - 1;
    if (Failure f = centres_alloc(p.levels, s.clust, s.count, nvars); failed(f)) return f;
    std::copy(values.begin(), values.end(), s.clust.v.begin());
    say(p.levels, Show::quiet_lt2, stderr, "No.of clusters:%d%s\n", s.count,
        p.clustering.cityblock ? " Cityblock dist." : " Euclidean dist.");
    return Failure{};
}

Failure read_centre_file(const Params& p, StoredCentres& s) {
    TextFile file;
    if (int why = 0; !text_open(file, p.invocation.centre_file, why)) {
        Failure f = centre_failure(Fault::open, p.invocation.centre_file.c_str());
        f.err = why;
        return f;
    }
    Failure f = read_centres(p, file, s);
    text_close(file);
    return f;
}

}  // namespace kmeans
