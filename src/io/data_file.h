// The row source: one open data file and every pass over its rows. The first
// pass counts and checks the rows and, when they fit the memory budget,
// keeps them as parsed (the row table); every later pass delivers the rows
// from the table, or reads the file again and makes sure it has not changed
// since the first pass. Either way a pass sees the same rows, in file order.
// Failures come back as values (base/failure.h); nothing here ends the run but
// a cancellation.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/keyboard.h"
#include "base/parallel.h"
#include "base/failure.h"
#include "io/compressed.h"
#include "io/file_parts.h"
#include "io/header.h"
#include "io/ranges.h"
#include "io/read_row.h"
#include "io/row_table.h"
#include "io/spill.h"

namespace kmeans {

// Where the later passes take the rows from: the table kept by the first
// pass, the spill file it wrote (rows beyond the memory budget), or the data
// file, read again.
enum class RowSource { memory, spill, file };

// What a data file was when it was opened: its identity (device, inode), its
// size, its modification and change times. The change time moves with
// every write and cannot be put back, so a rewrite that keeps the size and
// restores the modification time still shows.
struct FileStamp {
    std::uint64_t dev = 0, ino = 0;
    std::int64_t size = 0;
    std::int64_t mtime_sec = 0, ctime_sec = 0;
    long mtime_nsec = 0, ctime_nsec = 0;
    bool operator==(const FileStamp&) const = default;
};

struct DataFile {
    std::string name;        // the argument as typed, for messages
    std::string path;        // the name it was opened by (the same, unless a caller renames it for its messages)
    TextFile text;
    Workers* workers = nullptr;  // the threads of the passes
    int nvars = 0;           // values per row, fixed by the first row
    std::int64_t N = 0;      // data rows, counted by the first pass
    HeaderLine header;       // the header line, found by the first pass (see header.h)
    Compression compression = Compression::none;  // told by data_open from the first bytes
    Spinner spinner;         // the progress indicator of this file's passes
    RowSource source = RowSource::file;  // decided by the first pass (keep_rows, first_pass.cpp)
    RowTable table;          // every row as parsed, while the source is memory
    SpillFile spill;         // every row as parsed, when the source is the spill file
    std::vector<std::string> spill_places;  // where a spill file may go (spill_places)
    std::int64_t part_bytes = 0;  // the parts the first pass read (see file_parts.h)
    std::vector<std::int64_t> part_rows;  // data rows in each part, up to the part where the data end
    FileStamp opened;        // the file when it was opened
    std::int64_t size = 0;   // its size then: no pass reads beyond it
};

// Opens the data file, whose parallel passes run on `workers`, and notes its
// size, modification time and compression. Returns an open failure (with the reason)
// when it cannot be opened or is not a regular file.
[[nodiscard]] Failure data_open(DataFile& d, const std::string& name, Workers& workers);

// Closes the file and releases its table.
void data_close(DataFile& d);

// Whether the file is still what it was when it was opened: the open file
// has its stamp, and the name still names that file. Every pass looks at
// its start and its end (one fstat and one stat).
[[nodiscard]] bool data_unchanged(const DataFile& d);

// The failure of a data file that changed while it was read.
Failure data_changed(const DataFile& d);

// The first pass: resets nvars, reads every row, polls for cancellation,
// turns the spinner at every 64th row, updates `ranges` (when not null) with
// each row, sets N and decides where the later passes take the rows from:
// from memory while they fit the budget of `p` (keep_rows), else from the
// file. It reads the bytes the file held when it was opened and no more,
// and a file that changed meanwhile ends it with a `changed` failure (also
// when the change made a row look bad). A refused row ends the pass with a
// bad_row failure (its number and what the reader found); for a row refused
// for its count the "\nstr:" line is written first, as the reader meets it,
// then the spinner's turn for it.
// When the data end at a row without values and more lines with text follow
// (comment and blank lines not counted, nor anything after a Ctrl-Z), writes
// "\nVARNING: The data of %s end at line %lld; %lld more lines are left
// out.\n" ("1 more line is left out" for one) at every quiet level: lines
// of data are lost.
// First of all it looks for the header line (header.h), which every pass
// then passes over like a comment line: when there is one, it writes below
// quiet level 3 "INFO: Header line skipped: %s (%d names)\n" ("1 name"), and
// at every level, when its first name is empty, "VARNING: Column 1 of %s has
// no name in the header line (a row index?); it is clustered like the
// others.\n". A row refused for a letter, '#' or '"' gets a hint in its
// reason (data_row_reason).
[[nodiscard]] Failure first_pass(const Params& p, DataFile& d, Ranges* ranges);

// The first pass with the file cut into parts of `part_bytes` bytes (each
// begins at the first line start in it), read on the data file's threads.
// first_pass chooses the size from the file's size and the threads; every
// size gives the same result.
[[nodiscard]] Failure first_pass_in_parts(const Params& p, DataFile& d, Ranges* ranges, std::int64_t part_bytes);

// The first pass over a compressed data file (first_pass takes it for one):
// its text is decompressed once, on one thread, in pieces of about
// `chunk_bytes` bytes cut at line starts, which the data file's threads
// read as parts; the rows are kept in memory, and every later pass takes
// them from there. Everything it decides and writes is what first_pass
// decides and writes for the same text as a plain file, whatever the
// pieces, except for two failures of its own: rows that pass the memory
// budget (a memory_compressed failure, status 2), and compressed data that
// are cut short, damaged or followed by other bytes anywhere in the file (a
// bad_row failure at the row where the text stops, with the reason from
// the decompressor), unless a refused row comes first.
[[nodiscard]] Failure first_pass_compressed(const Params& p, DataFile& d, Ranges* ranges, std::size_t chunk_bytes);

// Whether the later passes read the rows from memory.
inline bool rows_in_memory(const DataFile& d) { return d.source == RowSource::memory; }

// A later pass that reads the rows again (from the spill file, or from the
// data file), row by row, on the calling thread in file order, while other
// threads read ahead: for every row r, calls on_row(r, values). A data file
// that no longer holds what the first pass found there (its size or
// modification time changed, or other rows) ends the pass with a `changed`
// failure, so no row at or past N is ever delivered.
[[nodiscard]] Failure each_row_from_file(DataFile& d, const std::function<void(std::int64_t, const float*)>& on_row);

// One later pass, row by row: for every row r (0-based) in file order polls
// for cancellation, calls progress(r) and then on_row(r, values). Returns
// the failure of a file that changed.
template <class Progress, class OnRow>
[[nodiscard]] Failure each_row_with(DataFile& d, Progress&& progress, OnRow&& on_row) {
    if (rows_in_memory(d)) {
        const float* x = d.table.values;
        for (std::int64_t r = 0; r < d.N; ++r, x += d.nvars) {
            poll_cancel();
            progress(r);
            on_row(r, static_cast<const float*>(x));
        }
        return Failure{};
    }
    return each_row_from_file(d, [&](std::int64_t r, const float* x) {
        assert(r >= 0 && r < d.N);
        poll_cancel();
        progress(r);
        on_row(r, x);
    });
}

// Where the spinner of a later pass starts: where the previous pass left it,
// or at its first character.
enum class SpinFrom { last, start };

// A later pass row by row with the usual progress: the spinner turns at rows
// 0, 64, 128...
template <class OnRow>
[[nodiscard]] Failure each_row(const Levels& l, DataFile& d, SpinFrom from, OnRow&& on_row) {
    if (from == SpinFrom::start) d.spinner = Spinner{};
    return each_row_with(d, [&](std::int64_t r) { if (spinner_due(r)) spin(l, d.spinner); }, on_row);
}

// Consecutive rows of a pass: rows first .. first + count - 1, their values
// row after row at `values`; `index` counts the blocks of the pass from 0.
struct RowBlock {
    std::size_t index = 0;
    std::int64_t first = 0;
    std::int64_t count = 0;
    const float* values = nullptr;
};

// The most rows a block of each_block holds.
constexpr std::int64_t max_block_rows = 65536;

// Room for one value per row of a block for each of the data file's
// threads: worker w's part starts at w * max_block_rows.
inline std::vector<float> block_scratch(const DataFile& d) {
    return std::vector<float>(static_cast<std::size_t>(d.workers->threads) * max_block_rows);
}

// The number of blocks a pass over `d` is cut into when a row costs about
// `row_cost` operations: blocks short enough that a cancellation is seen
// within a few milliseconds.
std::size_t block_count(const DataFile& d, std::size_t row_cost);

// A later pass in blocks of rows (block_count of them, for `row_cost`):
// map(block, worker) runs on any of the data file's threads, for blocks in
// any order, and may write only what belongs to its block's rows (their
// cluster numbers, a per-block result); then, on the calling thread, block
// after block in file order, the spinner turns for the block's rows (at
// rows 0, 64, 128...) and reduce(block) runs. The results are those of one
// thread, whatever the number of threads. Rows read again from the file are
// checked as each_row_from_file says: a file that changed ends the pass with
// a `changed` failure before the reduce of the first block it no longer
// holds.
[[nodiscard]] Failure each_block(const Levels& l, DataFile& d, SpinFrom from, std::size_t row_cost,
                                 const std::function<void(const RowBlock&, int worker)>& map,
                                 const std::function<void(const RowBlock&)>& reduce);

}  // namespace kmeans
