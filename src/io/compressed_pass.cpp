// The first pass over a compressed data file. Its text is decompressed a
// batch at a time, on one thread; each batch is cut into chunks that end
// after a line feed (so that every chunk starts at a line start, as a part
// of a plain file does), the chunks are read as parts on the data file's
// other threads while the next batch is decompressed, and the parts are
// joined in order by the join of every first pass (pass_join.h). A line that does not end within a whole batch is
// read on the calling thread from the decompressor itself, however long.
// After the data end the rest is decompressed too: for the lines left out,
// and so that a damaged file is refused wherever it is damaged.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "base/keyboard.h"
#include "io/compressed.h"
#include "io/data_file.h"
#include "io/file_parts.h"
#include "io/pass_join.h"

namespace kmeans {

namespace {

// The text decompressed and not yet read: the bytes at text offsets
// [from, from + used), at bytes[0, used).
struct Held {
    Inflater z;
    std::vector<char> bytes;
    std::size_t used = 0;
    std::int64_t from = 0;
    std::size_t piece = 0;  // bytes asked of the decompressor at a time
    bool all_in = false;    // the decompressor has given all it will (the end, or where the data fail)
    std::vector<char> ahead;  // text that follows the held text, decompressed while it is read
    std::size_t ahead_used = 0;
};

// Decompresses until `h` holds at least `want` bytes or the text stops.
void take_in(Held& h, std::size_t want) {
    while (!h.all_in && h.used < want) {
        if (h.bytes.size() < h.used + h.piece) h.bytes.resize(h.used + h.piece);
        const std::size_t got = inflate_read(h.z, h.bytes.data() + h.used, h.piece);
        h.used += got;
        if (got < h.piece) h.all_in = true;
        poll_cancel();
    }
}

// Decompresses up to `want` bytes of the text after the held text into
// h.ahead (on any thread: nothing else touches the decompressor meanwhile).
void take_ahead(Held& h, std::size_t want) {
    while (!h.all_in && h.ahead_used < want) {
        if (h.ahead.size() < h.ahead_used + h.piece) h.ahead.resize(h.ahead_used + h.piece);
        const std::size_t got = inflate_read(h.z, h.ahead.data() + h.ahead_used, h.piece);
        h.ahead_used += got;
        if (got < h.piece) h.all_in = true;
    }
}

// Appends the text decompressed ahead to the held text.
void take_ahead_in(Held& h) {
    if (h.ahead_used == 0) return;
    if (h.bytes.size() < h.used + h.ahead_used) h.bytes.resize(h.used + h.ahead_used);
    std::memcpy(h.bytes.data() + h.used, h.ahead.data(), h.ahead_used);
    h.used += h.ahead_used;
    h.ahead_used = 0;
}

// Drops the first `n` bytes held.
void drop(Held& h, std::size_t n) {
    if (n < h.used) std::memmove(h.bytes.data(), h.bytes.data() + n, h.used - n);
    h.used -= n;
    h.from += static_cast<std::int64_t>(n);
}

// A chunk: the held bytes [at, end).
struct Chunk {
    std::size_t at = 0, end = 0;
};

// Cuts up to `most` chunks from the start of the held text, each about
// `chunk_bytes` long (to the last line feed within that many bytes, else to
// the first line feed after them); the last may end where the text ends,
// when the text is complete. Returns the bytes they cover.
std::size_t cut_chunks(const Held& h, std::size_t chunk_bytes, std::size_t most, std::vector<Chunk>& chunks) {
    chunks.clear();
    const char* text = h.bytes.data();
    std::size_t at = 0;
    while (chunks.size() < most && at < h.used) {
        const std::size_t limit = std::min(at + chunk_bytes, h.used);
        std::size_t end = 0;
        if (const void* nl = memrchr(text + at, '\n', limit - at)) {
            end = static_cast<std::size_t>(static_cast<const char*>(nl) - text) + 1;
        } else if (const void* next = std::memchr(text + limit, '\n', h.used - limit)) {
            end = static_cast<std::size_t>(static_cast<const char*>(next) - text) + 1;
        } else if (h.all_in && h.z.error.empty()) {
            end = h.used;
        } else {
            break;  // the line goes on past what is held (or the text fails inside it)
        }
        chunks.push_back({at, end});
        at = end;
    }
    return at;
}

// The windows of a line read from the decompressor itself: every byte held
// has been copied by the TextFile, so the next piece takes their place.
bool next_held(TextFile& f) {
    Held& h = *static_cast<Held*>(f.more_with);
    drop(h, h.used);
    take_in(h, h.piece);
    if (h.used == 0) return false;
    f.mem = h.bytes.data();
    f.mem_from = h.from;
    f.mem_size = h.used;
    return true;
}

// Opens the held text for reading with `f` up to the first line start
// after the line it starts with (next_held takes in more as f reads).
void open_long_line(TextFile& f, Held& h) {
    text_open_memory(f, h.bytes.data(), h.used, h.from, next_held, &h);
    f.stop = h.from + 1;
}

// After open_long_line: what f has read but not used, and what is still
// held after it, become the held text again.
void give_back(TextFile& f, Held& h) {
    std::vector<char> rest(f.buf.begin() + static_cast<std::ptrdiff_t>(f.pos),
                           f.buf.begin() + static_cast<std::ptrdiff_t>(f.len));
    const std::size_t after = static_cast<std::size_t>(f.read_at - h.from);
    rest.insert(rest.end(), h.bytes.begin() + static_cast<std::ptrdiff_t>(after),
                h.bytes.begin() + static_cast<std::ptrdiff_t>(h.used));
    h.from = text_position(f);
    text_close(f);
    if (h.bytes.size() < rest.size()) h.bytes.resize(rest.size());
    if (!rest.empty()) std::memcpy(h.bytes.data(), rest.data(), rest.size());
    h.used = rest.size();
}

// What the text still to come is read for.
enum class Reading {
    rows,      // the rows
    left_out,  // the data ended at an empty row: the lines left out are counted
    check,     // nothing more is needed of it but that it is sound
};

}  // namespace

Failure first_pass_compressed(const Params& p, DataFile& d, Ranges* ranges, std::size_t chunk_bytes) {
    PassJoin j{.p = p, .d = d, .ranges = ranges};
    j.rows_must_stay = true;
    {
        CompressedText probe;
        TextFile start;
        start.buffer_bytes = std::size_t{64} << 10;
        text_open_compressed(start, probe, d.text.fd, d.compression);
        join_start(j, start);
        text_close(start);
    }
    d.part_bytes = 0;
    d.part_rows.clear();
    chunk_bytes = std::max<std::size_t>(chunk_bytes, 1);
    const std::size_t window = static_cast<std::size_t>(d.workers->threads) * 2;
    std::vector<Part> slots(window);
    // The chunks are in memory already: small buffers copy them as well.
    for (Part& part : slots) part.text.buffer_bytes = std::size_t{64} << 10;
    std::vector<Chunk> chunks;
    TextFile counted;  // a chunk whose lines left out are counted
    counted.buffer_bytes = std::size_t{64} << 10;
    Held h;
    h.piece = chunk_bytes;
    if (!inflate_open(h.z, d.text.fd, d.compression)) h.all_in = true;
    std::int64_t skip = d.header.data_from;  // the header line and the comment lines before it
    Reading reading = Reading::rows;

    // After the data end: whether the lines after them are still counted.
    auto ended = [&] {
        const bool count = j.end.end == DataEnd::empty_row && j.warn && !j.left_out_mark;
        reading = count ? Reading::left_out : Reading::check;
    };
    auto count_left_out = [&](TextFile& f) {
        bool at_mark = false;
        j.left_out += lines_left_out(f, true, at_mark);
        if (at_mark) reading = Reading::check;
    };

    while (!failed(j.failure)) {
        // At least 3 bytes, so that a byte-order mark is seen whole.
        take_ahead_in(h);
        take_in(h, std::max<std::size_t>(window * chunk_bytes, 3));
        if (skip > 0) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(skip, static_cast<std::int64_t>(h.used)));
            drop(h, n);
            skip -= static_cast<std::int64_t>(n);
            if (skip > 0 && !h.all_in) continue;
        }
        if (reading == Reading::check) {
            drop(h, h.used);
            if (h.all_in) break;
            continue;
        }
        const std::size_t covered = cut_chunks(h, chunk_bytes, window, chunks);
        if (chunks.empty()) {
            if (h.all_in) break;
            // No line feed in a whole batch: this line is read from the
            // decompressor as it goes, on this thread.
            Part& part = slots[0];
            open_long_line(part.text, h);
            if (reading == Reading::rows) read_part_rows(part, j.warn);
            else count_left_out(part.text);
            const bool stops_inside = !h.z.error.empty() && !part.text.stopped;
            give_back(part.text, h);
            if (stops_inside) break;  // the text fails inside the part: not joined
            if (reading == Reading::rows && join_part(j, part, 0)) ended();
            continue;
        }
        std::size_t counted_from = 0;  // the first chunk whose lines left out are counted here
        if (reading == Reading::rows) {
            // Item 0 decompresses the next batch while the others read the
            // chunks of this one; item c + 1 reads chunk c.
            std::atomic<bool> stop{false};
            auto map = [&](std::size_t item, int) {
                if (item == 0) {
                    take_ahead(h, window * chunk_bytes);
                    return;
                }
                const std::size_t i = item - 1;
                Part& part = slots[i];
                part.rows = 0;
                part.end = PartEnd::none;
                if (stop.load(std::memory_order_relaxed)) return;
                text_open_memory(part.text, h.bytes.data() + chunks[i].at, chunks[i].end - chunks[i].at,
                                 h.from + static_cast<std::int64_t>(chunks[i].at));
                read_part_rows(part, j.warn);
            };
            auto reduce = [&](std::size_t item) {
                if (item == 0 || j.ended) return;
                if (join_part(j, slots[item - 1], 0)) {
                    stop.store(true, std::memory_order_relaxed);
                    counted_from = item;
                }
            };
            run_ordered(*d.workers, chunks.size() + 1, chunks.size() + 1, map, reduce);
            if (failed(j.failure)) break;
            if (j.ended) ended();
        }
        if (reading == Reading::left_out) {
            for (std::size_t i = counted_from; i < chunks.size() && reading == Reading::left_out; ++i) {
                text_open_memory(counted, h.bytes.data() + chunks[i].at, chunks[i].end - chunks[i].at,
                                 h.from + static_cast<std::int64_t>(chunks[i].at));
                count_left_out(counted);
            }
        }
        drop(h, covered);
    }
    for (Part& part : slots) text_close(part.text);
    if (!failed(j.failure) && !h.z.error.empty()) {
        Failure f;
        f.what = Fault::bad_row;
        f.path = d.name;
        f.reason = h.z.error;
        join_fail(j, f);
    }
    return join_finish(j);
}

}  // namespace kmeans
