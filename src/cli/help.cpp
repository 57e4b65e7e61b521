#include "cli/help.h"

#include <cstdio>

#include "base/console.h"
#include "base/limits.h"
#include "cluster/random.h"

namespace kmeans {

void write_banner(const Invocation& run) {
    emit(stderr, " <<< %s >>>  Version: %s%s\n\n", run.program.c_str(), version, platform_tag);
}

void write_help(const Invocation& run, bool no_data_file) {
    // The defaults shown are the built-in ones, whatever the switches say.
    const Clustering defaults;
    const char* name = run.program.c_str();
    if (no_data_file) emit(stderr, "PANIC: ONE filename/pattern must be given.\n\n");
    emit(stderr,
         "Program for computing K-means clustering.\n\n Usage: %s <DataFile.ext> (+ClustCFile) "
         "(-K#)(-R#)(-G#)(-M#)(-F#) (-SAINBD)\n\n",
         name);
    emit(stderr,
         "The Datafile must have at least 1 column of data.\n* and/or ? can be used in the datafilename.\n\n"
         "The CusterCenterFile(%s) is used for Recall only. Default is Learn.\n\n",
         ".KMC");
    emit(stderr, "Switch K sets number of clusters. (Default value is %d)\n\n", defaults.clusters);
    emit(stderr, "Switch R sets number of iterations. (Default value is %d)\n\n", defaults.iterations);
    emit(stderr,
         "Switch G sets the learning rate parameter. Only AKM & AKMDI.\n(Default value is %.4f)\n\n"
         "Switch M sets the maximum distance between one point and the closest\n"
         "clustercenter before a new cluster is used. Only AKMDI.\n\n"
         "Switch F sets the iteration parameter that decreases the learning rate\n"
         "for every iteration. (Default value is %.3f) Only AKM & AKMDI.\n\n"
         "Switch A puts the Adaptive K-means algorithm to use. (AKM)\n"
         "Switch I puts the Adaptiva K-means algorithm with dynamic\n"
         "initsialization to use. (AKMDI)\n"
         "(Default value is Standard K-means algorithm) (SKM)\n\n"
         "Switch B puts Cityblock distance to use. (Default is Euclidean distance)\n"
         "Switch U puts no. of used clusters in the %s resultfile.\n\n"
         "Switch D gives meandistance, no.of points per cluster and overlap.\n\n",
         static_cast<double>(defaults.rate), static_cast<double>(defaults.rate_factor), ".KMC");
    emit(stderr, "Max.no. of variables: %d  Max.no. of clusters: %d\n", max_vars, max_clusters);
    emit(stderr,
         "The results (clustercenter) are written to files with extension %s.\n"
         "Clustervaluefiles are written to files with extension %s.\n\n"
         "Example usage: %s TFILE.DAT -A -R6 -G0.3\n\n"
         "Uses the AKM algorithm on datafile TFILE.DAT. No. of iterations is 6 and\n"
         "the learning rate is 0.3. The results are written to TFILE%s & %s \n",
         ".KMC", ".KTF", name, ".KMC", ".KTF");
    if (run.switches.find('?') != std::string::npos)
        emit(stderr, "-Q#:quiet(1-3) -T:stopwatch -D:debug -C:Copyright\n");
}

bool notice_by_chance(std::int64_t now) {
    Rng rng{static_cast<std::uint32_t>(now) & 0xFFFFu};
    return draw(rng) < 1000;
}

void write_notice() {
    emit(stderr,
         "\nkmeans: K-means clustering of numeric text files (SKM, AKM, AKMDI).\n"
         "Documentation: README.md in the kmeans source distribution.\n");
}

}  // namespace kmeans
