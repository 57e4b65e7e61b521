// Text-mode line input through a private buffer: one open data or centre
// file, read line by line, on every pass over files that can be larger than
// memory. Nothing here allocates per line (the line string and the read
// buffer are reused) and nothing makes a system call per line.
#include "io/text_file.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kmeans {

namespace {

constexpr char ctrl_z = '\x1a';


// Sets f.special to the first carriage return or Ctrl-Z at or after offset
// `at` of the buffer, or to f.len when there is none. Most files hold
// neither, so one search per buffer spares the line reader from looking for
// them line by line.
void find_special_from(TextFile& f, std::size_t at) {
    const char* from = f.buf.data() + at;
    std::size_t n = f.len - at;
    const void* cr = std::memchr(from, '\r', n);
    if (cr) n = static_cast<std::size_t>(static_cast<const char*>(cr) - from);
    const void* z = std::memchr(from, ctrl_z, n);
    if (z) n = static_cast<std::size_t>(static_cast<const char*>(z) - from);
    f.special = at + n;
}

// find_special_from the next unread byte.
void find_special(TextFile& f) { find_special_from(f, f.pos); }

// Sets f.lines_end past the last line feed of the buffer.
void find_lines_end(TextFile& f) {
    const void* feed = memrchr(f.buf.data() + f.pos, '\n', f.len - f.pos);
    f.lines_end = feed ? static_cast<std::size_t>(static_cast<const char*>(feed) - f.buf.data()) + 1 : 0;
}

// Gives `f` its read buffer of f.buffer_bytes (at least 3, so that the first
// read holds a whole byte-order mark) when it first reads: a file opened only
// for its descriptor (a data file whose parts other readers read) needs none.
void allocate_buffer(TextFile& f) {
    const std::size_t size = std::max<std::size_t>(f.buffer_bytes, 3);
    if (f.buf.size() != size) f.buf.assign(size, '\0');
}

// Copies the next bytes of a text in memory into f.buf, taking the next
// window when the last is read. Returns the bytes copied, 0 at the end.
ssize_t read_memory(TextFile& f) {
    for (;;) {
        const std::int64_t end = f.mem_from + static_cast<std::int64_t>(f.mem_size);
        if (f.read_at >= f.mem_from && f.read_at < end) {
            const std::size_t n = static_cast<std::size_t>(
                std::min<std::int64_t>(static_cast<std::int64_t>(f.buf.size()), end - f.read_at));
            std::memcpy(f.buf.data(), f.mem + (f.read_at - f.mem_from), n);
            return static_cast<ssize_t>(n);
        }
        if (f.more == nullptr || !f.more(f)) return 0;
    }
}

// Refills f.buf from the descriptor (or the text in memory). Returns false (and marks the end) when
// the descriptor has no more bytes; a read error counts as the end of file.
// The first fill after text_open or text_rewind (both leave the buffer empty,
// and only they do: an exhausted file keeps f.eof set) starts the line count
// again and passes over a UTF-8 byte-order mark (a regular file delivers its
// first bytes in one read).
bool fill(TextFile& f) {
    if (f.eof || (f.fd < 0 && f.mem == nullptr && f.more == nullptr)) return false;
    allocate_buffer(f);
    const bool first = f.len == 0;
    if (first) {
        f.newlines = 0;
        f.line_no = 1;  // the line being read is the first
    }
    for (;;) {
        const bool at_start = f.read_at == 0;
        std::size_t want = f.buf.size();
        if (f.limit >= 0) want = static_cast<std::size_t>(std::clamp<std::int64_t>(f.limit - f.read_at, 0, static_cast<std::int64_t>(want)));
        ssize_t got = want == 0 ? 0 : f.fd >= 0 ? ::pread(f.fd, f.buf.data(), want, f.read_at) : read_memory(f);
        if (got > 0) {
            f.read_at += got;
            f.pos = 0;
            f.len = static_cast<std::size_t>(got);
            if (first && at_start && f.len >= 3 && std::memcmp(f.buf.data(), "\xEF\xBB\xBF", 3) == 0) f.pos = 3;
            find_special(f);
            find_lines_end(f);
            return true;
        }
        if (got < 0 && errno == EINTR) continue;
        f.eof = true;
        f.pos = f.len = f.lines_end = 0;
        return false;
    }
}

}  // namespace

