// Everything that belongs to the data file in work in Learn mode. Created for
// each data file and dropped by the per-file clean-up.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/centres.h"
#include "base/params.h"
#include "io/data_file.h"
#include "io/ranges.h"
#include "io/result_file.h"

namespace kmeans {

struct LearnFile {
    DataFile data;
    ResultFile centre_file;            // .KMC
    ResultFile value_file;             // .KTF, created by the final pass
    std::string centre_name;
    std::string value_name;
    Ranges ranges;
    Centres clust;
    std::vector<std::int32_t> clustno;  // one 0-based cluster index per row
    float MaxDist = maxdist_unset;      // working MaxDist (AKMDI only)
    std::vector<std::int32_t> counts;   // rows per cluster after the assignment pass
    int nused = 0;                      // clusters with rows
    float mdist = 0.0f;                 // mean centre distance (debug level)
};

}  // namespace kmeans
