// Text pieces of an SVG file: numbers without any locale, and text escaped
// for XML. Everything appends to a string that the caller owns.
#pragma once

#include <string>
#include <string_view>

namespace kmeans {

// Appends `v` in fixed notation with `decimals` digits after the point
// ("12.5" with 1). A value that rounds to zero is written without a sign.
// Used for coordinates and sizes.
void svg_fixed(std::string& out, double v, int decimals);

// Appends a data value for a label: the shortest of fixed or exponent form
// with six significant digits, like the centre file's values ("4.3", "0.1",
// "1.23457e+06"); a float given as double shows no binary tail.
void svg_value(std::string& out, double v);

// Appends `text` escaped for XML character data and attribute values
// (& < > " '). Bytes that are not valid UTF-8 and control characters (which
// XML 1.0 does not allow) are written as '?', so that any file name gives a
// well-formed document.
void svg_text(std::string& out, std::string_view text);

}  // namespace kmeans
