// The program's printf-like formatter (see format.h for what it accepts and
// how its output differs from the C library's).
//
// The format string is parsed here. A single integer, string or character
// conversion is handed to snprintf as it stands; a floating conversion gets
// only its digits from snprintf (sign flags, '#' and precision, no width),
// then its exponent is widened to three digits and the width is applied.

#include "base/format.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/types.h>

namespace kmeans {

namespace {

// One parsed conversion: %[flags][width][.precision][length]conversion.
struct Conversion {
    bool left = false;   // '-': pad on the right
    bool plus = false;   // '+': always write a sign
    bool space = false;  // ' ': a blank where a '+' would go
    bool zero = false;   // '0': pad numbers with leading zeros
    bool alt = false;    // '#': alternate form
    int width = 0;       // minimum field width, 0 when none
    int precision = -1;  // -1 when none was given
    char length[3] = {}; // "", "hh", "h", "l", "ll", "z", "j", "t" or "L"
    char letter = 0;     // the conversion letter
};

// A va_list held in a struct so that it can be passed by reference on every
// platform (va_list is an array type on some and a pointer on others).
struct Args {
    va_list ap;
};

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
// conversion letter, or nullptr when the text is not a conversion.
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
            int prec = va_arg(args.ap, int);
            c.precision = prec < 0 ? -1 : prec;
            ++p;
        } else {
            c.precision = read_number(p);
        }
    }
    int n = 0;
    if ((p[0] == 'h' && p[1] == 'h') || (p[0] == 'l' && p[1] == 'l')) {
        c.length[n++] = *p++;
        c.length[n++] = *p++;
    } else if (std::strchr("hlzjtL", *p) != nullptr && *p != '\0') {
        c.length[n++] = *p++;
    }
    if (*p == '\0') return nullptr;
    c.letter = *p++;
    return p;
}

// Writes the C conversion for `c` into `buf` (at least 40 bytes). With
// `padded` false the width, '-' and '0' are left out, so the C library
// produces only the bare text of the value.
void c_conversion(const Conversion& c, bool padded, char* buf) {
    char* p = buf;
    *p++ = '%';
    if (padded && c.left) *p++ = '-';
    if (c.plus) *p++ = '+';
    if (c.space) *p++ = ' ';
    if (padded && c.zero) *p++ = '0';
    if (c.alt) *p++ = '#';
    if (padded && c.width > 0) p += std::snprintf(p, 12, "%d", c.width);
    if (c.precision >= 0) p += std::snprintf(p, 13, ".%d", c.precision);
    for (const char* l = c.length; *l != '\0'; ++l) *p++ = *l;
    *p++ = c.letter;
    *p = '\0';
}

// Text of a fixed size that takes what fits: where the formatter must not
// allocate (the fatal-error path, which may run because memory ran out). It
// offers the few std::string operations the formatter uses, so that one
// formatter serves both; `buf` always ends with '\0'. Once something did not
// fit, the text is cut there and stays as it is (a later exponent widening
// or padding would no longer see the whole field).
struct FixedText {
    static constexpr std::size_t npos = std::string::npos;
    char* buf;
    std::size_t cap;  // bytes in buf, the terminator included (at least 1)
    std::size_t len = 0;
    bool cut = false;

    FixedText(char* b, std::size_t c) : buf(b), cap(c) { buf[0] = '\0'; }
    std::size_t size() const { return len; }
    char& operator[](std::size_t i) { return buf[i]; }
    // Room left before the terminator.
    std::size_t room() const { return cap - 1 - len; }
    // Makes room for `n` more bytes at `pos`; returns false (and cuts the
    // text) when they do not fit.
    bool make_room(std::size_t pos, std::size_t n) {
        if (cut) return false;
        if (n > room()) {
            cut = true;
            return false;
        }
        std::memmove(buf + pos + n, buf + pos, len - pos + 1);
        len += n;
        return true;
    }
    void append(const char* p, std::size_t n) {
        if (cut) return;
        if (n > room()) {
            append(p, room());
            cut = true;
            return;
        }
        std::memcpy(buf + len, p, n);
        len += n;
        buf[len] = '\0';
    }
    void append(std::size_t n, char c) {
        std::size_t at = len;
        if (make_room(at, n)) std::memset(buf + at, c, n);
    }
    FixedText& operator+=(const char* s) {
        append(s, std::strlen(s));
        return *this;
    }
    FixedText& operator+=(char c) {
        append(&c, 1);
        return *this;
    }
    void insert(std::size_t pos, std::size_t n, char c) {
        if (make_room(pos, n)) std::memset(buf + pos, c, n);
    }
    std::size_t find_first_of(const char* set, std::size_t from) const {
        for (std::size_t i = from; i < len; ++i)
            if (std::strchr(set, buf[i]) != nullptr) return i;
        return npos;
    }
};

