#include "base/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <stdexcept>
#include <string>
#include <fcntl.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/registry.h"

#include "base/format.h"

namespace kmeans {

void hold_standard_streams() {
    // The descriptors below fd are open by then, so open() gives fd itself.
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDONLY);
}

bool shown(const Levels& l, Show when) {
    switch (when) {
        case Show::always: return true;
        case Show::quiet_lt3: return l.quiet < 3;
        case Show::quiet_lt2: return l.quiet < 2;
        case Show::quiet0: return l.quiet == 0;
        case Show::debug1: return l.debug >= 1;
        case Show::debug2: return l.debug >= 2;
        case Show::used2: return l.used >= 2;
    }
    return false;
}

// The console belongs to the main thread outside any map: a map that writes
// to it is a fault of the program, which ends it (a map's exception reaches
// the caller of the map, and then the terminate handler).
static void require_console_owner() {
    if (!on_main_thread_outside_map())
        throw std::logic_error("the console was written inside a map or off the main thread");
}


void progress_flush() {
    require_console_owner();
    PendingProgress& pp = registry.progress;
    if (pp.len > 0) std::fwrite(pp.bytes, 1, pp.len, stderr);
    pp.len = 0;
    pp.written_ns = monotonic_ns();
}

void progress_write(const char* bytes, std::size_t n) {
    require_console_owner();
    PendingProgress& pp = registry.progress;
    if (pp.len + n > sizeof pp.bytes) progress_flush();
    if (n > sizeof pp.bytes) {
        std::fwrite(bytes, 1, n, stderr);
        return;
    }
    std::memcpy(pp.bytes + pp.len, bytes, n);
    pp.len += n;
    if (monotonic_ns() - pp.written_ns >= 100000000) progress_flush();
}

// Writes `n` bytes of `text` to `to`; a failed write to standard output
// ends the run.
static void write_text(std::FILE* to, const char* text, std::size_t n) {
    errno = 0;
    const std::size_t written = std::fwrite(text, 1, n, to);
    if (to == stdout && (written < n || std::ferror(stdout))) end_on_output_failure(errno);
}

// Formats and writes in one call, so that a message is one write, after the
// spinner output that came before it. A message that fits the stack buffer
// needs no memory from the heap, so the messages of a failed memory request
// can still be written; longer ones (a bad row's line) are formatted into a
// string.
static void vemit(std::FILE* to, const char* fmt, va_list ap) {
    char fixed[1024];
    va_list copy;
    va_copy(copy, ap);
    std::size_t n = vformat_fixed(fixed, sizeof fixed, fmt, copy);
    va_end(copy);
    if (n + 1 < sizeof fixed) {
        progress_flush();
        write_text(to, fixed, n);
        return;
    }
    std::string text;
    vappend_format(text, fmt, ap);
    progress_flush();
    write_text(to, text.data(), text.size());
}

void say(const Levels& l, Show when, std::FILE* to, const char* fmt, ...) {
    require_console_owner();
    if (!shown(l, when)) return;
    va_list ap;
    va_start(ap, fmt);
    vemit(to, fmt, ap);
    va_end(ap);
}

void emit(std::FILE* to, const char* fmt, ...) {
    require_console_owner();
    va_list ap;
    va_start(ap, fmt);
    vemit(to, fmt, ap);
    va_end(ap);
}

void spin(const Levels& l, Spinner& s) {
    require_console_owner();
    if (!shown(l, Show::quiet0)) return;
    char text[2] = {'\b', spinner_char(s)};
    progress_write(text, 2);
    ++s.pos;
}

}  // namespace kmeans
