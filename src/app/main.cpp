// kmeans: K-means clustering of numeric text files.
#include <unistd.h>

#include "app/end_of_run.h"
#include "app/startup.h"
#include "base/clock.h"
#include "base/console.h"
#include "base/keyboard.h"
#include "base/parallel.h"
#include "base/registry.h"
#include "learn/learn.h"
#include "recall/recall.h"

int main(int argc, char** argv) {
    using namespace kmeans;
    hold_standard_streams();
    Params params;
    register_final_cleanup();
    keyboard_start();
    const ClockReading start = read_clock();
    start_up(params, start, argc, argv, environ);
    // The random start: KMEANS_SEED when set, else the time in whole seconds
    // (truncated, as time() gives it). The start time of switch T stays the
    // rounded reading.
    Rng rng{params.invocation.seed.value_or(static_cast<std::uint32_t>(start.whole))};

    Workers workers;
    workers_start(workers, params.resources.threads > 0 ? params.resources.threads : default_threads());
    int last_nused = status_none_learned;
    if (params.invocation.centre_file.empty()) last_nused = learn_files(params, rng, workers);
    else recall_files(params, workers);
    end_run(params, last_nused);
}
