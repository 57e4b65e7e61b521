// Cancellation: a key press on the console, or any signal that would end the
// process (SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
// SIGVTALRM, SIGPROF, SIGXCPU, SIGPOLL, SIGPWR, the real-time signals), ends
// the run with "\nINFO: Program cancelled.\n" and status 1, the final
// clean-up included. SIGPIPE and SIGXFSZ are ignored: they show as write
// errors.
//
// The console is /dev/tty, read without waiting even when standard input is
// redirected. Without a terminal nothing is polled and only signals cancel.
#pragma once

#include "base/registry.h"

namespace kmeans {

// Installs the signal handlers, opens the terminal, puts it in non-canonical
// no-echo mode and discards waiting input.
void keyboard_start();

// Gives the terminal its original settings back; safe to call repeatedly.
void keyboard_restore();

// Reads the terminal without waiting; returns true when a key was pressed.
// Only the main thread outside any map reads it: elsewhere this returns
// false at once.
bool key_pressed();

// Writes the cancellation message, discards waiting keys and exits with 1.
// Inside a map or off the main thread it throws RunEnd instead, which ends
// the run the same way on the main thread (see base/parallel.h).
[[noreturn]] void cancel_run();

// Called once per data row (and at the few other poll points): cancels when a
// signal arrived, and reads the terminal every 64 calls, so that a row costs
// no system call. Safe on any thread; inside a map only signals are seen,
// the caller of the map reads the terminal between items.
inline void poll_cancel() {
    if (registry.cancel_requested.load(std::memory_order_relaxed)) cancel_run();
    const unsigned count = registry.poll_count.load(std::memory_order_relaxed) + 1;
    registry.poll_count.store(count, std::memory_order_relaxed);
    if ((count & 63u) == 0 && registry.tty_fd >= 0 && key_pressed()) cancel_run();
}

// Cancels when a signal arrived, and reads the terminal at most every 20 ms:
// for waits and the ends of work items, which come at no fixed pace. Inside
// a map or off the main thread only signals are seen.
void poll_cancel_timed();

}  // namespace kmeans
