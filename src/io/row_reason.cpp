// The words for a row the reader refused. Kept apart from the reader, which
// writes nothing itself: its callers say what went wrong.
#include "io/read_row.h"

#include "base/format.h"

namespace kmeans {

// The refused byte as the reason shows it: a printable ASCII character in
// double quotes, any other byte as two hexadecimal digits.
static std::string refused_byte(unsigned char c, int column) {
    if (c >= 0x20 && c < 0x7F)
        return format("\nRow holds the character \"%c\" in column %d, which no number may hold.", c, column);
    const char* hex = "0123456789ABCDEF";
    const char digits[3] = {hex[c >> 4], hex[c & 15], '\0'};
    return format("\nRow holds the byte 0x%s in column %d, which no number may hold.", digits, column);
}

std::string row_reason(const RowRefusal& why, const std::string& line) {
    switch (why.kind) {
        case row_count_mismatch:
            // The line keeps its line feed, so that the counts stand at the
            // start of the next console line.
            return format("\nstr:%s%d!=%d\n", line.c_str(), why.count, why.expected);
        case row_bad_char: return refused_byte(why.byte, why.column);
        case row_too_many: return "\nRow holds more than 2048 values.";
        case row_out_of_range:
            return format("\nValue beyond the single-precision range. It is value %d of the row, in column %d.",
                          why.value, why.column);
        case row_too_long:
            return format("\nRow is longer than %lld characters.", static_cast<long long>(max_line_bytes));
        default: return "";
    }
}

std::string data_row_reason(const RowRefusal& why, const std::string& line) {
    std::string reason = row_reason(why, line);
    const unsigned char c = why.byte;
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (why.kind == row_bad_char && (letter || c == '#' || c == '"'))
        reason += " Mark a header or a note as a comment with \"!\" anywhere in its line.";
    return reason;
}

}  // namespace kmeans
