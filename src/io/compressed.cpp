// Decompression of gzip (zlib) and zstd (libzstd) data files into their
// text, through a read buffer of the compressed bytes (one pread per refill).
#include "io/compressed.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include "base/format.h"

namespace kmeans {

// The stream of one kind; the other member stays unused.
struct InflateStream {
    z_stream zlib{};
    bool zlib_open = false;
    ZSTD_DStream* zstd = nullptr;
    std::size_t zstd_last = 1;  // what the last ZSTD_decompressStream that did anything returned: 0 when a frame ended
};

namespace {

constexpr std::size_t in_bytes = std::size_t{256} << 10;

const char* const cut_short = "\nThe compressed data are cut short.";

// Sets the reason the text stops short; the first one stays.
void fail(Inflater& z, std::string reason) {
    if (z.error.empty()) z.error = std::move(reason);
}

// Makes at least `k` bytes (k <= in_bytes) available in [in_pos, in_len),
// reading more of the file. False when the file ends first (or cannot be
// read: z.error then set); what there is stays available.
bool have(Inflater& z, std::size_t k) {
    while (z.in_len - z.in_pos < k && !z.in_end) {
        if (z.in_pos > 0) {
            std::memmove(z.in.data(), z.in.data() + z.in_pos, z.in_len - z.in_pos);
            z.in_len -= z.in_pos;
            z.in_pos = 0;
        }
        const ssize_t got = ::pread(z.fd, z.in.data() + z.in_len, z.in.size() - z.in_len, z.in_at);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            fail(z, format("\nThe file cannot be read: %s.", std::strerror(errno)));
            z.in_end = true;
        } else if (got == 0) {
            z.in_end = true;
        } else {
            z.in_at += got;
            z.in_len += static_cast<std::size_t>(got);
        }
    }
    return z.in_len - z.in_pos >= k;
}

bool gzip_magic(const unsigned char* b) { return b[0] == 0x1f && b[1] == 0x8b; }

std::size_t read_gzip(Inflater& z, char* to, std::size_t n) {
    z_stream& s = z.stream->zlib;
    std::size_t made = 0;
    while (made < n) {
        have(z, 1);
        s.next_in = z.in.data() + z.in_pos;
        s.avail_in = static_cast<uInt>(z.in_len - z.in_pos);
        s.next_out = reinterpret_cast<Bytef*>(to + made);
        s.avail_out = static_cast<uInt>(std::min<std::size_t>(n - made, 1u << 30));
        const uInt out_before = s.avail_out;
        const int r = inflate(&s, Z_NO_FLUSH);
        z.in_pos = static_cast<std::size_t>(s.next_in - z.in.data());
        made += out_before - s.avail_out;
        if (r == Z_STREAM_END) {
            // One member ends: the file ends too, or another member follows.
            if (!have(z, 1)) {
                if (z.error.empty()) z.ended = true;
                break;
            }
            if (!have(z, 2) || !gzip_magic(z.in.data() + z.in_pos)) {
                fail(z, "\nThe compressed data are followed by bytes that are not compressed data.");
                break;
            }
            inflateReset(&s);
        } else if (r == Z_BUF_ERROR || (r == Z_OK && out_before == s.avail_out && s.avail_in == 0)) {
            // No progress: the compressed data are used up before their end.
            if (z.in_pos == z.in_len && z.in_end) {
                fail(z, cut_short);
                break;
            }
        } else if (r != Z_OK) {
            fail(z, format("\nThe compressed data are damaged (zlib: %s).", s.msg ? s.msg : zError(r)));
            break;
        }
    }
    return made;
}

std::size_t read_zstd(Inflater& z, char* to, std::size_t n) {
    InflateStream& st = *z.stream;
    std::size_t made = 0;
    while (made < n) {
        have(z, 1);
        ZSTD_inBuffer in{z.in.data(), z.in_len, z.in_pos};
        ZSTD_outBuffer out{to, n, made};
        const std::size_t r = ZSTD_decompressStream(st.zstd, &out, &in);
        const bool progress = out.pos != made || in.pos != z.in_pos;
        z.in_pos = in.pos;
        made = out.pos;
        if (ZSTD_isError(r)) {
            fail(z, format("\nThe compressed data are damaged (zstd: %s).", ZSTD_getErrorName(r)));
            break;
        }
        // A call without progress says nothing of the frames: after the
        // last one it asks for the next frame's header.
        if (progress) st.zstd_last = r;
        if (z.in_pos == z.in_len && z.in_end && !progress && made < n) {
            // Every byte is in: the text is complete when the last frame was.
            if (st.zstd_last == 0 && z.error.empty()) z.ended = true;
            else fail(z, cut_short);
            break;
        }
    }
    return made;
}

}  // namespace

