// Tests of the program's formatter: fixed expectations for the conversions
// the program writes, and sweeps comparing floating output with the C
// library's once its exponent is widened to three digits.

#include "base/format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>
#include <sys/types.h>
#include <vector>

using namespace kmeans;

namespace {

const double nan_value = std::numeric_limits<double>::quiet_NaN();
const double inf_value = std::numeric_limits<double>::infinity();

// Goes through vappend_format with a format the compiler cannot check, for
// formats that are deliberately malformed.
std::string unchecked_format(const char* fmt, ...) {
    std::string out;
    va_list ap;
    va_start(ap, fmt);
    vappend_format(out, fmt, ap);
    va_end(ap);
    return out;
}

// What the C library writes for one double conversion.
std::string c_library(const char* fmt, double value) {
    char buf[512];
    int n = std::snprintf(buf, sizeof buf, fmt, value);
    return std::string(buf, static_cast<std::size_t>(n));
}

// The C library's text with every two-digit exponent ("e+05", "E-12") made
// three digits long.
std::string with_long_exponent(const std::string& s) {
    std::string r;
    for (std::size_t i = 0; i < s.size(); ++i) {
        r += s[i];
        bool exponent = (s[i] == 'e' || s[i] == 'E') && i + 3 < s.size() &&
                        (s[i + 1] == '+' || s[i + 1] == '-') &&
                        std::isdigit(static_cast<unsigned char>(s[i + 2])) &&
                        std::isdigit(static_cast<unsigned char>(s[i + 3])) &&
                        (i + 4 == s.size() ||
                         !std::isdigit(static_cast<unsigned char>(s[i + 4])));
        if (exponent) {
            r += s[i + 1];
            r += '0';
            ++i;
        }
    }
    return r;
}

struct DoubleCase {
    const char* fmt;
    double value;
    const char* expected;
};

TEST(Format, FloatingConversions) {
    const DoubleCase cases[] = {
        {"%-12.6G", 0.5, "0.5         "},
        {"%-12.6G", -1.0, "-1          "},
        {"%-10.4G", -1.0, "-1        "},
        {"%-10.4G", static_cast<double>(2.34567f), "2.346     "},
        {"%-10.4G", static_cast<double>(FLT_MAX), "3.403E+038"},
        {"%-10.4G", 3.4028234663852886e+38, "3.403E+038"},
        {"%.4f", -1.0, "-1.0000"},
        {"%.4f", 0.5, "0.5000"},
        {"%.3f", 0.75, "0.750"},
        {"%.5f", 0.0, "0.00000"},
        {"%-12.6G", 5.138706684112549, "5.13871     "},
        {"%-12.6G", 1234567.0, "1.23457E+006"},
        {"%-12.6G", 123456.0, "123456      "},
        {"%-12.6G", 0.0001, "0.0001      "},
        {"%-12.6G", 0.00001, "1E-005      "},
        {"%G", 1e-5, "1E-005"},
        {"%G", 1e-300, "1E-300"},
        {"%G", 1e300, "1E+300"},
        {"%e", 1e100, "1.000000e+100"},
        {"%g", 1e-5, "1e-005"},
        {"%g", 100000.0, "100000"},
        {"%g", 1e6, "1e+006"},
        {"%E", 0.0, "0.000000E+000"},
        {"%E", DBL_MIN, "2.225074E-308"},
        {"%e", 4.9406564584124654e-324, "4.940656e-324"},
        {"%.0e", 12345.0, "1e+004"},
        {"%#.0e", 12345.0, "1.e+004"},
        {"%#G", 1e-5, "1.00000E-005"},
        {"%+.2e", 1.5, "+1.50e+000"},
        {"% .2e", 1.5, " 1.50e+000"},
        {"%12.2E", -1.5, "  -1.50E+000"},
        {"%-12.2E|", -1.5, "-1.50E+000  |"},
        {"%012.2E", -1.5, "-001.50E+000"},
        {"%+012.2E", 1.5, "+001.50E+000"},
        {"%-012.2E|", 1.5, "1.50E+000   |"},
        {"%5.2E", 1.5, "1.50E+000"},  // a field wider than the width stays whole
        {"%010.2f", -3.14159, "-000003.14"},
        {"%+010.1f", 2.0, "+0000002.0"},
        {"%8.3G", 1e-10, "  1E-010"},
        {"%.3g", 0.0001234, "0.000123"},
        {"%.3g", 0.00001234, "1.23e-005"},
        {"%.3g", 999.5, "1e+003"},     // rounding lifts the exponent to P
        {"%.3G", 99.95, "100"},        // 99.95 is stored just above .95
        {"%.1f", 0.15, "0.1"},         // 0.15 is stored just below .15
        {"%G", 999999.5, "1E+006"},
        {"%G", 0.000099999995, "0.0001"},  // rounds up to the fixed form
        {"%f", 1e20, "100000000000000000000.000000"},
        {"%F", 2.5, "2.500000"},
        {"%G", -0.0, "-0"},
        // Not-a-number and infinity, for every letter.
        {"%-12.6G", nan_value, "NAN         "},
        {"%-12.6G", -nan_value, "NAN         "},
        {"%-12.6G", std::copysign(nan_value, -1.0), "NAN         "},
        {"%f", nan_value, "NAN"},
        {"%F", -nan_value, "NAN"},
        {"%e", std::copysign(nan_value, -1.0), "NAN"},
        {"%E", nan_value, "NAN"},
        {"%g", nan_value, "NAN"},
        {"%+G", std::copysign(nan_value, -1.0), "NAN"},
        {"%5.1f", nan_value, "  NAN"},
        {"%05.1f", nan_value, "  NAN"},
        {"%g", inf_value, "INF"},
        {"%f", -inf_value, "-INF"},
        {"%e", inf_value, "INF"},
        {"%+f", inf_value, "+INF"},
        {"%8.3e", inf_value, "     INF"},
        {"%-8E|", -inf_value, "-INF    |"},
        {"%08.2f", inf_value, "     INF"},
        {"%-12.6G", -inf_value, "-INF        "},
    };
    for (const DoubleCase& c : cases) {
        EXPECT_EQ(format(c.fmt, c.value), c.expected)
            << "format \"" << c.fmt << "\" of " << c.value;
    }
}

TEST(Format, NaNFromDivisionHasNoSign) {
    volatile double zero = 0.0;
    double nan_from_division = zero / zero;
    EXPECT_EQ(format("%G|%f|%e", nan_from_division, nan_from_division,
                     nan_from_division),
              "NAN|NAN|NAN");
}

struct TextCase {
    std::string actual;
    const char* expected;
};

TEST(Format, MixedAndIntegerConversions) {
    volatile int negative_width = -5;
    const TextCase cases[] = {
        {format("mdist:%-12.6G nr:%-5d totd:%-12.6G\n", 3.0, 2, 6.0),
         "mdist:3            nr:2     totd:6           \n"},
        {format("%03d%c", 7, '-'), "007-"},
        {format("%-6ld ", 12L), "12     "},
        {format("\nstr:%s%d!=%d\n", "abc", 3, 4), "\nstr:abc3!=4\n"},
        {format("%.3e|%d|%s", 1.0, 9, "x"), "1.000e+000|9|x"},
        {format("%Le", 1e5L), "1.000000e+005"},
        {format("no conversions"), "no conversions"},
        {format("%s", ""), ""},
        {format("100%% done"), "100% done"},
        {format("%5s|%-5s|", "ab", "cd"), "   ab|cd   |"},
        {format("%.2s", "abcdef"), "ab"},
        {format("%3c|%-3c|", 'x', 'y'), "  x|y  |"},
        {format("%*d|", 5, 42), "   42|"},
        {format("%*d|", static_cast<int>(negative_width), 42), "42   |"},
        {format("%-*.*G", 12, 6, 1234567.0), "1.23457E+006"},
        {format("%*.*G|", 8, 2, 0.5), "     0.5|"},
        {format("%.*f", -1, 0.5), "0.500000"},
        {format("%d", INT_MIN), "-2147483648"},
        {format("%i", -17), "-17"},
        {format("%ld", LONG_MIN), "-9223372036854775808"},
        {format("%lld", LLONG_MIN), "-9223372036854775808"},
        {format("%llu", ULLONG_MAX), "18446744073709551615"},
        {format("%lu", 4000000000UL), "4000000000"},
        {format("%u", 4294967295U), "4294967295"},
        {format("%zu", static_cast<size_t>(123)), "123"},
        {format("%zd", static_cast<ssize_t>(-5)), "-5"},
        {format("%hd", static_cast<short>(-3)), "-3"},
        {format("%x %X %#o", 255, 255, 8), "ff FF 010"},
        {format("%+d % d %+5d|%-+5d|", 3, 3, -3, 3), "+3  3    -3|+3   |"},
        {format("%05d", -42), "-0042"},
        {format("%5.3d", 7), "  007"},
        {unchecked_format("%-05d|", 7), "7    |"},  // '-' wins over '0'
        // Text that is not a conversion is written as it stands.
        {unchecked_format("50%"), "50%"},
        {unchecked_format("a%qb"), "a%qb"},
        {unchecked_format("a%-5qb%d", 3), "a%-5qb3"},
    };
    for (const TextCase& c : cases) EXPECT_EQ(c.actual, c.expected);
}

// vformat_fixed into a buffer of `size` bytes.
std::string fixed_format(std::size_t size, const char* fmt, ...) {
    std::vector<char> buf(size, 'x');
    va_list ap;
    va_start(ap, fmt);
    std::size_t n = vformat_fixed(buf.data(), size, fmt, ap);
    va_end(ap);
    EXPECT_EQ(buf[n], '\0');
    return std::string(buf.data(), n);
}

// The fixed-buffer path of the fatal messages gives the same bytes as the
// string path wherever the text fits, also where the exponent is widened
// and the field padded after the C library wrote the digits; text that does
// not fit is cut to the buffer, a long name as its beginning.
TEST(Format, FixedBufferGivesTheSameText) {
    const char* fmts[] = {"%-12.6G|", "%12.6G|", "%-10.4G", "%012.3E|", "%+.3e", "%10f|", "%G"};
    for (const char* fmt : fmts) {
        for (double v : {0.5, -1.0, 1234567.0, 1e-7, 1e100, -3.4e38, 1.5e-40, nan_value, -inf_value}) {
            const std::string want = format(fmt, v);
            EXPECT_EQ(fixed_format(256, fmt, v), want) << fmt << " " << v;
            EXPECT_EQ(fixed_format(want.size() + 1, fmt, v), want) << fmt << " " << v;
        }
    }
    EXPECT_EQ(fixed_format(64, "\nPANIC: Bad datafile: %s  Datarow:%lld\n", "D.DAT", 12LL),
              "\nPANIC: Bad datafile: D.DAT  Datarow:12\n");
    EXPECT_EQ(fixed_format(64, "%-5d|%05d|%c|%s|%%", 7, -42, 'x', "name"), "7    |-0042|x|name|%");
    const std::string name(300, 'n');
    EXPECT_EQ(fixed_format(20, "PANIC: %s\n", name.c_str()), "PANIC: " + name.substr(0, 12));
    EXPECT_EQ(fixed_format(1, "%s", "abc"), "");
}

TEST(Format, AppendKeepsExistingText) {
    std::string out = "head:";
    append_format(out, "%d,", 1);
    append_format(out, "%-6.2G|", 1e-7);
    EXPECT_EQ(out, "head:1,1E-007|");
}

// Values spread over many decades with mantissas that round in different
// ways, including ones that carry into the next decade.
std::vector<double> sweep_values() {
    const double mantissas[] = {1.0, 1.5, 2.5, 3.14159265358979, 9.5,
                                9.99999, 9.9999999999, 1.23456789012, 0.5,
                                4.4999999, 7.0 / 3.0};
    std::vector<double> values;
    for (int e = -40; e <= 40; ++e) {
        for (double m : mantissas) {
            double v = m * std::pow(10.0, e);
            values.push_back(v);
            values.push_back(-v);
        }
    }
    const double specials[] = {0.0, -0.0, DBL_MAX, -DBL_MAX, DBL_MIN,
                               std::numeric_limits<double>::denorm_min(),
                               static_cast<double>(FLT_MAX),
                               static_cast<double>(FLT_MIN), 1e-300, 1e300,
                               1e-310, 1e100, 1e-100, 0.1, 123456789.0};
    values.insert(values.end(), std::begin(specials), std::end(specials));
    return values;
}

TEST(Format, MatchesCLibraryWithLongExponent) {
    const char* letters = "GgEef";
    int failures = 0;
    for (double v : sweep_values()) {
        for (const char* l = letters; *l != '\0'; ++l) {
            for (int prec = 1; prec <= 9; ++prec) {
                char c_fmt[16];
                std::snprintf(c_fmt, sizeof c_fmt, "%%.%d%c", prec, *l);
                std::string expected = with_long_exponent(c_library(c_fmt, v));
                std::string actual = format(c_fmt, v);
                if (actual != expected && ++failures <= 20) {
                    ADD_FAILURE() << c_fmt << " of " << v << ": got \"" << actual
                                  << "\", expected \"" << expected << "\"";
                }
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST(Format, WidthAppliesToWidenedText) {
    const char* letters = "GEf";
    const int widths[] = {1, 6, 12, 16, 24};
    int failures = 0;
    for (double v : sweep_values()) {
        if (std::fabs(v) > 1e40) continue;  // keep %f fields short
        for (const char* l = letters; *l != '\0'; ++l) {
            for (int prec = 1; prec <= 9; prec += 4) {
                char bare[16];
                std::snprintf(bare, sizeof bare, "%%.%d%c", prec, *l);
                std::string text = with_long_exponent(c_library(bare, v));
                for (int width : widths) {
                    std::size_t w = static_cast<std::size_t>(width);
                    std::size_t fill = text.size() < w ? w - text.size() : 0;
                    bool has_sign = text[0] == '-';
                    std::string left = text + std::string(fill, ' ');
                    std::string right = std::string(fill, ' ') + text;
                    std::string zeros = text;
                    zeros.insert(has_sign ? 1 : 0, fill, '0');
                    // The three field forms of the same conversion.
                    char fmt[24];
                    std::snprintf(fmt, sizeof fmt, "%%-%d.%d%c", width, prec, *l);
                    std::string got_left = unchecked_format(fmt, v);
                    std::snprintf(fmt, sizeof fmt, "%%%d.%d%c", width, prec, *l);
                    std::string got_right = unchecked_format(fmt, v);
                    std::snprintf(fmt, sizeof fmt, "%%0%d.%d%c", width, prec, *l);
                    std::string got_zeros = unchecked_format(fmt, v);
                    bool ok = got_left == left && got_right == right &&
                              got_zeros == zeros &&
                              got_left.size() == std::max(w, text.size());
                    if (!ok && ++failures <= 20) {
                        ADD_FAILURE() << "width " << width << " " << bare << " of "
                                      << v << ": \"" << got_left << "\" \""
                                      << got_right << "\" \"" << got_zeros << "\"";
                    }
                }
            }
        }
    }
    EXPECT_EQ(failures, 0);
}

TEST(Format, IntegerFieldsMatchCLibrary) {
    const int values[] = {0, 1, -1, 7, -42, 123456, -99999, INT_MIN, INT_MAX};
    const char* fmts[] = {"%d",   "%5d",   "%-5d|", "%05d",  "%+d",
                          "% d",  "%.3d",  "%8.3d", "%-+8d|", "%+08d",
                          "%.0d", "%12i"};
    for (int v : values) {
        for (const char* f : fmts) {
            char buf[64];
            std::snprintf(buf, sizeof buf, f, v);
            EXPECT_EQ(unchecked_format(f, v), buf) << f << " of " << v;
        }
    }
}

// Integers where decimal digits change count, the extremes, and a stride
// through the whole range.
std::vector<int> int_line_values() {
    std::vector<int> values = {0, 1, -1, 9, -9, 10, -10, INT_MIN, INT_MIN + 1,
                               INT_MAX, INT_MAX - 1};
    for (long long p = 10; p <= INT_MAX; p *= 10) {
        for (long long v : {p - 1, p, p + 1}) {
            if (v <= INT_MAX) {
                values.push_back(static_cast<int>(v));
                values.push_back(static_cast<int>(-v));
            }
        }
    }
    for (long long v = INT_MIN; v <= INT_MAX; v += 9999991LL) {
        values.push_back(static_cast<int>(v));
    }
    return values;
}

TEST(IntLine, MatchesToString) {
    for (int v : int_line_values()) {
        char buf[16];
        std::fill(std::begin(buf), std::end(buf), '#');
        std::size_t n = int_line(buf, v);
        std::string expected = std::to_string(v) + "\n";
        ASSERT_EQ(std::string(buf, n), expected) << v;
        // Nothing is written past the returned length.
        for (std::size_t i = n; i < sizeof buf; ++i) ASSERT_EQ(buf[i], '#') << v;
    }
}

}  // namespace
