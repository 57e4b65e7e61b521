// Unit tests of the row reader: the row grammar on strings (parse_row), the
// text-mode line input (text_read_line) and whole files through read_row.
#include "io/read_row.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <unistd.h>

using namespace kmeans;

using namespace std::string_literals;

namespace {

// A file in /tmp holding the given bytes, removed again at scope exit.
class TempFile {
public:
    explicit TempFile(const std::string& content) {
        char name[] = "/tmp/read_row_test_XXXXXX";
        int fd = ::mkstemp(name);
        if (fd < 0) {
            ADD_FAILURE() << "mkstemp failed";
            return;
        }
        path_ = name;
        const char* p = content.data();
        std::size_t left = content.size();
        while (left > 0) {
            ssize_t w = ::write(fd, p, left);
            if (w <= 0) {
                ADD_FAILURE() << "write failed";
                break;
            }
            p += w;
            left -= static_cast<std::size_t>(w);
        }
        ::close(fd);
    }
    ~TempFile() {
        if (!path_.empty()) ::unlink(path_.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

// Compares floats bit for bit, so that -0 and +0 are told apart.
void expect_values(const float* row, const std::vector<float>& want) {
    for (std::size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(bits(row[i]), bits(want[i]))
            << "value " << i << ": got " << row[i] << ", want " << want[i];
}

// Marks a row buffer so that untouched elements can be recognised.
constexpr float sentinel = -12345.5f;

std::vector<float> fresh_row(std::size_t n = max_vars + 1) {
    return std::vector<float>(n, sentinel);
}

std::string printable(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c >= 32 && c < 127 && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char tmp[8];
            std::snprintf(tmp, sizeof tmp, "\\x%02x", c);
            out += tmp;
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// The row grammar on single lines.

struct ParseCase {
    const char* name;
    std::string line;
    int result;
    std::vector<float> values;  // checked when result >= 0
};

std::ostream& operator<<(std::ostream& os, const ParseCase& c) {
    return os << c.name << " \"" << printable(c.line) << "\"";
}

class ParseRow : public testing::TestWithParam<ParseCase> {};

// Blanks after a line change nothing, but give every number of it 16
// readable bytes: the numbers are converted from a 16-byte look then, and
// a word at a time nearer the end of a text.
const std::string look_room(16, ' ');

TEST_P(ParseRow, GivesExpectedValues) {
    const ParseCase& c = GetParam();
    for (const std::string& line : {c.line, c.line + look_room}) {
        SCOPED_TRACE(printable(line));
        auto row = fresh_row();
        int got = parse_row(line, row.data());
        ASSERT_EQ(got, c.result);
        if (got >= 0) {
            ASSERT_EQ(static_cast<std::size_t>(got), c.values.size());
            expect_values(row.data(), c.values);
            EXPECT_EQ(bits(row[static_cast<std::size_t>(got)]), bits(sentinel))
                << "stored past the last value";
        }
        if (got == row_bad_char) {
            for (float v : row) ASSERT_EQ(bits(v), bits(sentinel)) << "row touched";
        }
    }
}

const ParseCase separator_cases[] = {
    {"commas_and_blanks", "1.5, 2.5,3.5\n", 3, {1.5f, 2.5f, 3.5f}},
    {"double_comma", "1,,2", 2, {1, 2}},
    {"leading_comma", ",1", 1, {1}},
    {"tabs_and_mix", "\t1\t ,\t2 , , 3\t\n", 3, {1, 2, 3}},
    {"comma_is_no_decimal_point", "1,5", 2, {1, 5}},
    {"many_blanks", "   7        8   ", 2, {7, 8}},
    {"crlf_at_end", "1 2\r\n", 2, {1, 2}},
    {"empty", "", 0, {}},
    {"line_feed_only", "\n", 0, {}},
    {"blanks_only", "   \t  \n", 0, {}},
    {"separators_only", " ,\t,, \n", 0, {}},
};
INSTANTIATE_TEST_SUITE_P(Separators, ParseRow, testing::ValuesIn(separator_cases),
                         [](const auto& i) { return std::string(i.param.name); });

const ParseCase value_start_cases[] = {
    {"plus_and_minus", "+5 -6", 2, {5, -6}},
    {"e_passed_over", "e5", 1, {5}},
    {"E_passed_over", "E5", 1, {5}},
    {"plus_e_mix_passed_over", "+eE+7", 1, {7}},
    {"plus_then_minus", "+-5", 1, {-5}},
    {"e_after_separator", "1 e5", 2, {1, 5}},
    {"cr_where_value_begins", "\r5", 1, {5}},
    {"cr_after_separator", "1 \r2", 2, {1, 2}},
    {"cr_inside_token", "1\r2", 1, {1}},
    {"line_feed_inside_token", "1\n2", 1, {1}},
    {"minus_glued_after_number", "1-2 3", 2, {1, 3}},
    {"junk_glued_after_number", "1-2,3", 2, {1, 3}},
    {"plus_glued_after_number", "4+5 6", 2, {4, 6}},
    {"second_point", "1..2 3", 2, {1, 3}},
    {"fraction_after_exponent", "1e5.5 2", 2, {1e5f, 2}},
    {"exponent_after_exponent", "1e2e3 4", 2, {100, 4}},
};
INSTANTIATE_TEST_SUITE_P(ValueStarts, ParseRow, testing::ValuesIn(value_start_cases),
                         [](const auto& i) { return std::string(i.param.name); });

const ParseCase number_form_cases[] = {
    {"integer", "42", 1, {42}},
    {"trailing_point", "1.", 1, {1}},
    {"leading_point", ".5", 1, {0.5f}},
    {"minus_leading_point", "-.5", 1, {-0.5f}},
    {"minus_trailing_point", "-3.", 1, {-3}},
    {"exponent", "1.5e-3", 1, {1.5e-3f}},
    {"exponent_upper", "2E2", 1, {200}},
    {"exponent_plus", "1e+5", 1, {1e5f}},
    {"exponent_after_point", "1.e2", 1, {100}},
    {"exponent_after_leading_point", ".5e1", 1, {5}},
    {"leading_zeros", "000012.50", 1, {12.5f}},
    {"zero", "0", 1, {0.0f}},
    {"minus_zero", "-0", 1, {-0.0f}},
    {"minus_zero_point", "-0.0e7", 1, {-0.0f}},
    {"zero_huge_exponent", "0e999999999999", 1, {0.0f}},
    {"zero_tiny_exponent", "0.000e-999999999999", 1, {0.0f}},
    {"tenth", "0.1", 1, {0.1f}},
    {"float_max", "3.4028235e38", 1, {FLT_MAX}},
    {"float_max_negative", "-3.4028235e38", 1, {-FLT_MAX}},
    {"scaled_into_range", "0.0000000000000000000000000000000000000000001e43", 1, {1.0f}},
    {"long_integer_scaled_down", "100000000000000000000000000000000000000000000000000e-50", 1, {1.0f}},
};
INSTANTIATE_TEST_SUITE_P(NumberForms, ParseRow, testing::ValuesIn(number_form_cases),
                         [](const auto& i) { return std::string(i.param.name); });

const ParseCase no_value_cases[] = {
    {"lone_point_ends_row", "1 . 2", 1, {1}},
    {"lone_point", ".", 0, {}},
    {"lone_minus", "-", 0, {}},
    {"minus_point", "-. 5", 0, {}},
    {"minus_blank_value", "- 5", 0, {}},
    {"e_without_digits_ends_row", "1 2e 3", 1, {1}},
    {"e_without_digits_first", "2e 3", 0, {}},
    {"e_at_end", "1e", 0, {}},
    {"e_plus_without_digits", "2.5E+", 0, {}},
    {"e_minus_without_digits", "7 2.5e- 3", 1, {7}},
    {"e_plus_then_point", "1 2e+.5", 1, {1}},
    {"point_e", ".e2", 0, {}},
    {"double_minus", "--5", 0, {}},
    {"minus_plus", "-+5", 0, {}},
    {"minus_e", "-e5", 0, {}},
    {"row_ends_before_later_values", "1 2 - 3 4", 2, {1, 2}},
    {"lone_e", "e", 0, {}},
    {"plus_only", "+ + +", 0, {}},
};
INSTANTIATE_TEST_SUITE_P(NoValue, ParseRow, testing::ValuesIn(no_value_cases),
                         [](const auto& i) { return std::string(i.param.name); });

const ParseCase bad_char_cases[] = {
    {"semicolon", "1;2", row_bad_char, {}},
    {"letter", "1 2 x", row_bad_char, {}},
    {"letter_f", "1.0f", row_bad_char, {}},
    {"hex_form", "0x10", row_bad_char, {}},
    {"inf", "inf", row_bad_char, {}},
    {"form_feed", "1\f2", row_bad_char, {}},
    {"vertical_tab", "1\v2", row_bad_char, {}},
    {"byte_above_127", "1 \xe4", row_bad_char, {}},
    {"byte_255", "\xff", row_bad_char, {}},
    {"ctrl_z_in_line", "1\x1a", row_bad_char, {}},
    {"nul_between_values", "1 \0 2\n"s, row_bad_char, {}},
    {"nul_at_end", "1 2\0"s, row_bad_char, {}},
    {"nul_first", "\0"s, row_bad_char, {}},
    {"bad_after_row_end", "1 . 2 ;", row_bad_char, {}},
    {"bad_before_out_of_range", "1e39 x", row_bad_char, {}},
};
INSTANTIATE_TEST_SUITE_P(BadChars, ParseRow, testing::ValuesIn(bad_char_cases),
                         [](const auto& i) { return std::string(i.param.name); });

const ParseCase range_cases[] = {
    {"overflow", "1e39", row_out_of_range, {}},
    {"overflow_negative", "-1e39", row_out_of_range, {}},
    {"overflow_later_value", "1 2 1e39", row_out_of_range, {}},
    {"rounds_to_infinity", "3.4028236e38", row_out_of_range, {}},
    {"overflow_by_digits", "1000000000000000000000000000000000000000", row_out_of_range, {}},
    {"overflow_huge_exponent", "1e99999999999999999999", row_out_of_range, {}},
    {"overflow_small_mantissa", "0.001e42", row_out_of_range, {}},
    {"underflow_to_zero", "1e-50", 1, {0.0f}},
    {"underflow_to_minus_zero", "-1e-50", 1, {-0.0f}},
    {"underflow_huge_exponent", "5e-99999999999999999999", 1, {0.0f}},
    {"underflow_by_digits", "0.00000000000000000000000000000000000000000000000001", 1, {0.0f}},
    {"underflow_big_mantissa", "123456e-60", 1, {0.0f}},
    {"subnormal", "1e-40", 1, {1e-40f}},
    {"least_subnormal", "1.4e-45", 1, {std::numeric_limits<float>::denorm_min()}},
    {"least_normal", "1.17549435e-38", 1, {FLT_MIN}},
    {"underflow_then_value", "1e-50 2", 2, {0.0f, 2}},
};
INSTANTIATE_TEST_SUITE_P(Range, ParseRow, testing::ValuesIn(range_cases),
                         [](const auto& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Row length.

std::string row_of(int count, const std::string& value, const char* sep = " ") {
    std::string s;
    for (int i = 0; i < count; ++i) {
        if (i) s += sep;
        s += value;
    }
    return s;
}

TEST(ParseRowLength, FullRowIsReadWhole) {
    auto row = fresh_row();
    ASSERT_EQ(parse_row(row_of(max_vars, "3"), row.data()), max_vars);
    for (int i = 0; i < max_vars; ++i) ASSERT_EQ(row[i], 3.0f);
    EXPECT_EQ(bits(row[max_vars]), bits(sentinel));
}

TEST(ParseRowLength, OneValueTooManyIsRefused) {
    auto row = fresh_row(max_vars + 8);
    EXPECT_EQ(parse_row(row_of(max_vars + 1, "4"), row.data()), row_too_many);
    for (std::size_t i = max_vars; i < row.size(); ++i)
        EXPECT_EQ(bits(row[i]), bits(sentinel)) << "stored at " << i;
}

TEST(ParseRowLength, FullRowFollowedByNoValueIsAccepted) {
    auto row = fresh_row();
    EXPECT_EQ(parse_row(row_of(max_vars, "1") + " - 9", row.data()), max_vars);
    EXPECT_EQ(parse_row(row_of(max_vars, "1") + " 2e", row.data()), max_vars);
    EXPECT_EQ(parse_row(row_of(max_vars, "1") + " ,\t+\n", row.data()), max_vars);
}

// ---------------------------------------------------------------------------
// Correct rounding: every conversion must equal glibc's strtof in the C
// locale, which is correctly rounded (casting strtod's double is not: it
// rounds twice).

// The result parse_row should give for one number text: its float, or
// row_out_of_range when strtof overflows to infinity.
void expect_like_strtof(const std::string& text) {
    errno = 0;
    char* end = nullptr;
    float want = std::strtof(text.c_str(), &end);
    ASSERT_EQ(static_cast<std::size_t>(end - text.c_str()), text.size()) << text;
    for (const std::string& line : {text, text + look_room}) {
        float row[1] = {sentinel};
        int got = parse_row(line, row);
        if (std::isinf(want)) {
            EXPECT_EQ(got, row_out_of_range) << text;
        } else {
            ASSERT_EQ(got, 1) << text;
            EXPECT_EQ(bits(row[0]), bits(want)) << text << ": got " << row[0] << " want " << want;
        }
    }
}

TEST(CorrectRounding, TrickyDecimals) {
    const char* tricky[] = {
        "16777216", "16777217", "16777218", "16777219", "16777217.000000001",
        "16777216.999999999",
        "1.000000059604644775390625",             // exactly halfway: to even
        "1.00000005960464477539062499999",        // just below halfway
        "1.000000059604644775390625000000001",    // just above halfway
        "1.00000017881393432617187499",           // below halfway, odd side
        "1.000000178813934326171875",             // halfway, rounds up to even
        "0.1", "0.2", "0.3", "0.7", "3.14159265358979323846", "2.7182818284590452354",
        "7.038531e-26", "8.589973e9", "4.7019774e-38", "1.1754942e-38", "1.1754943e-38",
        "1.17549435082228750797e-38", "1.17549428e-38",
        "3.4028234e38", "3.40282346638528859811704183484516925440e38",
        "3.4028235677973366e38", "3.4028235677973365e38", "3.40282357e38",
        "1.40129846e-45", "7.00649232162408535461864791644958065640e-46",
        "7.006492321624085e-46", "7.006492321624086e-46", "2.1019476964872256e-45",
        "2.8025969286496341e-45", "1e-45", "1e-46", "9.99e-46",
        "1.5e-45", "2.1e-45", "2.2e-45", "5.877471754111438e-39",
        "0.000000000000000000000000000000000000000000001401298464324817070923729583289916131280",
        "33554431", "33554433", "67108863", "67108865", "2147483647", "4294967295",
        "9007199254740993", "18446744073709551615", "123456789012345678901234567890",
        "1.0000001", "0.99999994", "0.99999997", "0.999999970197677612304687",
        // The short forms at the edges of their bounds: 7 whole digits, 8 in
        // all, 2^24 without the point, a point at either end, zeros.
        "1677721.6", "1677721.7", "16777.217", "0.16777216", "0.16777217", "1.6777217", "9999999.",
        "9999999.9", "99999999", ".99999999", "0.0620061", "0.00000001", "00000000.5", "0.", ".0",
        "12345678.", "1234567.8", "1234567.89", "3.1415927", "0.000123456", "1.5e1", "1.5E+1",
        "0.9999999701976776123046875", "0.99999997019767761230468751",
    };
    for (const char* t : tricky) {
        expect_like_strtof(t);
        expect_like_strtof("-"s + t);
    }
}

TEST(CorrectRounding, LongMantissas) {
    // Halfway cases decided only by a digit far out.
    std::string half = "1.000000059604644775390625";
    expect_like_strtof(half + std::string(3000, '0'));
    expect_like_strtof(half + std::string(3000, '0') + "1");
    expect_like_strtof(std::string(5000, '9'));  // overflows
    expect_like_strtof("0." + std::string(5000, '9'));
    expect_like_strtof("0." + std::string(60, '0') + std::string(100, '7') + "e60");
}

TEST(CorrectRounding, RandomDecimals) {
    std::mt19937_64 gen(20240611);
    std::uniform_int_distribution<int> ndigits(1, 24);
    std::uniform_int_distribution<int> digit(0, 9);
    std::uniform_int_distribution<int> exponent(-52, 42);
    std::uniform_int_distribution<int> coin(0, 3);
    for (int k = 0; k < 200000; ++k) {
        std::string s;
        if (coin(gen) == 0) s += '-';
        int n = ndigits(gen);
        int point = std::uniform_int_distribution<int>(0, n)(gen);
        for (int i = 0; i < n; ++i) {
            if (i == point) s += '.';
            s += static_cast<char>('0' + digit(gen));
        }
        if (coin(gen) != 0) {
            s += coin(gen) == 0 ? 'E' : 'e';
            s += std::to_string(exponent(gen));
        }
        expect_like_strtof(s);
        if (HasFailure()) return;
    }
}

// ---------------------------------------------------------------------------
// Text-mode line input.

// Reads lines to the real end of the file; a false result before it (a
// Ctrl-Z at the start of a line) shows as nullopt.
std::vector<std::optional<std::string>> all_lines(TextFile& f) {
    std::vector<std::optional<std::string>> out;
    for (;;) {
        if (text_read_line(f)) {
            out.emplace_back(f.line);
        } else if (f.eof) {
            break;
        } else {
            out.emplace_back(std::nullopt);
        }
    }
    // A Ctrl-Z just before the end of the file looks like that end.
    while (!out.empty() && !out.back()) out.pop_back();
    return out;
}

struct LineCase {
    const char* name;
    std::string content;
    std::vector<std::optional<std::string>> lines;
};

std::ostream& operator<<(std::ostream& os, const LineCase& c) {
    return os << c.name << " \"" << printable(c.content) << "\"";
}

class TextLines : public testing::TestWithParam<LineCase> {};

TEST_P(TextLines, SplitsAsTextMode) {
    const LineCase& c = GetParam();
    TempFile tmp(c.content);
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    auto got = all_lines(f);
    ASSERT_EQ(got.size(), c.lines.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].has_value(), c.lines[i].has_value()) << "line " << i;
        if (got[i]) {
            EXPECT_EQ(printable(*got[i]), printable(*c.lines[i])) << "line " << i;
        }
    }
    EXPECT_FALSE(text_read_line(f));
    text_close(f);
}

const std::optional<std::string> eof_mark = std::nullopt;

const LineCase line_cases[] = {
    {"empty_file", "", {}},
    {"one_line", "1 2\n", {"1 2\n"}},
    {"no_final_line_feed", "1\n2", {"1\n", "2"}},
    {"empty_lines", "\n\n", {"\n", "\n"}},
    {"cr_lf", "1 2\r\n3\r\n", {"1 2\n", "3\n"}},
    {"cr_joins", "1\r2\n", {"12\n"}},
    {"two_crs_keep_second", "1\r\r2\n", {"1\r2\n"}},
    {"two_crs_before_lf", "1\r\r\n", {"1\r\n"}},
    {"three_crs_lf", "1\r\r\r\n", {"1\r\n"}},
    {"cr_at_end_of_file", "1\r", {"1"}},
    {"lone_cr_file", "\r", {}},
    {"cr_then_ctrl_z_is_literal", "1\r\x1a" "2\n", {"1\x1a" "2\n"}},
    {"ctrl_z_inside_line", "1 2\x1a" "3\n", {"1 2", "3\n"}},
    {"ctrl_z_at_end", "1 2\n\x1a", {"1 2\n"}},
    {"ctrl_z_at_line_start", "1\n\x1a" "2\n", {"1\n", eof_mark, "2\n"}},
    {"ctrl_z_first", "\x1a" "1\n", {eof_mark, "1\n"}},
    {"two_ctrl_z", "1\x1a\x1a" "2", {"1", eof_mark, "2"}},
    {"ctrl_z_before_lf", "1\x1a\n", {"1", "\n"}},
    {"nul_is_kept", "1\0 2\n"s, {"1\0 2\n"s}},
    {"nul_line", "\0\n"s, {"\0\n"s}},
};
INSTANTIATE_TEST_SUITE_P(Cases, TextLines, testing::ValuesIn(line_cases),
                         [](const auto& i) { return std::string(i.param.name); });

// The text-mode rules applied to a whole string at once, for comparison
// with the buffered reader.
std::vector<std::optional<std::string>> text_mode_model(const std::string& s) {
    std::vector<std::optional<std::string>> out;
    std::string cur;
    for (std::size_t i = 0; i < s.size();) {
        char c = s[i++];
        if (c == '\r') {
            if (i == s.size()) break;
            cur += s[i++];
            if (cur.back() == '\n') {
                out.emplace_back(cur);
                cur.clear();
            }
        } else if (c == '\x1a') {
            if (cur.empty()) {
                out.emplace_back(std::nullopt);
            } else {
                out.emplace_back(cur);
                cur.clear();
            }
        } else {
            cur += c;
            if (c == '\n') {
                out.emplace_back(cur);
                cur.clear();
            }
        }
    }
    if (!cur.empty()) out.emplace_back(cur);
    // The reader cannot show a Ctrl-Z at the start of the very last line
    // apart from the end of the file.
    while (!out.empty() && !out.back()) out.pop_back();
    return out;
}

TEST(TextReadLine, BufferBoundaries) {
    const std::size_t b = text_buffer_bytes;
    // A CR as the last byte of the first buffer, its LF the first of the
    // next; a CR pair split the same way; a line longer than two buffers.
    std::string s = "7" + std::string(b - 2, ' ') + "\r\n";
    s += std::string(b - s.size() % b - 1, 'x') + "\r\r" + "y\n";
    s += std::string(2 * b + 17, '5') + "\r";
    s += "\x1a" "1\r\n";
    s += std::string(b - s.size() % b - 1, 'z') + "\x1a" "after\n";
    s += std::string(b - s.size() % b, 'w') + "\x1a" "start";
    TempFile tmp(s);
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    auto got = all_lines(f);
    auto want = text_mode_model(s);
    ASSERT_EQ(got.size(), want.size());
    EXPECT_EQ(*got[0], "7" + std::string(b - 2, ' ') + "\n");
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].has_value(), want[i].has_value()) << "line " << i;
        if (got[i]) {
            EXPECT_TRUE(*got[i] == *want[i]) << "line " << i;
        }
    }
    text_close(f);
}

TEST(TextReadLine, RandomControlCharacters) {
    std::mt19937 gen(7);
    const char alphabet[] = {'1', '2', ' ', '\n', '\r', '\x1a', '\r', '\n'};
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1);
    std::string s;
    s.reserve(text_buffer_bytes * 2 + 5000);
    while (s.size() < text_buffer_bytes * 2 + 4000) s += alphabet[pick(gen)];
    TempFile tmp(s);
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    auto got = all_lines(f);
    auto want = text_mode_model(s);
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        ASSERT_EQ(got[i].has_value(), want[i].has_value()) << "line " << i;
        if (got[i]) {
            ASSERT_TRUE(*got[i] == *want[i]) << "line " << i;
        }
    }
    text_close(f);
}

// Read buffers of 3 to 7 bytes, where every line, carriage return, Ctrl-Z
// and byte-order mark meets buffer ends, give read_row's results, refusals,
// lines and values exactly as the default buffer does.
TEST(TextFileOpen, TinyBuffersReadLikeTheDefaultOne) {
    std::mt19937 gen(11);
    const char alphabet[] = {'1', '2', '.', 'e', '-', ' ', ',', '\n', '\n', '\r', '\x1a', '!', 'x'};
    std::uniform_int_distribution<int> pick(0, sizeof alphabet - 1);
    std::string s = "\xEF\xBB\xBF";
    while (s.size() < 3000) s += alphabet[pick(gen)];
    TempFile tmp(s);
    auto read_all = [&](std::size_t buffer_bytes) {
        TextFile f;
        f.buffer_bytes = buffer_bytes;
        EXPECT_TRUE(text_open(f, tmp.path()));
        std::string trace;  // every result, refusal, line and value bits
        int nvars = 0;
        auto row = fresh_row();
        for (int calls = 0; calls < 4000; ++calls) {
            RowRefusal why;
            const bool fixes = nvars == 0;
            const int n = read_row(f, row.data(), nvars, why);
            // The line is kept where read_row says: for no row, or a row that fixed nvars.
            const std::string& line = n <= 0 || fixes ? f.line : "";
            trace += std::to_string(n) + ":" + std::to_string(static_cast<int>(why.end)) + ":" +
                     std::to_string(why.line) + ":" + std::to_string(why.column) + ":" + std::to_string(why.count) +
                     ":" + std::to_string(f.line_no) + ":" + line + ":";
            for (int i = 0; i < n; ++i) trace += std::to_string(bits(row[i])) + ",";
            trace += "\n";
            if (n == row_end && why.end == DataEnd::file_end) break;
        }
        EXPECT_EQ(f.buf.size(), std::max<std::size_t>(buffer_bytes, 3));
        text_close(f);
        return trace;
    };
    const std::string want = read_all(text_buffer_bytes);
    EXPECT_GT(std::count(want.begin(), want.end(), '\n'), 100);
    for (std::size_t b = 1; b <= 7; ++b) EXPECT_TRUE(read_all(b) == want) << "buffer of " << b << " bytes";
}

// Rows of measurement data, with lines of every other kind among them: the
// rows parsed where they lie in the read buffer (row by row with read_row,
// in runs with read_rows_to) are what the general path reads, which a read
// buffer of 3 bytes leaves it nearly every line to do: the same results,
// refusals, line numbers and kept lines, and every value bit for bit, also
// with a line limit that many lines pass.
TEST(ReadRowPlainLines, ReadLikeTheGeneralPath) {
    std::mt19937 gen(5);
    std::uniform_int_distribution<int> percent(0, 99);
    std::normal_distribution<double> normal;
    const std::vector<std::string> odd_values = {
        "16777216", "16777217", "1677721.7", "0.0620061", "-0.0620061", "12345678", "123456789", "0.000123456",
        "-0", "-.5", "5.", ".5", "1.5e3", "2E-2", "3.14159265358979", "1e39", "-1e-50", "1-2", "1.2.3",
        "--1", "-", ".", "+5", "0000000000001.5", "9.999999e-5"};
    const std::vector<std::string> separators = {" ", " ", " ", "\t", ",", ", ", "  "};
    const std::vector<std::string> odd_lines = {"! note 1 2\n", "1 2 ! note\n", "\n", "  \t\n", "1 \r2\n",
                                                "1 2\r\r\n", "\r\n", "1 \0 2\n"s, "1;2\n", "\x1a",
                                                "1 2 3\x1a" "4\n", "x,y\n"};
    std::string text = "1 2 3 4 5 6 7 8\n";  // the count of the rows
    while (text.size() < 3 * text_buffer_bytes) {
        if (percent(gen) < 4) {
            text += odd_lines[static_cast<std::size_t>(percent(gen)) % odd_lines.size()];
            continue;
        }
        const int values = percent(gen) < 5 ? 1 + percent(gen) % 12 : 8;
        for (int v = 0; v < values; ++v) {
            if (v) text += separators[static_cast<std::size_t>(percent(gen)) % separators.size()];
            if (percent(gen) < 6) {
                text += odd_values[static_cast<std::size_t>(percent(gen)) % odd_values.size()];
            } else {
                const double centre = 4 * (percent(gen) % 8);
                const double x = centre + 2 * normal(gen);
                char value[32];
                std::snprintf(value, sizeof value, "%.6g", x);
                text += value;
            }
        }
        text += percent(gen) < 15 ? "\r\n" : "\n";
    }
    TempFile tmp(text);

    // Values of rows only; for anything else all that read_row tells.
    auto trace = [&](std::size_t buffer_bytes, std::size_t line_limit, bool runs, int& rows) {
        TextFile f;
        f.buffer_bytes = buffer_bytes;
        f.line_limit = line_limit;
        EXPECT_TRUE(text_open(f, tmp.path()));
        std::string t;
        int nvars = 0;
        std::vector<float> run(64 * max_vars);
        auto row = fresh_row();
        rows = 0;
        for (std::size_t calls = 0; calls <= text.size(); ++calls) {
            if (runs && nvars > 0) {
                const std::int64_t got = read_rows_to(f, run.data(), 64, nvars);
                for (std::int64_t i = 0; i < got * nvars; ++i) t += std::to_string(bits(run[i])) + ",";
                rows += static_cast<int>(got);
                if (got > 0) continue;
            }
            RowRefusal why;
            const bool fixes = nvars == 0;
            const int n = runs ? read_row_to(f, row.data(), nvars, why) : read_row(f, row.data(), nvars, why);
            const int count = n > 0 ? n : n == row_count_mismatch ? why.count : 0;
            for (int i = 0; i < count; ++i) t += std::to_string(bits(row[i])) + ",";
            rows += n > 0;
            if (n <= 0 || fixes)
                t += "\n" + std::to_string(n) + ":" + std::to_string(static_cast<int>(why.end)) + ":" +
                     std::to_string(why.line) + ":" + std::to_string(why.column) + ":" + std::to_string(why.byte) +
                     ":" + std::to_string(why.value) + ":" + std::to_string(why.count) + ":" +
                     std::to_string(f.line_no) + ":" + printable(f.line) + "\n";
            if (n == row_end && why.end == DataEnd::file_end) break;
        }
        text_close(f);
        return t + "lines " + std::to_string(f.newlines);
    };
    for (const std::size_t limit : {max_line_bytes, std::size_t{64}}) {
        SCOPED_TRACE("line limit " + std::to_string(limit));
        int rows = 0, general_rows = 0;
        const std::string want = trace(3, limit, false, general_rows);
        EXPECT_GT(general_rows, limit == 64 ? 1000 : 4000);
        EXPECT_TRUE(trace(text_buffer_bytes, limit, false, rows) == want) << "row by row";
        EXPECT_TRUE(trace(text_buffer_bytes, limit, true, rows) == want) << "in runs";
        EXPECT_EQ(rows, general_rows);
    }
}

TEST(TextFileOpen, MissingFileIsNotOpened) {
    TextFile f;
    EXPECT_FALSE(text_open(f, "/tmp/read_row_test_no_such_dir/no_such_file"));
    EXPECT_EQ(f.fd, -1);
    text_close(f);
    text_close(f);
    EXPECT_EQ(f.fd, -1);
}

// The read buffer is allocated once, at the first read (a file opened only
// for its descriptor never needs one), and the line is reused.
TEST(TextFileOpen, BufferAllocatedOnceAndLineReused) {
    TempFile tmp(std::string(5000, '1') + "\n1\n");
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    ASSERT_TRUE(text_read_line(f));
    EXPECT_EQ(f.buf.size(), text_buffer_bytes);
    const char* buf = f.buf.data();
    const char* data = f.line.data();
    std::size_t cap = f.line.capacity();
    ASSERT_TRUE(text_read_line(f));
    EXPECT_EQ(f.line, "1\n");
    EXPECT_EQ(f.line.data(), data);
    EXPECT_EQ(f.line.capacity(), cap);
    text_rewind(f);
    ASSERT_TRUE(text_read_line(f));
    EXPECT_EQ(f.buf.data(), buf);
    text_close(f);
    text_close(f);
}

// ---------------------------------------------------------------------------
// Whole files through read_row.

struct RowStep {
    int result;
    std::vector<float> values;  // checked for results >= 1 and -1
    int nvars_after;
    int nvars_before = -1;      // >= 0: nvars is set to this before the call
};

struct FileCase {
    const char* name;
    std::string content;
    std::vector<RowStep> steps;  // the last must give 0
};

std::ostream& operator<<(std::ostream& os, const FileCase& c) {
    return os << c.name << " \"" << printable(c.content) << "\"";
}

class ReadRowFile : public testing::TestWithParam<FileCase> {};

TEST_P(ReadRowFile, GivesExpectedRows) {
    const FileCase& c = GetParam();
    TempFile tmp(c.content);
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    int nvars = 0;
    testing::internal::CaptureStderr();
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
        const RowStep& s = c.steps[i];
        SCOPED_TRACE("step " + std::to_string(i));
        if (s.nvars_before >= 0) nvars = s.nvars_before;
        auto row = fresh_row();
        int got = read_row(f, row.data(), nvars);
        EXPECT_EQ(got, s.result);
        EXPECT_EQ(nvars, s.nvars_after);
        if (got == s.result && (got >= 1 || got == row_count_mismatch)) {
            expect_values(row.data(), s.values);
            EXPECT_EQ(bits(row[s.values.size()]), bits(sentinel));
        }
        if (got == row_end || got == row_bad_char) {
            for (float v : row) ASSERT_EQ(bits(v), bits(sentinel)) << "row touched";
        }
    }
    testing::internal::GetCapturedStderr();
    text_close(f);
}

