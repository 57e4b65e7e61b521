#include "reference.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/mman.h>
#include <unistd.h>

namespace kmeans {

void require(bool ok, const char* what) {
    if (ok) return;
    std::fprintf(stderr, "\nFUZZ CHECK FAILED: %s\n", what);
    std::abort();
}

std::vector<ModelLine> model_lines(std::string_view data) {
    std::vector<ModelLine> lines;
    std::size_t i = 0;
    if (data.substr(0, 3) == "\xEF\xBB\xBF") i = 3;
    std::int64_t newlines = 0;
    ModelLine cur;
    cur.line_no = 1;
    auto finish = [&](bool with_feed) {
        if (with_feed) {
            cur.text += '\n';
            ++newlines;
        }
        lines.push_back(cur);
        cur = ModelLine{};
        cur.line_no = newlines + 1;
    };
    while (i < data.size()) {
        char c = data[i++];
        if (c == '\n') {
            finish(true);
        } else if (c == '\x1a') {
            if (cur.text.empty()) {
                ModelLine mark;
                mark.end = mark.mark = true;
                lines.push_back(mark);
            } else {
                finish(false);
            }
        } else if (c == '\r') {
            if (i == data.size()) break;
            char next = data[i++];
            if (next == '\n') finish(true);
            else cur.text += next;
        } else {
            cur.text += c;
        }
    }
    if (!cur.text.empty()) finish(false);
    ModelLine end;
    end.end = true;
    lines.push_back(end);
    return lines;
}

namespace {

bool digit(char c) { return c >= '0' && c <= '9'; }
bool separator(char c) { return c == ' ' || c == '\t' || c == ','; }
bool value_start(char c) { return digit(c) || c == '-' || c == '.'; }
bool allowed(char c) { return digit(c) || separator(c) || std::strchr(".-+eE\r\n", c) != nullptr; }

// The length of the number "%f" reads at `at`, or 0 when there is none.
std::size_t number_length(const std::string& s, std::size_t at) {
    std::size_t j = at;
    if (j < s.size() && s[j] == '-') ++j;
    std::size_t digits = 0;
    while (j < s.size() && digit(s[j])) ++j, ++digits;
    if (j < s.size() && s[j] == '.') {
        ++j;
        while (j < s.size() && digit(s[j])) ++j, ++digits;
    }
    if (digits == 0) return 0;
    if (j < s.size() && (s[j] == 'e' || s[j] == 'E')) {
        std::size_t k = j + 1;
        if (k < s.size() && (s[k] == '+' || s[k] == '-')) ++k;
        if (k == s.size() || !digit(s[k])) return 0;
        while (k < s.size() && digit(s[k])) ++k;
        j = k;
    }
    return j - at;
}

}  // namespace

int model_parse(const std::string& line, std::vector<float>& values, RowRefusal& why) {
    values.clear();
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\0' || !allowed(line[i])) {
            why.kind = row_bad_char;
            why.column = static_cast<int>(i) + 1;
            why.byte = static_cast<unsigned char>(line[i]);
            return row_bad_char;
        }
    }
    std::size_t i = 0;
    while (i < line.size() && !value_start(line[i])) ++i;
    while (i < line.size()) {
        std::size_t len = number_length(line, i);
        if (len == 0) break;
        if (values.size() == static_cast<std::size_t>(max_vars)) return why.kind = row_too_many;
        const std::string token = line.substr(i, len);
        const float v = std::strtof(token.c_str(), nullptr);
        if (std::isinf(v)) {
            why.kind = row_out_of_range;
            why.column = static_cast<int>(i) + 1;
            why.value = static_cast<int>(values.size()) + 1;
            return row_out_of_range;
        }
        values.push_back(v);
        i += len;
        while (i < line.size() && !separator(line[i])) ++i;
        while (i < line.size() && !value_start(line[i])) ++i;
    }
    return static_cast<int>(values.size());
}

ModelRow model_read_row(const std::vector<ModelLine>& lines, std::size_t& next, int& nvars) {
    ModelRow r;
    const ModelLine* line = nullptr;
    for (;;) {
        line = &lines[next];
        if (line->end) {
            if (line->mark) ++next;  // the last entry, the end of the file, stays
            r.result = r.why.kind = row_end;
            r.why.end = line->mark ? DataEnd::end_mark : DataEnd::file_end;
            return r;
        }
        ++next;
        if (line->text.find('!') == std::string::npos) break;
    }
    r.line = line->text;
    r.line_no = line->line_no;
    r.why.line = line->line_no;
    int n = model_parse(line->text, r.values, r.why);
    if (n == 0) {
        r.result = r.why.kind = row_end;
        r.why.end = DataEnd::empty_row;
        return r;
    }
    r.result = n;
    if (n < 0) return r;
    if (nvars != 0 && n != nvars) {
        r.result = r.why.kind = row_count_mismatch;
        r.why.count = n;
        r.why.expected = nvars;
        return r;
    }
    if (nvars == 0) nvars = n;
    return r;
}

bool same_refusal(const RowRefusal& a, const RowRefusal& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case row_end:
            return a.end == b.end && (a.end != DataEnd::empty_row || a.line == b.line);
        case row_count_mismatch: return a.line == b.line && a.count == b.count && a.expected == b.expected;
        case row_bad_char: return a.line == b.line && a.column == b.column && a.byte == b.byte;
        case row_out_of_range: return a.line == b.line && a.column == b.column && a.value == b.value;
        case row_too_many:
        case row_too_long: return a.line == b.line;
        default: return false;
    }
}

std::vector<std::uint32_t> float_bits(const float* values, std::size_t n) {
    std::vector<std::uint32_t> bits(n);
    for (std::size_t i = 0; i < n; ++i) bits[i] = std::bit_cast<std::uint32_t>(values[i]);
    return bits;
}

MemoryFile memory_file_create(const char* name) {
    MemoryFile m;
    m.fd = memfd_create(name, MFD_CLOEXEC);
    require(m.fd >= 0, "memfd_create failed");
    m.path = "/proc/self/fd/" + std::to_string(m.fd);
    return m;
}

void memory_file_set(const MemoryFile& m, const std::uint8_t* data, std::size_t size) {
    require(ftruncate(m.fd, 0) == 0, "ftruncate failed");
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = pwrite(m.fd, data + done, size - done, static_cast<off_t>(done));
        require(n > 0, "pwrite failed");
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace kmeans
