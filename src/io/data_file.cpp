#include "io/data_file.h"

#include <algorithm>
#include <sys/stat.h>

#include "base/registry.h"

namespace kmeans {

[[noreturn]] static void file_changed(const DataFile& d) {
    panic(5, "\nPANIC: Datafile changed while it was read: %s\n\n", d.name.c_str());
}

void data_open(DataFile& d, const std::string& name, Workers& workers) {
    d.name = name;
    d.workers = &workers;
    text_open_or_panic(d.text, name);
    struct stat st{};
    fstat(d.text.fd, &st);
    d.size = st.st_size;
    d.mtime_sec = st.st_mtim.tv_sec;
    d.mtime_nsec = st.st_mtim.tv_nsec;
}

// Ends the run when the open file no longer has the size and modification
// time it had when it was opened. One fstat per pass.
static void check_unchanged(const DataFile& d) {
    struct stat st{};
    if (fstat(d.text.fd, &st) != 0 || st.st_size != d.size || st.st_mtim.tv_sec != d.mtime_sec ||
        st.st_mtim.tv_nsec != d.mtime_nsec)
        file_changed(d);
}

void data_close(DataFile& d) {
    text_close(d.text);
    table_release(d.table);
}

// The parts of the file that hold data rows, and where each one's rows
// begin: a later pass reads them again, on every thread at once.
struct FileParts {
    std::size_t parts = 0;        // the data lie in the first `parts` parts
    std::size_t all = 0;          // parts of the file
    std::vector<std::int64_t> first;  // first[i]: the number of the first row of part i
};

static FileParts file_parts(const DataFile& d) {
    FileParts fp;
    fp.parts = d.part_rows.size();
    fp.all = part_count(d.size, d.part_bytes);
    fp.first.resize(fp.parts + 1, 0);
    for (std::size_t i = 0; i < fp.parts; ++i) fp.first[i + 1] = fp.first[i] + d.part_rows[i];
    return fp;
}

// Reads the data parts of the file again: map(part slot, i, worker) after
// part i is read on any thread, reduce(part slot, i) on the calling thread
// in part order. A part that no longer holds what the first pass found ends
// the run before its reduce, and so does a file whose size or modification
// time changed (looked at before and after the pass).
static void each_part(DataFile& d, const FileParts& fp, const std::function<void(Part&, std::size_t, int)>& map,
                      const std::function<void(Part&, std::size_t)>& reduce) {
    check_unchanged(d);
    const std::size_t window = static_cast<std::size_t>(d.workers->threads) * 2;
    std::vector<Part> slots(window);
    run_ordered(
        *d.workers, fp.parts, window,
        [&](std::size_t i, int worker) {
            Part& part = slots[i % window];
            reread_part(part, d.text.fd, i, fp.all, d.part_bytes, d.part_rows[i], d.nvars);
            if (part.end != PartEnd::changed) map(part, i, worker);
        },
        [&](std::size_t i) {
            Part& part = slots[i % window];
            if (part.end == PartEnd::changed) file_changed(d);
            reduce(part, i);
        });
    check_unchanged(d);
}

void each_row_from_file(DataFile& d, const std::function<void(std::int64_t, const float*)>& on_row) {
    const FileParts fp = file_parts(d);
    const std::size_t width = static_cast<std::size_t>(d.nvars);
    each_part(d, fp, [](Part&, std::size_t, int) {}, [&](Part& part, std::size_t i) {
        const float* x = part.values.data();
        for (std::int64_t r = 0; r < part.rows; ++r, x += width) on_row(fp.first[i] + r, x);
    });
}

// Rows per block for a row cost: about a million operations a block.
static std::int64_t block_rows(std::size_t row_cost) {
    const std::size_t rows = (std::size_t{1} << 20) / std::max<std::size_t>(row_cost, 1);
    return static_cast<std::int64_t>(std::clamp<std::size_t>(rows, 8, max_block_rows));
}

// The blocks of a part of `rows` rows.
static std::size_t blocks_in(std::int64_t rows, std::int64_t per_block) {
    return static_cast<std::size_t>((rows + per_block - 1) / per_block);
}

std::size_t block_count(const DataFile& d, std::size_t row_cost) {
    const std::int64_t per_block = block_rows(row_cost);
    if (rows_in_memory(d)) return blocks_in(d.N, per_block);
    std::size_t n = 0;
    for (std::int64_t rows : d.part_rows) n += blocks_in(rows, per_block);
    return n;
}

void each_block(const Params& p, DataFile& d, SpinFrom from, std::size_t row_cost,
                const std::function<void(const RowBlock&, int worker)>& map,
                const std::function<void(const RowBlock&)>& reduce) {
    if (from == SpinFrom::start) d.spinner = Spinner{};
    const std::int64_t per_block = block_rows(row_cost);
    const std::size_t width = static_cast<std::size_t>(d.nvars);
    auto finish_block = [&](const RowBlock& b) {
        for (std::int64_t r = b.first; r < b.first + b.count; ++r)
            if (spinner_due(r)) spin(p.levels, d.spinner);
        reduce(b);
    };

    if (rows_in_memory(d)) {
        auto block_at = [&](std::size_t i) {
            RowBlock b;
            b.index = i;
            b.first = static_cast<std::int64_t>(i) * per_block;
            b.count = std::min(per_block, d.N - b.first);
            b.values = d.table.values + static_cast<std::size_t>(b.first) * width;
            return b;
        };
        const std::size_t blocks = blocks_in(d.N, per_block);
        run_ordered(
            *d.workers, blocks, blocks, [&](std::size_t i, int worker) { map(block_at(i), worker); },
            [&](std::size_t i) { finish_block(block_at(i)); });
        return;
    }
    // From the file: the blocks of each part as it is read again, numbered
    // on from those of the parts before it.
    const FileParts fp = file_parts(d);
    std::vector<std::size_t> first_block(fp.parts + 1, 0);
    for (std::size_t i = 0; i < fp.parts; ++i)
        first_block[i + 1] = first_block[i] + blocks_in(d.part_rows[i], per_block);
    auto for_blocks = [&](Part& part, std::size_t i, const std::function<void(const RowBlock&)>& fn) {
        for (std::size_t j = 0; j < blocks_in(part.rows, per_block); ++j) {
            RowBlock b;
            b.index = first_block[i] + j;
            const std::int64_t from_row = static_cast<std::int64_t>(j) * per_block;
            b.first = fp.first[i] + from_row;
            b.count = std::min(per_block, part.rows - from_row);
            b.values = part.values.data() + static_cast<std::size_t>(from_row) * width;
            fn(b);
        }
    };
    each_part(
        d, fp,
        [&](Part& part, std::size_t i, int worker) { for_blocks(part, i, [&](const RowBlock& b) { map(b, worker); }); },
        [&](Part& part, std::size_t i) { for_blocks(part, i, finish_block); });
}

}  // namespace kmeans
