#include "cli/help.h"

#include <cstdio>

#include "base/console.h"
#include "base/limits.h"
#include "cli/switches.h"
#include "cluster/random.h"

namespace kmeans {

void write_banner(const Invocation& run) {
    emit(stderr, " <<< %s >>>  Version: %s%s\n\n", run.program.c_str(), version, platform_tag);
}

void write_help(std::FILE* to, const Invocation& run, bool no_data_file, bool options_line) {
    // The defaults shown are the built-in ones, whatever the switches say.
    const Clustering defaults;
    const char* name = run.program.c_str();
    if (no_data_file) emit(to, "PANIC: ONE filename/pattern must be given.\n\n");
    emit(to,
         "Program for computing K-means clustering.\n\n Usage: %s <DataFile.ext> (+ClustCFile) "
         "(-K#)(-R#)(-G#)(-M#)(-F#) (-SAINBD)\n\n",
         name);
    emit(to,
         "The Datafile must have at least 1 column of data.\n* and/or ? can be used in the datafilename.\n\n"
         "The CusterCenterFile(%s) is used for Recall only. Default is Learn.\n\n",
         ".KMC");
    emit(to, "Switch K sets number of clusters. (Default value is %d)\n\n", defaults.clusters);
    emit(to, "Switch R sets number of iterations. (Default value is %d)\n\n", defaults.iterations);
    emit(to,
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
    emit(to, "Max.no. of variables: %d  Max.no. of clusters: %d\n", max_vars, max_clusters);
    emit(to,
         "The results (clustercenter) are written to files with extension %s.\n"
         "Clustervaluefiles are written to files with extension %s.\n\n"
         "Example usage: %s TFILE.DAT -A -R6 -G0.3\n\n"
         "Uses the AKM algorithm on datafile TFILE.DAT. No. of iterations is 6 and\n"
         "the learning rate is 0.3. The results are written to TFILE%s & %s \n",
         ".KMC", ".KTF", name, ".KMC", ".KTF");
    if (options_line) emit(to, "-Q#:quiet(1-3) -T:stopwatch -D:debug -C:Copyright\n");
}

void write_long_help(const Invocation& run) {
    write_help(stdout, run, false, true);
    std::string switch_variable = run.program;
    upcase(switch_variable);
    emit(stdout, "\nEnvironment variables:\n");
    emit(stdout, "  %-17sswitch text read after the command line's (%s=K8A)\n", switch_variable.c_str(),
         switch_variable.c_str());
    for (const EnvironmentVariable& v : environment_variables) emit(stdout, "  %-17s%s\n", v.name, v.meaning);
    emit(stdout, "\nManual: man kmeans, and README.md in /usr/share/doc/kmeans/ (or the sources).\n");
}

void write_version(const Invocation& run) { emit(stdout, "%s %s\n", run.program.c_str(), version); }

bool notice_by_chance(std::int64_t now) {
    Rng rng{static_cast<std::uint32_t>(now) & 0xFFFFu};
    return draw(rng) < 1000;
}

void write_notice() {
    emit(stderr,
         "\nkmeans: K-means clustering of numeric text files (SKM, AKM, AKMDI).\n"
         "Documentation: man kmeans, and README.md in /usr/share/doc/kmeans/ (or the sources).\n");
}

}  // namespace kmeans
