// End-to-end tests of Learn mode with Standard K-means: the program runs on
// small data files under a frozen clock, so its random centres are known.
// The expected centres, result files and console text are computed here by
// a short model written from the rules (generator, random centres, SKM,
// assignment with compaction of the used clusters, final pass, mean distance
// and overlap count), and checked against hand-computed values where the
// data are small enough.
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"

namespace fs = std::filesystem;

namespace {

// --- model ------------------------------------------------------------------

using Row = std::vector<float>;
using Table = std::vector<Row>;

std::string fmt(const char* f, ...) __attribute__((format(printf, 1, 2)));
std::string fmt(const char* f, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, f);
    std::vsnprintf(buf, sizeof buf, f, ap);
    va_end(ap);
    return buf;
}

// "%-12.6G" with the program's exponent of a sign and at least three
// digits (the C library writes two).
std::string g6(double v) {
    if (!std::isfinite(v)) ADD_FAILURE() << "no finite value: " << v;
    std::string s = fmt("%.6G", v);
    std::size_t e = s.find('E');
    if (e != std::string::npos) {
        std::size_t ndigits = s.size() - (e + 2);
        if (ndigits < 3) s.insert(e + 2, 3 - ndigits, '0');
    }
    if (s.size() < 12) s.append(12 - s.size(), ' ');
    return s;
}

float dist(const Row& a, const Row& b, bool city) {
    double s = 0.0;
    for (std::size_t v = 0; v < a.size(); ++v) {
        double d = static_cast<double>(a[v]) - static_cast<double>(b[v]);
        s += city ? std::fabs(d) : d * d;
    }
    float f = static_cast<float>(s);
    return city ? f : static_cast<float>(std::sqrt(static_cast<double>(f)));
}

// Nearest of centres 0..ncand-1, strictly smaller distances only.
int nearest(const Table& c, std::size_t ncand, const Row& x, bool city) {
    float best = largest_float;
    int w = -1;
    for (std::size_t k = 0; k < ncand; ++k) {
        float d = dist(x, c[k], city);
        if (d < best) {
            best = d;
            w = static_cast<int>(k);
        }
    }
    if (w < 0) ADD_FAILURE() << "no winner";
    return w;
}

Table random_centres(Lcg& rng, int K, const Row& mn, const Row& mx) {
    const double c = 3.0518509447574615e-05;  // the float with bits 0x38000100
    Table t(static_cast<std::size_t>(K), Row(mn.size()));
    for (auto& centre : t)
        for (std::size_t v = 0; v < mn.size(); ++v) {
            float range = mx[v] - mn[v];
            centre[v] = static_cast<float>(rng.next() * c * static_cast<double>(range) + static_cast<double>(mn[v]));
        }
    return t;
}

struct Model {
    Table rows;
    Row mn, mx;
    Table init;                  // the random centres
    Table clust;                 // the learned centres, K rows
    std::vector<std::vector<int>> isolated;  // per iteration, 1-based
    std::string listing;         // debug-2 text from the range report through the last iteration
    std::vector<long> counts_all;  // assignment pass, K entries
    Table used;                  // clusters with rows, in table order
    std::vector<long> counts;    // their counts
    std::vector<int> values;     // final pass, 1-based
    float totd = 0.0f;
    float totd_rounded_terms = 0.0f;  // the total had each root been rounded to float first
    int npairs = 0;
    double mdist = 0.0;
    long overlaps = 0;
    int nused() const { return static_cast<int>(used.size()); }
};

Model learn(Lcg& rng, const Table& rows, int K, int R, bool city) {
    Model m;
    m.rows = rows;
    const std::size_t nvars = rows[0].size();
    m.mn.assign(nvars, largest_float);
    m.mx.assign(nvars, -largest_float);
    for (const Row& r : rows)
        for (std::size_t v = 0; v < nvars; ++v) {
            m.mn[v] = std::min(m.mn[v], r[v]);
            m.mx[v] = std::max(m.mx[v], r[v]);
        }
    for (std::size_t v = 0; v < nvars; ++v)
        m.listing += "min[" + std::to_string(v) + "]=" + g6(m.mn[v]) + " max[" + std::to_string(v) + "]=" + g6(m.mx[v]) + "\n";
    m.init = random_centres(rng, K, m.mn, m.mx);
    m.listing += fmt("Randomizing %d clusters\n", K);
    for (int k = 0; k < K; ++k) {
        for (std::size_t v = 0; v < nvars; ++v) m.listing += fmt("clust[%d][%zu]=", k, v) + g6(m.init[k][v]) + " ";
        m.listing += "\n";
    }
    m.clust = m.init;
    for (int it = 0; it < R; ++it) {
        Table sums(static_cast<std::size_t>(K), Row(nvars, 0.0f));
        std::vector<std::uint32_t> n(static_cast<std::size_t>(K), 0);
        for (const Row& r : rows) {
            int w = nearest(m.clust, m.clust.size(), r, city);
            for (std::size_t v = 0; v < nvars; ++v) sums[w][v] += r[v];  // float sums, file order
            ++n[w];
        }
        m.listing += "\nCompute new clustercenter\n";
        m.isolated.emplace_back();
        for (int k = 0; k < K; ++k) {
            if (n[k] == 0) {
                m.isolated.back().push_back(k + 1);
                continue;
            }
            m.listing += fmt("Antal:%-6ld ", static_cast<long>(n[k]));
            for (std::size_t v = 0; v < nvars; ++v) {
                m.clust[k][v] = static_cast<float>(static_cast<double>(sums[k][v]) / static_cast<double>(n[k]));
                m.listing += fmt("k[%d][%zu]=", k, v) + g6(m.clust[k][v]) + " ";
            }
            m.listing += "\n";
        }
    }
    m.counts_all.assign(static_cast<std::size_t>(K), 0);
    for (const Row& r : rows) ++m.counts_all[nearest(m.clust, m.clust.size(), r, city)];
    for (int k = 0; k < K; ++k)
        if (m.counts_all[k] != 0) {
            m.used.push_back(m.clust[k]);
            m.counts.push_back(m.counts_all[k]);
        }
    for (const Row& r : rows) m.values.push_back(nearest(m.used, m.used.size(), r, city) + 1);
    for (int i = 0; i < m.nused(); ++i)
        for (int j = 0; j < m.nused(); ++j) {
            if (i == j) continue;
            double d;
            if (city) {
                d = dist(m.used[i], m.used[j], true);
            } else {
                double s = 0.0;
                for (std::size_t v = 0; v < nvars; ++v) {
                    double e = static_cast<double>(m.used[i][v]) - static_cast<double>(m.used[j][v]);
                    s += e * e;
                }
                d = std::sqrt(static_cast<double>(static_cast<float>(s)));
            }
            m.totd = static_cast<float>(static_cast<double>(m.totd) + d);
            m.totd_rounded_terms += static_cast<float>(d);
            ++m.npairs;
        }
    m.mdist = static_cast<double>(m.totd) / m.npairs;
    float half = static_cast<float>(static_cast<double>(static_cast<float>(m.mdist)) * 0.5);
    for (std::size_t r = 0; r < rows.size(); ++r)
        for (int j = 0; j < m.nused(); ++j)
            if (j != m.values[r] - 1 && dist(rows[r], m.used[j], city) <= half) ++m.overlaps;
    return m;
}

// The centre file as written at debug level `debug` (SKM: MaxDist -1).
std::string kmc_text(const Model& m, int debug) {
    std::string s;
    if (debug) s += "mdist:" + g6(m.mdist) + fmt(" no:%-5d totd:", m.npairs) + g6(m.totd) + "\n";
    s += debug ? "MaxDist:-1        \n" : "-1        \n";
    for (int i = 0; i < m.nused(); ++i) {
        if (debug) s += fmt("Counts=%-6ld ", m.counts[i]);
        for (std::size_t v = 0; v < m.used[i].size(); ++v)
            s += (debug >= 2 ? fmt("k[%d][%zu]=", i, v) : std::string()) + g6(m.used[i][v]) + " ";
        s += "\n";
    }
    if (debug) s += fmt("No.of overlaps (at mdist/2): %ld\n", m.overlaps);
    return s;
}

