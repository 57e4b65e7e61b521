// One data or centre file opened for reading in text mode, line by line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"

namespace kmeans {

// The longest line the reader takes, its line feed not counted. A longer line
// is refused as a bad row; only this much of it is ever held in memory, so a
// file without line feeds cannot exhaust it.
constexpr std::size_t max_line_bytes = std::size_t{16} << 20;

// Size of the read buffer of a TextFile: one read(2) fills it at most.
// Small enough that the text the kernel copies in is still in the core's
// own cache when the rows are parsed from it.
constexpr std::size_t text_buffer_bytes = std::size_t{128} << 10;

// A data file opened for reading in text mode, read through its own buffer
// (no stdio, no system call per line). The text-mode rules of the home
// platform apply to input: a carriage return is dropped and the character
// after it taken literally (so of two carriage returns the second stays),
// and a Ctrl-Z (code 26) reads as an end of file: at the start of a line it
// ends the file, inside a line it ends that line, and reading resumes after it.
// A UTF-8 byte-order mark (EF BB BF) at the very start of the file is an
// encoding mark, not text: every pass from the start passes over it.
struct TextFile {
    int fd = -1;
    bool owns_fd = true;    // text_close closes fd (not so for a range of another's file)
    std::int64_t read_at = 0;  // file offset of the next byte to read into buf
    std::int64_t stop = -1; // a range: the first line starting at or past this offset is not read
    std::int64_t limit = -1;  // the first offset never read (-1: none): the file ends there for this reader
    bool line_start = true; // the next byte starts a line of the file (it follows a line feed)
    bool stopped = false;   // the range ended at `stop` (eof is set too)
    std::vector<char> buf;  // read buffer, allocated once at open
    std::size_t pos = 0;    // next unread byte in buf
    std::size_t len = 0;    // bytes held in buf
    bool eof = false;       // the descriptor has reported its end
    std::size_t special = 0;  // first carriage return or Ctrl-Z at or after pos (len when none)
    std::size_t lines_end = 0;  // past the last line feed in buf (0: none)
    std::string line;       // the line last read (grows up to line_limit + 1, never shrinks)
    std::size_t line_limit = max_line_bytes;  // the most characters of a line kept (at most max_line_bytes)
    bool line_cut = false;  // the line was longer than line_limit: only its start is in `line`
    bool cut_bang = false;  // the part cut off held a '!'
    std::int64_t line_no = 0;   // 1-based line of the file where `line` starts
    std::int64_t newlines = 0;  // line feeds read since the start of the file
    // Size of `buf` that text_open allocates; below 3 it takes 3, since the
    // first read must hold a whole byte-order mark. Tests make it tiny, so
    // that every line and every carriage-return and Ctrl-Z rule meets a
    // buffer end.
    std::size_t buffer_bytes = text_buffer_bytes;
    // A text held in memory instead of a file (fd is then -1): `mem` holds
    // the bytes at offsets [mem_from, mem_from + mem_size) of the text, and
    // read_at counts offsets in the text. When they are read, more(f), when
    // set, puts the window that follows in their place (from offset read_at
    // on) and returns true, or returns false at the end of the text.
    // `more_with` is for more() to find what it reads from.
    const char* mem = nullptr;
    std::int64_t mem_from = 0;
    std::size_t mem_size = 0;
    bool (*more)(TextFile& f) = nullptr;
    void* more_with = nullptr;
};

// Opens `path` for reading. Returns false when it cannot be read, with
// `why` set to the errno of the failed call, EISDIR for a directory or
// not_regular_file for any other file that is not a regular file; the file
// is then left closed.
bool text_open(TextFile& f, const std::string& path, int& why);

// The same, for callers that need no reason.
inline bool text_open(TextFile& f, const std::string& path) {
    int why = 0;
    return text_open(f, path, why);
}

// Opens lines of the regular file open as `fd` (which stays open at
// text_close) for reading with `f`: those that start at or after offset
// `from` and before offset `stop` (-1: up to the end of the file), a line
// starting where a line feed ends the previous one. The last line is read
// whole even when it reaches past `stop`, and a line cut by a Ctrl-Z goes on
// in its second part. The line count starts at 0 at the first such line; a
// byte-order mark is passed over only at offset 0. So ranges that meet at
// line starts read, one after the other, exactly the lines of the whole
// file.
// Nothing at or past offset `limit` is read (-1: no limit): the file ends
// there for `f`, whatever it holds now.
void text_open_range(TextFile& f, int fd, std::int64_t from, std::int64_t stop, std::int64_t limit);

// Opens the text in memory at [mem, mem + size) for reading with `f`; it is
// the part of a longer text that starts at offset `from` (the line count
// starts at 0 there; a byte-order mark is passed over only at offset 0).
// `more` (with `more_with`), when not null, gives the windows that follow
// (see TextFile). Nothing is copied: the bytes must stay while f reads them.
// A text that starts with a byte-order mark must hold it whole in its first
// window.
void text_open_memory(TextFile& f, const char* mem, std::size_t size, std::int64_t from,
                      bool (*more)(TextFile&) = nullptr, void* more_with = nullptr);

// The offset in the file (or text) of the next byte that f reads: after a
// line read with its line feed, where the next line starts.
std::int64_t text_position(const TextFile& f);

// The offset in the file of the first line start at or after `at` (after the
// first line feed at or after at - 1), or -1 when there is none before
// `before`. `scratch` holds the bytes looked at.
std::int64_t next_line_start(int fd, std::int64_t at, std::int64_t before, std::vector<char>& scratch);

// Closes the file if open; safe to call twice.
void text_close(TextFile& f);

// Positions the file at its start for another pass.
void text_rewind(TextFile& f);

// Reads one line into f.line (its line feed included, when it has one),
// applying the text-mode rules above, and sets f.line_no. Of a line longer
// than f.line_limit only the first f.line_limit characters are kept (and
// its line feed); the rest is passed over and f.line_cut set. Returns false
// when the end of the file, or a Ctrl-Z, comes before any character (f.eof
// tells the two apart).
bool text_read_line(TextFile& f);

// The unread lines of `f` that its read buffer holds whole, for a reader
// that parses lines where they lie: returns the first byte of the next line
// (the next byte text_read_line would read), with `last` set past the last
// line feed in the buffer, so that every line that starts before `last`
// ends with a line feed before it. Returns nullptr when the buffer holds no
// such line, when the next line does not follow a line feed (it goes on
// after a Ctrl-Z) or when `f` stops before it. Reads nothing from the file.
const char* text_buffered_lines(const TextFile& f, const char*& last);

// Whether the line of the read buffer from `begin` (the start of a line, at
// or after the first that text_buffered_lines gave) to its line feed at
// `feed` is plain: it holds no Ctrl-Z and no carriage return but one just
// before the line feed, no more than f.line_limit characters, and `f` does
// not stop before it. text_read_line would read a plain line as its bytes
// before the line feed, less that carriage return, and the line feed.
bool text_plain_line(TextFile& f, const char* begin, const char* feed);

// Puts the plain line of the read buffer from `begin` to its line feed at
// `feed` into f.line, as text_read_line would have read it (its capacity
// bounded as there).
void text_keep_line(TextFile& f, const char* begin, const char* feed);

// Passes over `lines` lines of the read buffer, up to `next` (the byte after
// the line feed of the last), and counts them as text_read_line would have
// read them; f.line stays as it was.
void text_pass_lines(TextFile& f, const char* next, std::int64_t lines);

}  // namespace kmeans
