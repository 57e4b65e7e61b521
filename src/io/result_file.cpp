#include "io/result_file.h"

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/console.h"
#include "base/format.h"
#include "base/registry.h"

namespace kmeans {

static constexpr std::size_t block = 1 << 16;

// The permissions a newly created file gets under the process's umask.
static mode_t create_mode() {
    static const mode_t mode = [] {
        mode_t mask = umask(0);
        umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

static void forget_temp(const std::string& temp) {
    auto& paths = registry.temp_paths;
    paths.erase(std::remove(paths.begin(), paths.end(), temp), paths.end());
}

// A failure to write, flush or name `f`, with what the system said.
static Failure write_failure(const ResultFile& f, int err) {
    Failure fail;
    fail.what = Fault::write;
    fail.path = f.name;
    fail.err = err;
    return fail;
}

// The directory part of `name`, its last '/' included ("" when none).
static std::string dir_of(const std::string& name) {
    std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
}

// The directory of `name` as a path that can be opened.
static std::string open_dir_of(const std::string& name) {
    std::string dir = dir_of(name);
    return dir.empty() ? std::string(".") : dir;
}

// The hidden name beside `name` with `suffix`: "DIR/.BASE" + suffix.
static std::string hidden(const std::string& name, const char* suffix) {
    const std::string dir = dir_of(name);
    return dir + "." + name.substr(dir.size()) + suffix;
}

Failure result_create(ResultFile& f, const std::string& name) {
    f.name = name;
    f.err = 0;
    f.temp.clear();
    const bool unnamed_files = !(f.seam && f.seam->no_unnamed_files);
    int fd = unnamed_files ? open(open_dir_of(name).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666) : -1;
    if (fd < 0) {
        // No unnamed files here: a hidden name until the file is complete,
        // locked while this run holds it, so that another run can tell a
        // file in use from one a killed run left (result_recover).
        std::string pattern = hidden(name, "~XXXXXX");
        registry.temp_paths.reserve(registry.temp_paths.size() + 1);
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        if (fd < 0) {
            Failure fail;
            fail.what = Fault::create;
            fail.path = name;
            fail.err = errno;
            return fail;
        }
        fchmod(fd, create_mode());
        flock(fd, LOCK_EX | LOCK_NB);
        f.temp = pattern;
        registry.temp_paths.push_back(f.temp);
    }
    f.fd = fd;
    f.buf.clear();
    f.buf.reserve(block * 2);
    return Failure{};
}

// Writes every pending byte to the descriptor. After a failed write the
// file takes nothing more: the failure is kept for result_commit.
static void flush(ResultFile& f) {
    const char* p = f.buf.data();
    std::size_t left = f.err != 0 ? 0 : f.buf.size();
    while (left > 0) {
        ssize_t n = write(f.fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            f.err = n < 0 ? errno : ENOSPC;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    f.buf.clear();
}

Failure result_failure(const ResultFile& f) { return f.err != 0 ? write_failure(f, f.err) : Failure{}; }

void result_write(ResultFile& f, const char* data, std::size_t n) {
    f.buf.append(data, n);
    if (f.buf.size() >= block) flush(f);
}

void result_int_line(ResultFile& f, int value) {
    char line[16];
    result_write(f, line, int_line(line, value));
}

void result_printf(ResultFile& f, const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vappend_format(f.buf, fmt, ap);
    va_end(ap);
    if (f.buf.size() >= block) flush(f);
}

// Writes what is pending and flushes the file to disk; false (with f.err)
// when anything written so far did not reach it.
static bool sync_out(ResultFile& f) {
    if (f.fd < 0) return true;
    flush(f);
    if (f.err == 0 && fsync(f.fd) != 0 && errno != EINVAL) f.err = errno;
    return f.err == 0;
}

// --- the commit -----------------------------------------------------------
//
// A set of result files in one directory (a .KMC and its .KTF, or one
// file) takes its names under an exclusive lock of the directory, in steps
// that a kill can interrupt anywhere:
//   1. every file, complete on disk, is named ".NAME~new";
//   2. the record ".FIRST~commit" lists the set ("kmeans commit", a name a
//      line, "end") and is flushed to disk with the directory: from here on
//      the new set is the outcome;
//   3. for each file in turn, an earlier file of that name is kept as
//      ".NAME~old" (a second link to it; where the file system refuses hard
//      links, the file itself moved aside), and ".NAME~new" takes the name;
//   4. the record goes, then the old files.
// A failure in step 3 puts every earlier file back and removes the new ones.
// result_recover finishes a set whose complete record it finds (step 3 on)
// and removes the rest of one that stopped before its record was complete.

static bool seam_stops(const ResultFile& f, int step) { return f.seam && f.seam->stop_after == step; }

static bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// The directory of `name`, opened and locked against other commits over its
// names (the lock goes with the descriptor). -1 when it cannot be opened.
static int lock_dir(const std::string& name) {
    const int fd = open(open_dir_of(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    return fd;
}

// The file-name part of `path`.
static std::string base_of(const std::string& path) { return path.substr(dir_of(path).size()); }

// Reads the record at `path`: the names it lists (their file-name parts) and
// whether it is complete (ends with its "end" line).
static bool read_record(const std::string& path, std::vector<std::string>& names) {
    names.clear();
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return false;
    char line[4096];
    bool head = false, end = false;
    while (std::fgets(line, sizeof line, f)) {
        std::string l(line);
        if (l.empty() || l.back() != '\n') break;
        l.pop_back();
        if (!head) {
            head = l == "kmeans commit";
            if (!head) break;
        } else if (l == "end") {
            end = true;
            break;
        } else if (!l.empty()) {
            names.push_back(l);
        }
    }
    std::fclose(f);
    return head && end;
}

// Puts the earlier files of `names` (paths) back, as they were before a
// commit began placing them: a name whose new file is still waiting keeps
// its own file (or gets back the one moved aside); a name that took its new
// file gets its earlier one back, or none when there was none.
static void put_back(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const std::string fresh = hidden(name, "~new"), old = hidden(name, "~old");
        if (exists(fresh)) {
            unlink(fresh.c_str());
            if (exists(old)) {
                if (exists(name)) unlink(old.c_str());
                else rename(old.c_str(), name.c_str());
            }
        } else if (exists(old)) {
            rename(old.c_str(), name.c_str());
        } else {
            unlink(name.c_str());
        }
    }
}

// Removes `path` when it exists, noting it in `rec`.
static void remove_leftover(const std::string& path, Recovery& rec) {
    if (unlink(path.c_str()) == 0) rec.removed.push_back(path);
}

// What a killed commit over the set of `record` left: a complete record is
// carried through (every waiting new file takes its name, then the old ones
// go); one that is not, or a set that cannot be carried through, is undone.
static void recover_record(const std::string& dir, const std::string& record, Recovery& rec) {
    std::vector<std::string> bases;
    const bool complete = read_record(record, bases);
    std::vector<std::string> names;
    for (const std::string& b : bases) names.push_back(dir + b);
    bool through = complete;
    for (std::size_t i = 0; i < names.size() && through; ++i) {
        const std::string fresh = hidden(names[i], "~new");
        if (exists(fresh) && rename(fresh.c_str(), names[i].c_str()) != 0) through = false;
    }
    if (!through) put_back(names);
    for (const std::string& name : names) unlink(hidden(name, "~old").c_str());
    unlink(record.c_str());
    std::string list;
    for (const std::string& name : names) list += (list.empty() ? "" : " ") + name;
    (through ? rec.finished : rec.removed).push_back(through ? list : record);
}

// Whether the hidden temporary `path` belongs to no running writer: its
// writer holds a lock on it while it lives.
static bool abandoned(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return false;
    const bool free = flock(fd, LOCK_EX | LOCK_NB) == 0;
    close(fd);
    return free;
}

// result_recover with the directory already locked.
static void recover_locked(const std::vector<std::string>& names, Recovery& rec) {
    for (const std::string& name : names) {
        const std::string record = hidden(name, "~commit");
        if (exists(record)) recover_record(dir_of(name), record, rec);
        // Without a record, a waiting new file or a kept old one is what a
        // commit left that never began placing, or had finished.
        remove_leftover(hidden(name, "~new"), rec);
        remove_leftover(hidden(name, "~old"), rec);
        // Hidden temporaries ".NAME~XXXXXX" whose writer is gone.
        std::string prefix = ".";
        prefix += base_of(name);
        prefix += '~';
        if (DIR* d = opendir(open_dir_of(name).c_str())) {
            std::vector<std::string> stale;
            while (dirent* e = readdir(d)) {
                const std::string entry = e->d_name;
                if (entry.size() == prefix.size() + 6 && entry.compare(0, prefix.size(), prefix) == 0 &&
                    entry.compare(prefix.size(), 6, "commit") != 0 &&
                    abandoned(dir_of(name) + entry))
                    stale.push_back(dir_of(name) + entry);
            }
            closedir(d);
            for (const std::string& path : stale) remove_leftover(path, rec);
        }
    }
}

void say_recovery(const Recovery& rec) {
    for (const std::string& set : rec.finished)
        emit(stderr, "INFO: Finished the results an interrupted run left: %s\n", set.c_str());
    for (const std::string& path : rec.removed) emit(stderr, "INFO: Removed what an interrupted run left: %s\n", path.c_str());
}

Recovery result_recover(const std::vector<std::string>& names) {
    Recovery rec;
    if (names.empty()) return rec;
    const int dir = lock_dir(names[0]);
    if (dir < 0) return rec;
    recover_locked(names, rec);
    if (!rec.finished.empty() || !rec.removed.empty()) fsync(dir);
    close(dir);
    return rec;
}

// Step 1 for one file: its complete content takes the name ".NAME~new" (an
// unnamed file gets a link there, through /proc/self/fd or AT_EMPTY_PATH;
// a hidden one is renamed) and its descriptor is closed. False with f.err.
static bool name_new(ResultFile& f) {
    const std::string fresh = hidden(f.name, "~new");
    if (f.temp.empty()) {
        char proc[40];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", f.fd);
        int rc = linkat(AT_FDCWD, proc, AT_FDCWD, fresh.c_str(), AT_SYMLINK_FOLLOW);
        if (rc != 0 && errno == ENOENT) rc = linkat(f.fd, "", AT_FDCWD, fresh.c_str(), AT_EMPTY_PATH);
        if (rc != 0) f.err = errno;
    } else if (rename(f.temp.c_str(), fresh.c_str()) != 0) {
        f.err = errno;
    } else {
        forget_temp(f.temp);
        f.temp.clear();
    }
    const int fd = f.fd;
    f.fd = -1;
    if (close(fd) != 0 && f.err == 0) f.err = errno;
    return f.err == 0;
}

// Step 2: the record of the set, flushed with the directory `dir`. False
// with errno when it cannot be written.
static bool write_record(ResultFile* const* files, std::size_t n, int dir) {
    std::string text = "kmeans commit\n";
    for (std::size_t i = 0; i < n; ++i) text += base_of(files[i]->name) + "\n";
    text += "end\n";
    const std::string record = hidden(files[0]->name, "~commit");
    const int fd = open(record.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && fsync(fd) == 0;
    const int err = errno;
    ok = close(fd) == 0 && ok;
    if (ok && fsync(dir) != 0 && errno != EINVAL) ok = false;
    if (!ok) {
        unlink(record.c_str());
        errno = err != 0 ? err : errno;
    }
    return ok;
}

// Step 3 for one file: an earlier file of its name is kept as ".NAME~old",
// then ".NAME~new" takes the name. False with errno, the earlier file left
// in place, when the name cannot be taken (a directory bears it, no
// permission, ...).
static bool place(const ResultFile& f) {
    const std::string fresh = hidden(f.name, "~new"), old = hidden(f.name, "~old");
    struct stat st;
    bool moved = false;  // the earlier file itself was moved aside
    if (lstat(f.name.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
            return false;
        }
        const bool links = !(f.seam && f.seam->no_hard_links);
        if (!links || link(f.name.c_str(), old.c_str()) != 0) {
            if (links && errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK && errno != ENOSYS) return false;
            if (rename(f.name.c_str(), old.c_str()) != 0) return false;
            moved = true;
        }
    }
    if (rename(fresh.c_str(), f.name.c_str()) == 0) return true;
    const int err = errno;
    if (moved) rename(old.c_str(), f.name.c_str());
    else unlink(old.c_str());
    errno = err;
    return false;
}

// Commits `n` files of one directory as a set (see above).
static Failure commit(ResultFile* const* files, std::size_t n, Recovery* rec) {
    for (std::size_t i = 0; i < n; ++i)
        if (!sync_out(*files[i])) return write_failure(*files[i], files[i]->err);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < n; ++i) names.push_back(files[i]->name);
    const int dir = lock_dir(files[0]->name);
    if (dir < 0) return write_failure(*files[0], errno);
    Recovery found;
    recover_locked(names, found);
    if (rec) {
        rec->finished.insert(rec->finished.end(), found.finished.begin(), found.finished.end());
        rec->removed.insert(rec->removed.end(), found.removed.begin(), found.removed.end());
    }
    auto fail = [&](const ResultFile& f, int err) {
        for (std::size_t i = 0; i < n; ++i) unlink(hidden(files[i]->name, "~new").c_str());
        close(dir);
        return write_failure(f, err);
    };
    for (std::size_t i = 0; i < n; ++i)
        if (!name_new(*files[i])) return fail(*files[i], files[i]->err);
    if (seam_stops(*files[0], commit_named_new)) return close(dir), Failure{};
    if (!write_record(files, n, dir)) return fail(*files[0], errno);
    if (seam_stops(*files[0], commit_recorded)) return close(dir), Failure{};
    for (std::size_t i = 0; i < n; ++i) {
        if (!place(*files[i])) {
            const int err = errno;
            put_back(std::vector<std::string>(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(i)));
            unlink(hidden(files[0]->name, "~commit").c_str());
            fsync(dir);
            return fail(*files[i], err);
        }
        if (i == 0 && files[0]->seam && files[0]->seam->placing) files[0]->seam->placing(files[0]->seam->ctx);
        if (seam_stops(*files[0], commit_placed_first + static_cast<int>(i))) return close(dir), Failure{};
    }
    fsync(dir);
    unlink(hidden(files[0]->name, "~commit").c_str());
    if (seam_stops(*files[0], commit_record_gone)) return close(dir), Failure{};
    for (std::size_t i = 0; i < n; ++i) unlink(hidden(files[i]->name, "~old").c_str());
    fsync(dir);
    close(dir);
    return Failure{};
}

Failure result_commit(ResultFile& f, Recovery* rec) {
    if (f.fd < 0) return Failure{};
    ResultFile* const files[] = {&f};
    return commit(files, 1, rec);
}

Failure result_commit_pair(ResultFile& a, ResultFile& b, Recovery* rec) {
    ResultFile* const files[] = {&a, &b};
    assert(dir_of(a.name) == dir_of(b.name));
    return commit(files, 2, rec);
}

}  // namespace kmeans
