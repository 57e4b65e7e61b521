// Run control: the one registry that the exit and signal paths need, the
// final clean-up that runs at every exit, the exit status and the single
// fatal-error path.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <pthread.h>
#include <string>
#include <termios.h>
#include <vector>

#include "base/failure.h"
#include "base/params.h"

namespace kmeans {

struct Workers;

// Progress output (the spinner) waiting to be written: it is gathered and
// written at most about every 0.1 s, and always before any other message.
struct PendingProgress {
    char bytes[4096];
    std::size_t len = 0;
    std::int64_t written_ns = 0;  // monotonic time of the last write
};

// Who may touch what: the main thread (the one that started the process)
// owns the console, the terminal, the result files and the end of the run;
// maps (base/parallel) run on any thread, the main one included, and touch
// only what belongs to their item. The fields marked "main thread" are read
// and written there alone; the atomics may be touched anywhere, signal
// handlers included.
struct Registry {
    const Params* params = nullptr;      // the run parameters, once the switches are read
    Workers* workers = nullptr;          // the threads whose maps must end before an exit
    pthread_t main_thread = pthread_self();  // the registry is built before main() runs
    bool main_in_map = false;            // main thread: it is running a map
    PendingProgress progress;            // main thread: spinner bytes not yet written
    std::int64_t key_polled_ns = 0;      // main thread: monotonic time the terminal was last read
    int tty_fd = -1;                     // the console keyboard, -1 when none (set before any thread starts)
    std::atomic<bool> tty_raw{false};    // our settings are in force (also changed by SIGTSTP, SIGCONT)
    termios tty_saved{};                 // settings to restore (set before any thread starts)
    std::vector<std::string> temp_paths; // main thread: hidden result files not yet in place, removed at exit
    bool cleaned_up = false;             // main thread: the final clean-up has run (it runs once)
    std::atomic<int> cancel_requested{0};  // set by the cancelling signals
    // Calls of poll_cancel, for its pace of terminal reads. Counted with a
    // relaxed load and store: calls on several threads at once may lose a
    // count, which only shifts when the terminal is next read.
    std::atomic<unsigned> poll_count{0};
};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
                  std::atomic<unsigned>::is_always_lock_free,
              "signal handlers may touch only lock-free atomics");

// The registry of this process: the only state shared with the exit path
// and the signal handlers.
extern Registry registry;

// True on the main thread outside any map: only there may the console be
// written, the terminal read and the run ended (panic, finish, cancel_run).
bool on_main_thread_outside_map();

// Registers the final clean-up to run at every exit, and the handler of
// std::terminate: running out of memory anywhere (an uncaught std::bad_alloc,
// or the runtime unable to allocate an exception at all) ends the run with
// "\nPANIC: Not enough memory.\n" and status 2, the clean-up included.
// Anything else that reaches std::terminate is a fault of the program: the
// clean-up runs, then "PANIC: Program fault: " and what happened (the
// exception's what(), when it has one) go to standard error, and the process
// aborts.
void register_final_cleanup();

// Program status of a normal end under switch U when no data file was learned.
constexpr int status_none_learned = -512;

// The program status of a normal end: the used clusters of the last learned
// data file (`last_nused`, status_none_learned when none) under switch U,
// else 0.
int run_status(const Levels& l, int last_nused);

// Maps a program status to what the platform can report: a used-cluster count
// above 255 becomes 255, and status_none_learned 0.
int platform_status(int status);

// The end of the run asked for inside a map or off the main thread, where
// the run cannot end at once: panic, finish and cancel_run throw it there.
// The map ends with it like with any exception, and run_ordered, once every
// map in flight has ended, ends the run on the main thread exactly as the
// call would have (the same message, the same status).
struct RunEnd : std::exception {
    int status = 0;
    bool cancel = false;  // a cancellation: cancel_run on the main thread
    std::size_t len = 0;
    char text[8192];      // the message, cut as panic cuts it
    const char* what() const noexcept override;
};

// Ends the run on the main thread as `end` asks (see RunEnd).
[[noreturn]] void end_run_as(const RunEnd& end);

// Ends the program with program status `status`; the final clean-up runs.
// Inside a map or off the main thread it throws RunEnd instead.
[[noreturn]] void finish(int status);

// Ends a run that did all it was asked to. Standard output is flushed
// first: when that or any write to it failed, the run ends on that failure
// instead (end_on_output_failure). Otherwise the final clean-up runs and the
// program ends with program status `status`, or with 5 when a write to
// standard error failed (which it cannot report itself).
[[noreturn]] void finish_run(int status);

// What a PANIC calls standard output.
constexpr const char* standard_output_name = "standard output";

// Ends the run on a failed write or flush of standard output, `err` being
// the errno it gave (0, when none was left, reads as EIO): the reason line
// and "\nPANIC: Can't write file: standard output\n\n", status 5, as
// end_on does for a result file.
[[noreturn]] void end_on_output_failure(int err);

// Ends the run on `f`: writes failure_text(f) to standard error and ends
// the program with failure_status(f). A memory failure is written without
// asking for memory.
[[noreturn]] void end_on(const Failure& f);

// Ends the run on `f` when it is a failure; returns otherwise. What a driver
// calls with every step that can fail.
inline void must(const Failure& f) {
    if (failed(f)) end_on(f);
}

// Writes a formatted message to standard error and ends the program with
// `status`. Every PANIC goes through here; it allocates no memory (the text
// is cut at 8 KiB). Inside a map or off the main thread it throws RunEnd
// instead (that allocates the exception, from the runtime's emergency room
// when memory has run out).
[[noreturn]] void panic(int status, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace kmeans
