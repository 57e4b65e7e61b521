// Fuzzes the centre-file reader: the input is the whole text of a centre
// file, read by read_centre_file itself, with MaxDist from the file or
// (for inputs of odd length) with switch M given.
//
// read_centre_file returns a refused file as a failure, whose text and
// status are checked; its warnings go to standard error, which the harness
// catches in a memory file around each reading (so nothing reaches the
// console, and libFuzzer's own reports still do). The reader must close
// the file it opened whatever happens.
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
#include <sys/mman.h>
#include <unistd.h>

#include "base/console.h"
#include "base/format.h"
#include "io/centre_file.h"
#include "io/read_row.h"
#include "reference.h"

namespace kmeans {
namespace {

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
            if (maxdist_given(p.clustering)) {
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

// Whether `got` (all that was written to standard error) is the model's
// warnings in order: the same texts, except that for the bad MaxDist line
// (its number formatted by the program) the start and end are compared.
bool same_warnings(const std::string& got, const std::vector<std::string>& want) {
    std::size_t at = 0;
    for (const std::string& w : want) {
        const std::string::size_type dots = w.find("...");
        if (dots == std::string::npos) {
            if (got.compare(at, w.size(), w) != 0) return false;
            at += w.size();
            continue;
        }
        const std::string head = w.substr(0, dots), tail = w.substr(dots + 3);
        if (got.compare(at, head.size(), head) != 0) return false;
        const std::string::size_type end = got.find(tail, at + head.size() + 1);
        if (end == std::string::npos) return false;
        at = end + tail.size();
    }
    return at == got.size();
}

// Standard error, caught in a memory file while the reader runs.
struct CaughtStderr {
    int memory = -1;  // the memory file
    int saved = -1;   // the real standard error, while caught
};

void catch_stderr(CaughtStderr& c) {
    if (c.memory < 0) c.memory = memfd_create("centre_file_fuzz_stderr", MFD_CLOEXEC);
    require(c.memory >= 0, "cannot create a memory file");
    require(ftruncate(c.memory, 0) == 0 && lseek(c.memory, 0, SEEK_SET) == 0, "cannot empty the memory file");
    std::fflush(stderr);
    c.saved = dup(2);
    require(c.saved >= 0 && dup2(c.memory, 2) == 2, "cannot catch standard error");
}

std::string release_stderr(CaughtStderr& c) {
    progress_flush();
    std::fflush(stderr);
    dup2(c.saved, 2);
    ::close(c.saved);
    c.saved = -1;
    std::string text;
    char buf[4096];
    for (off_t at = 0;;) {
        const ssize_t n = pread(c.memory, buf, sizeof buf, at);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
        at += n;
    }
    return text;
}

void check(const std::string& text, const Params& p) {
    static CaughtStderr caught;
    if (caught.memory < 0) caught.memory = memfd_create("centre_file_fuzz_stderr", MFD_CLOEXEC);
    const Expected e = model_centre_file(text, p);
    StoredCentres s;
    catch_stderr(caught);
    // The descriptor text_open gets is the lowest free one: the same one is
    // free again after the reading.
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    require(probe >= 0, "cannot open /dev/null");
    ::close(probe);
    const Failure f = read_centre_file(p, s);
    const int after = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    require(after == probe, "the reader left a descriptor open");
    ::close(after);
    const std::string warnings = release_stderr(caught);
    const int status = failed(f) ? failure_status(f) : 0;
    const std::string panic_text = failure_text(f);
    require(status == e.status, "refused otherwise than the model");
    require(same_warnings(warnings, e.warnings), "other warnings than the model's");
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

}  // namespace kmeans

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kmeans;
    static const MemoryFile file = memory_file_create("centre_file_fuzz");
    memory_file_set(file, data, size);
    const std::string text(reinterpret_cast<const char*>(data), size);

    // MaxDist from the file for inputs of even length, from switch M for
    // the others: every reading allocates the 128 KiB read buffer afresh,
    // which costs more than the rest, so one reading per input.
    Params p;
    p.levels.quiet = 3;
    p.invocation.centre_file = file.path;
    if (size % 2 != 0) p.clustering.max_dist = 2.5f;
    check(text, p);
    return 0;
}
