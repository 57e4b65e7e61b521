// The program's printf-like formatter (see format.h for what it accepts and
// how its output differs from the C library's).
//
// The format string is parsed here. Every conversion is written left to
// right to an append-only sink, in pieces: the blanks or zeros its width
// asks for and the text of its value. A number's text comes from snprintf
// into a small buffer on the stack (its sign flags, '#' and precision, no
// width); of a floating one, the exponent is written with at least three
// digits.

#include "base/format.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sys/types.h>

namespace kmeans {

namespace {

enum class Length { none, h, l, ll, z, L };

// One parsed conversion: %[flags][width][.precision][length]conversion.
struct Conversion {
    bool left = false;   // '-': pad on the right
    bool plus = false;   // '+': always write a sign
    bool space = false;  // ' ': a blank where a '+' would go
    bool zero = false;   // '0': pad numbers with leading zeros
    bool alt = false;    // '#': alternate form
    int width = 0;       // minimum field width, 0 when none
    int precision = -1;  // -1 when none was given
    Length length = Length::none;
    char letter = 0;     // the conversion letter
};

// The most digits a number's precision asks for: its text then always fits
// the buffer below (the widest, DBL_MAX with %f, has 309 digits before the
// point).
constexpr int max_number_precision = 100;
constexpr std::size_t number_room = 448;

// A va_list held in a struct so that it can be passed by reference on every
// platform (va_list is an array type on some and a pointer on others).
struct Args {
    va_list ap;
};

// Where the text goes: appended to a string, or to a buffer of fixed size
// that takes what fits and nothing after the first thing that did not.
struct Sink {
    std::string* text = nullptr;  // the string, or null for the buffer
    char* buf = nullptr;          // the buffer: `cap` bytes, its text always ends with '\0'
    std::size_t cap = 0;
    std::size_t len = 0;
    bool cut = false;
};

void put(Sink& s, const char* p, std::size_t n) {
    if (s.text != nullptr) {
        s.text->append(p, n);
        return;
    }
    if (s.cut) return;
    const std::size_t room = s.cap - 1 - s.len;
    if (n > room) {
        n = room;
        s.cut = true;
    }
    std::memcpy(s.buf + s.len, p, n);
    s.len += n;
    s.buf[s.len] = '\0';
}

void put_repeated(Sink& s, char c, std::size_t n) {
    if (s.text != nullptr) {
        s.text->append(n, c);
        return;
    }
    char run[32];
    std::memset(run, c, sizeof run);
    while (n > 0 && !s.cut) {
        const std::size_t k = std::min(n, sizeof run);
        put(s, run, k);
        n -= k;
    }
}

// The text of one value: `n` bytes at `p`, of which the first `lead` (a
// sign, or the "0x" of %#x) come before any zero padding, and `widen` zeros
// belong at `widen_at` (the exponent's digits).
struct Value {
    const char* p;
    std::size_t n;
    std::size_t lead = 0;
    std::size_t widen_at = 0;
    std::size_t widen = 0;
};

// Writes `v` as the field of `c`: blanks on the right for '-', zeros after
// the lead when `zeros`, blanks on the left otherwise.
void put_field(Sink& s, const Conversion& c, const Value& v, bool zeros) {
    const std::size_t size = v.n + v.widen;
    const std::size_t width = static_cast<std::size_t>(c.width);
    const std::size_t fill = size < width ? width - size : 0;
    if (!c.left && !zeros) put_repeated(s, ' ', fill);
    put(s, v.p, v.lead);
    if (!c.left && zeros) put_repeated(s, '0', fill);
    if (v.widen > 0) {
        put(s, v.p + v.lead, v.widen_at - v.lead);
        put_repeated(s, '0', v.widen);
        put(s, v.p + v.widen_at, v.n - v.widen_at);
    } else {
        put(s, v.p + v.lead, v.n - v.lead);
    }
    if (c.left) put_repeated(s, ' ', fill);
}

// Reads a decimal number at `p` and advances `p` past it. Values too large
// for an int are clamped; no format of this program comes near that.
int read_number(const char*& p) {
    long n = 0;
    while (*p >= '0' && *p <= '9') {
        if (n < 100000000) n = n * 10 + (*p - '0');
        ++p;
    }
    return static_cast<int>(n);
}

// Parses the conversion after a '%' (p points just past it), taking '*'
// widths and precisions from `args`. Returns the position after the
// conversion letter, or nullptr when the format ends first.
const char* parse_conversion(const char* p, Args& args, Conversion& c) {
    for (;; ++p) {
        if (*p == '-') c.left = true;
        else if (*p == '+') c.plus = true;
        else if (*p == ' ') c.space = true;
        else if (*p == '0') c.zero = true;
        else if (*p == '#') c.alt = true;
        else break;
    }
    if (*p == '*') {
        // A negative '*' width means left justification, as in C.
        int w = va_arg(args.ap, int);
        if (w < 0) {
            c.left = true;
            w = w == INT_MIN ? INT_MAX : -w;
        }
        c.width = w;
        ++p;
    } else {
        c.width = read_number(p);
    }
    if (*p == '.') {
        ++p;
        if (*p == '*') {
            // A negative '*' precision counts as none given.
            const int prec = va_arg(args.ap, int);
            c.precision = prec < 0 ? -1 : prec;
            ++p;
        } else {
            c.precision = read_number(p);
        }
    }
    if (p[0] == 'l' && p[1] == 'l') {
        c.length = Length::ll;
        p += 2;
    } else if (*p == 'l') {
        c.length = Length::l;
        ++p;
    } else if (*p == 'h') {
        c.length = Length::h;
        ++p;
    } else if (*p == 'z') {
        c.length = Length::z;
        ++p;
    } else if (*p == 'L') {
        c.length = Length::L;
        ++p;
    }
    if (*p == '\0') return nullptr;
    c.letter = *p++;
    return p;
}

// Writes the C conversion for the bare text of a number into `buf` (at
// least 16 bytes): '%', the flags '+' ' ' '#', the precision, `length` and
// the letter.
void c_conversion(const Conversion& c, const char* length, char* buf) {
    char* p = buf;
    *p++ = '%';
    if (c.plus) *p++ = '+';
    if (c.space) *p++ = ' ';
    if (c.alt) *p++ = '#';
    if (c.precision >= 0) p += std::snprintf(p, 6, ".%d", std::min(c.precision, max_number_precision));
    while (*length != '\0') *p++ = *length++;
    *p++ = c.letter;
    *p = '\0';
}

// The length of what snprintf wrote into a buffer of `room` bytes.
std::size_t written(int n, std::size_t room) {
    return n <= 0 ? 0 : std::min(static_cast<std::size_t>(n), room - 1);
}

// An integer conversion (%d %i %u %x %X %o), its argument of the type its
// length names.
void put_integer(Sink& s, const Conversion& c, Args& args) {
    char conv[16];
    c_conversion(c, "ll", conv);
    char text[number_room];
    int n = 0;
    if (c.letter == 'd' || c.letter == 'i') {
        long long v = 0;
        switch (c.length) {
            case Length::h: v = static_cast<short>(va_arg(args.ap, int)); break;
            case Length::l: v = va_arg(args.ap, long); break;
            case Length::ll: v = va_arg(args.ap, long long); break;
            case Length::z: v = va_arg(args.ap, ssize_t); break;
            default: v = va_arg(args.ap, int); break;
        }
        n = std::snprintf(text, sizeof text, conv, v);
    } else {
        unsigned long long v = 0;
        switch (c.length) {
            case Length::h: v = static_cast<unsigned short>(va_arg(args.ap, unsigned)); break;
            case Length::l: v = va_arg(args.ap, unsigned long); break;
            case Length::ll: v = va_arg(args.ap, unsigned long long); break;
            case Length::z: v = va_arg(args.ap, size_t); break;
            default: v = va_arg(args.ap, unsigned); break;
        }
        n = std::snprintf(text, sizeof text, conv, v);
    }
    Value v{text, written(n, sizeof text)};
    if (v.n > 0 && std::strchr("+- ", text[0]) != nullptr) v.lead = 1;
    else if (v.n > 1 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) v.lead = 2;
    // As in C, a precision turns the '0' flag off.
    put_field(s, c, v, c.zero && c.precision < 0);
}

// A %s or %c conversion. A null string reads "(null)" on every platform; the
// '0' flag, meaningless for text, and any length (no wide characters here)
// are ignored.
void put_text(Sink& s, const Conversion& c, Args& args) {
    if (c.letter == 'c') {
        const char ch = static_cast<char>(va_arg(args.ap, int));
        put_field(s, c, Value{&ch, 1}, false);
        return;
    }
    const char* str = va_arg(args.ap, const char*);
    if (str == nullptr) str = "(null)";
    const std::size_t n =
        c.precision >= 0 ? strnlen(str, static_cast<std::size_t>(c.precision)) : std::strlen(str);
    put_field(s, c, Value{str, n}, false);
}

// A floating conversion (%f %F %e %E %g %G): the C library's digits with an
// exponent of at least three digits, or NAN or INF with the sign a finite
// value would get (none for NAN), padded to the width.
void put_floating(Sink& s, const Conversion& c, Args& args) {
    const double value =
        c.length == Length::L ? static_cast<double>(va_arg(args.ap, long double)) : va_arg(args.ap, double);
    if (!std::isfinite(value)) {
        const char* text = std::isnan(value)     ? "NAN"
                           : std::signbit(value) ? "-INF"
                           : c.plus              ? "+INF"
                           : c.space             ? " INF"
                                                 : "INF";
        put_field(s, c, Value{text, std::strlen(text)}, false);
        return;
    }
    char conv[16];
    c_conversion(c, "", conv);
    char text[number_room];
    Value v{text, written(std::snprintf(text, sizeof text, conv, value), sizeof text)};
    if (v.n > 0 && std::strchr("+- ", text[0]) != nullptr) v.lead = 1;
    const char mark = c.letter == 'e' || c.letter == 'g' ? 'e' : c.letter == 'E' || c.letter == 'G' ? 'E' : 0;
    const char* e = mark != 0 ? static_cast<const char*>(std::memchr(text, mark, v.n)) : nullptr;
    const std::size_t at = e != nullptr ? static_cast<std::size_t>(e - text) + 2 : 0;  // after the 'e' and the sign
    if (e != nullptr && at <= v.n && v.n - at < 3) {
        v.widen_at = at;
        v.widen = 3 - (v.n - at);
    }
    put_field(s, c, v, c.zero);
}

// Writes the conversion `c`, taking its value from `args`. Returns false
// for a conversion letter this formatter does not know.
bool put_conversion(Sink& s, const Conversion& c, Args& args) {
    switch (c.letter) {
        case '%': put(s, "%", 1); return true;
        case 'd': case 'i': case 'u': case 'x': case 'X': case 'o': put_integer(s, c, args); return true;
        case 's': case 'c': put_text(s, c, args); return true;
        case 'f': case 'F': case 'e': case 'E': case 'g': case 'G': put_floating(s, c, args); return true;
        default: return false;
    }
}

void format_into(Sink& s, const char* fmt, va_list ap) {
    Args args;
    va_copy(args.ap, ap);
    const char* p = fmt;
    while (*p != '\0') {
        const char* percent = std::strchr(p, '%');
        if (percent == nullptr) {
            put(s, p, std::strlen(p));
            break;
        }
        put(s, p, static_cast<std::size_t>(percent - p));
        Conversion c;
        const char* next = parse_conversion(percent + 1, args, c);
        if (next == nullptr) {
            // A '%' cut off by the end of the format: written as it stands.
            put(s, percent, std::strlen(percent));
            break;
        }
        // An unknown conversion is written as it stands.
        if (!put_conversion(s, c, args)) put(s, percent, static_cast<std::size_t>(next - percent));
        p = next;
    }
    va_end(args.ap);
}

}  // namespace

void vappend_format(std::string& out, const char* fmt, va_list ap) {
    Sink s;
    s.text = &out;
    format_into(s, fmt, ap);
}

std::size_t vformat_fixed(char* buf, std::size_t size, const char* fmt, va_list ap) {
    Sink s;
    s.buf = buf;
    s.cap = size;
    buf[0] = '\0';
    format_into(s, fmt, ap);
    return s.len;
}

void append_format(std::string& out, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vappend_format(out, fmt, ap);
    va_end(ap);
}

std::string format(const char* fmt, ...) {
    std::string out;
    va_list ap;
    va_start(ap, fmt);
    vappend_format(out, fmt, ap);
    va_end(ap);
    return out;
}

std::size_t int_line(char* buf, int value) {
    // Work on the magnitude as unsigned so that INT_MIN needs no special case.
    unsigned magnitude = value < 0 ? 0u - static_cast<unsigned>(value)
                                   : static_cast<unsigned>(value);
    char digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    std::size_t len = 0;
    if (value < 0) buf[len++] = '-';
    while (count > 0) buf[len++] = digits[--count];
    buf[len++] = '\n';
    return len;
}

}  // namespace kmeans
