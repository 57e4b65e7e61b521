// The row grammar: one text line of a data file (or centre file) into
// single-precision values.
//
// This runs once per row on every pass, so nothing here allocates, and
// nothing depends on the C locale: characters are classified by a table and
// numbers are correctly rounded, the common short forms with one exact
// division, the rest by std::from_chars. Rows are parsed where they lie in
// the read buffer when their lines are plain; the general path reads every
// other line into TextFile::line first.
#include "io/read_row.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kmeans {

namespace {

// Character classes of the row grammar, as bit flags.
enum : unsigned char {
    cls_accepted = 1,  // may stand in a row line at all
    cls_sep = 2,       // separates values: blank, tab, comma
    cls_start = 4,     // a value may begin here: digit, '-', '.'
    cls_digit = 8,     // '0' to '9'
    cls_end = 16,      // may end the text: '\0' (never accepted inside it), line feed
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
    for (char c : {'+', 'e', 'E', '\r'})
        t[static_cast<unsigned char>(c)] = cls_accepted;
    // A line feed is accepted, and ends the text of a line parsed where it
    // lies in the read buffer; inside a text it is passed over.
    t[static_cast<unsigned char>('\n')] = cls_accepted | cls_end;
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

// The powers of ten 1 to 1e8, and their negatives.
constexpr float signed_pow10[2][9] = {{1e0f, 1e1f, 1e2f, 1e3f, 1e4f, 1e5f, 1e6f, 1e7f, 1e8f},
                                      {-1e0f, -1e1f, -1e2f, -1e3f, -1e4f, -1e5f, -1e6f, -1e7f, -1e8f}};

// The first 8 bytes at `p`, as one little-endian word (the byte at p
// lowest); bytes at or past `readable` read as 0. Nothing at or past
// `readable` is touched.
inline std::uint64_t load_word(const char* p, const char* readable) {
    std::uint64_t w = 0;
    std::memcpy(&w, p, static_cast<std::size_t>(std::min<std::ptrdiff_t>(readable - p, 8)));
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w;
}

// load_word where 8 bytes are readable.
inline std::uint64_t load_word(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
    return w;
}

// How many of the bytes of `w` (from its lowest) are decimal digits before
// the first that is not: 0 to 8.
inline int leading_digits(std::uint64_t w) {
    // A digit byte becomes 0..9, which alone keep the top bit clear both as
    // they are and plus 0x76. A carry out of a byte comes only from a byte
    // that is flagged itself, and moves up: the lowest flag is exact.
    const std::uint64_t t = w ^ 0x3030303030303030u;
    const std::uint64_t flags = (t | (t + 0x7676767676767676u)) & 0x8080808080808080u;
    return flags == 0 ? 8 : std::countr_zero(flags) >> 3;
}

// The value of the first `k` bytes of `w` (1 <= k <= 8), all decimal digits,
// the lowest byte the most significant digit.
inline std::uint64_t digits_value(std::uint64_t w, int k) {
    w -= 0x3030303030303030u;       // the digit bytes borrow nothing
    w <<= 8 * (8 - k);              // leading zeros in place of the bytes after them
    w = w * 10 + (w >> 8);          // pairs of digits
    w = (((w & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
         (((w >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >> 32;
    return w;
}

// The commonest numbers a word at a time: "-12.5", "3", ".25", "4.",
// "0.0620061", with at most 7 digits before the point and 8 in all, no
// exponent, and a value of at most 2^24 without its point. Then the
// significand and the power of ten are exact floats, and one division
// rounds correctly, as in quick_number.
// The text at `p` ends with a '\0' or a line feed before `readable`; bytes
// up to `readable` may be looked at (past the end of the number, and of its
// line). Returns the end of the number with `out` set, or nullptr when the
// number is not of this kind.
inline const char* word_number(const char* p, const char* readable, float& out) {
    const std::size_t negative = *p == '-';  // a full word: a spilled flag reloads at once
    const char* const q = p + negative;
    // The bytes from q, and from the byte after it (q is before the end of
    // the text, so that one is readable too).
    std::uint64_t a, b;
    if (readable - q >= 9) [[likely]] {
        a = load_word(q);
        b = load_word(q + 1);
    } else {
        a = load_word(q, readable);
        b = load_word(q + 1, readable);
    }
    const int nwhole = leading_digits(a);
    if (nwhole == 8) return nullptr;
    // With a point after the whole digits, the digits after it move down a
    // byte in its place: all the digits of the number side by side.
    const bool point = ((a >> (8 * nwhole)) & 0xFF) == '.';
    const std::uint64_t keep = point ? (std::uint64_t{1} << (8 * nwhole)) - 1 : ~std::uint64_t{0};
    const std::uint64_t digits = (a & keep) | (b & ~keep);
    const int ndigits = leading_digits(digits);
    const char* const end = q + ndigits + point;
    if (ndigits == 0 || digit_value(*end) <= 9 || (*end | 0x20) == 'e') return nullptr;
    const std::uint64_t w = digits_value(digits, ndigits);
    if (w > (1u << 24)) return nullptr;
    // The sign goes with the divisor: no branch (it follows no pattern in
    // most data), and the division rounds the same either way.
    out = static_cast<float>(w) / signed_pow10[negative][ndigits - nwhole];
    return end;
}

#if defined(__SSE2__)
// word_number where the 16 bytes at `p` are readable, with the end of the
// number found from one look at them: the start of the next number waits on
// that alone, not on the words that give the value.
inline const char* sse_number(const char* p, float& out) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8('0'));
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(9)), d);
    const unsigned digit = static_cast<unsigned>(_mm_movemask_epi8(is_digit));
    const unsigned dot = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, _mm_set1_epi8('.'))));
    const unsigned negative = *p == '-';
    // The bytes after the sign that are not digits (bit 16 up: past the look).
    const unsigned other = ~digit & ~negative;
    const int first = std::countr_zero(other);
    const unsigned point = (dot & other & (0u - other)) != 0;
    // The end: the first byte after the digits, past a point after the whole ones.
    const int stop = point ? std::countr_zero(other & (other - 1)) : first;
    const int nwhole = first - static_cast<int>(negative);
    const int ndigits = stop - static_cast<int>(negative + point);
    const char* const end = p + stop;
    if (nwhole > 7 || ndigits > 8 || ndigits == 0 || (*end | 0x20) == 'e') return nullptr;
    const char* const q = p + negative;
    const std::uint64_t a = load_word(q);
    const std::uint64_t b = load_word(q + 1);
    const std::uint64_t keep = point ? (std::uint64_t{1} << (8 * nwhole)) - 1 : ~std::uint64_t{0};
    const std::uint64_t w = digits_value((a & keep) | (b & ~keep), ndigits);
    if (w > (1u << 24)) return nullptr;
    out = static_cast<float>(w) / signed_pow10[negative][ndigits - nwhole];
    return end;
}
#endif

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

// Parses the text of one line from `begin` into `row`: returns what
// parse_row returns. Bytes up to `readable` may be looked at (past the end
// of the line). A refused byte may be found after values were written to
// `row`.
// - As a text (`in_buffer` false): the text ends at `end`, where a '\0' or
//   a line feed stands; a line feed before it is passed over. `row` has room
//   for max_vars values, and more are refused.
// - As a line of the read buffer (`in_buffer` true): the line ends at its
//   first line feed, which is before `readable`, and `end` is set there when
//   it delivers a row; `row` has room for `most` values. Whatever else it
//   returns (no row, a refused byte, no value where one starts, more than
//   `most` values) is no judgement of the line: the general path decides it.
template <bool in_buffer>
static int parse_line(const char* begin, const char*& end, const char* readable, float* row, int most,
                      RowRefusal& why) {
    const char* p = begin;
    // Every byte is looked at once: the numbers hold only accepted bytes, and
    // the skips between them check each byte they pass. A refusal of the row
    // for its values gives way to a refused byte anywhere in it, which the
    // rest of the line is searched for first. A NUL inside the line stops a
    // skip like the end, and is refused there; a line feed inside it is
    // passed over.
    auto refused = [&](int kind) {
        if (in_buffer) return kind;
        if (const char* q = first_refused(p, end)) return bad_char(begin, q, why);
        return why.kind = kind;
    };
    // Whether the stop at `p` (a '\0' or a line feed) ends the line.
    auto at_end = [&] {
        if (in_buffer && *p == '\n') end = p;
        return p == end;
    };

    // Up to the next value start: false, with `result` set, when the text
    // ends first or a refused byte stands before it.
    int n = 0;
    int result = 0;
    auto to_start = [&] {
        unsigned char c;
        for (;;) {
            while (!((c = cls(*p)) & (cls_start | cls_end))) {
                if (!(c & cls_accepted)) {
                    result = bad_char(begin, p, why);
                    return false;
                }
                ++p;
            }
            if (c & cls_start) return true;
            if (at_end()) {
                result = n;
                return false;
            }
            if (!(c & cls_accepted)) {  // a NUL in the line
                result = bad_char(begin, p, why);
                return false;
            }
            ++p;
        }
    };
    if (!to_start()) return result;
    for (;;) {
        // At a value start.
        unsigned char c;
        float v;
#if defined(__SSE2__)
        // From a 16-byte look where it is readable, so nearly always.
        const char* num_end = readable - p >= 16 ? sse_number(p, v) : word_number(p, readable, v);
#else
        const char* num_end = word_number(p, readable, v);
#endif
        if (num_end == nullptr) num_end = quick_number(p, v);
        if (num_end == nullptr) {
            num_end = scan_number(p, in_buffer ? readable : end);
            if (num_end == nullptr) {  // no value here: the row ends
                if (in_buffer) return row_bad_char;  // unless a refused byte follows
                if (const char* q = first_refused(p, end)) return bad_char(begin, q, why);
                return n;
            }
            if (n == most) return refused(row_too_many);
            if (!convert(p, num_end, v)) {
                why.column = static_cast<int>(p - begin) + 1;
                why.value = n + 1;
                return refused(row_out_of_range);
            }
        } else if (n == most) {
            return refused(row_too_many);
        }
        row[n++] = v;
        p = num_end;
        // Most often one separator, then the next value.
        if ((cls(p[0]) & cls_sep) && (cls(p[1]) & cls_start)) {
            ++p;
            continue;
        }
        // Whatever follows the number up to a separator is passed over.
        for (;;) {
            while (!((c = cls(*p)) & (cls_sep | cls_end))) {
                if (!(c & cls_accepted)) return bad_char(begin, p, why);
                ++p;
            }
            if (c & cls_sep) break;
            if (at_end()) return n;
            if (!(c & cls_accepted)) return bad_char(begin, p, why);  // a NUL in the line
            ++p;
        }
        if (!to_start()) return result;
    }
}

int parse_row(const std::string& line, float* row, RowRefusal& why) {
    // The values go to a buffer of their own first, so that a refused row
    // leaves `row` untouched.
    float values[max_vars];
    const char* text = line.c_str();  // ends with '\0'
    const char* end = text + line.size();
    const int n = parse_line<false>(text, end, end + 1, values, max_vars, why);
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

// The general path of read_row_to: the line as text_read_line reads it.
static int read_row_line(TextFile& f, float* room, int& nvars, RowRefusal& why) {
    if (!text_read_line(f)) return lines_ended(f, why);
    while (f.cut_bang || std::memchr(f.line.data(), '!', f.line.size()) != nullptr)
        if (!text_read_line(f)) return lines_ended(f, why);
    why.line = f.line_no;
    if (f.line_cut) return why.kind = row_too_long;

    int n = parse_row(f.line, room, why);
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

// The row of the plain line of the read buffer of `f` that starts at `text`
// (see text_buffered_lines), parsed into `room` (`most` floats): its count,
// with `feed` set at its line feed; or 0 when the line is not plain or
// yields anything else (the general path decides it then).
static int buffered_row(TextFile& f, const char* text, float* room, int most, const char*& feed) {
    RowRefusal passed;  // what the general path finds again, if anything
    const char* end = nullptr;
    const int n = parse_line<true>(text, end, f.buf.data() + f.len, room, most, passed);
    if (n <= 0 || !text_plain_line(f, text, end)) return 0;
    feed = end;
    return n;
}

int read_row_to(TextFile& f, float* room, int& nvars, RowRefusal& why) {
    // A plain line that lies whole in the read buffer is parsed where it
    // lies. Only a row of the expected count is taken from there: a line that
    // yields anything else (a comment line, whose '!' is a refused byte, an
    // empty or a refused row, another count) is read again by the general
    // path, which decides it as it always has.
    const char* last = nullptr;
    if (const char* text = text_buffered_lines(f, last)) {
        const char* feed = nullptr;
        const int n = buffered_row(f, text, room, nvars != 0 ? nvars : max_vars, feed);
        if (n > 0 && (n == nvars || nvars == 0)) {
            if (nvars == 0) {
                nvars = n;
                text_keep_line(f, text, feed);
            }
            text_pass_lines(f, feed + 1, 1);
            why.line = f.line_no;
            return n;
        }
    }
    return read_row_line(f, room, nvars, why);
}

std::int64_t read_rows_to(TextFile& f, float* out, std::int64_t most, int nvars) {
    assert(nvars > 0 && most > 0);
    const char* last = nullptr;
    const char* p = text_buffered_lines(f, last);
    if (p == nullptr) return 0;
    std::int64_t rows = 0;
    for (; rows < most && p != last; ++rows, out += nvars) {
        const char* feed = nullptr;
        if (buffered_row(f, p, out, nvars, feed) != nvars) break;
        p = feed + 1;
    }
    if (rows > 0) text_pass_lines(f, p, rows);
    return rows;
}

int read_row(TextFile& f, float* row, int& nvars, RowRefusal& why) {
    float values[max_vars];
    const int n = read_row_to(f, values, nvars, why);
    const int count = n > 0 ? n : n == row_count_mismatch ? why.count : 0;
    if (count > 0) std::memcpy(row, values, static_cast<std::size_t>(count) * sizeof(float));
    return n;
}

int read_row(TextFile& f, float* row, int& nvars) {
    RowRefusal why;
    return read_row(f, row, nvars, why);
}

}  // namespace kmeans
