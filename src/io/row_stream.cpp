#include "io/row_stream.h"

namespace kmeans {

bool stream_open(RowStream& s, const std::string& path, int& why) {
    stream_close(s);
    if (!text_open(s.file, path, why)) return false;
    s.compression = compression_of(s.file.fd);
    // The header is decided on a reading of its own, which reads one row
    // past it.
    TextFile start;
    start.buffer_bytes = std::size_t{64} << 10;
    CompressedText probe;
    if (s.compression == Compression::none) {
        text_open_range(start, s.file.fd, 0, -1, -1);
        text_open_range(s.text, s.file.fd, 0, -1, -1);
    } else {
        text_open_compressed(start, probe, s.file.fd, s.compression);
        text_open_compressed(s.text, s.packed, s.file.fd, s.compression);
    }
    s.header = find_header(start);
    text_close(start);
    skip_header(s.text, s.header);
    return true;
}

void stream_close(RowStream& s) {
    text_close(s.text);
    text_close(s.file);
    inflate_close(s.packed.z);
    s.packed.z.error.clear();
    s.header = HeaderLine{};
}

}  // namespace kmeans
