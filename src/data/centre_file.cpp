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
