#include "base/console.h"

#include <cstdarg>
#include <string>

#include "base/format.h"

namespace kmeans {

bool shown(const Params& p, Show when) {
    switch (when) {
        case Show::always: return true;
        case Show::quiet_lt3: return p.quiet < 3;
        case Show::quiet_lt2: return p.quiet < 2;
        case Show::quiet0: return p.quiet == 0;
        case Show::debug1: return p.debug >= 1;
        case Show::debug2: return p.debug >= 2;
        case Show::used2: return p.used_level >= 2;
    }
    return false;
}

// Formats and writes in one call, so that a message is one write. A message
// that fits the stack buffer needs no memory from the heap, so the messages
// of a failed memory request can still be written; longer ones (a bad row's
// line) are formatted into a string.
static void vemit(std::FILE* to, const char* fmt, va_list ap) {
    char fixed[1024];
    va_list copy;
    va_copy(copy, ap);
    std::size_t n = vformat_fixed(fixed, sizeof fixed, fmt, copy);
    va_end(copy);
    if (n + 1 < sizeof fixed) {
        std::fwrite(fixed, 1, n, to);
        return;
    }
    std::string text;
    vappend_format(text, fmt, ap);
    std::fwrite(text.data(), 1, text.size(), to);
}

void say(const Params& p, Show when, std::FILE* to, const char* fmt, ...) {
    if (!shown(p, when)) return;
    va_list ap;
    va_start(ap, fmt);
    vemit(to, fmt, ap);
    va_end(ap);
}

void emit(std::FILE* to, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vemit(to, fmt, ap);
    va_end(ap);
}

void spin(const Params& p, Spinner& s) {
    if (!shown(p, Show::quiet0)) return;
    char text[2] = {'\b', spinner_char(s)};
    std::fwrite(text, 1, 2, stderr);
    ++s.pos;
}

}  // namespace kmeans
