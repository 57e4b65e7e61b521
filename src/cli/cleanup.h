// Run control: the one registry that the exit and signal paths need, the
// final clean-up that runs at every exit, and the single fatal-error path.
#pragma once

#include <csignal>
#include <string>
#include <termios.h>
#include <vector>

struct Registry {
    int debug = 0;                       // debug level, once switch D is read
    int tty_fd = -1;                     // the console keyboard, -1 when none
    bool tty_raw = false;                // our settings are in force
    termios tty_saved{};                 // settings to restore
    std::vector<std::string> temp_paths; // result files not yet complete
    volatile std::sig_atomic_t cancel_requested = 0;  // set by signals
    unsigned poll_count = 0;             // rows since the keyboard was last read
};

// The registry of this process.
extern Registry registry;

// Registers the final clean-up to run at every exit.
void register_final_cleanup();

// Maps a program status to what the platform can report: a used-cluster count
// above 255 becomes 255, and -512 (no data file learned under switch U) 0.
int platform_status(int status);

// Ends the program with `status`; the final clean-up runs.
[[noreturn]] void finish(int status);

// Writes a formatted message to standard error and ends the program with
// `status`. Every PANIC goes through here.
[[noreturn]] void panic(int status, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));
