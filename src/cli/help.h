// The banner that opens every run and the help screen.
#pragma once

#include "base/params.h"

namespace kmeans {

// " <<< name >>>  Version: ..." and an empty line, on standard error.
void write_banner(const Params& p);

// The help screen on standard error. `no_data_file` adds the leading
// "ONE filename" PANIC line; a '?' in the switch string adds the last line.
void write_help(const Params& p, bool no_data_file);

// The maker's notice: two lines naming the program and its documentation.
void write_notice();

}  // namespace kmeans