const FileCase file_cases[] = {
    {"three_values", "1.5, 2.5,3.5\n", {{3, {1.5f, 2.5f, 3.5f}, 3}, {0, {}, 3}}},
    {"empty_file", "", {{0, {}, 0}}},
    {"comments_only", "! a\n!b 1 2\n", {{0, {}, 0}}},
    {"comment_after_numbers", "1 2 ! note\n3 4\n", {{2, {3, 4}, 2}, {0, {}, 2}}},
    {"comments_at_start_and_end",
     "! header\n!!\n1 2\n! mid ; x\n3 4\n! tail 5 6\n! last",
     {{2, {1, 2}, 2}, {2, {3, 4}, 2}, {0, {}, 2}, {0, {}, 2}}},
    {"comment_with_any_bytes", "!\x01\xff;\0\n5\n"s, {{1, {5}, 1}, {0, {}, 1}}},
    {"nul_before_bang_is_comment", "1 \0 2 !\n5\n"s, {{1, {5}, 1}, {0, {}, 1}}},
    {"nul_in_row", "1 \0 2\n"s, {{row_bad_char, {}, 0}}},
    {"empty_line_ends_data", "1 2\n\n3 4\n", {{2, {1, 2}, 2}, {0, {}, 2}}},
    {"first_row_empty", "\n1 2\n", {{0, {}, 0}}},
    {"blank_first_row", "  ,\t\n1 2\n", {{0, {}, 0}}},
    {"no_value_row_ends_data", "1\n2e 3\n4\n", {{1, {1}, 1}, {0, {}, 1}}},
    {"minus_row_ends_data", "1\n- 5\n4\n", {{1, {1}, 1}, {0, {}, 1}}},
    {"no_value_first_row", "2e 3\n4\n", {{0, {}, 0}}},
    {"count_mismatch", "1 2\n1 2 3\n4 5\n",
     {{2, {1, 2}, 2}, {row_count_mismatch, {1, 2, 3}, 2}, {2, {4, 5}, 2}, {0, {}, 2}}},
    {"reset_then_same_row", "1 2\n1 2 3\n1 2 3\n",
     {{2, {1, 2}, 2}, {row_count_mismatch, {1, 2, 3}, 2}, {3, {1, 2, 3}, 3, 0}, {0, {}, 3}}},
    {"fixed_nvars_kept_on_empty", "1 2 3\n", {{3, {1, 2, 3}, 3, 3}, {0, {}, 3}}},
    {"bad_char_row", "1 2\n1;2\n", {{2, {1, 2}, 2}, {row_bad_char, {}, 2}}},
    {"letter_row", "a\n", {{row_bad_char, {}, 0}}},
    {"crlf_rows", "1 2\r\n3 4\r\n", {{2, {1, 2}, 2}, {2, {3, 4}, 2}, {0, {}, 2}}},
    {"cr_joins_digits", "1\r2\n", {{1, {12}, 1}, {0, {}, 1}}},
    {"double_cr_separates_nothing", "1\r\r2\n", {{1, {1}, 1}, {0, {}, 1}}},
    {"double_cr_after_blank", "1 \r\r2\n", {{2, {1, 2}, 2}, {0, {}, 2}}},
    {"ctrl_z_after_last_row", "1 2\n3 4\n\x1a", {{2, {1, 2}, 2}, {2, {3, 4}, 2}, {0, {}, 2}}},
    {"ctrl_z_at_line_start_ends_data", "1 2\n\x1a" "3 4\n", {{2, {1, 2}, 2}, {0, {}, 2}}},
    {"ctrl_z_splits_line", "1 2\x1a" "3\n",
     {{2, {1, 2}, 2}, {1, {3}, 1, 0}, {0, {}, 1}}},
    {"ctrl_z_splits_line_mismatch", "1 2\x1a" "3\n",
     {{2, {1, 2}, 2}, {row_count_mismatch, {3}, 2}, {0, {}, 2}}},
    {"ctrl_z_splits_one_value_rows", "1\x1a" "3\n", {{1, {1}, 1}, {1, {3}, 1}, {0, {}, 1}}},
    {"cr_then_ctrl_z_is_bad", "1\r\x1a" "2\n", {{row_bad_char, {}, 0}}},
    {"no_final_line_feed", "1 2\n3 4", {{2, {1, 2}, 2}, {2, {3, 4}, 2}, {0, {}, 2}}},
    {"out_of_range_row", "1\n1e39\n", {{1, {1}, 1}, {row_out_of_range, {}, 1}}},
    {"underflow_row", "1e-50 -1e-50 1e-40\n", {{3, {0.0f, -0.0f, 1e-40f}, 3}, {0, {}, 3}}},
};
INSTANTIATE_TEST_SUITE_P(Cases, ReadRowFile, testing::ValuesIn(file_cases),
                         [](const auto& i) { return std::string(i.param.name); });

