#include "base/registry.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <new>
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
static bool cleanup_messages() { return registry.params && registry.params->levels.debug >= 2; }

// Runs at every exit: removes result files that were never completed, so
// that a failed or cancelled run leaves earlier results untouched (one that
// cannot be removed is named on standard error), and gives the terminal its
// settings back. Allocates no memory: it may run because memory ran out.
static void final_cleanup() {
    if (cleanup_messages()) std::fputs("\nMajorClean...", stderr);
    for (const std::string& path : registry.temp_paths) {
        if (unlink(path.c_str()) != 0 && errno != ENOENT) {
            std::fputs("VARNING: Can't remove temporary file: ", stderr);
            std::fputs(path.c_str(), stderr);
            std::fputs("\n", stderr);
        }
    }
    registry.temp_paths.clear();
    keyboard_restore();
    if (cleanup_messages()) std::fputs("Ready!\n", stderr);
}

// Called when an exception leaves main or a noexcept function. Running out
// of memory anywhere (std::bad_alloc from any request that does not report
// its own failure) ends the run like every other fatal error: a PANIC line,
// the final clean-up and status 2. So does a call without an exception in
// flight: this program never rethrows outside a catch and hands every
// exception of its worker threads to the calling thread (base/parallel), so
// only the C++ runtime does that, when it cannot even allocate the exception
// object (a process starved of memory from its start). Anything else is a fault of the
// program: the clean-up runs, then the usual abort with its diagnosis.
[[noreturn]] static void on_terminate() {
    if (abi::__cxa_current_exception_type() == nullptr) panic(2, "\nPANIC: Not enough memory.\n");
    try {
        throw;  // rethrows the exception in flight, allocating nothing
    } catch (const std::bad_alloc&) {
        panic(2, "\nPANIC: Not enough memory.\n");
    } catch (...) {
    }
    final_cleanup();
#if defined(__GLIBCXX__)
    __gnu_cxx::__verbose_terminate_handler();
#endif
    std::abort();
}

void register_final_cleanup() {
    std::atexit(final_cleanup);
    std::set_terminate(on_terminate);
}

int run_status(const Levels& l, int last_nused) { return l.used > 0 ? last_nused : 0; }

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

// Formats into a buffer on the stack: the fatal path allocates nothing, so it
// works when memory has run out. Longer text (names beyond PATH_MAX) is cut.
void panic(int status, const char* fmt, ...) {
    char text[8192];
    va_list ap;
    va_start(ap, fmt);
    std::size_t n = vformat_fixed(text, sizeof text, fmt, ap);
    va_end(ap);
    if (registry.workers) workers_quiesce(*registry.workers);
    progress_flush();
    std::fflush(stdout);
    std::fwrite(text, 1, n, stderr);
    finish(status);
}

void end_on(const Failure& f) {
    switch (f.what) {
        case Fault::memory_centre:
            panic(2, memory_centre_text, f.bytes, static_cast<long long>(f.row));
        case Fault::memory_clustno:
            panic(2, memory_clustno_text, f.bytes);
        default: panic(failure_status(f), "%s", failure_text(f).c_str());
    }
}

}  // namespace kmeans
