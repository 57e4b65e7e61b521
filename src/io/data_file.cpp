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





void rows_rewind(DataFile& d) {
    check_unchanged(d);
    text_rewind(d.text);
}

bool next_row(DataFile& d, std::int64_t r) {
    int n = read_row(d.text, d.row, d.nvars);
    if (n == row_end) {
        if (r != d.N) file_changed(d);
        check_unchanged(d);
        return false;
    }
    if (n < 0 || r >= d.N) file_changed(d);
    return true;
}

// Rows per block for a row cost: about a million operations a block.
static std::int64_t block_rows(std::size_t row_cost) {
    const std::size_t rows = (std::size_t{1} << 20) / std::max<std::size_t>(row_cost, 1);
    return static_cast<std::int64_t>(std::clamp<std::size_t>(rows, 64, max_block_rows));
}

std::size_t block_count(const DataFile& d, std::size_t row_cost) {
    const std::int64_t rows = block_rows(row_cost);
    return static_cast<std::size_t>((d.N + rows - 1) / rows);
}

void each_block(const Params& p, DataFile& d, SpinFrom from, std::size_t row_cost,
                const std::function<void(const RowBlock&, int worker)>& map,
                const std::function<void(const RowBlock&)>& reduce) {
    if (from == SpinFrom::start) d.spinner = Spinner{};
    const std::int64_t rows = block_rows(row_cost);
    const std::size_t width = static_cast<std::size_t>(d.nvars);
    const std::size_t blocks = block_count(d, row_cost);

    // The blocks as the table or the block buffer holds them; `base` is the
    // block whose first row stands at `values`.
    const float* values = d.table.values;
    std::size_t base = 0;
    auto block_at = [&](std::size_t b) {
        RowBlock blk;
        blk.index = b;
        blk.first = static_cast<std::int64_t>(b) * rows;
        blk.count = std::min(rows, d.N - blk.first);
        blk.values = values + static_cast<std::size_t>(blk.first - static_cast<std::int64_t>(base) * rows) * width;
        return blk;
    };
    auto map_item = [&](std::size_t item, int worker) { map(block_at(base + item), worker); };
    auto reduce_item = [&](std::size_t item) {
        const RowBlock blk = block_at(base + item);
        for (std::int64_t r = blk.first; r < blk.first + blk.count; ++r)
            if (spinner_due(r)) spin(p, d.spinner);
        reduce(blk);
    };

    if (rows_in_memory(d)) {
        run_ordered(*d.workers, blocks, blocks, map_item, reduce_item);
        return;
    }
    // From the file: a group of blocks, as many as the threads can share, is
    // read row by row into the block buffer, then mapped and reduced.
    const std::size_t group = static_cast<std::size_t>(d.workers->threads) * 2;
    d.block.resize(static_cast<std::size_t>(rows) * group * width);
    values = d.block.data();
    rows_rewind(d);
    std::int64_t r = 0;
    for (base = 0; base < blocks; base += group) {
        const std::size_t n = std::min(group, blocks - base);
        const std::int64_t end = std::min(d.N, static_cast<std::int64_t>(base + n) * rows);
        float* to = d.block.data();
        for (; r < end; ++r, to += width) {
            if (!next_row(d, r)) file_changed(d);
            poll_cancel();
            std::copy(d.row, d.row + width, to);
        }
        run_ordered(*d.workers, n, n, map_item, reduce_item);
    }
    next_row(d, r);  // the file ends after row N - 1, or the run stops
}

}  // namespace kmeans
