// Result files: their names beside the data, and a pair that is replaced as
// a pair or not at all.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e.h"
#include "io/result_file.h"
#include "io/result_names.h"

namespace fs = std::filesystem;

namespace {

// Only the file-name part of the argument (after its last '/') is cut at its
// first '.', so a dot in a directory name never moves the results elsewhere.
TEST(ResultName, CutInTheFileNamePartOnly) {
    struct Case {
        const char* arg;
        const char* ext;
        const char* name;
    };
    const Case cases[] = {
        {"IRIS.DAT", ".KMC", "IRIS.KMC"},
        {"X.Y.DAT", ".KMC", "X.KMC"},
        {"DATA", ".KTF", "DATA.KTF"},
        {"./sub/IRIS.DAT", ".KMC", "./sub/IRIS.KMC"},
        {"../X.DAT", ".KTF", "../X.KTF"},
        {"names/my.dir/IRIS.DAT", ".KMC", "names/my.dir/IRIS.KMC"},
        {"v1.2/DATA", ".KMR", "v1.2/DATA.KMR"},
        {"/abs/a.b/c.d.e", ".KMR", "/abs/a.b/c.KMR"},
        {"sub/.hidden", ".KMC", "sub/.KMC"},
    };
    for (const Case& c : cases) EXPECT_EQ(kmeans::result_name(c.arg, c.ext), c.name) << c.arg;
}

// When the .KTF cannot take its name, the .KMC goes back to what it was:
// the earlier file byte for byte, or no file when there was none. The name
// is blocked by a directory of that name and, where the file system allows
// it, by an immutable earlier file.
TEST(ResultPair, SecondNameRefusedLeavesTheEarlierPair) {
    const std::string rows = "1 2\n3 4\n5 5\n8 9\n";
    struct Case {
        const char* what;
        bool earlier_kmc;  // an earlier centre file exists
        bool immutable;    // the .KTF is an immutable file, not a directory
    };
    const Case cases[] = {
        {"earlier centre file, directory IRIS.KTF", true, false},
        {"no earlier centre file, directory IRIS.KTF", false, false},
        {"earlier pair, immutable IRIS.KTF", true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.write("IRIS.DAT", rows);
        ASSERT_EQ(run_kmeans(dir, {"IRIS.DAT", "-K2", "-Q3"}).status, 0);
        const std::string kmc = dir.read("IRIS.KMC");
        const std::string ktf = dir.read("IRIS.KTF");
        if (!c.earlier_kmc) fs::remove(dir.path / "IRIS.KMC");
        const std::string ktf_path = (dir.path / "IRIS.KTF").string();
        if (c.immutable) {
            if (std::system(("chattr +i " + ktf_path + " 2>/dev/null").c_str()) != 0) continue;  // not here
        } else {
            fs::remove(ktf_path);
            fs::create_directory(ktf_path);
        }
        dir.write("IRIS.DAT", rows + "20 20\n");  // other centres, another row count
        RunResult r = run_kmeans(dir, {"IRIS.DAT", "-K2", "-Q3"});
        if (c.immutable) {
            EXPECT_EQ(std::system(("chattr -i " + ktf_path).c_str()), 0);
        }
        EXPECT_EQ(r.status, 5);
        EXPECT_EQ(r.err, std::string(c.immutable ? "\nPermission denied: the file may not be written there."
                                                 : "\nA directory bears the file's name.") +
                             "\nPANIC: Can't write file: IRIS.KTF\n\n");
        if (c.earlier_kmc) {
            EXPECT_EQ(dir.read("IRIS.KMC"), kmc);
        } else {
            EXPECT_FALSE(dir.exists("IRIS.KMC"));
        }
        if (c.immutable) {
            EXPECT_EQ(dir.read("IRIS.KTF"), ktf);
        } else {
            EXPECT_TRUE(fs::is_directory(ktf_path));
        }
        std::vector<std::string> want = {"IRIS.DAT", "IRIS.KTF"};
        if (c.earlier_kmc) want.insert(want.begin() + 1, "IRIS.KMC");
        EXPECT_EQ(dir.entries(), want);
    }
}

}  // namespace

namespace {

using kmeans::CommitSeam;
using kmeans::ResultFile;

// Commits the pair A.KMC / A.KTF with "new" contents in `dir` through `seam`.
kmeans::Failure commit_new_pair(const ScratchDir& dir, const CommitSeam& seam) {
    ResultFile a, b;
    a.seam = b.seam = &seam;
    const std::string kmc = (dir.path / "A.KMC").string(), ktf = (dir.path / "A.KTF").string();
    if (kmeans::Failure f = kmeans::result_create(a, kmc); kmeans::failed(f)) return f;
    if (kmeans::Failure f = kmeans::result_create(b, ktf); kmeans::failed(f)) return f;
    kmeans::result_write(a, "new centres\n", 12);
    kmeans::result_write(b, "new values\n", 11);
    return kmeans::result_commit_pair(a, b);
}

// Whether the directory's lock is free: another open file description can
// take it at once.
bool dir_lock_free(const fs::path& dir) {
    const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

// The pair is replaced as a pair on every file system and at every point a
// kill can stop the commit: with unnamed files or hidden ones, with hard
// links or without, the files left by a commit stopped after any step are
// finished (from the complete record on) or removed (before it) by the next
// recovery, which leaves exactly the old pair or exactly the new one and
// nothing hidden. While the pair takes its names the directory is locked
// against other commits. A second name that cannot be taken (a directory)
// leaves the earlier pair, whichever way the earlier files were kept.
TEST(ResultPair, CommitIsAtomicUnderEveryFallbackAndKill) {
    const std::vector<std::string> pair_only = {"A.KMC", "A.KTF"};
    struct Way {
        const char* what;
        bool no_unnamed, no_links;
    };
    const Way ways[] = {{"unnamed files, hard links", false, false},
                        {"hidden files, hard links", true, false},
                        {"unnamed files, no hard links", false, true},
                        {"hidden files, no hard links", true, true}};
    for (const Way& way : ways) {
        for (bool earlier : {true, false}) {
            for (int stop = -1; stop <= kmeans::commit_record_gone; ++stop) {
                SCOPED_TRACE(std::string(way.what) + (earlier ? ", earlier pair" : ", no earlier pair") +
                             ", stopped after step " + std::to_string(stop));
                ScratchDir dir;
                if (earlier) {
                    dir.write("A.KMC", "old centres\n");
                    dir.write("A.KTF", "old values\n");
                }
                CommitSeam seam;
                seam.no_unnamed_files = way.no_unnamed;
                seam.no_hard_links = way.no_links;
                seam.stop_after = stop;
                bool lock_held = false;
                const fs::path where = dir.path;
                struct Ctx {
                    const fs::path* dir;
                    bool* held;
                } ctx{&where, &lock_held};
                seam.ctx = &ctx;
                seam.placing = [](void* c) {
                    auto* x = static_cast<Ctx*>(c);
                    *x->held = !dir_lock_free(*x->dir);
                };
                ASSERT_FALSE(kmeans::failed(commit_new_pair(dir, seam)));
                if (stop < 0 || stop >= kmeans::commit_placed_first) {
                    EXPECT_TRUE(lock_held);
                }
                EXPECT_TRUE(dir_lock_free(dir.path));
                const kmeans::Recovery rec =
                    kmeans::result_recover({(dir.path / "A.KMC").string(), (dir.path / "A.KTF").string()});
                // Only a commit that ran to its end, or stopped when nothing
                // but old files of a pair without earlier files was left
                // (none), leaves nothing to do.
                const bool nothing_left = stop < 0 || (stop == kmeans::commit_record_gone && !earlier);
                EXPECT_EQ(rec.finished.empty() && rec.removed.empty(), nothing_left);
                const bool now_new = stop < 0 || stop >= kmeans::commit_recorded;
                if (now_new) {
                    EXPECT_EQ(dir.read("A.KMC"), "new centres\n");
                    EXPECT_EQ(dir.read("A.KTF"), "new values\n");
                    EXPECT_EQ(dir.entries(), pair_only);
                } else if (earlier) {
                    EXPECT_EQ(dir.read("A.KMC"), "old centres\n");
                    EXPECT_EQ(dir.read("A.KTF"), "old values\n");
                    EXPECT_EQ(dir.entries(), pair_only);
                } else {
                    EXPECT_TRUE(dir.entries().empty());
                }
            }
            SCOPED_TRACE(std::string(way.what) + ", A.KTF is a directory");
            ScratchDir dir;
            if (earlier) dir.write("A.KMC", "old centres\n");
            fs::create_directory(dir.path / "A.KTF");
            CommitSeam seam;
            seam.no_unnamed_files = way.no_unnamed;
            seam.no_hard_links = way.no_links;
            const kmeans::Failure f = commit_new_pair(dir, seam);
            EXPECT_EQ(f.what, kmeans::Fault::write);
            EXPECT_EQ(f.err, EISDIR);
            EXPECT_EQ(dir.read("A.KMC"), earlier ? "old centres\n" : "");
            EXPECT_EQ(dir.entries(), earlier ? pair_only : std::vector<std::string>{"A.KTF"});
        }
    }
    // A hidden temporary is left alone while its writer lives (it holds a
    // lock on it) and removed once the writer is gone (its descriptor
    // closed, as by a kill).
    ScratchDir dir;
    CommitSeam hidden_files;
    hidden_files.no_unnamed_files = true;
    ResultFile live, dead;
    live.seam = dead.seam = &hidden_files;
    ASSERT_FALSE(kmeans::failed(kmeans::result_create(live, (dir.path / "A.KMC").string())));
    ASSERT_FALSE(kmeans::failed(kmeans::result_create(dead, (dir.path / "A.KTF").string())));
    close(dead.fd);
    const kmeans::Recovery rec =
        kmeans::result_recover({(dir.path / "A.KMC").string(), (dir.path / "A.KTF").string()});
    EXPECT_EQ(rec.removed, std::vector<std::string>{dead.temp});
    ASSERT_EQ(dir.entries().size(), 1u);
    EXPECT_EQ((dir.path / dir.entries()[0]).string(), live.temp);
    close(live.fd);
}

}  // namespace
