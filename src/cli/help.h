// The banner that opens every run and the help screen.
#pragma once

#include <cstdint>

#include "base/params.h"

namespace kmeans {

// " <<< name >>>  Version: ..." and an empty line, on standard error.
void write_banner(const Invocation& run);

// The help screen on standard error. `no_data_file` adds the leading
// "ONE filename" PANIC line; a '?' in the switch string adds the last line.
void write_help(const Invocation& run, bool no_data_file);

// The maker's notice: two lines naming the program and its documentation.
void write_notice();

// Whether the notice comes by chance at the end of a run at `now` (seconds):
// one draw from the generator seeded with the low 16 bits of `now` is below
// 1000. (It is shown only at quiet level 0.)
bool notice_by_chance(std::int64_t now);

}  // namespace kmeans