std::string ktf_text(const Model& m) {
    std::string s;
    for (int v : m.values) s += std::to_string(v) + "\n";
    return s;
}

// Standard output of one data file at the given levels (after the
// "env:... sw:..." line that any D switch writes).
std::string stdout_text(const Model& m, int debug, int used_level) {
    std::string s;
    if (debug >= 2) s += m.listing;
    if (debug >= 1) s += "\nCompute meandistance.\nmdist:" + g6(m.mdist) + fmt(" nr:%-5d totd:", m.npairs) + g6(m.totd) + "\n";
    if (used_level >= 1 && debug >= 1) s += fmt("No. of used clusters:%-3d\n", m.nused());
    if (used_level >= 2) s += fmt("%d\n", m.nused());
    if (debug >= 1) {
        for (int i = 0; i < m.nused(); ++i) s += fmt("Counts in cluster%-3d: %6ld\n", i + 1, m.counts[i]);
        s += fmt("\nNo.of overlaps (at mdist/2): %ld\n", m.overlaps);
    }
    if (debug >= 2) s += "\nRoughCleaning\n";
    return s;
}

std::string isolation_warnings(const std::vector<int>& clusters) {
    std::string s;
    for (int k : clusters) s += fmt("\nVARNING: Cluster %d is isolated.\n", k);
    return s;
}

struct Spin {
    unsigned pos = 0;
    std::string turns(long n) {
        std::string s;
        for (long i = 0; i < n; ++i) {
            s += '\b';
            s += "-\\|/"[pos++ & 3];
        }
        return s;
    }
};

// Standard error of one data file at quiet level 0, from the
// "Working on file" line through the newline that ends the file.
std::string stderr_file_text(const Model& m, const std::string& name, int K, int R, int debug) {
    const long N = static_cast<long>(m.rows.size());
    const long later = (N + 63) / 64;  // turns in a pass whose counter starts at 0
    const std::string base = name.substr(0, name.find('.'));
    std::string s = fmt("\nWorking on file: %-12s  Creating files: %-12s %s\n", name.c_str(), (base + ".KMC").c_str(),
                        (base + ".KTF").c_str());
    Spin learn_spin;
    s += learn_spin.turns(N / 64);
    const int nvars = static_cast<int>(m.rows[0].size());
    if (debug >= 2)
        for (int k = 0; k < K; ++k) s += fmt("\n%d bytes memory reserved.\n", 4 * nvars);
    s += "\n";
    if (debug >= 2) s += fmt("%ld bytes memory reserved.\n", 4 * N);
    s += "Standard K-means algorithm.\n";
    for (int it = 1; it <= R; ++it)
        s += fmt("\nIteration:%-3d ", it) + learn_spin.turns(later) + isolation_warnings(m.isolated[it - 1]);
    s += debug ? "\nCompute custervalues:  " : "\n ";
    s += learn_spin.turns(later);
    if (debug) s += "Writing clustervaluefile:  ";
    Spin final_spin;
    s += final_spin.turns(later);
    if (debug) s += "\nCompute overlap:  " + final_spin.turns(later);
    s += "\n";
    return s;
}

// --- running under a frozen clock ------------------------------------------

constexpr std::int64_t T0 = 1767225600;  // 2026-01-01 00:00:00 UTC

// Runs the program with its clock stopped at `t`.
RunResult run_at(const ScratchDir& dir, std::int64_t t, const std::vector<std::string>& args) {
    return run_kmeans(dir, args, frozen_at(t));
}

// Whether the end of a run at quiet level 0 shows the maker's notice by
// chance: one draw after seeding with the low 16 bits of the time.
bool notice_at(std::int64_t t) {
    return end_of_run_draw(static_cast<std::uint32_t>(t)) < 1000;
}

// The first time from T0 on whose random start satisfies `pred` (called
// with a generator seeded with that time) and that shows no chance notice.
template <class Pred>
std::int64_t find_time(Pred pred) {
    for (std::int64_t t = T0; t < T0 + 100000; ++t) {
        Lcg rng{static_cast<std::uint32_t>(t)};
        if (!notice_at(t) && pred(rng)) return t;
    }
    ADD_FAILURE() << "no time found";
    return T0;
}

std::string rows_text(const Table& rows) {
    std::string s;
    for (const Row& r : rows) {
        for (std::size_t v = 0; v < r.size(); ++v) {
            if (v) s += ' ';
            s += fmt("%.9g", static_cast<double>(r[v]));
        }
        s += "\n";
    }
    return s;
}

