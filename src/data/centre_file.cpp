#include "data/centre_file.h"

void centre_file_mdist(ResultFile& f, double mdist, int npairs, float totd) {
    result_printf(f, "mdist:%-12.6G no:%-5d totd:%-12.6G\n", mdist, npairs, static_cast<double>(totd));
}

void centre_file_maxdist(const Params& p, ResultFile& f, float maxdist) {
    if (p.debug != 0) result_printf(f, "MaxDist:%-10.4G\n", static_cast<double>(maxdist));
    else result_printf(f, "%-10.4G\n", static_cast<double>(maxdist));
}

void centre_file_centre(const Params& p, ResultFile& f, int k, long count, const float* centre, int nvars) {
    if (p.debug != 0) result_printf(f, "Counts=%-6ld ", count);
    for (int v = 0; v < nvars; ++v) {
        if (p.debug >= 2) result_printf(f, "k[%d][%d]=%-12.6G ", k, v, static_cast<double>(centre[v]));
        else result_printf(f, "%-12.6G ", static_cast<double>(centre[v]));
    }
    result_write(f, "\n", 1);
}

#include <bit>
#include <cfloat>
#include <cstdint>

#include "cli/cleanup.h"
#include "cli/console.h"
#include "cli/keyboard.h"
#include "data/read_row.h"

// MaxDist from the centre file's first row, or from switch M.
static void take_maxdist(const Params& p, StoredCentres& s, int nvars, float first) {
    const char* name = p.ClustCFile.c_str();
    if (nvars > 1) emit(stderr, "VARNING: More than one column in MaxDist row: %s\n", name);
    bool given = std::bit_cast<std::uint32_t>(p.MaxDist) != std::bit_cast<std::uint32_t>(maxdist_unset);
    if (given) {
        s.MaxDist = p.MaxDist;
        say(p, Show::quiet_lt2, stderr, "Given MaxDist:%-10.4G\n", static_cast<double>(s.MaxDist));
    } else if (first > 0.0f) {
        s.MaxDist = first;
        say(p, Show::quiet_lt2, stderr, "MaxDist from file:%-10.4G\n", static_cast<double>(s.MaxDist));
    } else {
        s.MaxDist = FLT_MAX;
        emit(stderr, "VARNING: Bad MaxDist %.4f set to %-10.4G: %s\n", static_cast<double>(first),
             static_cast<double>(s.MaxDist), name);
    }
}

void read_centre_file(const Params& p, StoredCentres& s) {
    const char* name = p.ClustCFile.c_str();
    TextFile file;
    if (!text_open(file, p.ClustCFile)) panic(4, "\nPANIC: Can't find/open file: %s\n\n", name);

    alignas(64) static float row[max_vars];
    std::vector<float> values;  // the centres, row after row
    int nvars = 0;
    int rows = 0;
    for (;;) {
        int n = read_row(file, row, nvars);
        if (n == row_end) break;
        poll_cancel();
        if (n < 0) panic(5, "\nPANIC: Unusable centre file: %s  Row:%d\n\n", name, rows + 1);
        if (rows == 0) {
            take_maxdist(p, s, nvars, row[0]);
            nvars = 0;
        } else {
            if (rows > max_clusters)
                panic(5, "\nPANIC: More than %d centres in centre file: %s\n\n", max_clusters, name);
            values.insert(values.end(), row, row + nvars);
        }
        ++rows;
    }
    text_close(file);
    if (rows < 2) panic(5, "\nPANIC: No centres in centre file: %s\n\n", name);

    s.count = rows - 1;
    centres_alloc(p, s.clust, s.count, nvars);
    std::copy(values.begin(), values.end(), s.clust.v.begin());
    say(p, Show::quiet_lt2, stderr, "No.of clusters:%d%s\n", s.count, p.cityblock ? " Cityblock dist." : " Euclidean dist.");
}
