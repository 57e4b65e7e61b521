// Where every message goes, and whether the quiet and debug levels let it
// through. Callers name the class of a message; this file alone decides.
//
// Every text the program writes, here and in the result files (messages,
// file lines, the help screen), is fixed byte for byte, odd spellings
// included ("VARNING", "och", "Attemted", "iterationes", "W32 DOS",
// "custervalues"): scripts and stored files rely on them, and the tests
// compare them exactly. Do not correct them.
//
// The console belongs to the main thread outside any map (base/parallel.h):
// every writer here (say, emit, spin, progress_write, progress_flush) throws
// std::logic_error when called anywhere else, a fault of the program.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "base/params.h"

namespace kmeans {

enum class Show {
    always,     // PANIC and INFO lines, warnings that must always be seen
    quiet_lt3,  // banner, "Working on file", isolation warnings, file-ending "\n"
    quiet_lt2,  // parameter lines, algorithm names, iteration headers
    quiet0,     // spinner and the line ends that belong to it
    debug1,     // statistics and debug announcements
    debug2,     // memory reports, listings, clean-up messages
    used2,      // the bare used-cluster count
};

// Opens /dev/null for reading on each of the descriptors 0, 1 and 2 that is
// closed, so that no file the program opens takes the place of standard
// input, output or error (where messages would land in a result file); a
// write to such a stream fails (EBADF) as one to a closed descriptor does.
// Called first thing by every program.
void hold_standard_streams();

// True when a message of class `when` is written under the levels `l`.
bool shown(const Levels& l, Show when);

// Writes a formatted message (see format.h for the conversions) to `to`
// (stderr or stdout) when its class is shown. A failed write to standard
// output ends the run (end_on_output_failure, base/registry.h); a failed one
// to standard error decides the status of a normal end (finish_run).
void say(const Levels& l, Show when, std::FILE* to, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));

// Writes a formatted message unconditionally.
void emit(std::FILE* to, const char* fmt, ...) __attribute__((format(printf, 2, 3)));

// The progress indicator: "\b%c" with the next of "-\|/".
struct Spinner {
    unsigned pos = 0;
};

// The character the spinner shows next.
inline char spinner_char(const Spinner& s) { return "-\\|/"[s.pos & 3]; }

// Whether a pass turns the spinner at its row counter `counter`: at every
// multiple of 64. The first pass over a data file counts its rows from 1
// (the spinner turns at the 64th row), every later pass from 0 (at the
// 1st, 65th, ... row).
inline bool spinner_due(std::int64_t counter) { return counter % 64 == 0; }

// Turns the spinner one step when the quiet level is 0.
void spin(const Levels& l, Spinner& s);

// Appends spinner output (`n` bytes) to what waits to be written, and writes
// it all when about 0.1 s have passed since the last write. Standard error
// receives exactly the bytes it would receive if each were written at once.
void progress_write(const char* bytes, std::size_t n);

// Writes the waiting spinner output now. Every other message calls this
// first, so the order of the bytes never changes.
void progress_flush();

}  // namespace kmeans
