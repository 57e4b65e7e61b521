// The row grammar: one text line of a data file (or centre file) into
// single-precision values.
//
// This runs once per row on every pass, so nothing here allocates, and
// nothing depends on the C locale: characters are classified by a table and
// numbers are converted by std::from_chars, which is correctly rounded.
#include "io/read_row.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace kmeans {

namespace {

// Character classes of the row grammar, as bit flags.
enum : unsigned char {
    cls_accepted = 1,  // may stand in a row line at all
    cls_sep = 2,       // separates values: blank, tab, comma
    cls_start = 4,     // a value may begin here: digit, '-', '.'
    cls_digit = 8,     // '0' to '9'
    cls_end = 16,      // '\0': the end of the line text (never accepted inside it)
};

// Builds the 256-entry class table; every byte not named here (NUL, letters
// other than e/E, bytes above 127, ...) has no class and makes a bad row.
constexpr std::array<unsigned char, 256> make_class_table() {
    std::array<unsigned char, 256> t{};
    for (int c = '0'; c <= '9'; ++c)
        t[static_cast<unsigned char>(c)] = cls_accepted | cls_start | cls_digit;
    for (char c : {' ', '\t', ','})
        t[static_cast<unsigned char>(c)] = cls_accepted | cls_sep;
    for (char c : {'-', '.'})
        t[static_cast<unsigned char>(c)] = cls_accepted | cls_start;
    // Accepted but neither separators nor value starts: passed over where a
    // value could begin, and part of whatever token they stand in otherwise.
    for (char c : {'+', 'e', 'E', '\r', '\n'})
        t[static_cast<unsigned char>(c)] = cls_accepted;
    t[0] = cls_end;
    return t;
}

constexpr std::array<unsigned char, 256> class_table = make_class_table();

inline unsigned char cls(char c) {
    return class_table[static_cast<unsigned char>(c)];
}

inline bool is_digit(char c) { return (cls(c) & cls_digit) != 0; }

// Finds the end of the text that "%f" would consume as a number starting at
// `p` (which is on a digit, '-' or '.'): optional '-', digits, optional '.',
// digits, with at least one digit in all, then an optional exponent. Returns
// nullptr when no value can be converted there, including a mantissa whose
// 'e'/'E' is not followed by (optionally signed) digits.
const char* scan_number(const char* p, const char* end) {
    const char* q = p;
    if (q != end && *q == '-') ++q;
    const char* digits_from = q;
    while (q != end && is_digit(*q)) ++q;
    std::ptrdiff_t ndigits = q - digits_from;
    if (q != end && *q == '.') {
        ++q;
        const char* frac_from = q;
        while (q != end && is_digit(*q)) ++q;
        ndigits += q - frac_from;
    }
    if (ndigits == 0) return nullptr;
    if (q != end && (*q == 'e' || *q == 'E')) {
        const char* x = q + 1;
        if (x != end && (*x == '+' || *x == '-')) ++x;
        if (x == end || !is_digit(*x)) return nullptr;
        while (x != end && is_digit(*x)) ++x;
        q = x;
    }
    return q;
}

// Decimal exponent of the first nonzero mantissa digit of the number text
// [p, end) (as scan_number delimits it), exponent part included: 1e39 gives
// 39, 0.01e-50 gives -52. Saturates far beyond the float range. Used only
// to tell overflow from underflow, so a zero mantissa reports underflow.
long long decimal_exponent(const char* p, const char* end) {
    constexpr long long cap = 1'000'000'000;
    const char* q = p;
    if (q != end && *q == '-') ++q;
    const char* int_from = q;
    while (q != end && is_digit(*q)) ++q;
    const char* int_end = q;

    bool found = false;
    long long power = -1;
    for (const char* r = int_from; r != int_end; ++r) {
        if (*r != '0') {
            power = (int_end - r) - 1;
            found = true;
            break;
        }
    }
    if (q != end && *q == '.') ++q;
    for (long long j = 1; q != end && is_digit(*q); ++q, ++j) {
        if (!found && *q != '0') {
            power = -j;
            found = true;
        }
    }
    if (!found) return -cap;

    long long exp = 0;
    if (q != end && (*q == 'e' || *q == 'E')) {
        ++q;
        bool neg = false;
        if (q != end && (*q == '+' || *q == '-')) neg = (*q++ == '-');
        for (; q != end && is_digit(*q); ++q)
            if (exp < cap) exp = exp * 10 + (*q - '0');
        if (neg) exp = -exp;
    }
    return power + exp;
}

// Converts the number text [p, end) into the nearest float. Returns false
// when its magnitude is beyond the float range; a value too small for even
// the least subnormal reads as zero of its sign.
bool convert(const char* p, const char* end, float& out) {
    float v = 0.0f;
    auto res = std::from_chars(p, end, v);
    if (res.ec == std::errc{}) {
        out = v;
        return true;
    }
    // from_chars reports overflow and underflow alike and leaves v alone.
    if (decimal_exponent(p, end) < 0) {
        out = (*p == '-') ? -0.0f : 0.0f;
        return true;
    }
    return false;
}

// Exact powers of ten that a float holds: 1e0 to 1e10.
constexpr float float_pow10[] = {1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f, 1e9f, 1e10f};

// The value of a decimal digit, or a number above 9 for any other byte.
inline unsigned digit_value(char c) { return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0'; }

// The common case in one scan: a plain number ("-12.5", "3", ".25", "1e3")
// whose significant digits fit in 24 bits and whose decimal exponent lies
// within 10 of them. Then the significand and the power of ten are both
// exact floats, and one float multiplication or division rounds correctly.
// `p` points into a string that ends with '\0'. Returns the end of the
// number with `out` set, or nullptr when the number is not of this kind (the
// general path then decides, including whether there is a number at all).
const char* quick_number(const char* p, float& out) {
    const char* q = p;
    const bool negative = *q == '-';
    q += negative;
    const char* const mantissa = q;
    std::uint64_t w = 0;
    while (*q == '0') ++q;
    const char* sig = q;
    for (unsigned d; (d = digit_value(*q)) <= 9; ++q) w = w * 10 + d;
    std::ptrdiff_t ndigits = q - sig;
    int exp10 = 0;
    if (*q == '.') {
        const char* frac = ++q;
        if (w == 0)
            while (*q == '0') ++q;
        sig = q;
        for (unsigned d; (d = digit_value(*q)) <= 9; ++q) w = w * 10 + d;
        ndigits += q - sig;
        exp10 = -static_cast<int>(q - frac);
        if (q - mantissa == 1) return nullptr;  // a lone '.'
    } else if (q == mantissa) {
        return nullptr;
    }
    if (ndigits > 19) return nullptr;  // w may have wrapped
    if ((*q | 0x20) == 'e') {
        const char* x = q + 1;
        const bool neg_exp = *x == '-';
        x += (*x == '-' || *x == '+');
        if (digit_value(*x) > 9) return nullptr;
        int e = 0;
        for (unsigned d; (d = digit_value(*x)) <= 9; ++x) {
            if (e > 100) return nullptr;
            e = e * 10 + static_cast<int>(d);
        }
        exp10 += neg_exp ? -e : e;
        q = x;
    }
    if (w == 0) {
        out = negative ? -0.0f : 0.0f;
        return q;
    }
    while (w > (1u << 24) && w % 10 == 0) {
        w /= 10;
        ++exp10;
    }
    if (w > (1u << 24) || exp10 < -10 || exp10 > 10) return nullptr;
    float v = static_cast<float>(w);
    v = exp10 >= 0 ? v * float_pow10[exp10] : v / float_pow10[-exp10];
    out = negative ? -v : v;
    return q;
}

}  // namespace


// A refused byte at `q` of the line starting at `begin`.
static int bad_char(const char* begin, const char* q, RowRefusal& why) {
    why.kind = row_bad_char;
    why.column = static_cast<int>(q - begin) + 1;
    why.byte = static_cast<unsigned char>(*q);
    return row_bad_char;
}

// The first byte of [q, end) outside the accepted set, or nullptr.
static const char* first_refused(const char* q, const char* end) {
    for (; q != end; ++q)
        if (!(cls(*q) & cls_accepted)) return q;
    return nullptr;
}

// parse_row into `row` itself; a refused byte may be found after values were
// written there.
static int parse_into(const std::string& line, float* row, RowRefusal& why) {
    const char* p = line.c_str();  // ends with '\0', which stops every scan below
    const char* const begin = p;
    const char* const end = p + line.size();
    // Every byte is looked at once: the numbers hold only accepted bytes, and
    // the skips between them check each byte they pass. A refusal of the row
    // for its values gives way to a refused byte anywhere in it, which the
    // rest of the line is searched for first. A NUL inside the line stops a
    // skip like the terminator, and is refused there.
    auto refused = [&](int kind) {
        if (const char* q = first_refused(p, end)) return bad_char(begin, q, why);
        return why.kind = kind;
    };

    int n = 0;
    for (;;) {
        // Up to the next value start.
        unsigned char c;
        while (!((c = cls(*p)) & (cls_start | cls_end))) {
            if (!(c & cls_accepted)) return bad_char(begin, p, why);
            ++p;
        }
        if (p == end) return n;
        if (!(c & cls_start)) return bad_char(begin, p, why);  // a NUL in the line
        float v;
        const char* num_end = quick_number(p, v);
        if (num_end == nullptr) {
            num_end = scan_number(p, end);
            if (num_end == nullptr) {  // no value here: the row ends
                if (const char* q = first_refused(p, end)) return bad_char(begin, q, why);
                return n;
            }
            if (n == max_vars) return refused(row_too_many);
            if (!convert(p, num_end, v)) {
                why.column = static_cast<int>(p - begin) + 1;
                why.value = n + 1;
                return refused(row_out_of_range);
            }
        } else if (n == max_vars) {
            return refused(row_too_many);
        }
        row[n++] = v;
        // Whatever follows the number up to a separator is passed over.
        p = num_end;
        while (!((c = cls(*p)) & (cls_sep | cls_end))) {
            if (!(c & cls_accepted)) return bad_char(begin, p, why);
            ++p;
        }
        if (p == end) return n;
        if (!(c & cls_sep)) return bad_char(begin, p, why);  // a NUL in the line
    }
}

int parse_row(const std::string& line, float* row, RowRefusal& why) {
    // The values go to a buffer of their own first, so that a refused row
    // leaves `row` untouched.
    float values[max_vars];
    const int n = parse_into(line, values, why);
    if (n > 0) std::memcpy(row, values, static_cast<std::size_t>(n) * sizeof(float));
    return n;
}

int parse_row(const std::string& line, float* row) {
    RowRefusal why;
    return parse_row(line, row, why);
}

// row_end for a file whose lines have run out: at its end, or at a Ctrl-Z
// at the start of a line (the descriptor has not reported its end then).
static int lines_ended(const TextFile& f, RowRefusal& why) {
    why.kind = row_end;
    why.end = f.eof ? DataEnd::file_end : DataEnd::end_mark;
    return row_end;
}

int read_row(TextFile& f, float* row, int& nvars, RowRefusal& why) {
    if (!text_read_line(f)) return lines_ended(f, why);
    while (f.cut_bang || std::memchr(f.line.data(), '!', f.line.size()) != nullptr)
        if (!text_read_line(f)) return lines_ended(f, why);
    why.line = f.line_no;
    if (f.line_cut) return why.kind = row_too_long;

    int n = parse_row(f.line, row, why);
    if (n == row_end) {
        why.kind = row_end;
        why.end = DataEnd::empty_row;
    }
    if (n <= 0) return n;  // a refusal code, or an empty row (row_end)

    if (nvars != 0 && n != nvars) {
        why.kind = row_count_mismatch;
        why.count = n;
        why.expected = nvars;
        return row_count_mismatch;
    }
    if (nvars == 0) nvars = n;
    return n;
}

int read_row(TextFile& f, float* row, int& nvars) {
    RowRefusal why;
    return read_row(f, row, nvars, why);
}

}  // namespace kmeans
