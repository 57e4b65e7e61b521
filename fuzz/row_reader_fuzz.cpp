// Fuzzes the row reader: the input is the whole text of a data file, read
// with read_row from its start to its end (past refusals and empty rows, as
// the program does when it counts the lines after the data). Checks:
//  - read_row gives, call after call, what the model of reference.h gives:
//    the result, the line (where read_row keeps it) and its number, the
//    refusal, and every value bit for bit equal to strtof of the same text;
//  - read buffers of 3 to 7 bytes, where every line and every carriage
//    return and Ctrl-Z rule meets a buffer end, give exactly what the
//    default buffer gives;
//  - a second pass after text_rewind gives exactly the first.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "io/read_row.h"
#include "reference.h"

namespace kmeans {
namespace {

// One call of read_row as seen by its caller.
struct Step {
    int result = row_end;
    RowRefusal why;
    std::vector<std::uint32_t> bits;  // the values delivered (a row, or a row of another count)
    std::string line;                 // the line read (not for file_end and end_mark)
    std::int64_t line_no = 0;
};

bool operator==(const RowRefusal& a, const RowRefusal& b) {
    return a.kind == b.kind && a.end == b.end && a.line == b.line && a.column == b.column &&
           a.byte == b.byte && a.value == b.value && a.count == b.count && a.expected == b.expected;
}

bool operator==(const Step& a, const Step& b) {
    return a.result == b.result && a.why == b.why && a.bits == b.bits && a.line == b.line &&
           a.line_no == b.line_no;
}

// Whether a step read no line: the end of the file or an end mark.
bool lineless(int result, const RowRefusal& why) {
    return result == row_end && why.end != DataEnd::empty_row;
}

// Reads `f` from where it stands to the end of the file. Every call but
// the last consumes at least one byte, so `size` bounds the calls.
std::vector<Step> read_all(TextFile& f, std::size_t size) {
    std::vector<Step> steps;
    std::vector<float> row(max_vars);
    int nvars = 0;
    for (;;) {
        Step s;
        const bool fixes = nvars == 0;
        s.result = read_row(f, row.data(), nvars, s.why);
        const int count = s.result > 0 ? s.result : s.result == row_count_mismatch ? s.why.count : 0;
        s.bits = float_bits(row.data(), static_cast<std::size_t>(count));
        if (!lineless(s.result, s.why)) {
            // The line is kept for no row, and for a row that fixed nvars.
            if (s.result <= 0 || fixes) s.line = f.line;
            s.line_no = f.line_no;
        }
        const bool done = s.result == row_end && s.why.end == DataEnd::file_end;
        steps.push_back(std::move(s));
        if (done) return steps;
        require(steps.size() <= size + 1, "read_row goes on past the end of the file");
    }
}

// Reads the whole file through `f` (its buffer size set), and when `twice`
// again after a rewind, which must read the same.
std::vector<Step> read_file(TextFile& f, const std::string& path, std::size_t size, bool twice) {
    require(text_open(f, path), "text_open refused the memory file");
    std::vector<Step> steps = read_all(f, size);
    if (twice) {
        text_rewind(f);
        require(read_all(f, size) == steps, "a second pass after text_rewind reads otherwise");
    }
    text_close(f);
    return steps;
}

void check_against_model(const std::vector<Step>& steps, const std::string& data) {
    const std::vector<ModelLine> lines = model_lines(data);
    std::size_t next = 0;
    int nvars = 0;
    for (const Step& s : steps) {
        const bool fixes = nvars == 0;
        ModelRow m = model_read_row(lines, next, nvars);
        require(s.result == m.result, "read_row result differs from the model");
        if (s.result <= 0) require(same_refusal(s.why, m.why), "refusal fields differ from the model");
        require(s.line == (s.result <= 0 || fixes ? m.line : std::string()), "line text differs from the model");
        require(s.line_no == m.line_no, "line number differs from the model");
        require(s.bits == float_bits(m.values.data(), m.values.size()) ||
                    (s.result <= 0 && s.result != row_count_mismatch),
                "a value differs from strtof of its text");
    }
    require(next == lines.size() - 1, "read_row ended before the model's end of file");
}

}  // namespace
}  // namespace kmeans

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kmeans;
    static const MemoryFile file = memory_file_create("row_reader_fuzz");
    memory_file_set(file, data, size);
    const std::string text(reinterpret_cast<const char*>(data), size);

    // The default buffer (128 KiB) is allocated once and kept from input to
    // input, as one TextFile keeps it from pass to pass.
    static TextFile large;
    const std::vector<Step> steps = read_file(large, file.path, size, true);
    check_against_model(steps, text);
    for (std::size_t bytes = 3; bytes <= 7; ++bytes) {
        TextFile small;
        small.buffer_bytes = bytes;
        require(read_file(small, file.path, size, bytes == 3) == steps,
                "a small read buffer reads otherwise than the default one");
    }
    return 0;
}