bool text_open(TextFile& f, const std::string& path, int& why) {
    text_close(f);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        why = errno;
        return false;
    }
    // Every pass reads the file from its start again and must find the same
    // rows, so only a regular file will do: not a directory, pipe, terminal
    // or device (/dev/zero can be rewound but never ends).
    struct stat st;
    if (fstat(fd, &st) != 0) {
        why = errno;
        ::close(fd);
        return false;
    }
    if (!S_ISREG(st.st_mode) || ::lseek(fd, 0, SEEK_SET) != 0) {
        why = S_ISDIR(st.st_mode) ? EISDIR : not_regular_file;
        ::close(fd);
        return false;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    f.fd = fd;
    f.owns_fd = true;
    f.stop = -1;
    text_rewind(f);
    return true;
}

void text_open_range(TextFile& f, int fd, std::int64_t from, std::int64_t stop, std::int64_t limit) {
    text_close(f);
    f.fd = fd;
    f.owns_fd = false;
    text_rewind(f);
    f.read_at = from;
    f.stop = stop;
    f.limit = limit;
}

void text_open_memory(TextFile& f, const char* mem, std::size_t size, std::int64_t from, bool (*more)(TextFile&),
                      void* more_with) {
    text_close(f);
    f.mem = mem;
    f.mem_from = from;
    f.mem_size = size;
    f.more = more;
    f.more_with = more_with;
    text_rewind(f);
    f.read_at = from;
}

std::int64_t next_line_start(int fd, std::int64_t at, std::int64_t before, std::vector<char>& scratch) {
    if (at <= 0) return 0;
    if (scratch.size() < 65536) scratch.resize(65536);
    for (std::int64_t from = at - 1; from < before;) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(
            static_cast<std::int64_t>(scratch.size()), before - from));
        ssize_t got = ::pread(fd, scratch.data(), want, from);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return -1;
        const void* nl = std::memchr(scratch.data(), '\n', static_cast<std::size_t>(got));
        if (nl) {
            const std::int64_t start = from + (static_cast<const char*>(nl) - scratch.data()) + 1;
            return start < before ? start : -1;
        }
        from += got;
    }
    return -1;
}

void text_close(TextFile& f) {
    if (f.fd >= 0 && f.owns_fd) ::close(f.fd);
    f.fd = -1;
    f.owns_fd = true;
    f.stop = -1;
    f.limit = -1;
    f.pos = f.len = f.lines_end = 0;
    f.eof = false;
    f.mem = nullptr;
    f.mem_size = 0;
    f.more = nullptr;
    f.more_with = nullptr;
}

void text_rewind(TextFile& f) {
    f.read_at = 0;
    f.pos = f.len = f.special = f.lines_end = 0;
    f.eof = false;
    f.line_start = true;
    f.stopped = false;
}

// Makes room in f.line for `need` characters without letting its capacity
// pass f.line_limit + 1 (the longest line kept and its line feed).
// std::string grows to at least twice its old capacity when asked for less,
// which near the bound would overshoot it: there a string of exactly the
// bound takes the line's place.
static void line_room(TextFile& f, std::size_t need) {
    const std::size_t cap = f.line.capacity();
    const std::size_t most = f.line_limit + 1;
    const std::size_t want = std::min(std::max(need, 2 * cap), most);
    if (want >= 2 * cap) {
        f.line.reserve(want);
        return;
    }
    std::string exact;
    exact.reserve(want);
    exact.assign(f.line);
    f.line.swap(exact);
}

// Appends [from, from + n) to the line, up to f.line_limit characters in
// all; what does not fit is passed over, with a note of any '!' in it. The
// line's capacity always exceeds its length, which leaves room for the line
// feed.
static inline void line_append(TextFile& f, const char* from, std::size_t n) {
    const std::size_t room = f.line_limit - f.line.size();
    if (n > room) [[unlikely]] {
        f.line_cut = true;
        if (!f.cut_bang && std::memchr(from + room, '!', n - room) != nullptr) f.cut_bang = true;
        n = room;
    }
    const std::size_t need = f.line.size() + n + 1;
    if (need > f.line.capacity()) [[unlikely]] line_room(f, need);
    f.line.append(from, n);
}

