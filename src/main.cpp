// kmeans: K-means clustering of numeric text files.
#include <unistd.h>

#include "cli/cleanup.h"
#include "cli/clock.h"
#include "cli/end_of_run.h"
#include "cli/keyboard.h"
#include "cli/startup.h"
#include "data/learn.h"
#include "data/recall.h"

int main(int argc, char** argv) {
    Params params;
    register_final_cleanup();
    keyboard_start();
    Rng rng{static_cast<std::uint32_t>(now_seconds())};
    start_up(params, argc, argv, environ);

    Run run{params, rng};
    if (params.ClustCFile.empty()) learn_files(run);
    else recall_files(run);
    end_run(run);
}
