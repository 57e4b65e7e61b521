#include "io/result_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/console.h"
#include "base/registry.h"
#include "base/format.h"

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

[[noreturn]] static void write_failed(const ResultFile& f) {
    panic(5, "\nPANIC: Can't write file: %s\n\n", f.name.c_str());
}

bool is_result_name(const std::string& arg) {
    static const char* const exts[] = {".KMC", ".KTF", ".KMR"};
    for (std::size_t i = 0; i + 4 <= arg.size(); ++i) {
        for (const char* ext : exts) {
            bool same = true;
            for (int j = 0; j < 4 && same; ++j) {
                char c = arg[i + j];
                if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
                same = c == ext[j];
            }
            if (same) return true;
        }
    }
    return false;
}

bool skip_result_name(const Params& p, const std::string& arg) {
    if (!is_result_name(arg)) return false;
    say(p, Show::quiet_lt3, stderr, "INFO: Ignoring file: %s\n", arg.c_str());
    return true;
}

std::string result_name(const std::string& arg, const char* ext) {
    return arg.substr(0, arg.find('.')) + ext;
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

void result_create_or_panic(ResultFile& f, const std::string& name) {
    if (!result_create(f, name)) panic(5, "\nPANIC: Can't create file: %s\n\n", name.c_str());
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

}  // namespace kmeans
