#include "base/registry.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    if (registry.cleaned_up) return;
    registry.cleaned_up = true;
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

bool on_main_thread_outside_map() { return pthread_equal(pthread_self(), registry.main_thread) && !registry.main_in_map; }

const char* RunEnd::what() const noexcept { return "the run was ended inside a map or off the main thread"; }

// Writes `n` bytes of `text` to standard error, unbuffered and allocating
// nothing, for the terminate handler.
static void write_error(const char* text, std::size_t n) {
    while (n > 0) {
        const ssize_t w = write(STDERR_FILENO, text, n);
        if (w <= 0) return;
        text += w;
        n -= static_cast<std::size_t>(w);
    }
}

// Writes what waits in the output buffers (the spinner's, when this is the
// main thread, which owns it), for the terminate handler.
static void flush_waiting_output() {
    if (pthread_equal(pthread_self(), registry.main_thread) && registry.progress.len > 0) {
        write_error(registry.progress.bytes, registry.progress.len);
        registry.progress.len = 0;
    }
    std::fflush(stdout);
    std::fflush(stderr);
}

// Out of memory: "\nPANIC: Not enough memory.\n" and status 2. Where panic
// cannot end the run (on a helper thread, or inside a map) it ends here as
// panic would, but at once: the text and the clean-up follow once no map of
// another thread is in flight, and the process ends without returning to
// the map or running the exit handlers while the main thread may be at work.
[[noreturn]] static void out_of_memory() {
    static const char text[] = "\nPANIC: Not enough memory.\n";
    if (on_main_thread_outside_map()) panic(2, "%s", text);
    if (registry.workers) workers_quiesce(*registry.workers);
    flush_waiting_output();
    write_error(text, sizeof text - 1);
    final_cleanup();
    _exit(2);
}

// A fault of the program: once no map of another thread is in flight, the
// clean-up runs, then "\nPANIC: Program fault: <what>\n" and the abort.
[[noreturn]] static void program_fault(const char* what) {
    if (registry.workers) workers_quiesce(*registry.workers);
    flush_waiting_output();
    final_cleanup();
    static const char head[] = "\nPANIC: Program fault: ";
    write_error(head, sizeof head - 1);
    write_error(what, std::strlen(what));
    write_error("\n", 1);
    std::abort();
}

// Called when an exception leaves main or a noexcept function, or when the
// C++ runtime cannot go on. Running out of memory anywhere (std::bad_alloc
// from any request that does not report its own failure) ends the run like
// every other fatal error: a PANIC line, the final clean-up and status 2. So
// does a call without an exception in flight at a time when memory cannot be
// had: the runtime makes it when it cannot even allocate an exception object
// (a process starved of memory). This program itself never rethrows outside
// a catch and hands every exception of its maps to the calling thread
// (base/parallel), so any other call is a fault of the program, and so is
// any other exception: they end with the clean-up, a PANIC line that says
// what happened, and an abort. Everything here runs within the handler of
// the exception in flight, which lives only that long.
[[noreturn]] static void on_terminate() {
    if (abi::__cxa_current_exception_type() == nullptr) {
        // A small request fails too when the runtime's did for lack of memory.
        void* probe = std::malloc(1024);
        if (probe == nullptr) out_of_memory();
        std::free(probe);
        program_fault("terminate called without an active exception");
    }
    try {
        throw;  // rethrows the exception in flight, allocating nothing
    } catch (const std::bad_alloc&) {
        out_of_memory();
    } catch (const std::exception& e) {
        program_fault(e.what());
    } catch (...) {
        program_fault("an exception that is no std::exception");
    }
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

// Where the run cannot end (inside a map or off the main thread), the end
// is handed over as a RunEnd.
[[noreturn]] static void hand_over(int status, bool cancel, const char* text, std::size_t len) {
    RunEnd end;
    end.status = status;
    end.cancel = cancel;
    end.len = std::min(len, sizeof end.text);
    std::memcpy(end.text, text, end.len);
    throw end;
}

// Writes `n` bytes of `text` to standard error after the waiting output and
// ends the program with `status` (see panic).
[[noreturn]] static void end_with(int status, const char* text, std::size_t n) {
    if (!on_main_thread_outside_map()) hand_over(status, false, text, n);
    if (registry.workers) workers_quiesce(*registry.workers);
    progress_flush();
    std::fflush(stdout);
    std::fwrite(text, 1, n, stderr);
    finish(status);
}

void end_run_as(const RunEnd& end) {
    if (!on_main_thread_outside_map()) throw end;
    if (end.cancel) cancel_run();
    end_with(end.status, end.text, end.len);
}

void finish(int status) {
    if (!on_main_thread_outside_map()) hand_over(status, false, "", 0);
    if (registry.workers) workers_quiesce(*registry.workers);
    progress_flush();
    std::fflush(stdout);
    std::exit(platform_status(status));
}

void finish_run(int status) {
    if (!on_main_thread_outside_map()) finish(status);
    if (registry.workers) workers_quiesce(*registry.workers);
    progress_flush();
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) end_on_output_failure(errno);
    // The clean-up writes too (at debug level 2), before standard error is judged.
    final_cleanup();
    if (std::ferror(stderr)) status = 5;
    std::exit(platform_status(status));
}

void end_on_output_failure(int err) {
    Failure f;
    f.what = Fault::write;
    f.path = standard_output_name;
    f.err = err != 0 ? err : EIO;
    end_on(f);
}

// Formats into a buffer on the stack: the fatal path allocates nothing, so it
// works when memory has run out. Longer text (names beyond PATH_MAX) is cut.
void panic(int status, const char* fmt, ...) {
    char text[8192];
    va_list ap;
    va_start(ap, fmt);
    std::size_t n = vformat_fixed(text, sizeof text, fmt, ap);
    va_end(ap);
    end_with(status, text, n);
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
