#include "e2e.h"
#include <zlib.h>
#include <zstd.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

std::string kmeans_binary() { return KMEANS_BIN; }
std::string examples_dir() { return KMEANS_EXAMPLES; }

RunOptions frozen_at(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &utc);
    RunOptions opts;
    opts.faketime = text;
    return opts;
}

std::size_t count_of(const std::string& s, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = s.find(part); at != std::string::npos; at = s.find(part, at + part.size())) ++n;
    return n;
}

bool have_faketime() { return std::system("command -v faketime >/dev/null 2>&1") == 0; }

ScratchDir::ScratchDir() {
    std::string templ = (fs::temp_directory_path() / "kmeans-test-XXXXXX").string();
    char* made = mkdtemp(templ.data());
    if (!made) throw std::runtime_error("mkdtemp failed");
    path = made;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
}

void ScratchDir::write(const std::string& name, const std::string& text) const {
    std::ofstream f(path / name, std::ios::binary);
    f << text;
}

std::string ScratchDir::read(const std::string& name) const {
    std::ifstream f(path / name, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool ScratchDir::exists(const std::string& name) const { return fs::exists(path / name); }

std::vector<std::string> ScratchDir::entries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(path)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

static std::string slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

std::string read_file(const std::string& path) { return slurp(path); }

RunResult run_summary(const ScratchDir& dir, const std::vector<std::string>& args, RunOptions opts) {
    opts.binary = KMEANS_SUMMARY_BIN;
    return run_kmeans(dir, args, opts);
}

RunResult run_kmeans(const ScratchDir& dir, const std::vector<std::string>& args, const RunOptions& opts) {
    ScratchDir capture;
    fs::path out_path = capture.path / "stdout";
    fs::path err_path = capture.path / "stderr";

    std::vector<std::string> argv_s;
    if (!opts.faketime.empty()) {
        argv_s.push_back("faketime");
        argv_s.push_back("-f");  // a frozen clock: without -f the fraction of a second runs on
        argv_s.push_back(opts.faketime);
    }
    argv_s.push_back(opts.binary.empty() ? kmeans_binary() : opts.binary);
    argv_s.insert(argv_s.end(), args.begin(), args.end());

    // TZ=UTC: a faketime clock is given in UTC. The sanitizer settings of a
    // sanitizer build (ASAN_OPTIONS, UBSAN_OPTIONS, ...) reach the program too.
    std::vector<std::string> env_s = {"PATH=/usr/local/bin:/usr/bin:/bin", "HOME=/tmp", "TZ=UTC"};
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        const std::size_t eq = entry.find('=');
        if (eq != std::string::npos && eq >= 11 && entry.compare(eq - 11, 11, "SAN_OPTIONS") == 0)
            env_s.push_back(entry);
    }
    env_s.insert(env_s.end(), opts.env.begin(), opts.env.end());

    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path.c_str()) != 0) _exit(127);
        int in = open("/dev/null", O_RDONLY);
        dup2(in, 0);
        // Descriptor `fd` to `sink`; `capture` the file that captures it.
        auto direct = [](int fd, Sink sink, const fs::path& capture) {
            int to = -1;
            if (sink == Sink::capture) to = open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (sink == Sink::full_device) to = open("/dev/full", O_WRONLY);
            if (sink == Sink::closed_pipe) {
                int ends[2];
                if (pipe(ends) != 0) _exit(127);
                close(ends[0]);
                to = ends[1];
            }
            if (sink == Sink::closed) close(fd);
            else if (to < 0 || dup2(to, fd) < 0) _exit(127);
            if (to >= 0 && to != fd) close(to);  // a closed descriptor stays closed
        };
        direct(1, opts.out, out_path);
        direct(2, opts.err, err_path);
        // A new session: the program has no controlling terminal, as under CI.
        setsid();
        std::vector<char*> argv;
        for (auto& a : argv_s) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (auto& e : env_s) envp.push_back(e.data());
        envp.push_back(nullptr);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    RunResult r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    return r;
}

std::string gzip_bytes(const std::string& text) {
    z_stream s{};
    deflateInit2(&s, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, static_cast<uLong>(text.size())) + 64, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
    s.avail_in = static_cast<uInt>(text.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

std::string zstd_bytes(const std::string& text) {
    std::string out(ZSTD_compressBound(text.size()), '\0');
    out.resize(ZSTD_compress(out.data(), out.size(), text.data(), text.size(), 3));
    return out;
}
