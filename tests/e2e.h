// Helpers for end-to-end tests: run the built binary in a scratch directory
// and capture its exit status, standard output and standard error.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// KMEANS_ASAN is defined in a build with AddressSanitizer (g++ or clang),
// which reserves terabytes of address space at start: tests that run the
// program under `ulimit -v` cannot do so there.
#if defined(__SANITIZE_ADDRESS__)
#define KMEANS_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KMEANS_ASAN 1
#endif
#endif

struct RunResult {
    int status = -1;   // exit status, or -1 when killed by a signal
    std::string out;   // standard output
    std::string err;   // standard error
};

// A fresh directory under the system temp directory, removed at destruction.
struct ScratchDir {
    std::filesystem::path path;
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Writes `text` to the file `name` inside the directory.
    void write(const std::string& name, const std::string& text) const;
    // Reads the file `name` inside the directory ("" when it does not exist).
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;
    // The names of the entries of the directory, sorted.
    std::vector<std::string> entries() const;
};

// Where the program's standard output or error goes: a file the result
// holds, /dev/full (every write fails: no space), a pipe whose reading end
// is closed (every write fails: a broken pipe), or nowhere (the descriptor
// is closed).
enum class Sink { capture, full_device, closed_pipe, closed };

struct RunOptions {
    std::vector<std::string> env;   // extra "NAME=value" entries
    std::string binary;             // the program to run; default the built kmeans
    std::string faketime;           // when set, run under faketime with this frozen time
    Sink out = Sink::capture;       // standard output
    Sink err = Sink::capture;       // standard error
};

// Options that run the program with its clock frozen at `seconds` since the
// epoch (UTC), so that its random start is known.
RunOptions frozen_at(std::int64_t seconds);

// Runs the program with `args` in `dir`. The environment holds PATH, HOME and
// the entries of opts.env only, so a KMEANS variable of the caller never leaks in.
RunResult run_kmeans(const ScratchDir& dir, const std::vector<std::string>& args, const RunOptions& opts = {});

// Runs kmeans-summary with `args` in `dir`, as run_kmeans runs kmeans.
RunResult run_summary(const ScratchDir& dir, const std::vector<std::string>& args, RunOptions opts = {});

// The whole content of the file at `path` ("" when it cannot be read).
std::string read_file(const std::string& path);

// The path of the built binary and of the examples directory.
std::string kmeans_binary();
std::string examples_dir();

// Whether the faketime tool is installed (end-to-end tests of seeded runs need it).
bool have_faketime();

// --- models of the program's fixed rules, shared by the tests ---------------

// One step of the program's generator: seed * 1103515245 + 12345 (mod 2^32).
inline std::uint32_t lcg_step(std::uint32_t seed) { return seed * 1103515245u + 12345u; }

// The program's generator: each draw steps the seed and yields bits 16..30.
struct Lcg {
    std::uint32_t seed;
    int next() {
        seed = lcg_step(seed);
        return static_cast<int>((seed >> 16) & 32767u);
    }
};

// The draw that decides the chance notice at the end of a run ending at
// `seconds`: the generator seeded with their low 16 bits, drawn once.
inline int end_of_run_draw(std::uint32_t seconds) { return Lcg{seconds & 0xFFFFu}.next(); }

// The largest finite single-precision value: where every nearest-centre
// search starts, the never-opened marker, and what a bad MaxDist becomes.
constexpr float largest_float = 3.4028234663852886e+38f;

// The number of non-overlapping occurrences of `part` in `s`.
std::size_t count_of(const std::string& s, const std::string& part);

// `text` compressed as gzip does it (one member) and as zstd does it (one
// frame), for the tests of compressed data files.
std::string gzip_bytes(const std::string& text);
std::string zstd_bytes(const std::string& text);
