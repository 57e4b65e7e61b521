#include "io/data_file.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <sys/stat.h>

namespace kmeans {

Failure data_changed(const DataFile& d) {
    Failure f;
    f.what = Fault::changed;
    f.path = d.name;
    return f;
}

static FileStamp stamp_of(const struct stat& st) {
    FileStamp s;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtime_sec = st.st_mtim.tv_sec;
    s.mtime_nsec = st.st_mtim.tv_nsec;
    s.ctime_sec = st.st_ctim.tv_sec;
    s.ctime_nsec = st.st_ctim.tv_nsec;
    return s;
}

Failure data_open(DataFile& d, const std::string& name, Workers& workers) {
    d.name = name;
    d.path = name;
    d.workers = &workers;
    if (int why = 0; !text_open(d.text, name, why)) {
        Failure f;
        f.what = Fault::open;
        f.path = name;
        f.err = why;
        return f;
    }
    struct stat st{};
    fstat(d.text.fd, &st);
    d.opened = stamp_of(st);
    d.size = d.opened.size;
    d.compression = compression_of(d.text.fd);
    return Failure{};
}

bool data_unchanged(const DataFile& d) {
    struct stat st{};
    if (fstat(d.text.fd, &st) != 0 || !(stamp_of(st) == d.opened)) return false;
    struct stat named{};
    return stat(d.path.c_str(), &named) == 0 && named.st_dev == st.st_dev && named.st_ino == st.st_ino;
}

void data_close(DataFile& d) {
    text_close(d.text);
    table_release(d.table);
    spill_close(d.spill);
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
// the pass with a `changed` failure before its reduce (no later part is
// reduced, and no later part is read), and so does a file whose size or
// modification time changed (looked at before and after the pass).
static Failure each_part(DataFile& d, const FileParts& fp, const std::function<void(Part&, std::size_t, int)>& map,
                         const std::function<void(Part&, std::size_t)>& reduce) {
    if (!data_unchanged(d)) return data_changed(d);
    const std::size_t window = static_cast<std::size_t>(d.workers->threads) * 2;
    std::vector<Part> slots(window);
    std::atomic<bool> changed{false};
    const PartPlan plan{d.text.fd, d.size, d.part_bytes, fp.all, d.header.data_from};
    run_ordered(
        *d.workers, fp.parts, window,
        [&](std::size_t i, int worker) {
            if (changed.load(std::memory_order_relaxed)) return;
            Part& part = slots[i % window];
            reread_part(part, plan, i, d.part_rows[i], d.nvars);
            if (part.end != PartEnd::changed) map(part, i, worker);
        },
        [&](std::size_t i) {
            if (changed.load(std::memory_order_relaxed)) return;
            Part& part = slots[i % window];
            if (part.end == PartEnd::changed) {
                changed.store(true, std::memory_order_relaxed);
                return;
            }
            reduce(part, i);
        });
    if (changed.load(std::memory_order_relaxed) || !data_unchanged(d)) return data_changed(d);
    return Failure{};
}

// The failure of a spill file that does not give back its rows.
static Failure spill_failure(const DataFile& d, int err) {
    Failure f;
    f.what = Fault::spill;
    f.path = d.spill.dir;
    f.err = err;
    return f;
}

// A later pass over the spill file in blocks of `per_block` rows from row 0:
// map(block, worker) after the block is read on any thread, reduce(block)
// on the calling thread in file order. At most about 32 MiB of blocks are
// held at once, at least two blocks. A read error ends the pass with a
// spill failure before the reduce of the first block it hit.
static Failure each_spilled_block(DataFile& d, std::int64_t per_block,
                                  const std::function<void(const RowBlock&, int worker)>& map,
                                  const std::function<void(const RowBlock&)>& reduce) {
    const std::size_t width = static_cast<std::size_t>(d.nvars);
    const std::size_t blocks = static_cast<std::size_t>((d.N + per_block - 1) / per_block);
    const std::size_t block_bytes = static_cast<std::size_t>(per_block) * width * sizeof(float);
    const std::size_t window = std::clamp<std::size_t>((std::size_t{32} << 20) / std::max<std::size_t>(block_bytes, 1),
                                                       2, static_cast<std::size_t>(d.workers->threads) * 2);
    std::vector<std::vector<float>> slots(window);
    std::atomic<int> read_error{0};
    auto block_at = [&](std::size_t i) {
        RowBlock b;
        b.index = i;
        b.first = static_cast<std::int64_t>(i) * per_block;
        b.count = std::min(per_block, d.N - b.first);
        b.values = slots[i % window].data();
        return b;
    };
    run_ordered(
        *d.workers, blocks, window,
        [&](std::size_t i, int worker) {
            if (read_error.load(std::memory_order_relaxed) != 0) return;
            std::vector<float>& slot = slots[i % window];
            const RowBlock b = block_at(i);
            slot.resize(static_cast<std::size_t>(b.count) * width);
            if (!spill_read(d.spill, b.first * static_cast<std::int64_t>(width), slot.size(), slot.data())) {
                read_error.store(errno != 0 ? errno : EIO, std::memory_order_relaxed);
                return;
            }
            map(block_at(i), worker);
        },
        [&](std::size_t i) {
            if (read_error.load(std::memory_order_relaxed) == 0) reduce(block_at(i));
        });
    if (const int err = read_error.load(std::memory_order_relaxed); err != 0) return spill_failure(d, err);
    return Failure{};
}

// How many rows a block of a row-by-row pass over the spill file holds.
constexpr std::int64_t spill_chunk_rows = 16384;

Failure each_row_from_file(DataFile& d, const std::function<void(std::int64_t, const float*)>& on_row) {
    if (d.source == RowSource::spill) {
        const std::size_t width = static_cast<std::size_t>(d.nvars);
        return each_spilled_block(d, spill_chunk_rows, [](const RowBlock&, int) {}, [&](const RowBlock& b) {
            const float* x = b.values;
            for (std::int64_t r = b.first; r < b.first + b.count; ++r, x += width) on_row(r, x);
        });
    }
    const FileParts fp = file_parts(d);
    const std::size_t width = static_cast<std::size_t>(d.nvars);
    return each_part(d, fp, [](Part&, std::size_t, int) {}, [&](Part& part, std::size_t i) {
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
    if (d.source != RowSource::file) return blocks_in(d.N, per_block);
    std::size_t n = 0;
    for (std::int64_t rows : d.part_rows) n += blocks_in(rows, per_block);
    return n;
}

Failure each_block(const Levels& l, DataFile& d, SpinFrom from, std::size_t row_cost,
                   const std::function<void(const RowBlock&, int worker)>& map,
                   const std::function<void(const RowBlock&)>& reduce) {
    if (from == SpinFrom::start) d.spinner = Spinner{};
    const std::int64_t per_block = block_rows(row_cost);
    const std::size_t width = static_cast<std::size_t>(d.nvars);
    auto finish_block = [&](const RowBlock& b) {
        assert(b.first >= 0 && b.count > 0 && b.first + b.count <= d.N);
        for (std::int64_t r = b.first; r < b.first + b.count; ++r)
            if (spinner_due(r)) spin(l, d.spinner);
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
        return Failure{};
    }
    if (d.source == RowSource::spill) return each_spilled_block(d, per_block, map, finish_block);
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
    return each_part(
        d, fp,
        [&](Part& part, std::size_t i, int worker) { for_blocks(part, i, [&](const RowBlock& b) { map(b, worker); }); },
        [&](Part& part, std::size_t i) { for_blocks(part, i, finish_block); });
}

}  // namespace kmeans