bool contains(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// Standard output without the "env:(...) sw:(...)" line that switch D adds.
std::string without_env_line(const std::string& out) {
    if (out.rfind("env:(", 0) != 0) return out;
    return out.substr(out.find('\n') + 1);
}

// Standard error from the parameter line on (the banner before it belongs
// to start-up).
std::string from_parameter_line(const std::string& err) {
    std::size_t at = err.find("No.of clusters:");
    return at == std::string::npos ? err : err.substr(at);
}

std::vector<std::string> lines_of(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

#define NEED_FAKETIME() \
    if (!have_faketime()) GTEST_SKIP() << "faketime is not installed"

// Two clumps of three rows each, far apart.
const Table kClumps = {{1, 1}, {2, 1}, {1, 2}, {8, 8}, {9, 8}, {8, 9}};

// --- tests ---------------------------------------------------------------------

TEST(LearnE2E, FrozenClockGivesTheExpectedSeed) {
    NEED_FAKETIME();
    // -D2 lists the random centres: with K = 2 and one variable ranging over
    // 0 to 10 they are the first two draws of the seeded generator.
    ScratchDir dir;
    dir.write("S.DAT", "0\n10\n");
    RunResult r = run_at(dir, T0, {"S.DAT", "-K2", "-R1", "-D2", "-Q3"});
    ASSERT_EQ(r.status, 0) << r.err;
    Lcg rng{static_cast<std::uint32_t>(T0)};
    const double c = 3.0518509447574615e-05;
    float c0 = static_cast<float>(rng.next() * c * 10.0);
    float c1 = static_cast<float>(rng.next() * c * 10.0);
    EXPECT_TRUE(contains(r.out, "Randomizing 2 clusters\nclust[0][0]=" + g6(c0) + " \nclust[1][0]=" + g6(c1) + " \n"))
        << r.out;
}

TEST(LearnE2E, SkmWithOneIterationGivesTheMeansOfTheClumps) {
    NEED_FAKETIME();
    // A time whose two random centres are each nearest to one clump, the
    // first centre to the clump at (1, 1).
    std::int64_t t = find_time([](Lcg& rng) {
        Table c = random_centres(rng, 2, {1, 1}, {9, 9});
        for (int i = 0; i < 6; ++i)
            if (nearest(c, 2, kClumps[i], false) != (i < 3 ? 0 : 1)) return false;
        return true;
    });
    ScratchDir dir;
    dir.write("CLUMPS.DAT", rows_text(kClumps));
    RunResult r = run_at(dir, t, {"CLUMPS.DAT", "-K2", "-R1", "-Q3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, "");
    // Means 4/3 and 25/3, divided in double and rounded to float: 6 digits.
    EXPECT_EQ(dir.read("CLUMPS.KMC"),
              "-1        \n"
              "1.33333      1.33333      \n"
              "8.33333      8.33333      \n");
    EXPECT_EQ(dir.read("CLUMPS.KTF"), "1\n1\n1\n2\n2\n2\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"CLUMPS.DAT", "CLUMPS.KMC", "CLUMPS.KTF"}));
}

TEST(LearnE2E, SkmMatchesTheModelOverSeveralTimesAndIterations) {
    NEED_FAKETIME();
    const Table rows = {{0.5f, 3}, {1.25f, 2.5f}, {7, -1}, {6.5f, -2}, {3, 3}, {2.75f, 0.125f}, {8, 4}, {-1, 1}};
    struct Case {
        int K, R;
        bool city;
    };
    const Case cases[] = {{2, 1, false}, {3, 2, false}, {3, 3, true}, {4, 5, false}, {2, 4, true}};
    for (const Case& c : cases) {
        for (std::int64_t t : {T0, T0 + 17, T0 + 4242}) {
            SCOPED_TRACE(fmt("K=%d R=%d city=%d t=%lld", c.K, c.R, c.city, static_cast<long long>(t)));
            Lcg rng{static_cast<std::uint32_t>(t)};
            Model m = learn(rng, rows, c.K, c.R, c.city);
            ScratchDir dir;
            dir.write("M.DAT", rows_text(rows));
            std::vector<std::string> args = {"M.DAT", fmt("-K%d", c.K), fmt("-R%d", c.R), "-Q3", "-U"};
            if (c.city) args.push_back("-B");
            RunResult r = run_at(dir, t, args);
            EXPECT_EQ(r.status, m.nused()) << r.err;
            EXPECT_EQ(dir.read("M.KMC"), kmc_text(m, 0));
            EXPECT_EQ(dir.read("M.KTF"), ktf_text(m));
        }
    }
}

// KMEANS_RESTARTS: the starts follow each other in the generator's
// sequence, each gets its sum of squares (rows to their nearest centre,
// squared differences in double, file order), and the lowest is written, a
// tie going to the earlier start. Spelled out as the defaults, the variables
// change no byte; AKMDI says it takes neither and runs as before.
TEST(LearnE2E, RestartsKeepTheStartOfTheLowestSumOfSquares) {
    NEED_FAKETIME();
    const Table rows = {{0.5f, 3}, {1.25f, 2.5f}, {7, -1}, {6.5f, -2}, {3, 3}, {2.75f, 0.125f}, {8, 4}, {-1, 1}};
    ScratchDir dir;
    dir.write("M.DAT", rows_text(rows));
    int kept_later = 0;
    for (const int K : {2, 3}) {
        for (std::int64_t t : {T0, T0 + 17, T0 + 4242, T0 + 99}) {
            SCOPED_TRACE(fmt("K=%d t=%lld", K, static_cast<long long>(t)));
            Lcg rng{static_cast<std::uint32_t>(t)};
            std::vector<Model> starts;
            std::vector<double> sse;
            for (int s = 0; s < 4; ++s) {
                starts.push_back(learn(rng, rows, K, 2, false));
                double sum = 0.0;
                for (const Row& r : rows) {
                    const Row& c = starts.back().clust[nearest(starts.back().clust, K, r, false)];
                    for (std::size_t v = 0; v < r.size(); ++v) {
                        const double d = static_cast<double>(r[v]) - static_cast<double>(c[v]);
                        sum += d * d;
                    }
                }
                sse.push_back(sum);
            }
            const std::size_t best = static_cast<std::size_t>(std::min_element(sse.begin(), sse.end()) - sse.begin());
            kept_later += best > 0;
            RunOptions opts = frozen_at(t);
            opts.env = {"KMEANS_RESTARTS=4"};
            RunResult r = run_kmeans(dir, {"M.DAT", fmt("-K%d", K), "-R2", "-Q1"}, opts);
            EXPECT_EQ(r.status, 0) << r.err;
            for (int s = 0; s < 4; ++s)
                EXPECT_NE(r.err.find(fmt("\nStart %d of 4: sum of squares %.10G\n", s + 1, sse[s])), std::string::npos)
                    << r.err;
            EXPECT_NE(r.err.find(fmt("Kept start %zu of 4.\n", best + 1)), std::string::npos) << r.err;
            EXPECT_EQ(dir.read("M.KMC"), kmc_text(starts[best], 0));
            EXPECT_EQ(dir.read("M.KTF"), ktf_text(starts[best]));
        }
    }
    EXPECT_GT(kept_later, 0);  // some case keeps a start other than the first
    for (const std::vector<std::string>& args : {std::vector<std::string>{"M.DAT", "-K3", "-R2"},
                                                 std::vector<std::string>{"M.DAT", "-I", "-K3", "-D2"}}) {
        RunResult plain = run_at(dir, T0, args);
        const std::string kmc = dir.read("M.KMC"), ktf = dir.read("M.KTF");
        RunOptions opts = frozen_at(T0);
        opts.env = {"KMEANS_INIT=random", "KMEANS_RESTARTS=1"};
        RunResult spelled = run_kmeans(dir, args, opts);
        EXPECT_EQ(spelled.err, plain.err);
        EXPECT_EQ(spelled.out, plain.out);
        opts.env = {"KMEANS_INIT=kmeans++", "KMEANS_RESTARTS=5"};
        RunResult other = run_kmeans(dir, args, opts);
        if (args[1] != "-I") continue;
        const std::string info =
            "INFO: AKMDI opens its clusters from the data; KMEANS_INIT and KMEANS_RESTARTS are not used.\n";
        const std::size_t at = plain.err.find("\n\nWorking on file") + 1;
        EXPECT_EQ(other.err, plain.err.substr(0, at) + info + plain.err.substr(at));
        EXPECT_EQ(other.out, plain.out);
        EXPECT_EQ(dir.read("M.KMC"), kmc);
        EXPECT_EQ(dir.read("M.KTF"), ktf);
    }
}

TEST(LearnE2E, TiesGoToTheLowestNumberedCluster) {
    NEED_FAKETIME();
    // Rows -10, 4 and 11. When the first iteration groups -10 with 4, the
    // centres become -3 and 11, and row 4 lies at 7 from both (under either
    // distance). The assignment pass and the final pass then give it the
    // lower-numbered centre.
    const Table rows = {{-10}, {4}, {11}};
    for (bool city : {false, true}) {
        for (int low_group : {0, 1}) {
            SCOPED_TRACE(fmt("city=%d group of -10 at index %d", city, low_group));
            std::int64_t t = find_time([&](Lcg& rng) {
                Table c = random_centres(rng, 2, {-10}, {11});
                return nearest(c, 2, rows[0], city) == low_group && nearest(c, 2, rows[1], city) == low_group &&
                       nearest(c, 2, rows[2], city) == 1 - low_group;
            });
            ScratchDir dir;
            dir.write("TIE.DAT", "-10\n4\n11\n");
            std::vector<std::string> args = {"TIE.DAT", "-K2", "-R1", "-Q3", "-D"};
            if (city) args.push_back("-B");
            RunResult r = run_at(dir, t, args);
            ASSERT_EQ(r.status, 0) << r.err;
            // Row 4 joins cluster 1 (index 0) in both cases.
            if (low_group == 0) {
                EXPECT_EQ(dir.read("TIE.KTF"), "1\n1\n2\n");
                EXPECT_TRUE(contains(dir.read("TIE.KMC"), "Counts=2      -3           \nCounts=1      11           \n"))
                    << dir.read("TIE.KMC");
            } else {
                EXPECT_EQ(dir.read("TIE.KTF"), "2\n1\n1\n");
                EXPECT_TRUE(contains(dir.read("TIE.KMC"), "Counts=2      11           \nCounts=1      -3           \n"))
                    << dir.read("TIE.KMC");
            }
            EXPECT_TRUE(contains(r.out, "Counts in cluster1  :      2\nCounts in cluster2  :      1\n")) << r.out;
        }
    }
}

TEST(LearnE2E, IsolatedClusterIsWarnedAndLeftOutOfTheResults) {
    NEED_FAKETIME();
    // Rows 0, 0, 0, 10, 10, 10 with K = 3: a time whose random centres give
    // index 0 the zeros, index 2 the tens and index 1 nothing. The first
    // iteration moves centres 0 and 2 onto 0 and 10 exactly, so index 1
    // stays isolated in every iteration and is the empty cluster below a
    // used one after learning.
    const Table rows = {{0}, {0}, {0}, {10}, {10}, {10}};
    std::int64_t t = find_time([&](Lcg& rng) {
        Table c = random_centres(rng, 3, {0}, {10});
        return nearest(c, 3, rows[0], false) == 0 && nearest(c, 3, rows[3], false) == 2 && c[1][0] != 10.0f;
    });
    Lcg rng{static_cast<std::uint32_t>(t)};
    Model m = learn(rng, rows, 3, 2, false);
    ASSERT_EQ(m.counts_all, (std::vector<long>{3, 0, 3}));

    ScratchDir dir;
    dir.write("ISO.DAT", rows_text(rows));
    RunResult r = run_at(dir, t, {"ISO.DAT", "-K3", "-R2", "-D", "-U"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(count_of(r.err, "\nVARNING: Cluster 2 is isolated.\n"), 2u) << r.err;
    EXPECT_EQ(count_of(r.err, "VARNING"), 2u) << r.err;
    // Two used clusters 10 apart: totd 20 over 2 pairs, mean 10; no row lies
    // within 5 of the other centre.
    EXPECT_EQ(dir.read("ISO.KMC"),
              "mdist:10           no:2     totd:20          \n"
              "MaxDist:-1        \n"
              "Counts=3      0            \n"
              "Counts=3      10           \n"
              "No.of overlaps (at mdist/2): 0\n");
    EXPECT_EQ(dir.read("ISO.KTF"), "1\n1\n1\n2\n2\n2\n");
    EXPECT_EQ(without_env_line(r.out), stdout_text(m, 1, 1));
    EXPECT_EQ(kmc_text(m, 1), dir.read("ISO.KMC"));

    // Quiet level 2 still shows the warnings, quiet level 3 does not.
    r = run_at(dir, t, {"ISO.DAT", "-K3", "-R2", "-Q2"});
    const std::string working = "\nWorking on file: ISO.DAT       Creating files: ISO.KMC      ISO.KTF\n";
    ASSERT_TRUE(contains(r.err, working)) << r.err;
    EXPECT_EQ(r.err.substr(r.err.find(working)),
              working + "\nVARNING: Cluster 2 is isolated.\n\nVARNING: Cluster 2 is isolated.\n\n");
    r = run_at(dir, t, {"ISO.DAT", "-K3", "-R2", "-Q3"});
    EXPECT_EQ(r.err, "");
}

TEST(LearnE2E, EmptyClusterBelowAUsedOneIsCompactedAway) {
    NEED_FAKETIME();
    // Two-variable data with K = 4, R = 1: a time where, after learning, the
    // assignment pass leaves a cluster empty below a used one. The centre
    // file lists only clusters with rows, and the final pass gives every row
    // the cluster the assignment pass gave it.
    const Table rows = {{1, 2}, {3, 4}, {5, 6}, {7, 8}, {2, 9}, {9, 1}, {4, 4}, {6, 2}};
    Model model;
    std::int64_t t = find_time([&](Lcg& rng) {
        model = learn(rng, rows, 4, 1, false);
        for (std::size_t k = 0; k + 1 < model.counts_all.size(); ++k)
            if (model.counts_all[k] == 0 && model.counts_all[k + 1] != 0) return true;
        return false;
    });
    ScratchDir dir;
    dir.write("GAP.DAT", rows_text(rows));
    RunResult r = run_at(dir, t, {"GAP.DAT", "-K4", "-R1", "-D", "-U2", "-Q3"});
    EXPECT_EQ(r.status, model.nused()) << r.err;
    ASSERT_LT(model.nused(), 4);
    const std::string kmc = dir.read("GAP.KMC");
    EXPECT_EQ(kmc, kmc_text(model, 1));
    EXPECT_EQ(dir.read("GAP.KTF"), ktf_text(model));
    EXPECT_EQ(without_env_line(r.out), stdout_text(model, 1, 2));

    // The invariants, read from the files alone.
    std::vector<std::string> lines = lines_of(kmc);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(model.nused()) + 3);
    long total = 0;
    for (int i = 0; i < model.nused(); ++i) {
        const std::string& l = lines[2 + i];
        ASSERT_EQ(l.rfind("Counts=", 0), 0u) << l;
        long n = std::stol(l.substr(7));
        EXPECT_GT(n, 0) << l;
        total += n;
    }
    EXPECT_EQ(total, 8);
    std::vector<long> per(static_cast<std::size_t>(model.nused()) + 1, 0);
    for (const std::string& l : lines_of(dir.read("GAP.KTF"))) {
        int v = std::stoi(l);
        ASSERT_GE(v, 1);
        ASSERT_LE(v, model.nused());
        ++per[v];
    }
    // Every row stays where the assignment pass put it.
    for (int i = 0; i < model.nused(); ++i) EXPECT_EQ(per[i + 1], model.counts[i]);
}

TEST(LearnE2E, ConstantVariableGivesEveryCentreItsValue) {
    NEED_FAKETIME();
    // Second variable constant: every random centre and every mean carries
    // 7.25 exactly.
    ScratchDir dir;
    dir.write("CON.DAT", "1 7.25\n2 7.25\n6 7.25\n9 7.25\n");
    RunResult r = run_at(dir, T0 + 3, {"CON.DAT", "-K3", "-R2", "-D2", "-Q3"});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int k = 0; k < 3; ++k) EXPECT_TRUE(contains(r.out, fmt("clust[%d][1]=7.25         ", k))) << r.out;
    for (const std::string& l : lines_of(dir.read("CON.KMC"))) {
        if (l.rfind("Counts=", 0) != 0) continue;
        EXPECT_TRUE(contains(l, "][1]=7.25         ")) << l;
    }

    // Every variable constant: all centres equal the value, every row ties
    // at distance 0 and goes to cluster 1; clusters 2 and 3 are isolated in
    // every iteration.
    dir.write("ALL.DAT", "3.5\n3.5\n3.5\n3.5\n3.5\n");
    r = run_at(dir, T0, {"ALL.DAT", "-K3", "-R2", "-D2", "-Q2", "-U"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(contains(r.out, "Randomizing 3 clusters\nclust[0][0]=3.5          \nclust[1][0]=3.5          \n"
                                "clust[2][0]=3.5          \n"))
        << r.out;
    EXPECT_EQ(count_of(r.out, "\nCompute new clustercenter\nAntal:5      k[0][0]=3.5          \n"), 2u) << r.out;
    EXPECT_EQ(r.err.find("VARNING"), r.err.find("\nVARNING: Cluster 2 is isolated.\n\nVARNING: Cluster 3 is isolated.\n\n"
                                                 "VARNING: Cluster 2 is isolated.\n\nVARNING: Cluster 3 is isolated.\n") +
                                          1)
        << r.err;
    EXPECT_EQ(count_of(r.err, "VARNING"), 4u);
    EXPECT_EQ(dir.read("ALL.KTF"), "1\n1\n1\n1\n1\n");
    EXPECT_TRUE(contains(dir.read("ALL.KMC"), "MaxDist:-1        \nCounts=5      k[0][0]=3.5          \nNo.of overlaps"))
        << dir.read("ALL.KMC");
}

TEST(LearnE2E, DebugLevelOneLayouts) {
    NEED_FAKETIME();
    const Table rows = {{0.5f, 3}, {1.25f, 2.5f}, {7, -1}, {6.5f, -2}, {3, 3}, {2.75f, 0.125f}};
    // A time with three used clusters whose mean distance shows the
    // precision rules: the total differs had each Euclidean root been
    // rounded to float before adding, and the printed mean differs had it
    // been rounded to float before printing.
    std::int64_t t = find_time([&](Lcg& rng) {
        Model m = learn(rng, rows, 3, 2, false);
        return m.nused() == 3 && m.totd != m.totd_rounded_terms &&
               fmt("%.6G", m.mdist) != fmt("%.6G", static_cast<double>(static_cast<float>(m.mdist)));
    });
    Lcg rng{static_cast<std::uint32_t>(t)};
    Model m = learn(rng, rows, 3, 2, false);
    ScratchDir dir;
    dir.write("D1.DAT", rows_text(rows));
    RunResult r = run_at(dir, t, {"D1.DAT", "-K3", "-R2", "-D"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("D1.KMC"), kmc_text(m, 1));
    EXPECT_EQ(dir.read("D1.KTF"), ktf_text(m));
    EXPECT_EQ(without_env_line(r.out), stdout_text(m, 1, 0));
    EXPECT_EQ(from_parameter_line(r.err),
              "No.of clusters:3 Iterations:2 Euclidean dist.\n" + stderr_file_text(m, "D1.DAT", 3, 2, 1));

    // The file's layout, spelled out for the first lines.
    std::vector<std::string> l = lines_of(dir.read("D1.KMC"));
    ASSERT_EQ(l.size(), 6u);
    EXPECT_EQ(l[0].substr(0, 6), "mdist:");
    EXPECT_EQ(l[0].substr(18, 4), " no:");
    EXPECT_EQ(l[0].substr(22, 5), "6    ");
    EXPECT_EQ(l[0].substr(27, 6), " totd:");
    EXPECT_EQ(l[1], "MaxDist:-1        ");
    EXPECT_EQ(l[2].substr(0, 14), fmt("Counts=%-6ld ", m.counts[0]));
    EXPECT_EQ(l[5], fmt("No.of overlaps (at mdist/2): %ld", m.overlaps));
}

TEST(LearnE2E, DebugLevelTwoLayouts) {
    NEED_FAKETIME();
    const Table rows = {{0.5f, 3}, {1.25f, 2.5f}, {7, -1}, {6.5f, -2}, {3, 3}, {2.75f, 0.125f}};
    std::int64_t t = find_time([&](Lcg& rng) { return learn(rng, rows, 3, 2, true).nused() == 3; });
    Lcg rng{static_cast<std::uint32_t>(t)};
    Model m = learn(rng, rows, 3, 2, true);
    ScratchDir dir;
    dir.write("D2.DAT", rows_text(rows));
    RunResult r = run_at(dir, t, {"D2.DAT", "-K3", "-R2", "-D2", "-B"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(dir.read("D2.KMC"), kmc_text(m, 2));
    EXPECT_EQ(dir.read("D2.KTF"), ktf_text(m));
    EXPECT_EQ(without_env_line(r.out), stdout_text(m, 2, 0));
    EXPECT_EQ(from_parameter_line(r.err), "No.of clusters:3 Iterations:2 Cityblock dist.\n" +
                                              stderr_file_text(m, "D2.DAT", 3, 2, 2) + "\nMajorClean...Ready!\n");
    // A centre line at debug level 2.
    std::vector<std::string> l = lines_of(dir.read("D2.KMC"));
    ASSERT_EQ(l.size(), 6u);
    EXPECT_EQ(l[3], fmt("Counts=%-6ld k[1][0]=", m.counts[1]) + g6(m.used[1][0]) + " k[1][1]=" + g6(m.used[1][1]) + " ");
}

TEST(LearnE2E, ConsoleAtQuietZeroWithoutDebug) {
    NEED_FAKETIME();
    // 130 rows: the first pass turns the spinner at rows 64 and 128, every
    // later pass at rows 1, 65 and 129.
    Table rows;
    for (int i = 0; i < 130; ++i) rows.push_back({static_cast<float>(i % 13), static_cast<float>((i * 7) % 11)});
    std::int64_t t = find_time([](Lcg&) { return true; });
    Lcg rng{static_cast<std::uint32_t>(t)};
    Model m = learn(rng, rows, 5, 3, false);
    ScratchDir dir;
    dir.write("Q0.DAT", rows_text(rows));
    RunResult r = run_at(dir, t, {"Q0.DAT", "-R3"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(from_parameter_line(r.err),
              "No.of clusters:5 Iterations:3 Euclidean dist.\n" + stderr_file_text(m, "Q0.DAT", 5, 3, 0));
    EXPECT_EQ(dir.read("Q0.KMC"), kmc_text(m, 0));
    EXPECT_EQ(dir.read("Q0.KTF"), ktf_text(m));
}

TEST(LearnE2E, FirstPassSpinner) {
    NEED_FAKETIME();
    // The bytes between the "Working on file" line and the newline that ends
    // the data pass.
    struct Case {
        int rows;
        std::string turns;
    };
    const Case cases[] = {{1, ""}, {63, ""}, {64, "\b-"}, {127, "\b-"}, {128, "\b-\b\\"}, {200, "\b-\b\\\b|"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rows);
        ScratchDir dir;
        std::string data;
        for (int i = 0; i < c.rows; ++i) data += std::to_string(i % 7) + "\n";
        dir.write("SP.DAT", data);
        RunResult r = run_at(dir, T0, {"SP.DAT", "-K2", "-R1"});
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string working = "\nWorking on file: SP.DAT        Creating files: SP.KMC       SP.KTF\n";
        std::size_t at = r.err.find(working);
        ASSERT_NE(at, std::string::npos) << r.err;
        std::size_t from = at + working.size();
        EXPECT_EQ(r.err.substr(from, r.err.find('\n', from) - from), c.turns);
    }
}

TEST(LearnE2E, UsedClusterLevels) {
    NEED_FAKETIME();
    // The isolated-cluster data: 2 used clusters of 3.
    const Table rows = {{0}, {0}, {0}, {10}, {10}, {10}};
    std::int64_t t = find_time([&](Lcg& rng) { return learn(rng, rows, 3, 2, false).nused() == 2; });
    struct Case {
        std::vector<std::string> sw;
        int status;
        std::string out;  // after the env line
    };
    const Case cases[] = {
        {{}, 0, ""},
        {{"-U"}, 2, ""},
        {{"-U1"}, 2, ""},
        {{"-U2"}, 2, "2\n"},
        {{"-U3"}, 2, "2\n"},
        {{"-U2", "-D"}, 2, "No. of used clusters:2  \n2\n"},
        {{"-U", "-D"}, 2, "No. of used clusters:2  \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sw.empty() ? "none" : c.sw[0] + (c.sw.size() > 1 ? " " + c.sw[1] : ""));
        ScratchDir dir;
        dir.write("U.DAT", rows_text(rows));
        std::vector<std::string> args = {"U.DAT", "-K3", "-R2", "-Q3"};
        args.insert(args.end(), c.sw.begin(), c.sw.end());
        RunResult r = run_at(dir, t, args);
        EXPECT_EQ(r.status, c.status) << r.err;
        std::string out = without_env_line(r.out);
        if (contains(out, "mdist:")) {
            // Between the mdist line and the first count line.
            std::size_t from = out.find('\n', out.find("mdist:")) + 1;
            out = out.substr(from, out.find("Counts in cluster") - from);
        }
        EXPECT_EQ(out, c.out) << r.out;
    }
}

TEST(LearnE2E, ResultNames) {
    NEED_FAKETIME();
    struct Case {
        std::string arg;
        std::string kmc, ktf;
    };
    const Case cases[] = {
        {"DATA.DAT", "DATA.KMC", "DATA.KTF"},
        {"DATA", "DATA.KMC", "DATA.KTF"},
        {"A.B.C", "A.KMC", "A.KTF"},
        {"sub/X.DAT", "sub/X.KMC", "sub/X.KTF"},
        {"lower.dat", "lower.KMC", "lower.KTF"},
        // Only the file-name part is cut: results land beside the data.
        {"./sub/IRIS.DAT", "./sub/IRIS.KMC", "./sub/IRIS.KTF"},
        {"names/my.dir/IRIS.DAT", "names/my.dir/IRIS.KMC", "names/my.dir/IRIS.KTF"},
        {"v1.2/DATA", "v1.2/DATA.KMC", "v1.2/DATA.KTF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arg);
        ScratchDir dir;
        fs::create_directories((dir.path / c.arg).parent_path());
        dir.write(c.arg, "1 2\n3 4\n5 5\n");
        RunResult r = run_at(dir, T0, {c.arg, "-K2", "-R1", "-Q1"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(contains(r.err, fmt("\nWorking on file: %-12s  Creating files: %-12s %s\n", c.arg.c_str(),
                                        c.kmc.c_str(), c.ktf.c_str())))
            << r.err;
        ASSERT_TRUE(dir.exists(c.kmc));
        EXPECT_EQ(dir.read(c.kmc).substr(0, 11), "-1        \n");
        EXPECT_EQ(lines_of(dir.read(c.ktf)).size(), 3u);
        std::size_t files = 0;
        for (const auto& e : fs::recursive_directory_iterator(dir.path))
            if (e.is_regular_file()) ++files;
        EXPECT_EQ(files, 3u);
    }
}

// The files under `dir`, hidden ones included, as sorted relative paths.
std::vector<std::string> all_files(const ScratchDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir.path))
        if (e.is_regular_file() && !e.is_symlink()) names.push_back(fs::relative(e.path(), dir.path).string());
    std::sort(names.begin(), names.end());
    return names;
}

// A data file whose result names an earlier argument of the same run already
// wrote is refused before anything of it is written (status 5, a PANIC naming
// both arguments); the earlier results stay byte for byte. Names that reach
// the same file through another path count as the same.
TEST(LearnE2E, ResultNameClashIsRefused) {
    struct Case {
        std::string first, second;
    };
    const Case cases[] = {
        {"RUN.A.DAT", "RUN.B.DAT"},
        {"RUN.DAT", "RUN"},
        {"RUN.DAT", "RUN.DAT"},
        {"sub/RUN.DAT", "sub//RUN.X"},
        {"sub/RUN.DAT", "alias/RUN"},  // alias is a link to sub
    };
    RunOptions opts;
    opts.env = {"KMEANS_SEED=11"};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first + " " + c.second);
        ScratchDir dir;
        fs::create_directory(dir.path / "sub");
        fs::create_directory_symlink("sub", dir.path / "alias");
        dir.write(c.first, rows_text(kClumps));
        if (c.second != c.first) dir.write(c.second, "5 5\n6 6\n7 7\n");
        const std::string stem = c.first.substr(0, c.first.find('.'));
        RunResult alone = run_kmeans(dir, {c.first, "-K2", "-R2", "-Q3"}, opts);
        ASSERT_EQ(alone.status, 0) << alone.err;
        const std::string kmc = dir.read(stem + ".KMC"), ktf = dir.read(stem + ".KTF");
        const std::vector<std::string> files = all_files(dir);
        fs::remove(dir.path / (stem + ".KMC"));
        fs::remove(dir.path / (stem + ".KTF"));

        RunResult r = run_kmeans(dir, {c.first, c.second, "OTHER.DAT", "-K2", "-R2", "-Q2"}, opts);
        EXPECT_EQ(r.status, 5) << r.err;
        EXPECT_EQ(r.err, " <<< kmeans >>>  Version: 1.15W32 DOS\n\n" +
                             fmt("\nWorking on file: %-12s  Creating files: %-12s %s\n", c.first.c_str(),
                                 (stem + ".KMC").c_str(), (stem + ".KTF").c_str()) +
                             "\n\nPANIC: Results of " + c.second + " would replace those of " + c.first + "\n\n");
        EXPECT_EQ(dir.read(stem + ".KMC"), kmc);
        EXPECT_EQ(dir.read(stem + ".KTF"), ktf);
        EXPECT_EQ(all_files(dir), files);
    }
    // Other directories, other names: no clash.
    ScratchDir dir;
    fs::create_directory(dir.path / "sub");
    dir.write("RUN.DAT", rows_text(kClumps));
    dir.write("sub/RUN.DAT", rows_text(kClumps));
    RunResult r = run_kmeans(dir, {"RUN.DAT", "sub/RUN.DAT", "-K2", "-R2", "-Q3"}, opts);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(dir.exists("sub/RUN.KTF"));
}

TEST(LearnE2E, ParentDirectoryArgumentWritesBesideTheData) {
    NEED_FAKETIME();
    // "../X.DAT": only the file-name part is cut at its '.', so the results
    // land beside the data, not as ".KMC" and ".KTF" in the working directory.
    ScratchDir outer;
    outer.write("X.DAT", "1 2\n3 4\n5 5\n");
    ScratchDir nest;
    fs::remove_all(nest.path);
    nest.path = outer.path / "nest";
    fs::create_directory(nest.path);
    RunResult r = run_at(nest, T0, {"../X.DAT", "-K2", "-R1", "-Q1"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "\nWorking on file: ../X.DAT      Creating files: ../X.KMC     ../X.KTF\n")) << r.err;
    EXPECT_TRUE(nest.entries().empty());
    EXPECT_EQ(lines_of(outer.read("X.KTF")).size(), 3u);
    EXPECT_EQ(outer.entries(), (std::vector<std::string>{"X.DAT", "X.KMC", "X.KTF", "nest"}));
}

TEST(LearnE2E, ResultFileArgumentsAreIgnored) {
    NEED_FAKETIME();
    ScratchDir dir;
    dir.write("OLD.KTF.BAK", "1\n");
    dir.write("R.KMC", "1\n");
    dir.write("G.DAT", "1\n2\n");
    RunResult r = run_at(dir, T0, {"OLD.KTF.BAK", "R.KMC", "G.DAT", "-K2", "-R1", "-Q2"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.err, "INFO: Ignoring file: OLD.KTF.BAK\nINFO: Ignoring file: R.KMC\n\nWorking on file: G.DAT"))
        << r.err;
    EXPECT_EQ(dir.read("OLD.KTF.BAK"), "1\n");
    EXPECT_EQ(dir.read("R.KMC"), "1\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"G.DAT", "G.KMC", "G.KTF", "OLD.KTF.BAK", "R.KMC"}));
}

TEST(LearnE2E, TwoDataFilesContinueTheRandomSequence) {
    NEED_FAKETIME();
    const Table first = {{1, 2}, {3, 1}, {8, 9}, {9, 7}};
    const Table second = {{0, 0, 5}, {1, 2, 5}, {10, 8, 1}, {9, 9, 0}, {4, 4, 4}};
    Lcg rng{static_cast<std::uint32_t>(T0)};
    Model m1 = learn(rng, first, 2, 1, false);
    Model m2 = learn(rng, second, 2, 1, false);  // continues the draws
    Lcg fresh{static_cast<std::uint32_t>(T0)};
    Model alone = learn(fresh, second, 2, 1, false);
    ASSERT_NE(m2.init, alone.init);

    ScratchDir dir;
    dir.write("FIRST.DAT", rows_text(first));
    dir.write("SECOND.DAT", rows_text(second));
    RunResult r = run_at(dir, T0, {"FIRST.DAT", "SECOND.DAT", "-K2", "-R1", "-D2", "-Q3", "-U"});
    EXPECT_EQ(r.status, m2.nused()) << r.err;
    EXPECT_EQ(without_env_line(r.out), stdout_text(m1, 2, 1) + stdout_text(m2, 2, 1));
    EXPECT_EQ(dir.read("FIRST.KMC"), kmc_text(m1, 2));
    EXPECT_EQ(dir.read("FIRST.KTF"), ktf_text(m1));
    EXPECT_EQ(dir.read("SECOND.KMC"), kmc_text(m2, 2));
    EXPECT_EQ(dir.read("SECOND.KTF"), ktf_text(m2));
}

TEST(LearnE2E, UsedClusterStatusIsThatOfTheLastFile) {
    NEED_FAKETIME();
    ScratchDir dir;
    dir.write("ONE.DAT", "4\n4\n4\n");  // every row in cluster 1
    dir.write("TWO.DAT", "0\n0\n0\n10\n10\n10\n");
    std::int64_t t = find_time([](Lcg& rng) {
        learn(rng, {{4}, {4}, {4}}, 3, 2, false);
        return learn(rng, {{0}, {0}, {0}, {10}, {10}, {10}}, 3, 2, false).nused() == 2;
    });
    RunResult r = run_at(dir, t, {"ONE.DAT", "TWO.DAT", "-K3", "-R2", "-Q3", "-U2"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "1\n2\n");
    // The other order: the generator runs on differently, so search anew.
    t = find_time([](Lcg& rng) {
        return learn(rng, {{0}, {0}, {0}, {10}, {10}, {10}}, 3, 2, false).nused() == 2;
    });
    r = run_at(dir, t, {"TWO.DAT", "ONE.DAT", "-K3", "-R2", "-Q3", "-U2"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "2\n1\n");
}

TEST(LearnE2E, PanicInTheSecondFileKeepsTheFirstFilesResults) {
    NEED_FAKETIME();
    ScratchDir dir;
    dir.write("GOOD.DAT", rows_text(kClumps));
    dir.write("BAD.DAT", "1 2\n3 4\n5 x\n7 8\n");
    Lcg rng{static_cast<std::uint32_t>(T0)};
    Model m = learn(rng, kClumps, 2, 2, false);
    RunResult r = run_at(dir, T0, {"GOOD.DAT", "BAD.DAT", "-K2", "-R2", "-Q3"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "\nRow holds the character \"x\" in column 3, which no number may hold. Mark a header or a"
                     " note as a comment with \"!\" anywhere in its line."
                     "\nPANIC: Bad datafile: BAD.DAT  Datarow:3\n");
    EXPECT_EQ(dir.read("GOOD.KMC"), kmc_text(m, 0));
    EXPECT_EQ(dir.read("GOOD.KTF"), ktf_text(m));
    // No result file, finished or not, for the second file.
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"BAD.DAT", "GOOD.DAT", "GOOD.KMC", "GOOD.KTF"}));
}

TEST(LearnE2E, FailedRunLeavesEarlierResultsUntouched) {
    NEED_FAKETIME();
    ScratchDir dir;
    dir.write("DATA.DAT", "1 2\n3 4\n5 6 7\n");
    dir.write("DATA.KMC", "earlier centres\n");
    dir.write("DATA.KTF", "earlier values\n");
    RunResult r = run_at(dir, T0, {"DATA.DAT", "-Q3"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "\nstr:5 6 7\n3!=2\n\nPANIC: Bad datafile: DATA.DAT  Datarow:3\n");
    EXPECT_EQ(dir.read("DATA.KMC"), "earlier centres\n");
    EXPECT_EQ(dir.read("DATA.KTF"), "earlier values\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"DATA.DAT", "DATA.KMC", "DATA.KTF"}));
}

TEST(LearnE2E, FilesThatCannotBeOpenedOrCreated) {
    ScratchDir dir;
    dir.write("GOOD.DAT", "1\n2\n3\n");
    // A missing data file after a good one: the first file's results stay.
    RunResult r = run_kmeans(dir, {"GOOD.DAT", "NONE.DAT", "-Q3"});
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.err, "\nThere is no such file.\nPANIC: Can't find/open file: NONE.DAT\n\n");
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"GOOD.DAT", "GOOD.KMC", "GOOD.KTF"}));
    EXPECT_EQ(lines_of(dir.read("GOOD.KTF")).size(), 3u);

    // A readable file in a directory where nothing can be created: the
    // centre file's name is reported before the data are read.
    if (!fs::exists("/proc/version")) GTEST_SKIP() << "no /proc/version";
    r = run_kmeans(dir, {"/proc/version", "-Q3"});
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.err, "\nThe directory does not exist or takes no files.\nPANIC: Can't create file: /proc/version.KMC\n\n");
}

TEST(LearnE2E, DataFileWithoutRowsRunsOutOfMemory) {
    const std::string cases[] = {"", "! a comment\n! another\n", "\n1 2\n3 4\n", "! c\n\n5\n"};
    for (const std::string& data : cases) {
        SCOPED_TRACE(data);
        ScratchDir dir;
        dir.write("EMPTY.DAT", data);
        RunResult r = run_kmeans(dir, {"EMPTY.DAT", "-Q1"});
        EXPECT_EQ(r.status, 2);
        const std::string tail = "\nNo data rows in file: EMPTY.DAT"
                                 "\nAttemted to reserve 0 bytes memory. (clust[])\nPANIC: Not enough memory for cluster: 1\n";
        ASSERT_GE(r.err.size(), tail.size()) << r.err;
        EXPECT_EQ(r.err.substr(r.err.size() - tail.size()), tail) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"EMPTY.DAT"}));
    }
}

// A bad row is reported with its data row number, after one line that says
// why: the refused character and its column, the value beyond the float
// range, too many values, or the count message of a row of another length.
TEST(LearnE2E, BadRowsAreReportedWithTheirDataRowNumber) {
    std::string wide;
    for (int i = 0; i < 2049; ++i) {
        if (i) wide += ' ';
        wide += std::to_string(i % 10);
    }
    const std::string no_number = ", which no number may hold.";
    // A letter (or '#', '"') says how to make the line a comment.
    const std::string mark = no_number + " Mark a header or a note as a comment with \"!\" anywhere in its line.";
    const std::string range = "\nValue beyond the single-precision range.";
    struct Case {
        std::string what, data;
        int row;
        std::string reason;  // the line before the PANIC
    };
    const Case cases[] = {
        {"letter after two comment lines", "! one\n! two\n1 2\n1 x\n", 2,
         "\nRow holds the character \"x\" in column 3" + mark},
        {"header line before a row of another count", "sepal_length,sepal_width\n5.1,3.5,1.4\n", 1,
         "\nRow holds the character \"s\" in column 1" + mark},
        {"semicolon", "1,2\n3;4\n", 2, "\nRow holds the character \";\" in column 2" + no_number},
        {"byte above 127", "1 2\n3 \xc3\xa9\n", 2, "\nRow holds the byte 0xC3 in column 3" + no_number},
        {"tab then form feed", "1\t\f2\n", 1, "\nRow holds the byte 0x0C in column 3" + no_number},
        {"comment lines between data rows", "1 2\n! c\n3 4\n! c\n! c\n5 6 7\n", 3, "\nstr:5 6 7\n3!=2\n"},
        {"too few values", "1 2 3\n4 5\n", 2, "\nstr:4 5\n2!=3\n"},
        {"row of 2049 values", "1\n" + wide + "\n", 2, "\nRow holds more than 2048 values."},
        {"first row of 2049 values", wide + "\n1\n", 1, "\nRow holds more than 2048 values."},
        {"value beyond the float range", "1\n2\n1e39\n", 3, range + " It is value 1 of the row, in column 1."},
        {"negative value beyond the float range", "1 1\n-2e39 1\n", 2,
         range + " It is value 1 of the row, in column 1."},
        {"third value beyond the float range", "1 1 1\n1,\t2, 3.5e38\n", 2,
         range + " It is value 3 of the row, in column 7."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.write("B.DAT", c.data);
        dir.write("B.KMC", "kept\n");
        RunResult r = run_kmeans(dir, {"B.DAT", "-Q3"});
        EXPECT_EQ(r.status, 5);
        EXPECT_EQ(r.err, c.reason + fmt("\nPANIC: Bad datafile: B.DAT  Datarow:%d\n", c.row));
        EXPECT_EQ(dir.read("B.KMC"), "kept\n");
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"B.DAT", "B.KMC"}));
    }
}

// A wrapper that runs the program with at most `kib` KiB of address space.
std::string memory_limited_binary(const ScratchDir& dir, int kib) {
    fs::path script = dir.path / "small.sh";
    {
        std::ofstream f(script);
        f << "#!/bin/bash\nulimit -v " << kib << "\nexec \"" << kmeans_binary() << "\" \"$@\"\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    return script.string();
}

// A line longer than 16 MiB is a bad row, also a whole file without line
// feeds; the reader holds no more than the bound of it, so the run stays
// within 48 MiB of address space (a line held whole would need twice its size).
// Under AddressSanitizer only the refusal is checked, without the limit.
TEST(LearnE2E, OverlongLineIsRefusedInBoundedMemory) {
    const std::string overlong(40u << 20, '7');
    struct Case {
        std::string what, data;
        int row;
    };
    const Case cases[] = {
        {"second line", "1\n" + overlong + "\n2\n", 2},
        {"no line feed at all", overlong, 1},
        {"a blank beyond the bound", std::string((16u << 20) - 1, '3') + "  4\n", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        ScratchDir bin;
        dir.write("L.DAT", c.data);
        bool limited = true;
#ifdef KMEANS_ASAN
        limited = false;
#endif
        RunOptions opts;
        if (limited) opts.binary = memory_limited_binary(bin, 48 << 10);
        RunResult r = run_kmeans(dir, {"L.DAT", "-Q3"}, opts);
        EXPECT_EQ(r.status, 5);
        EXPECT_EQ(r.err, fmt("\nRow is longer than 16777216 characters.\nPANIC: Bad datafile: L.DAT  Datarow:%d\n", c.row));
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"L.DAT"}));
    }
}

// A file whose data end at a row without values, with lines of text after
// it, is learned from the rows before it as ever, and a warning says where
// the data end and how many lines were left out. Blank and comment lines
// after the end are not counted, nor anything after a Ctrl-Z, which ends
// the data on purpose.
TEST(LearnE2E, DataEndingBeforeTheLastLineIsWarned) {
    const std::string data_rows = "1 1\n2 1\n8 8\n9 8\n";
    const std::string end = "\nVARNING: The data of E.DAT end at line ";
    struct Case {
        std::string what, data;
        std::string warning;  // "" when none
    };
    const Case cases[] = {
        {"blank line in the middle", data_rows + "\n5 6\n! c\n\n7 8\n", end + "5; 2 more lines are left out.\n"},
        {"row without a value", data_rows + "- 5\n3 3\n", end + "5; 1 more line is left out.\n"},
        {"blanks and separators", data_rows + " \t,\n3 3\n", end + "5; 1 more line is left out.\n"},
        {"Ctrl-Z inside a line left out", data_rows + "\n3 3\x1a" "4 4\n5 5\n", end + "5; 2 more lines are left out.\n"},
        {"after comment lines, with CR LF", "! x\r\n! y\r\n1 1\r\n2 1\r\n8 8\r\n9 8\r\n\r\n3 3\r\n",
         end + "7; 1 more line is left out.\n"},
        {"trailing blank line", data_rows + "\n", ""},
        {"blank and comment lines only", data_rows + "\n \t\n! 5 6\n\n", ""},
        {"Ctrl-Z", data_rows + "\x1a" "5 6\n7 8\n", ""},
        {"Ctrl-Z after the blank line", data_rows + "\n\x1a" "5 6\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        dir.write("E.DAT", c.data);
        RunOptions opts;
        opts.env = {"KMEANS_SEED=3"};
        RunResult r = run_kmeans(dir, {"E.DAT", "-K2", "-R2", "-Q2"}, opts);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, " <<< kmeans >>>  Version: 1.15W32 DOS\n\n"
                         "\nWorking on file: E.DAT         Creating files: E.KMC        E.KTF\n" +
                             c.warning + "\n");
        EXPECT_EQ(lines_of(dir.read("E.KTF")).size(), 4u);
        const std::string kmc = dir.read("E.KMC");
        // Lines of data are lost: quiet level 3 shows the warning alone; the
        // results are the same.
        r = run_kmeans(dir, {"E.DAT", "-K2", "-R2", "-Q3"}, opts);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, c.warning);
        EXPECT_EQ(dir.read("E.KMC"), kmc);
    }
}

// A wrapper that runs the program with a file size limit of 1 KiB (bash
// counts ulimit -f in units of 1024 bytes).
std::string limited_binary(const ScratchDir& dir) {
    fs::path script = dir.path / "limited.sh";
    {
        std::ofstream f(script);
        f << "#!/bin/bash\nulimit -f 1\nexec \"" << kmeans_binary() << "\" \"$@\"\n";
    }
    fs::permissions(script, fs::perms::owner_all);
    return script.string();
}

TEST(LearnE2E, WriteErrorsEndTheRun) {
    struct Case {
        std::string what, data;
        std::string failing;  // the file that cannot be written
    };
    // 600 rows give a cluster value file of 1200 bytes; 120 variables give
    // centre lines of over 1 KiB.
    std::string many_rows, wide_rows;
    for (int i = 0; i < 600; ++i) many_rows += std::to_string(i % 10) + "\n";
    for (int i = 0; i < 3; ++i) {
        for (int v = 0; v < 120; ++v) {
            if (v) wide_rows += ' ';
            wide_rows += std::to_string((i * v) % 10);
        }
        wide_rows += "\n";
    }
    const Case cases[] = {{"cluster value file", many_rows, "W.KTF"}, {"centre file", wide_rows, "W.KMC"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        ScratchDir bin;
        dir.write("W.DAT", c.data);
        dir.write("W.KMC", "earlier centres\n");
        dir.write("W.KTF", "earlier values\n");
        RunOptions o;
        o.binary = limited_binary(bin);
        RunResult r = run_kmeans(dir, {"W.DAT", "-K2", "-R1", "-Q3"}, o);
        EXPECT_EQ(r.status, 5) << r.err;
        EXPECT_EQ(r.err, "\nThe file would pass the size limit for files.\nPANIC: Can't write file: " + c.failing + "\n\n");
        // A failed run replaces neither result file and leaves no temporary.
        EXPECT_EQ(dir.read("W.KMC"), "earlier centres\n");
        EXPECT_EQ(dir.read("W.KTF"), "earlier values\n");
        EXPECT_EQ(dir.entries(), (std::vector<std::string>{"W.DAT", "W.KMC", "W.KTF"}));
    }
}

Table read_rows(const std::string& text) {
    Table rows;
    for (const std::string& l : lines_of(text)) {
        if (l.find('!') != std::string::npos) continue;
        std::istringstream in(l);
        Row r;
        for (std::string tok; in >> tok;) r.push_back(std::strtof(tok.c_str(), nullptr));
        if (!r.empty()) rows.push_back(r);
    }
    return rows;
}

TEST(LearnE2E, IrisInvariantsAndExactResults) {
    NEED_FAKETIME();
    std::ifstream in(examples_dir() + "/IRIS.DAT", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    const std::string iris = ss.str();
    const Table rows = read_rows(iris);
    ASSERT_EQ(rows.size(), 150u);
    struct Case {
        std::int64_t t;
        std::vector<std::string> sw;
        int K;
        bool city;
    };
    const Case cases[] = {{T0, {}, 5, false}, {T0 + 86400, {"-K3", "-B"}, 3, true}, {T0 + 99, {"-K8", "-R4"}, 8, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.K);
        ScratchDir dir;
        dir.write("IRIS.DAT", iris);
        std::vector<std::string> args = {"IRIS.DAT", "-D", "-U", "-Q3"};
        args.insert(args.end(), c.sw.begin(), c.sw.end());
        RunResult r = run_at(dir, c.t, args);
        ASSERT_GE(r.status, 1) << r.err;
        const int nused = r.status;
        ASSERT_LE(nused, c.K);

        // The invariants, from the files alone.
        std::vector<std::string> values = lines_of(dir.read("IRIS.KTF"));
        ASSERT_EQ(values.size(), 150u);
        std::vector<long> per(static_cast<std::size_t>(nused) + 1, 0);
        for (const std::string& v : values) {
            int n = std::stoi(v);
            ASSERT_GE(n, 1);
            ASSERT_LE(n, nused);
            ++per[n];
        }
        std::vector<std::string> kmc = lines_of(dir.read("IRIS.KMC"));
        ASSERT_EQ(kmc.size(), static_cast<std::size_t>(nused) + 3);
        long total = 0;
        for (int i = 0; i < nused; ++i) {
            long n = std::stol(kmc[2 + i].substr(7));
            EXPECT_GT(n, 0);
            EXPECT_EQ(n, per[i + 1]);
            total += n;
        }
        EXPECT_EQ(total, 150);

        // And the exact files.
        Lcg rng{static_cast<std::uint32_t>(c.t)};
        int R = c.K == 8 ? 4 : 10;
        Model m = learn(rng, rows, c.K, R, c.city);
        EXPECT_EQ(nused, m.nused());
        EXPECT_EQ(dir.read("IRIS.KMC"), kmc_text(m, 1));
        EXPECT_EQ(dir.read("IRIS.KTF"), ktf_text(m));
    }
}

}  // namespace
