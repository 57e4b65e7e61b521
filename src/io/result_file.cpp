#include "io/result_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/format.h"
#include "base/registry.h"

namespace kmeans {

static constexpr std::size_t block = 1 << 16;

// The permissions a newly created file gets under the process's umask.
static mode_t create_mode() {
    static const mode_t mode = [] {
        mode_t mask = umask(0);
        umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

static void forget_temp(const std::string& temp) {
    auto& paths = registry.temp_paths;
    paths.erase(std::remove(paths.begin(), paths.end(), temp), paths.end());
}

// A failure to write, flush or name `f`, with what the system said.
static Failure write_failure(const ResultFile& f, int err) {
    Failure fail;
    fail.what = Fault::write;
    fail.path = f.name;
    fail.err = err;
    return fail;
}

// The directory part of `name`, its last '/' included ("" when none).
static std::string dir_of(const std::string& name) {
    std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// The directory of `name` as a path that can be opened.
static std::string open_dir_of(const std::string& name) {
    std::string dir = dir_of(name);
    return dir.empty() ? std::string(".") : dir;
}

// A hidden name beside `name`: ".BASE.XXXXXX" with six letters and digits
// from the clock, the process and `attempt`, for names that must not exist yet.
static std::string hidden_name(const std::string& name, unsigned attempt) {
    static const char chars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t x = static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                      (static_cast<std::uint64_t>(getpid()) << 20) ^ (attempt * 0x9E3779B97F4A7C15ull);
    std::string out = dir_of(name) + "." + name.substr(dir_of(name).size()) + ".XXXXXX";
    for (std::size_t i = out.size() - 6; i < out.size(); ++i) {
        x = x * 6364136223846793005ull + 1442695040888963407ull;
        out[i] = chars[(x >> 33) % (sizeof chars - 1)];
    }
    return out;
}

Failure result_create(ResultFile& f, const std::string& name) {
    f.name = name;
    f.err = 0;
    f.temp.clear();
    f.swapped = f.backed_up = false;
    int fd = open(open_dir_of(name).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) {
        // No unnamed files here: a hidden name until the file is complete.
        std::string pattern = dir_of(name) + "." + name.substr(dir_of(name).size()) + ".XXXXXX";
        registry.temp_paths.reserve(registry.temp_paths.size() + 1);
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            Failure fail;
            fail.what = Fault::create;
            fail.path = name;
            fail.err = errno;
            return fail;
        }
        fchmod(fd, create_mode());
        f.temp = pattern;
        registry.temp_paths.push_back(f.temp);
    }
    f.fd = fd;
    f.buf.clear();
    f.buf.reserve(block * 2);
    return Failure{};
}

// Writes every pending byte to the descriptor. After a failed write the
// file takes nothing more: the failure is kept for result_commit.
static void flush(ResultFile& f) {
    const char* p = f.buf.data();
    std::size_t left = f.err != 0 ? 0 : f.buf.size();
    while (left > 0) {
        ssize_t n = write(f.fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            f.err = n < 0 ? errno : ENOSPC;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    f.buf.clear();
}

Failure result_failure(const ResultFile& f) { return f.err != 0 ? write_failure(f, f.err) : Failure{}; }

void result_write(ResultFile& f, const char* data, std::size_t n) {
    f.buf.append(data, n);
    if (f.buf.size() >= block) flush(f);
}

void result_int_line(ResultFile& f, int value) {
    char line[16];
    result_write(f, line, int_line(line, value));
}

void result_printf(ResultFile& f, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vappend_format(f.buf, fmt, ap);
    va_end(ap);
    if (f.buf.size() >= block) flush(f);
}

// Writes what is pending and flushes the file to disk; false (with f.err)
// when anything written so far did not reach it.
static bool sync_out(ResultFile& f) {
    if (f.fd < 0) return true;
    flush(f);
    if (f.err == 0 && fsync(f.fd) != 0 && errno != EINVAL) f.err = errno;
    return f.err == 0;
}

// Gives an unnamed file a hidden name beside its final name (through
// /proc/self/fd, or AT_EMPTY_PATH where /proc is missing) and registers it
// for removal at exit. Returns false when the directory refuses it.
static bool link_hidden(ResultFile& f) {
    char proc[40];
    std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", f.fd);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        // Registered before the link, so that nothing can fail between the two.
        f.temp = hidden_name(f.name, attempt);
        registry.temp_paths.push_back(f.temp);
        int rc = linkat(AT_FDCWD, proc, AT_FDCWD, f.temp.c_str(), AT_SYMLINK_FOLLOW);
        if (rc != 0 && errno == ENOENT) rc = linkat(f.fd, "", AT_FDCWD, f.temp.c_str(), AT_EMPTY_PATH);
        if (rc == 0) return true;
        const int err = errno;
        registry.temp_paths.pop_back();
        f.temp.clear();
        if (err != EEXIST) return false;
    }
    return false;
}

// After sync_out: names an unnamed file and closes it; false (with f.err)
// when either fails.
static bool name_and_close(ResultFile& f) {
    if (f.fd < 0) return true;
    if (f.temp.empty() && !link_hidden(f)) f.err = errno;
    int fd = f.fd;
    f.fd = -1;
    if (close(fd) != 0 && f.err == 0) f.err = errno;
    return f.err == 0;
}

// Moves the complete file from its hidden name onto its final name. An
// earlier file of that name is swapped to the hidden name (RENAME_EXCHANGE)
// or, where the file system cannot swap, kept under `backup`, so that
// take_back can restore it. Returns false, with nothing changed, when the
// name cannot be taken (a directory of that name, no permission, ...).
// Allocates nothing.
static bool place(ResultFile& f) {
    struct stat st;
    if (lstat(f.name.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return false;
        }
        if (renameat2(AT_FDCWD, f.temp.c_str(), AT_FDCWD, f.name.c_str(), RENAME_EXCHANGE) == 0) {
            f.swapped = true;
            return true;
        }
        if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return false;
        f.backed_up = link(f.name.c_str(), f.backup.c_str()) == 0;
    }
    if (rename(f.temp.c_str(), f.name.c_str()) == 0) return true;
    const int err = errno;
    if (f.backed_up) unlink(f.backup.c_str());
    f.backed_up = false;
    errno = err;
    return false;
}

// Undoes place: the earlier file (or no file) has the name again; the new
// file is left to the final clean-up. Allocates nothing.
static void take_back(ResultFile& f) {
    if (f.swapped) renameat2(AT_FDCWD, f.temp.c_str(), AT_FDCWD, f.name.c_str(), RENAME_EXCHANGE);
    else if (f.backed_up) rename(f.backup.c_str(), f.name.c_str());
    else rename(f.name.c_str(), f.temp.c_str());
    f.swapped = f.backed_up = false;
}

// After every file of a set is in place: the earlier files go. One that
// cannot be removed stays registered, so the final clean-up names it.
static void settle(ResultFile& f) {
    if (f.backed_up) unlink(f.backup.c_str());
    if (!f.swapped || unlink(f.temp.c_str()) == 0 || errno == ENOENT) forget_temp(f.temp);
    f.temp.clear();
    f.swapped = f.backed_up = false;
}

// Flushes the directory of `name` to disk, so that the new names last.
static void sync_dir(const std::string& name) {
    int fd = open(open_dir_of(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// Commits `n` files as a set: all on disk and named before any takes its
// final name; when one cannot, those placed before it are taken back.
static Failure commit(ResultFile* const* files, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i)
        if (!sync_out(*files[i])) return write_failure(*files[i], files[i]->err);
    for (std::size_t i = 0; i < n; ++i)
        if (!name_and_close(*files[i])) return write_failure(*files[i], files[i]->err);
    for (std::size_t i = 0; i < n; ++i)
        if (!files[i]->temp.empty()) files[i]->backup = hidden_name(files[i]->name, 100);
    // From here on nothing allocates until every name is taken or given back.
    for (std::size_t i = 0; i < n; ++i) {
        ResultFile& failed = *files[i];
        if (failed.temp.empty() || place(failed)) continue;
        const int err = errno;
        for (std::size_t j = i; j-- > 0;)
            if (!files[j]->temp.empty()) take_back(*files[j]);
        return write_failure(failed, err);
    }
    for (std::size_t i = 0; i < n; ++i)
        if (!files[i]->temp.empty()) settle(*files[i]);
    for (std::size_t i = 0; i < n; ++i) {
        bool seen = false;
        for (std::size_t j = 0; j < i; ++j) seen = seen || dir_of(files[j]->name) == dir_of(files[i]->name);
        if (!seen) sync_dir(files[i]->name);
    }
    return Failure{};
}

Failure result_commit(ResultFile& f) {
    ResultFile* const files[] = {&f};
    return commit(files, 1);
}

Failure result_commit_pair(ResultFile& a, ResultFile& b) {
    ResultFile* const files[] = {&a, &b};
    return commit(files, 2);
}

}  // namespace kmeans
