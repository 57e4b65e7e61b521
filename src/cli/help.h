// The banner that opens every run and the help screen.
#pragma once

#include <cstdint>
#include <cstdio>

#include "base/params.h"

namespace kmeans {

// " <<< name >>>  Version: ..." and an empty line, on standard error.
void write_banner(const Invocation& run);

// The help screen on `to`. `no_data_file` adds the leading "ONE filename"
// PANIC line, `options_line` the last line (on -Q, -T, -D and -C).
void write_help(std::FILE* to, const Invocation& run, bool no_data_file, bool options_line);

// The answer to --help on standard output: the help screen with its last
// line, then the environment variables (environment_variables, after the
// one named after the program) and where the manual is.
void write_long_help(const Invocation& run);

// The answer to --version on standard output: "NAME 1.15" (the program's
// base name and version) and a line feed.
void write_version(const Invocation& run);

// The maker's notice: two lines naming the program and its documentation.
void write_notice();

// Whether the notice comes by chance at the end of a run at `now` (seconds):
// one draw from the generator seeded with the low 16 bits of `now` is below
// 1000. (It is shown only at quiet level 0.)
bool notice_by_chance(std::int64_t now);

}  // namespace kmeans