Compression compression_of(int fd) {
    unsigned char b[4] = {0, 0, 0, 0};
    ssize_t got;
    do got = ::pread(fd, b, sizeof b, 0);
    while (got < 0 && errno == EINTR);
    if (got >= 2 && gzip_magic(b)) return Compression::gzip;
    if (got == 4 && b[0] == 0x28 && b[1] == 0xb5 && b[2] == 0x2f && b[3] == 0xfd) return Compression::zstd;
    return Compression::none;
}

bool inflate_open(Inflater& z, int fd, Compression kind) {
    inflate_close(z);
    z.kind = kind;
    z.fd = fd;
    z.in_at = 0;
    z.in_end = false;
    z.in.assign(in_bytes, 0);
    z.in_pos = z.in_len = 0;
    z.out_at = 0;
    z.ended = false;
    z.error.clear();
    z.stream = new (std::nothrow) InflateStream;
    if (z.stream == nullptr) {
        fail(z, "\nThe compressed data cannot be read: no memory for the decompressor.");
        return false;
    }
    if (kind == Compression::gzip) {
        // 15 + 16: a gzip wrapper (not raw deflate, nor a zlib wrapper).
        const int r = inflateInit2(&z.stream->zlib, 15 + 16);
        z.stream->zlib_open = r == Z_OK;
        if (r != Z_OK) fail(z, format("\nThe compressed data cannot be read (zlib: %s).", zError(r)));
    } else {
        z.stream->zstd = ZSTD_createDStream();
        if (z.stream->zstd == nullptr) fail(z, "\nThe compressed data cannot be read: no memory for the decompressor.");
        else ZSTD_initDStream(z.stream->zstd);
    }
    return z.error.empty();
}

std::size_t inflate_read(Inflater& z, char* to, std::size_t n) {
    if (n == 0 || z.ended || !z.error.empty() || z.stream == nullptr) return 0;
    const std::size_t made = z.kind == Compression::gzip ? read_gzip(z, to, n) : read_zstd(z, to, n);
    z.out_at += static_cast<std::int64_t>(made);
    return made;
}

void inflate_close(Inflater& z) {
    if (z.stream != nullptr) {
        if (z.stream->zlib_open) inflateEnd(&z.stream->zlib);
        if (z.stream->zstd != nullptr) ZSTD_freeDStream(z.stream->zstd);
        delete z.stream;
        z.stream = nullptr;
    }
}

Inflater::~Inflater() { inflate_close(*this); }

// The next window of a CompressedText's TextFile: the text that follows.
static bool next_window(TextFile& f) {
    CompressedText& c = *static_cast<CompressedText*>(f.more_with);
    if (c.window.empty()) c.window.resize(std::size_t{64} << 10);
    const std::size_t got = inflate_read(c.z, c.window.data(), c.window.size());
    if (got == 0) return false;
    f.mem = c.window.data();
    f.mem_from = c.z.out_at - static_cast<std::int64_t>(got);
    f.mem_size = got;
    return true;
}

void text_open_compressed(TextFile& f, CompressedText& c, int fd, Compression kind) {
    inflate_open(c.z, fd, kind);
    text_open_memory(f, c.window.data(), 0, 0, next_window, &c);
}

}  // namespace kmeans
