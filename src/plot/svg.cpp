#include "plot/svg.h"

#include <charconv>

namespace kmeans {

void svg_fixed(std::string& out, double v, int decimals) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string_view text(buf, static_cast<std::size_t>(res.ptr - buf));
    // "-0.0": a tiny negative value that rounds to zero.
    if (text.size() > 1 && text[0] == '-' && text.find_first_not_of("-0.") == std::string_view::npos)
        text.remove_prefix(1);
    out.append(text);
}

void svg_value(std::string& out, double v) {
    if (v == 0) v = 0;  // no "-0"
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 6);
    out.append(buf, res.ptr);
}

// The length of the valid UTF-8 sequence at the start of `s`, or 0 when it
// does not start with one (overlong forms, surrogates and values above
// U+10FFFF are not valid).
static std::size_t utf8_length(std::string_view s) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    unsigned char c = byte(0);
    std::size_t n;
    char32_t cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) { n = 2; cp = c & 0x1F; }
    else if (c >= 0xE0 && c <= 0xEF) { n = 3; cp = c & 0x0F; }
    else if (c >= 0xF0 && c <= 0xF4) { n = 4; cp = c & 0x07; }
    else return 0;
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i) & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
    return n;
}

void svg_text(std::string& out, std::string_view text) {
    while (!text.empty()) {
        char c = text[0];
        std::size_t n = utf8_length(text);
        if (n == 0) {
            out.push_back('?');
            n = 1;
        } else if (n > 1) {
            out.append(text.substr(0, n));
        } else if (c == '&') {
            out.append("&amp;");
        } else if (c == '<') {
            out.append("&lt;");
        } else if (c == '>') {
            out.append("&gt;");
        } else if (c == '"') {
            out.append("&quot;");
        } else if (c == '\'') {
            out.append("&apos;");
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t') {
            out.push_back('?');
        } else {
            out.push_back(c);
        }
        text.remove_prefix(n);
    }
}

}  // namespace kmeans