// Runs read_row over `f` from the current position to the first 0 or
// negative result, recording every result, nvars and the row values.
struct PassRecord {
    std::vector<int> results;
    std::vector<int> nvars;
    std::vector<std::vector<std::uint32_t>> rows;
    bool operator==(const PassRecord&) const = default;
};

PassRecord read_pass(TextFile& f, int& nvars) {
    PassRecord rec;
    std::vector<float> row(max_vars);
    for (;;) {
        int r = read_row(f, row.data(), nvars);
        rec.results.push_back(r);
        rec.nvars.push_back(nvars);
        std::vector<std::uint32_t> b;
        for (int i = 0; i < r; ++i) b.push_back(bits(row[static_cast<std::size_t>(i)]));
        rec.rows.push_back(std::move(b));
        if (r <= 0) return rec;
    }
}

// The reader writes nothing: a count mismatch is described, and row_reason
// gives the message its callers write, with the line as read.
TEST(ReadRowMessage, MismatchIsDescribedNotWritten) {
    struct Case {
        std::string content;
        std::string message;
        std::int64_t line;
    };
    const Case cases[] = {
        {"1 2\n1 2 3\n", "\nstr:1 2 3\n3!=2\n", 2},
        {"1 2\n1 2 3", "\nstr:1 2 33!=2\n", 2},
        {"1 2\n7\r\n", "\nstr:7\n1!=2\n", 2},
        {"1 2\n! c\n 1,, 2 ,3\t4\n", "\nstr: 1,, 2 ,3\t4\n4!=2\n", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(printable(c.content));
        TempFile tmp(c.content);
        TextFile f;
        ASSERT_TRUE(text_open(f, tmp.path()));
        float row[max_vars];
        int nvars = 0;
        ASSERT_EQ(read_row(f, row, nvars), 2);
        RowRefusal why;
        testing::internal::CaptureStderr();
        int r = read_row(f, row, nvars, why);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(r, row_count_mismatch);
        EXPECT_EQ(why.kind, row_count_mismatch);
        EXPECT_EQ(why.line, c.line);
        EXPECT_EQ(printable(row_reason(why, f.line)), printable(c.message));
        EXPECT_EQ(nvars, 2);
        text_close(f);
    }
}

// Every way read_row ends without a row, with what it tells its caller and
// the reason line the caller writes. Nothing reaches the console.
TEST(ReadRowMessage, RefusalsAndEndsAreDescribed) {
    struct Case {
        const char* name;
        std::string content;  // the last line read gives `result`
        int result;
        std::int64_t line;    // checked for rows and empty rows
        int column;
        int byte;
        int value;
        std::string reason;
    };
    const std::string no_number = ", which no number may hold.";
    const Case cases[] = {
        {"letter", "1 2\n! x\n1 x2\n", row_bad_char, 3, 3, 'x', 0,
         "\nRow holds the character \"x\" in column 3" + no_number},
        {"semicolon first", "1;2\n", row_bad_char, 1, 2, ';', 0,
         "\nRow holds the character \";\" in column 2" + no_number},
        {"byte above 127", "1 2\n12 \xc3\xa9\n", row_bad_char, 2, 4, 0xC3, 0,
         "\nRow holds the byte 0xC3 in column 4" + no_number},
        {"form feed", "\f1\n", row_bad_char, 1, 1, 0x0C, 0, "\nRow holds the byte 0x0C in column 1" + no_number},
        {"NUL", "1 \0\n"s, row_bad_char, 1, 3, 0, 0, "\nRow holds the byte 0x00 in column 3" + no_number},
        {"column after a dropped carriage return", "1\r2 x\n", row_bad_char, 1, 4, 'x', 0,
         "\nRow holds the character \"x\" in column 4" + no_number},
        {"out of range", "1 2 3\n1, 2, -4e38\n", row_out_of_range, 2, 7, 0, 3,
         "\nValue beyond the single-precision range. It is value 3 of the row, in column 7."},
        {"too many values", row_of(max_vars + 1, "1") + "\n", row_too_many, 1, 0, 0, 0,
         "\nRow holds more than 2048 values."},
        {"empty row", "1\r\n! c\n\n2\n", row_end, 3, 0, 0, 0, ""},
        {"row without a value", "1\n2\n- 5\n", row_end, 3, 0, 0, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFile tmp(c.content);
        TextFile f;
        ASSERT_TRUE(text_open(f, tmp.path()));
        auto row = fresh_row();
        int nvars = 0;
        RowRefusal why;
        testing::internal::CaptureStderr();
        int r;
        while ((r = read_row(f, row.data(), nvars, why)) > 0) {
        }
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(why.kind, c.result);
        EXPECT_EQ(why.line, c.line);
        EXPECT_EQ(why.column, c.column);
        EXPECT_EQ(why.byte, c.byte);
        EXPECT_EQ(why.value, c.value);
        if (r == row_end) {
            EXPECT_EQ(why.end, DataEnd::empty_row);
        }
        EXPECT_EQ(printable(row_reason(why, f.line)), printable(c.reason));
        text_close(f);
    }

    // The end of the lines: the file's end, or a Ctrl-Z at the start of a
    // line, also after comment lines.
    struct End {
        std::string content;
        DataEnd end;
    };
    const End ends[] = {{"1\n", DataEnd::file_end},      {"1\n! c", DataEnd::file_end},
                        {"1\n\x1a" "2\n", DataEnd::end_mark}, {"1\n! c\n\x1a", DataEnd::end_mark},
                        {"1\x1a", DataEnd::file_end}};
    for (const End& e : ends) {
        SCOPED_TRACE(printable(e.content));
        TempFile tmp(e.content);
        TextFile f;
        ASSERT_TRUE(text_open(f, tmp.path()));
        float row[max_vars];
        int nvars = 0;
        RowRefusal why;
        ASSERT_EQ(read_row(f, row, nvars, why), 1);
        ASSERT_EQ(read_row(f, row, nvars, why), row_end);
        EXPECT_EQ(why.end, e.end);
        text_close(f);
    }
}

// A value with many digits, distinct per column, read back through strtof.
std::string long_value(int i) {
    return std::to_string(i) + ".12345678901234567890123456789";
}

TEST(ReadRowLongLines, FullRowBeyondTenThousandCharacters) {
    std::string line;
    for (int i = 0; i < max_vars; ++i) {
        if (i) line += i % 3 ? " " : ",\t";
        line += long_value(i);
    }
    line += "\n";
    ASSERT_GT(line.size(), 10000u);
    TempFile tmp(line + line);
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    auto row = fresh_row();
    int nvars = 0;
    for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(read_row(f, row.data(), nvars), max_vars);
        EXPECT_EQ(nvars, max_vars);
        EXPECT_EQ(f.line, line);
        for (int i = 0; i < max_vars; ++i)
            ASSERT_EQ(bits(row[static_cast<std::size_t>(i)]),
                      bits(std::strtof(long_value(i).c_str(), nullptr)))
                << "value " << i;
        EXPECT_EQ(bits(row[max_vars]), bits(sentinel));
    }
    EXPECT_EQ(read_row(f, row.data(), nvars), 0);
    text_close(f);
}

TEST(ReadRowLongLines, MismatchOnLongLineShowsWholeLine) {
    std::string line = row_of(1000, long_value(1)) + "\n";
    ASSERT_GT(line.size(), 10000u);
    TempFile tmp("1 2\n" + line);
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    float row[max_vars];
    int nvars = 0;
    ASSERT_EQ(read_row(f, row, nvars), 2);
    RowRefusal why;
    EXPECT_EQ(read_row(f, row, nvars, why), row_count_mismatch);
    EXPECT_EQ(row_reason(why, f.line), "\nstr:" + line + "1000!=2\n");
    text_close(f);
}

// A line longer than max_line_bytes is refused, holding no more than the
// bound in memory; the line after it is read as usual, and a line of exactly
// the bound is not too long. A '!' past the bound still makes a comment line.
TEST(ReadRowLongLines, LineBeyondTheBoundIsRefused) {
    const std::string blanks(max_line_bytes - 1, ' ');
    const std::string content = "2\n" + blanks + "55\n3\n" + blanks + "6\n" + blanks + "7!\n4\n";
    TempFile tmp(content);
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    float row[max_vars];
    int nvars = 0;
    RowRefusal why;
    ASSERT_EQ(read_row(f, row, nvars, why), 1);
    EXPECT_EQ(read_row(f, row, nvars, why), row_too_long);
    EXPECT_EQ(why.line, 2);
    EXPECT_LE(f.line.capacity(), max_line_bytes + 1);
    EXPECT_EQ(row_reason(why, f.line), "\nRow is longer than 16777216 characters.");
    ASSERT_EQ(read_row(f, row, nvars, why), 1);
    EXPECT_EQ(row[0], 3.0f);
    ASSERT_EQ(read_row(f, row, nvars, why), 1);  // exactly the bound
    EXPECT_EQ(row[0], 6.0f);
    EXPECT_EQ(f.line.size(), max_line_bytes + 1);
    EXPECT_LE(f.line.capacity(), max_line_bytes + 1);
    ASSERT_EQ(read_row(f, row, nvars, why), 1);  // the comment line is passed over
    EXPECT_EQ(row[0], 4.0f);
    EXPECT_EQ(f.line_no, 6);
    EXPECT_EQ(read_row(f, row, nvars, why), row_end);
    text_close(f);
}

TEST(ReadRowLongLines, TooManyValuesIsRefused) {
    TempFile tmp(row_of(max_vars + 1, "1.25", ",") + "\n");
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    auto row = fresh_row(max_vars + 16);
    int nvars = 0;
    EXPECT_EQ(read_row(f, row.data(), nvars), row_too_many);
    EXPECT_EQ(nvars, 0);
    for (std::size_t i = max_vars; i < row.size(); ++i)
        ASSERT_EQ(bits(row[i]), bits(sentinel)) << "stored at " << i;
    text_close(f);
}

TEST(ReadRowRewind, SecondPassGivesIdenticalResults) {
    std::string content = "! data\n";
    std::mt19937 gen(3);
    std::uniform_real_distribution<float> val(-1000.0f, 1000.0f);
    for (int r = 0; r < 500; ++r) {
        for (int c = 0; c < 5; ++c) {
            char tmp[64];
            std::snprintf(tmp, sizeof tmp, "%s%.9g", c ? "," : "", val(gen));
            content += tmp;
        }
        content += r % 7 ? "\n" : "\r\n";
        if (r % 50 == 0) content += "! comment 1 2\n";
    }
    content += "\n9 9 9 9 9\n";  // after the empty row: never part of the data
    TempFile tmp(content);
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    int nvars = 0;
    PassRecord first = read_pass(f, nvars);
    ASSERT_EQ(first.results.size(), 501u);
    EXPECT_EQ(first.results.back(), 0);
    EXPECT_EQ(nvars, 5);
    text_rewind(f);
    PassRecord second = read_pass(f, nvars);
    EXPECT_TRUE(first == second);
    text_rewind(f);
    nvars = 0;
    PassRecord third = read_pass(f, nvars);
    EXPECT_TRUE(first == third);
    text_close(f);
}

TEST(ReadRowRewind, RewindAfterEndOfFileAndCtrlZ) {
    TempFile tmp("1 2\n\x1a" "3 4\n");
    TextFile f;
    ASSERT_TRUE(text_open(f, tmp.path()));
    float row[max_vars];
    int nvars = 0;
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(read_row(f, row, nvars), 2);
        EXPECT_EQ(row[0], 1.0f);
        EXPECT_EQ(row[1], 2.0f);
        EXPECT_EQ(read_row(f, row, nvars), 0);
        // Read on to the real end of the file before rewinding.
        while (text_read_line(f) || !f.eof) {
        }
        text_rewind(f);
    }
    text_close(f);
}

}  // namespace
