#include "io/spill.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace kmeans {

std::vector<std::string> spill_places(const Resources& r, const std::string& data_path) {
    if (!r.spill_dir.empty()) return {r.spill_dir};
    const std::size_t slash = data_path.rfind('/');
    const std::string beside = slash == std::string::npos ? "." : data_path.substr(0, slash == 0 ? 1 : slash);
    if (!r.tmp_dir.empty() && r.tmp_dir != beside) return {r.tmp_dir, beside};
    return {beside};
}

// An unnamed file for reading and writing in `dir`: O_TMPFILE, or where the
// file system has none, a hidden file removed at once. -1 with errno.
static int unnamed_file(const std::string& dir) {
    int fd = open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    std::string name = dir + "/.kmeans-spill-XXXXXX";
    fd = mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) unlink(name.c_str());
    return fd;
}

// Opens a spill file in the first of places[from..] that takes one.
static bool open_from(SpillFile& s, const std::vector<std::string>& places, std::size_t from) {
    for (std::size_t i = from; i < places.size(); ++i) {
        s.dir = places[i];
        s.place = i;
        s.fd = unnamed_file(places[i]);
        if (s.fd >= 0) return true;
        s.err = errno;
    }
    return false;
}

bool spill_open(SpillFile& s, const std::vector<std::string>& places) {
    spill_close(s);
    s.values = 0;
    s.err = 0;
    return open_from(s, places, 0);
}

// Writes `n` bytes at the end of `fd`. False with errno.
static bool write_all(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t got = write(fd, p, n);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = ENOSPC;
            return false;
        }
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// Moves the spill to the next of `places` that takes it, copying the values
// written so far. False, with the spill closed, when none does.
static bool move_on(SpillFile& s, const std::vector<std::string>& places) {
    const SpillFile full = s;  // still open: the values are read back from it
    s.fd = -1;
    std::vector<float> chunk(std::size_t{1} << 18);
    std::size_t next = full.place + 1;
    while (open_from(s, places, next)) {
        bool ok = true;
        for (std::int64_t at = 0; ok && at < full.values; at += static_cast<std::int64_t>(chunk.size())) {
            const std::size_t n =
                static_cast<std::size_t>(std::min<std::int64_t>(full.values - at, static_cast<std::int64_t>(chunk.size())));
            ok = spill_read(full, at, n, chunk.data()) &&
                 write_all(s.fd, reinterpret_cast<const char*>(chunk.data()), n * sizeof(float));
        }
        if (ok) {
            close(full.fd);
            return true;
        }
        s.err = errno;
        close(s.fd);
        s.fd = -1;
        next = s.place + 1;
    }
    close(full.fd);
    return false;
}

bool spill_append(SpillFile& s, const float* values, std::size_t n, const std::vector<std::string>& places) {
    if (s.fd < 0) return false;
    while (!write_all(s.fd, reinterpret_cast<const char*>(values), n * sizeof(float))) {
        s.err = errno;
        // What a full place took of these values is written again after
        // the values before them, in the next place.
        if ((s.err != ENOSPC && s.err != EDQUOT && s.err != EFBIG) || ftruncate(s.fd, s.values * 4) != 0 ||
            lseek(s.fd, 0, SEEK_END) < 0 || !move_on(s, places)) {
            spill_close(s);
            return false;
        }
    }
    s.values += static_cast<std::int64_t>(n);
    return true;
}

bool spill_read(const SpillFile& s, std::int64_t from, std::size_t n, float* out) {
    char* p = reinterpret_cast<char*>(out);
    std::size_t left = n * sizeof(float);
    off_t at = static_cast<off_t>(from) * static_cast<off_t>(sizeof(float));
    while (left > 0) {
        const ssize_t got = pread(s.fd, p, left, at);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = EIO;
            return false;
        }
        p += got;
        left -= static_cast<std::size_t>(got);
        at += got;
    }
    return true;
}

void spill_close(SpillFile& s) {
    if (s.fd >= 0) close(s.fd);
    s.fd = -1;
}

}  // namespace kmeans
