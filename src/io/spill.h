// The spill file: the rows of a data file that do not fit the memory budget,
// kept by the first pass as binary single-precision values, row after row,
// in an unnamed temporary file, so that the later passes read them back
// instead of parsing the text again. The file has no name (O_TMPFILE, or a
// name removed at once where the file system has no unnamed files), so it is
// gone at every exit, a killed run's included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/params.h"

namespace kmeans {

struct SpillFile {
    int fd = -1;
    std::string dir;          // where it is
    std::size_t place = 0;    // its index in the places it was opened from
    std::int64_t values = 0;  // floats written so far
    int err = 0;              // the errno of the last failure
};

// The value of KMEANS_SPILL that turns the spill file off: rows beyond the
// memory budget are read from the data file again on every pass.
constexpr const char* spill_off = "off";

// The places a spill file is tried in, in order: KMEANS_SPILL when given
// (only there); else TMPDIR when set, then the directory of the data file
// `data_path`; else that directory alone.
std::vector<std::string> spill_places(const Resources& r, const std::string& data_path);

// Opens an empty spill file in the first of `places` that takes one. False,
// with s.err and s.dir naming the last place tried, when none does.
bool spill_open(SpillFile& s, const std::vector<std::string>& places);

// Appends `n` values. A place that runs full (ENOSPC, EDQUOT) is left for the
// next of `places` that takes a file, the values written so far copied
// there. False, with s.err, when the values cannot be written anywhere; the
// spill is then closed.
bool spill_append(SpillFile& s, const float* values, std::size_t n, const std::vector<std::string>& places);

// Reads `n` values from value `from` on into `out`. False, with errno, when
// the file does not give them (a read error).
bool spill_read(const SpillFile& s, std::int64_t from, std::size_t n, float* out);

// Closes the spill file (it disappears); safe to call twice.
void spill_close(SpillFile& s);

}  // namespace kmeans