// Appends what snprintf makes of `conversion` and `value` to `out`.
template <class T>
void append_c(std::string& out, const char* conversion, T value) {
    int n = std::snprintf(nullptr, 0, conversion, value);
    if (n <= 0) return;
    std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(n) + 1);
    std::snprintf(&out[start], static_cast<std::size_t>(n) + 1, conversion, value);
    out.resize(start + static_cast<std::size_t>(n));
}

// The same into fixed text: snprintf writes straight into the room left.
template <class T>
void append_c(FixedText& out, const char* conversion, T value) {
    if (out.cut) return;
    int n = std::snprintf(out.buf + out.len, out.room() + 1, conversion, value);
    if (n <= 0) return;
    if (static_cast<std::size_t>(n) > out.room()) out.cut = true;
    out.len += std::min(static_cast<std::size_t>(n), out.room());
    out.buf[out.len] = '\0';
}

// Appends a signed integer conversion (%d %i), reading the argument type
// its length modifier names.
template <class Text>
void append_signed(Text& out, const Conversion& c, Args& args) {
    char conv[40];
    c_conversion(c, true, conv);
    const char* l = c.length;
    if (std::strcmp(l, "l") == 0) append_c(out, conv, va_arg(args.ap, long));
    else if (std::strcmp(l, "ll") == 0) append_c(out, conv, va_arg(args.ap, long long));
    else if (std::strcmp(l, "z") == 0) append_c(out, conv, va_arg(args.ap, ssize_t));
    else if (std::strcmp(l, "j") == 0) append_c(out, conv, va_arg(args.ap, intmax_t));
    else if (std::strcmp(l, "t") == 0) append_c(out, conv, va_arg(args.ap, ptrdiff_t));
    else append_c(out, conv, va_arg(args.ap, int));  // none, h, hh: promoted
}

// Appends an unsigned integer conversion (%u %x %X %o), reading the argument
// type its length modifier names.
template <class Text>
void append_unsigned(Text& out, const Conversion& c, Args& args) {
    char conv[40];
    c_conversion(c, true, conv);
    const char* l = c.length;
    if (std::strcmp(l, "l") == 0) append_c(out, conv, va_arg(args.ap, unsigned long));
    else if (std::strcmp(l, "ll") == 0) append_c(out, conv, va_arg(args.ap, unsigned long long));
    else if (std::strcmp(l, "z") == 0) append_c(out, conv, va_arg(args.ap, size_t));
    else if (std::strcmp(l, "j") == 0) append_c(out, conv, va_arg(args.ap, uintmax_t));
    else if (std::strcmp(l, "t") == 0) append_c(out, conv, va_arg(args.ap, ptrdiff_t));
    else append_c(out, conv, va_arg(args.ap, unsigned));  // none, h, hh: promoted
}

// Appends a %s or %c conversion. A null string reads "(null)" on every
// platform; the '0' flag, meaningless for text, is dropped.
template <class Text>
void append_text(Text& out, Conversion c, Args& args) {
    c.zero = false;
    c.length[0] = '\0';  // no wide characters in this program
    char conv[40];
    c_conversion(c, true, conv);
    if (c.letter == 'c') {
        append_c(out, conv, va_arg(args.ap, int));
    } else {
        const char* s = va_arg(args.ap, const char*);
        append_c(out, conv, s != nullptr ? s : "(null)");
    }
}

