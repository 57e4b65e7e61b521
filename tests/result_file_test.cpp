// Result files: their names beside the data, and a pair that is replaced as
// a pair or not at all.
#include <gtest/gtest.h>

#include <cstdlib>
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
