// The one number formatter of the program.
//
// Every formatted message and every result-file line goes through these
// functions. They accept the printf conversions %d %i %u %x %X %o %c %s %f
// %F %e %E %g %G and %%, with the flags '-' '+' ' ' '0' '#', a width and a
// precision (either may be '*'), and the length modifiers h, l, ll and z
// (integers) and L (long double); anything else after a '%' is written as it
// stands. They differ from the C library in these ways, so that output is
// the same on every platform:
//   - an exponent is always written as its sign and at least three digits
//     (1234567 with "%-12.6G" gives "1.23457E+006");
//   - a value that is not a number is written "NAN" and an infinite one
//     "INF" or "-INF", whatever the conversion letter;
//   - a number's precision above 100 counts as 100 (no format of this
//     program comes near it).
// Width and justification apply to the final text. No locale is consulted:
// the decimal point is always '.'.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

namespace kmeans {

// Appends the formatted text to `out`.
void vappend_format(std::string& out, const char* fmt, va_list ap);
void append_format(std::string& out, const char* fmt, ...)
    __attribute__((format(printf, 2, 3)));

// Formats into `buf` of `size` bytes (at least 1) without allocating memory,
// for the fatal-error path: the same text as vappend_format when it fits;
// otherwise its first size - 1 bytes. Always ends with '\0'. Returns the
// length; a length of size - 1 means the text may have been cut.
std::size_t vformat_fixed(char* buf, std::size_t size, const char* fmt, va_list ap);

// Returns the formatted text.
std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// Writes `value` in decimal followed by '\n' into `buf` (at least 13 bytes)
// and returns the number of bytes written. Used where one integer per row is
// written and a general formatter would be too slow.
std::size_t int_line(char* buf, int value);

}  // namespace kmeans