// Makes the exponent of the number text from `start` to the end of `out`
// (if it has one) at least three digits long by inserting zeros after its sign.
template <class Text>
void widen_exponent(Text& out, std::size_t start) {
    std::size_t e = out.find_first_of("eE", start);
    if (e == std::string::npos) return;
    std::size_t digits = e + 2;  // after the 'e' and the sign
    std::size_t count = out.size() - digits;
    if (count < 3) out.insert(digits, 3 - count, '0');
}

// Pads the field from `start` to the end of `out` to the width of `c`:
// blanks on the right for '-', zeros after any sign when `zeros`, blanks on
// the left otherwise.
template <class Text>
void pad_field(Text& out, std::size_t start, const Conversion& c, bool zeros) {
    std::size_t len = out.size() - start;
    std::size_t width = static_cast<std::size_t>(c.width);
    if (len >= width) return;
    std::size_t fill = width - len;
    if (c.left) {
        out.append(fill, ' ');
    } else if (zeros) {
        bool signed_text = len > 0 && std::strchr("+- ", out[start]) != nullptr;
        out.insert(start + (signed_text ? 1 : 0), fill, '0');
    } else {
        out.insert(start, fill, ' ');
    }
}

// Appends the text of a value that is not finite: "NAN" without any sign,
// "INF" with the sign a finite value would get.
template <class Text>
void append_non_finite(Text& out, const Conversion& c, double value) {
    if (std::isnan(value)) {
        out += "NAN";
        return;
    }
    if (std::signbit(value)) out += '-';
    else if (c.plus) out += '+';
    else if (c.space) out += ' ';
    out += "INF";
}

// Appends a floating conversion (%f %F %e %E %g %G): the C library's digits
// with a three-digit exponent, then padded to the width.
template <class Text>
void append_floating(Text& out, const Conversion& c, Args& args) {
    double value = std::strcmp(c.length, "L") == 0
                       ? static_cast<double>(va_arg(args.ap, long double))
                       : va_arg(args.ap, double);
    std::size_t start = out.size();
    if (!std::isfinite(value)) {
        append_non_finite(out, c, value);
        pad_field(out, start, c, false);
        return;
    }
    Conversion bare = c;
    bare.length[0] = '\0';
    char conv[40];
    c_conversion(bare, false, conv);
    append_c(out, conv, value);
    widen_exponent(out, start);
    pad_field(out, start, c, c.zero);
}

// Appends the conversion `c`, taking its value from `args`. Returns false
// for a conversion letter this formatter does not know.
template <class Text>
bool append_conversion(Text& out, const Conversion& c, Args& args) {
    switch (c.letter) {
    case '%':
        out += '%';
        return true;
    case 'd': case 'i':
        append_signed(out, c, args);
        return true;
    case 'u': case 'x': case 'X': case 'o':
        append_unsigned(out, c, args);
        return true;
    case 's': case 'c':
        append_text(out, c, args);
        return true;
    case 'f': case 'F': case 'e': case 'E': case 'g': case 'G':
        append_floating(out, c, args);
        return true;
    default:
        return false;
    }
}

// Appends the formatted text to `out` (std::string or FixedText).
template <class Text>
void format_into(Text& out, const char* fmt, va_list ap) {
    Args args;
    va_copy(args.ap, ap);
    const char* p = fmt;
    while (*p != '\0') {
        const char* percent = std::strchr(p, '%');
        if (percent == nullptr) {
            out += p;
            break;
        }
        out.append(p, static_cast<std::size_t>(percent - p));
        Conversion c;
        const char* next = parse_conversion(percent + 1, args, c);
        if (next == nullptr) {
            // A '%' cut off by the end of the format: written as it stands.
            out += percent;
            break;
        }
        if (!append_conversion(out, c, args)) {
            // An unknown conversion is written as it stands.
            out.append(percent, static_cast<std::size_t>(next - percent));
        }
        p = next;
    }
    va_end(args.ap);
}

}  // namespace

void vappend_format(std::string& out, const char* fmt, va_list ap) { format_into(out, fmt, ap); }

std::size_t vformat_fixed(char* buf, std::size_t size, const char* fmt, va_list ap) {
    FixedText out(buf, size);
    format_into(out, fmt, ap);
    return out.size();
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
