#include "base/registry.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "base/format.h"
#include "base/console.h"
#include "base/keyboard.h"
#include "base/parallel.h"

namespace kmeans {

Registry registry;

// Whether the clean-up messages of debug level 2 are due. Before the switches
// are read (the help screen) there is no debug level yet.
static bool cleanup_messages() { return registry.params && registry.params->debug >= 2; }

// Runs at every exit: removes result files that were never completed, so
// that a failed or cancelled run leaves earlier results untouched, and gives
// the terminal its settings back.
static void final_cleanup() {
    if (cleanup_messages()) std::fputs("\nMajorClean...", stderr);
    for (const std::string& path : registry.temp_paths) unlink(path.c_str());
    registry.temp_paths.clear();
    keyboard_restore();
    if (cleanup_messages()) std::fputs("Ready!\n", stderr);
}

void register_final_cleanup() { std::atexit(final_cleanup); }

int run_status(const Params& p, int last_nused) { return p.used_level > 0 ? last_nused : 0; }

int platform_status(int status) {
    if (status == status_none_learned) return 0;
    if (status > 255) return 255;
    if (status < 0) return 0;
    return status;
}

void finish(int status) {
    if (registry.workers) workers_quiesce(*registry.workers);
    progress_flush();
    std::fflush(stdout);
    std::exit(platform_status(status));
}

void panic(int status, const char* fmt, ...) {
    std::string text;
    va_list ap;
    va_start(ap, fmt);
    vappend_format(text, fmt, ap);
    va_end(ap);
    if (registry.workers) workers_quiesce(*registry.workers);
    progress_flush();
    std::fflush(stdout);
    std::fwrite(text.data(), 1, text.size(), stderr);
    finish(status);
}

}  // namespace kmeans
