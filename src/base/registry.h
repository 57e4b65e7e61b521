// Run control: the one registry that the exit and signal paths need, the
// final clean-up that runs at every exit, the exit status and the single
// fatal-error path.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
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

struct Registry {
    const Params* params = nullptr;      // the run parameters, once the switches are read
    Workers* workers = nullptr;          // the threads whose maps must end before an exit
    PendingProgress progress;            // spinner bytes not yet written
    std::int64_t key_polled_ns = 0;      // monotonic time the terminal was last read
    int tty_fd = -1;                     // the console keyboard, -1 when none
    bool tty_raw = false;                // our settings are in force
    termios tty_saved{};                 // settings to restore
    std::vector<std::string> temp_paths; // hidden result files not yet in place, removed at exit
    volatile std::sig_atomic_t cancel_requested = 0;  // set by signals
    unsigned poll_count = 0;             // rows since the keyboard was last read
};

// The registry of this process: the only state shared with the exit path
// and the signal handlers.
extern Registry registry;

// Registers the final clean-up to run at every exit, and makes running out
// of memory anywhere (an uncaught std::bad_alloc) end the run with
// "\nPANIC: Not enough memory.\n" and status 2 after that clean-up.
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

// Ends the program with program status `status`; the final clean-up runs.
[[noreturn]] void finish(int status);

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
// is cut at 8 KiB).
[[noreturn]] void panic(int status, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace kmeans
