// Fuzzes the centre-file reader: the input is the whole text of a centre
// file, read by read_centre_file itself, with MaxDist from the file or
// (for inputs of odd length) with switch M given.
//
// read_centre_file ends the process through panic() on a file it refuses.
// This harness is linked with --wrap for kmeans::panic and kmeans::emit (see
// fuzz/CMakeLists.txt): every call from the library reaches the functions
// below instead, which format the text with the program's own formatter and
// keep it; panic then throws, the stack unwinds back to the harness (which
// closes the one descriptor the reader had open) and the status and text
// are checked. Nothing is written to the console.
//
// Checks, against the row model of reference.h: a file is refused exactly
// when the model refuses it (a refused row, more than max_clusters centres,
// no centre), with status 5 and the PANIC line that names the right row; a
// row of another count is first reported by its reason; an accepted file
// gives the model's centres bit for bit, their count and width, and the
// MaxDist the rules give (switch M, else a positive first value, else the
// largest float with its warning).
#include <cfloat>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "base/format.h"
#include "io/centre_file.h"
#include "io/read_row.h"
#include "reference.h"

namespace kmeans {
namespace {

// What panic was called with; thrown back to the harness.
struct Panicked {
    int status;
    std::string text;
};

// The text of every emit call of one read, in order.
std::vector<std::string>* emitted = nullptr;

bool starts_with(const std::string& s, const std::string& part) { return s.compare(0, part.size(), part) == 0; }
bool ends_with(const std::string& s, const std::string& part) {
    return s.size() >= part.size() && s.compare(s.size() - part.size(), part.size(), part) == 0;
}

// What read_centre_file must do with the file, by the model.
struct Expected {
    int status = 0;                 // 5 for a refused file
    std::string panic_tail;         // the end of the PANIC text
    std::string reason;             // a refused row's reason, before the PANIC line
    std::vector<std::string> warnings;  // emit lines, in order (prefix and suffix checked)
    std::vector<float> values;      // the centres, row after row
    int count = 0;
    int nvars = 0;
    float maxdist = 0.0f;
};

Expected model_centre_file(const std::string& text, const Params& p) {
    const std::string name = p.invocation.centre_file;
    Expected e;
    const std::vector<ModelLine> lines = model_lines(text);
    std::size_t next = 0;
    int nvars = 0;
    int rows = 0;
    for (;;) {
        ModelRow r = model_read_row(lines, next, nvars);
        if (r.result == row_end) break;
        if (r.result == row_count_mismatch) e.warnings.push_back(row_reason(r.why, r.line));
        if (r.result < 0) {
            e.status = 5;
            if (r.result != row_count_mismatch) e.reason = row_reason(r.why, r.line);
            e.panic_tail = "\nPANIC: Unusable centre file: " + name + "  Row:" + std::to_string(rows + 1) + "\n\n";
            return e;
        }
        if (rows == 0) {
            if (nvars > 1) e.warnings.push_back("VARNING: More than one column in MaxDist row: " + name + "\n");
            if (maxdist_given(p)) {
                e.maxdist = p.clustering.max_dist;
            } else if (r.values[0] > 0.0f) {
                e.maxdist = r.values[0];
            } else {
                e.maxdist = FLT_MAX;
                e.warnings.push_back("VARNING: Bad MaxDist ...: " + name + "\n");
            }
            nvars = 0;
        } else {
            if (rows > max_clusters) {
                e.status = 5;
                e.panic_tail = "\nPANIC: More than " + std::to_string(max_clusters) + " centres in centre file: " + name + "\n\n";
                return e;
            }
            e.values.insert(e.values.end(), r.values.begin(), r.values.end());
        }
        ++rows;
    }
    if (rows < 2) {
        e.status = 5;
        e.panic_tail = "\nPANIC: No centres in centre file: " + name + "\n\n";
        return e;
    }
    e.count = rows - 1;
    e.nvars = nvars;
    return e;
}

// A warning as emitted against the model's: the same text, or for the bad
// MaxDist line (its number formatted by the program) the same start and end.
bool same_warning(const std::string& got, const std::string& want) {
    const std::string::size_type dots = want.find("...");
    if (dots == std::string::npos) return got == want;
    return starts_with(got, want.substr(0, dots)) && ends_with(got, want.substr(dots + 3)) &&
           got.size() > want.size() - 3;
}

void check(const std::string& text, const Params& p) {
    const Expected e = model_centre_file(text, p);
    std::vector<std::string> lines;
    emitted = &lines;
    // The descriptor text_open gets is the lowest free one; after a panic
    // nothing closes it but the harness.
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    require(probe >= 0, "cannot open /dev/null");
    ::close(probe);

    StoredCentres s;
    int status = 0;
    std::string panic_text;
    try {
        read_centre_file(p, s);
    } catch (const Panicked& x) {
        status = x.status;
        panic_text = x.text;
        ::close(probe);
    }
    emitted = nullptr;

    require(status == e.status, "refused otherwise than the model");
    require(lines.size() == e.warnings.size(), "other warnings than the model's");
    for (std::size_t i = 0; i < lines.size(); ++i) require(same_warning(lines[i], e.warnings[i]), "a warning differs");
    if (status != 0) {
        require(starts_with(panic_text, e.reason), "the refused row's reason is missing");
        require(ends_with(panic_text, e.panic_tail), "the PANIC line differs");
        const std::string middle =
            panic_text.substr(e.reason.size(), panic_text.size() - e.reason.size() - e.panic_tail.size());
        require(middle.empty() || starts_with(middle, "\nThe file looks like a report written with switch D"),
                "unexpected text in the PANIC message");
        return;
    }
    require(s.count == e.count && s.clust.K == e.count && s.clust.nvars == e.nvars, "centre count or width differs");
    require(float_bits(s.clust.v.data(), s.clust.v.size()) == float_bits(e.values.data(), e.values.size()),
            "a centre value differs from strtof of its text");
    require(float_bits(&s.MaxDist, 1) == float_bits(&e.maxdist, 1), "MaxDist differs");
}

}  // namespace

// The stand-ins for panic and emit (see the top of this file).
extern "C" [[noreturn]] void __wrap__ZN6kmeans5panicEiPKcz(int status, const char* fmt, ...) {
    char text[8192];
    va_list ap;
    va_start(ap, fmt);
    std::size_t n = vformat_fixed(text, sizeof text, fmt, ap);
    va_end(ap);
    throw Panicked{status, std::string(text, n)};
}

extern "C" void __wrap__ZN6kmeans4emitEP8_IO_FILEPKcz(std::FILE* to, const char* fmt, ...) {
    require(to == stderr, "a warning of the centre file goes elsewhere than standard error");
    std::string text;
    va_list ap;
    va_start(ap, fmt);
    vappend_format(text, fmt, ap);
    va_end(ap);
    require(emitted != nullptr, "emit outside a read");
    emitted->push_back(text);
}

}  // namespace kmeans

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kmeans;
    static const MemoryFile file = memory_file_create("centre_file_fuzz");
    memory_file_set(file, data, size);
    const std::string text(reinterpret_cast<const char*>(data), size);

    // MaxDist from the file for inputs of even length, from switch M for
    // the others: every reading allocates the 1 MiB read buffer afresh,
    // which costs more than the rest, so one reading per input.
    Params p;
    p.levels.quiet = 3;
    p.invocation.centre_file = file.path;
    if (size % 2 != 0) p.clustering.max_dist = 2.5f;
    check(text, p);
    return 0;
}
