// The row source of the later passes: a data file that no longer holds the
// rows its first pass counted stops the run instead of writing past the
// per-row tables.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <string>
#include <vector>

#include "io/ranges.h"
#include "io/data_file.h"
#include "e2e.h"

using namespace kmeans;
namespace fs = std::filesystem;

namespace {

struct ChangeCase {
    const char* what;
    std::string before;  // the file as the first pass reads it
    std::string after;   // the file as a later pass finds it
    bool same_time = false;  // the edit keeps the file's modification time
};

class DataFileChanged : public ::testing::TestWithParam<ChangeCase> {};

// A data file opened on two threads, quietly, with the memory budget
// `budget` (0: the later passes read the data file again, no spill file).
struct Opened {
    Params p;
    std::unique_ptr<DataFile> d = std::make_unique<DataFile>();
    std::unique_ptr<Ranges> ranges = std::make_unique<Ranges>();
    Workers workers;
    Failure open;
    Opened(const std::string& path, std::int64_t budget) {
        p.levels.quiet = 3;
        p.resources.memory_mb = budget;
        if (budget == 0) p.resources.spill_dir = spill_off;  // read from the data file itself
        ranges_reset(*ranges);
        workers_start(workers, 2);
        open = data_open(*d, path, workers);
    }
    ~Opened() { data_close(*d); }
};

// Reads the whole file again in a later pass into a table of the N rows that
// the first pass counted, as the passes fill clustno; returns the pass's
// failure. A row delivered at or past N would throw here and abort the test.
Failure later_pass(DataFile& d) {
    std::vector<int> table(static_cast<std::size_t>(d.N));
    return each_row_from_file(d, [&](std::int64_t r, const float*) { table.at(static_cast<std::size_t>(r)) = 1; });
}

TEST_P(DataFileChanged, StopsTheRunWithStatus5) {
    const ChangeCase& t = GetParam();
    ScratchDir dir;
    dir.write("D.DAT", t.before);
    const std::string path = (dir.path / "D.DAT").string();
    Opened o(path, 0);  // the later passes read the file
    DataFile* d = o.d.get();
    ASSERT_FALSE(failed(o.open));
    ASSERT_FALSE(failed(first_pass(o.p, *d, o.ranges.get())));
    EXPECT_FALSE(failed(later_pass(*d)));  // unchanged: passes quietly
    const fs::path path_fs = dir.path / "D.DAT";
    const auto time = fs::last_write_time(path_fs);
    dir.write("D.DAT", t.after);
    // An edit made later than the file's last change: file times are kept
    // in clock ticks, and two writes within one tick would share one. Or,
    // to show that the rows are checked too, the old time put back.
    fs::last_write_time(path_fs, t.same_time ? time : time + std::chrono::seconds(1));
    const Failure f = later_pass(*d);
    EXPECT_EQ(failure_status(f), 5);
    EXPECT_EQ(failure_text(f), "\nPANIC: Datafile changed while it was read: " + path + "\n\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DataFileChanged,
    ::testing::Values(ChangeCase{"more_rows", "1 2\n3 4\n", "1 2\n3 4\n5 6\n"},
                      ChangeCase{"fewer_rows", "1 2\n3 4\n5 6\n", "1 2\n3 4\n"},
                      ChangeCase{"longer_row", "1 2\n3 4\n", "1 2\n3 4 5\n"},
                      ChangeCase{"bad_row", "1 2\n3 4\n", "1 2\nx 4\n"},
                      ChangeCase{"emptied", "1 2\n", ""},
                      // Same size, same rows and columns: only the time tells.
                      ChangeCase{"same_size", "1 2\n3 4\n", "5 6\n7 8\n"},
                      // Same size and time: only the rows tell, and no row at or
                      // past N is delivered.
                      ChangeCase{"same_size_and_time_more_rows", "1 2\n3 4\n!xxxxxx\n", "1 2\n3 4\n5 6\n!xx\n", true},
                      ChangeCase{"same_size_and_time_other_width", "1 2\n3 4\n", "1\n2\n3\n4\n", true},
                      ChangeCase{"same_size_and_time_fewer_rows", "1 2\n3 4\n", "1 2\n\n3 4\n", true},
                      // Same size, time and rows (as rsync --inplace -t leaves
                      // it): only the change time tells.
                      ChangeCase{"same_size_time_and_rows", "1 2\n3 4\n", "5 6\n7 8\n", true}),
    [](const auto& info) { return std::string(info.param.what); });

// A file that changes after it was opened and before its first pass ends is
// a file that changed, with the rows in memory or read again: the pass reads
// only the bytes it held when it was opened, and neither rows appended to it
// nor a row cut short by a truncation are taken as its rows.
TEST(DataFileChanged, DuringTheFirstPass) {
    const std::string rows = "1 2\n3 4\n5 6\n7 8\n";
    struct Case {
        const char* what;
        std::string after;
    };
    const Case cases[] = {{"rows appended", rows + "9 10\n11 12\n"},
                          {"truncated in a row", rows.substr(0, 10)},
                          {"a bad row written in place", "1 2\n3 x\n5 6\n7 8\n"}};
    for (const Case& c : cases) {
        for (std::int64_t budget : {std::int64_t{0}, std::int64_t{-1}}) {
            SCOPED_TRACE(std::string(c.what) + (budget == 0 ? ", rows read again" : ", rows in memory"));
            ScratchDir dir;
            dir.write("D.DAT", rows);
            const std::string path = (dir.path / "D.DAT").string();
            Opened o(path, budget);
            ASSERT_FALSE(failed(o.open));
            dir.write("D.DAT", c.after);
            const Failure f = first_pass(o.p, *o.d, o.ranges.get());
            EXPECT_EQ(f.what, Fault::changed);
            EXPECT_EQ(failure_text(f), "\nPANIC: Datafile changed while it was read: " + path + "\n\n");
        }
    }
}

}  // namespace

namespace {

// Every pass reads the file from its start again and must find the same
// rows: anything but a regular file (a directory, a pipe, a device such as
// /dev/zero, which can be rewound but never ends) is refused when it is
// opened, like a file that does not exist.
TEST(DataFileOpen, RefusesWhatCannotBeRewound) {
    ScratchDir dir;
    fs::create_directory(dir.path / "SUB.DAT");
    TextFile f;
    EXPECT_FALSE(text_open(f, (dir.path / "SUB.DAT").string()));
    EXPECT_EQ(f.fd, -1);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    EXPECT_FALSE(text_open(f, "/dev/fd/" + std::to_string(fds[0])));
    close(fds[0]);
    close(fds[1]);
    fs::create_symlink("/dev/zero", dir.path / "ZERO.DAT");
    EXPECT_FALSE(text_open(f, (dir.path / "ZERO.DAT").string()));
    EXPECT_FALSE(text_open(f, "/dev/null"));
    dir.write("D.DAT", "1 2\n");
    EXPECT_TRUE(text_open(f, (dir.path / "D.DAT").string()));
    text_close(f);

    RunResult r = run_kmeans(dir, {"SUB.DAT", "-Q3"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "\nIt is a directory, not a file.\nPANIC: Can't find/open file: SUB.DAT\n\n");
}

}  // namespace
