// A data file read once from its start, row by row, on the calling thread,
// outside the passes of a run (kmeans-plot reads its data so): a plain or a
// compressed file, its header line passed over, with the rules of the row
// reader.
#pragma once

#include <string>

#include "io/compressed.h"
#include "io/header.h"
#include "io/read_row.h"
#include "io/text_file.h"

namespace kmeans {

struct RowStream {
    TextFile file;            // the file as opened (its descriptor)
    TextFile text;            // its text, read line by line
    CompressedText packed;    // the decompressor of a compressed file
    Compression compression = Compression::none;
    HeaderLine header;        // the header line (its names), when the file has one
};

// Opens `path` and reads past its header line. Returns false, with `why`
// as text_open gives it, when the file cannot be read.
bool stream_open(RowStream& s, const std::string& path, int& why);

// The next row, as read_row gives it.
inline int stream_row(RowStream& s, float* row, int& nvars) { return read_row(s.text, row, nvars); }

// After the rows: why the text of a compressed file stopped short (its
// reason line, as the first pass writes it), "" when it is complete.
inline const std::string& stream_damage(const RowStream& s) { return s.packed.z.error; }

// Closes the file; safe to call twice.
void stream_close(RowStream& s);

}  // namespace kmeans
