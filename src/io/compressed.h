// Compressed data files: a file compressed with gzip (zlib) or zstd
// (libzstd) is read as its text. The kind is told by the first bytes of the
// file, never by its name. The text comes out in one pass from the start,
// piece by piece, to whatever takes it: the first pass (first_pass.cpp,
// which keeps the rows in memory) or a TextFile that reads it line by line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/text_file.h"

namespace kmeans {

enum class Compression : unsigned char {
    none,  // a plain text file
    gzip,  // starts with 1F 8B: one gzip member or several one after the other
    zstd,  // starts with 28 B5 2F FD: one zstd frame or several
};

// The compression of the file open as `fd`, from its first bytes.
Compression compression_of(int fd);

struct InflateStream;  // the zlib or zstd stream (compressed.cpp)

// One pass through the text of a compressed file.
struct Inflater {
    Compression kind = Compression::none;
    int fd = -1;                     // not owned
    std::int64_t in_at = 0;          // offset in the file of the next byte to read
    bool in_end = false;             // the file has no more bytes
    std::vector<unsigned char> in;   // bytes read; [in_pos, in_len) not yet decompressed
    std::size_t in_pos = 0;
    std::size_t in_len = 0;
    std::int64_t out_at = 0;         // bytes of text given so far
    bool ended = false;              // the text is complete: the compressed data end with the file
    std::string error;               // why the text stops short (a reason line, "\nThe compressed ..."), "" while it does not
    InflateStream* stream = nullptr;

    Inflater() = default;
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    ~Inflater();  // inflate_close
};

// Starts a pass through the text of the file open as `fd`, compressed as
// `kind`, from its start. False (with z.error set) when the decompressor
// cannot be had.
bool inflate_open(Inflater& z, int fd, Compression kind);

// Writes the next bytes of text to `to`, `n` of them unless the text ends
// first. Returns the bytes written: fewer than n only at the end of the text
// (z.ended) or where the compressed data fail (z.error set; a stream cut
// short, damaged, followed by other bytes, or a file that cannot be read).
std::size_t inflate_read(Inflater& z, char* to, std::size_t n);

// Releases the decompressor; safe to call twice.
void inflate_close(Inflater& z);

// The text of a compressed file, read through a TextFile: the windows of text
// that the TextFile reads from.
struct CompressedText {
    Inflater z;
    std::vector<char> window;
};

// Opens the text of the file open as `fd` (compressed as `kind`) for
// reading with `f` from its start, through `c`, which must stay while f
// reads. At the end of what the TextFile reads, c.z.ended or c.z.error
// tells whether the text was complete.
void text_open_compressed(TextFile& f, CompressedText& c, int fd, Compression kind);

}  // namespace kmeans
