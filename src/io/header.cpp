// The header rule: which first line is a line of column names, and what the
// names are. Runs once per data file, before its first pass.
#include "io/header.h"

#include <cstring>

#include "base/limits.h"
#include "io/read_row.h"

namespace kmeans {

namespace {

bool is_separator(char c) { return c == ' ' || c == '\t' || c == ','; }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether `s` is a number from end to end: an optional sign, digits with an
// optional decimal point (a digit on at least one side of it), an optional
// exponent.
bool is_number(const std::string& s) {
    std::size_t i = 0, n = s.size();
    if (i < n && (s[i] == '-' || s[i] == '+')) ++i;
    std::size_t digits = 0;
    for (; i < n && is_digit(s[i]); ++i) ++digits;
    if (i < n && s[i] == '.')
        for (++i; i < n && is_digit(s[i]); ++i) ++digits;
    if (digits == 0) return false;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < n && (s[i] == '-' || s[i] == '+')) ++i;
        if (i == n || !is_digit(s[i])) return false;
        while (i < n && is_digit(s[i])) ++i;
    }
    return i == n;
}

// Whether `name` may name a column: no control character in it, and unless
// it was quoted not a number.
bool fits_a_name(const std::string& name, bool quoted) {
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') return false;
    return quoted || !is_number(name);
}

}  // namespace

// Reads the name that starts at line[i] (not a separator) up to `end`, into
// `name`, and moves i past it. A name in double quotes runs to its closing
// quote, which a separator or the end must follow; any other name runs up
// to the next character in `stops`. False for a quote that is not closed so.
static bool one_name(const std::string& line, std::size_t& i, std::size_t end, const char* stops, std::string& name,
                     bool& quoted) {
    name.clear();
    quoted = line[i] == '"';
    if (!quoted) {
        while (i < end && std::strchr(stops, line[i]) == nullptr) name += line[i++];
        return true;
    }
    for (++i; i < end; ++i) {
        if (line[i] != '"') {
            name += line[i];
        } else if (i + 1 < end && line[i + 1] == '"') {
            name += '"';
            ++i;
        } else {
            ++i;
            return true;
        }
    }
    return false;
}

bool header_names(const std::string& line, bool commas_only, std::vector<std::string>& names) {
    names.clear();
    std::size_t end = line.size();
    if (end > 0 && line[end - 1] == '\n') --end;
    const auto blank = [&](std::size_t k) { return line[k] == ' ' || line[k] == '\t'; };
    std::size_t i = 0;
    std::string name;
    bool quoted = false;
    if (commas_only) {
        // Fields between commas, blanks around them dropped; an empty field
        // is an empty name.
        if (line.find(',') == std::string::npos) return false;
        for (;;) {
            while (i < end && blank(i)) ++i;
            if (i < end && line[i] != ',') {
                if (!one_name(line, i, end, ",", name, quoted)) return false;
                std::size_t last = name.size();
                while (!quoted && last > 0 && (name[last - 1] == ' ' || name[last - 1] == '\t')) --last;
                name.resize(last);
                while (i < end && blank(i)) ++i;
                if (i < end && line[i] != ',') return false;  // text after a closing quote
            } else {
                name.clear();
                quoted = false;
            }
            if (!fits_a_name(name, quoted)) return false;
            names.push_back(name);
            if (i == end) break;
            ++i;  // the comma
        }
    } else {
        while (i < end && blank(i)) ++i;
        if (i < end && line[i] == ',') names.emplace_back();  // pandas' unnamed index column
        for (;;) {
            while (i < end && is_separator(line[i])) ++i;
            if (i == end) break;
            if (!one_name(line, i, end, " \t,", name, quoted)) return false;
            if (i < end && !is_separator(line[i])) return false;  // text after a closing quote
            if (!fits_a_name(name, quoted)) return false;
            names.push_back(name);
        }
    }
    if (names.empty() || names.size() > static_cast<std::size_t>(max_vars)) return false;
    std::vector<float> scratch(max_vars);
    RowRefusal why;
    return parse_row(line, scratch.data(), why) == row_bad_char;
}

// Reads the next line of `f` that is not a comment line; false at the end.
static bool next_text_line(TextFile& f) {
    do {
        if (!text_read_line(f)) return false;
    } while (f.cut_bang || std::memchr(f.line.data(), '!', f.line.size()) != nullptr);
    return true;
}

HeaderLine find_header(TextFile& f) {
    f.line_limit = header_line_bytes;
    HeaderLine none;
    if (!next_text_line(f) || f.line_cut || f.line.empty() || f.line.back() != '\n') return none;
    std::vector<std::string> like_values, between_commas;
    const bool as_values = header_names(f.line, false, like_values);
    const bool as_fields = header_names(f.line, true, between_commas);
    if (!as_values && !as_fields) return none;
    HeaderLine h;
    h.line = f.line_no;
    h.newlines = f.newlines;
    h.data_from = text_position(f);
    std::vector<float> row(max_vars);
    int nvars = 0;
    RowRefusal why;
    const int n = read_row(f, row.data(), nvars, why);
    if (as_values && n == static_cast<int>(like_values.size())) h.names = std::move(like_values);
    else if (as_fields && n == static_cast<int>(between_commas.size())) h.names = std::move(between_commas);
    else return none;
    return h;
}

void skip_header(TextFile& f, const HeaderLine& h) {
    if (!has_header(h)) return;
    do {
        if (!text_read_line(f)) return;
    } while (f.newlines < h.newlines);
}

}  // namespace kmeans
