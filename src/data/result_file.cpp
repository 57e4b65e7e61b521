#include "data/result_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli/cleanup.h"
#include "cli/format.h"

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

[[noreturn]] static void write_failed(const ResultFile& f) {
    panic(5, "\nPANIC: Can't write file: %s\n\n", f.name.c_str());
}

bool result_create(ResultFile& f, const std::string& name) {
    f.name = name;
    std::size_t slash = name.rfind('/');
    std::string dir = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    std::string pattern = dir + "." + base + ".XXXXXX";
    int fd = mkstemp(pattern.data());
    if (fd < 0) return false;
    fchmod(fd, create_mode());
    f.fd = fd;
    f.temp = pattern;
    f.buf.clear();
    f.buf.reserve(block * 2);
    registry.temp_paths.push_back(f.temp);
    return true;
}

// Writes every pending byte to the descriptor.
static void flush(ResultFile& f) {
    const char* p = f.buf.data();
    std::size_t left = f.buf.size();
    while (left > 0) {
        ssize_t n = write(f.fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) write_failed(f);
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    f.buf.clear();
}

void result_write(ResultFile& f, const char* data, std::size_t n) {
    f.buf.append(data, n);
    if (f.buf.size() >= block) flush(f);
}

void result_printf(ResultFile& f, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vappend_format(f.buf, fmt, ap);
    va_end(ap);
    if (f.buf.size() >= block) flush(f);
}

void result_close(ResultFile& f) {
    if (f.fd < 0) return;
    flush(f);
    int fd = f.fd;
    f.fd = -1;
    if (close(fd) != 0) write_failed(f);
}

void result_commit(ResultFile& f) {
    result_close(f);
    if (f.temp.empty()) return;
    if (rename(f.temp.c_str(), f.name.c_str()) != 0) write_failed(f);
    forget_temp(f.temp);
    f.temp.clear();
}