// Ends the line with its line feed, for which there is always room.
static inline void line_feed(TextFile& f) {
    f.line.push_back('\n');
    ++f.newlines;
    f.line_start = true;
}

std::int64_t text_position(const TextFile& f) {
    return f.read_at - static_cast<std::int64_t>(f.len) + static_cast<std::int64_t>(f.pos);
}

// A line that ends without a line feed: what follows does not start a line
// of the file.
static bool line_without_feed(TextFile& f) {
    f.line_start = false;
    return !f.line.empty();
}

bool text_read_line(TextFile& f) {
    f.line.clear();
    f.line_cut = false;
    f.cut_bang = false;
    f.line_no = f.newlines + 1;  // fill() corrects it at the start of the file
    if (f.stop >= 0 && f.line_start && text_position(f) >= f.stop) {
        f.stopped = f.eof = true;
        return false;
    }
    for (;;) {
        if (f.pos == f.len && !fill(f)) return line_without_feed(f);
        const char* from = f.buf.data() + f.pos;
        const char* end = f.buf.data() + f.len;
        // The line feed ends the piece of interest; a carriage return or a
        // Ctrl-Z before it ends it earlier.
        const char* q = static_cast<const char*>(std::memchr(from, '\n', static_cast<std::size_t>(end - from)));
        if (q == nullptr) q = end;
        if (f.special < f.pos) find_special(f);
        if (f.buf.data() + f.special < q) q = f.buf.data() + f.special;
        line_append(f, from, static_cast<std::size_t>(q - from));
        f.pos += static_cast<std::size_t>(q - from);
        if (q == end) continue;

        char c = *q;
        ++f.pos;
        if (c == '\n') {
            line_feed(f);
            return true;
        }
        if (c == ctrl_z) {
            // At the start of a line an end of file; inside one, the end of
            // that line. Either way reading resumes after the Ctrl-Z.
            return line_without_feed(f);
        }
        // Carriage return: dropped, and the next byte is taken as it is,
        // even another carriage return or a Ctrl-Z.
        if (f.pos == f.len && !fill(f)) return line_without_feed(f);
        char next = f.buf[f.pos++];
        if (next == '\n') {
            line_feed(f);
            return true;
        }
        line_append(f, &next, 1);
    }
}

const char* text_buffered_lines(const TextFile& f, const char*& last) {
    if (f.pos >= f.lines_end || !f.line_start) return nullptr;
    if (f.stop >= 0 && text_position(f) >= f.stop) return nullptr;
    last = f.buf.data() + f.lines_end;
    return f.buf.data() + f.pos;
}

bool text_plain_line(TextFile& f, const char* begin, const char* feed) {
    const std::size_t from = static_cast<std::size_t>(begin - f.buf.data());
    const std::size_t line_end = static_cast<std::size_t>(feed - f.buf.data());
    assert(from >= f.pos && from <= line_end && line_end < f.lines_end && *feed == '\n');
    if (f.special < from) find_special_from(f, from);
    std::size_t chars = line_end - from;
    if (f.special < line_end) {
        // Only a carriage return just before the line feed: a CR/LF line end.
        if (f.special + 1 != line_end || f.buf[f.special] != '\r') return false;
        --chars;
    }
    if (chars > f.line_limit) return false;
    return f.stop < 0 || f.read_at - static_cast<std::int64_t>(f.len - from) < f.stop;
}

void text_keep_line(TextFile& f, const char* begin, const char* feed) {
    const bool cr = feed != begin && feed[-1] == '\r';
    f.line.clear();
    line_append(f, begin, static_cast<std::size_t>(feed - begin) - cr);
    f.line.push_back('\n');  // line_append leaves room for it
}

void text_pass_lines(TextFile& f, const char* next, std::int64_t lines) {
    assert(next > f.buf.data() + f.pos && next <= f.buf.data() + f.lines_end && next[-1] == '\n' && lines > 0);
    f.pos = static_cast<std::size_t>(next - f.buf.data());
    f.line_cut = false;
    f.cut_bang = false;
    f.newlines += lines;
    f.line_no = f.newlines;
    f.line_start = true;
}

}  // namespace kmeans
