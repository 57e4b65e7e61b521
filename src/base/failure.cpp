#include "base/failure.h"

#include <cerrno>
#include <cstring>

#include "base/format.h"
#include "base/limits.h"

namespace kmeans {

// The line that says why a file cannot be read (err as text_open gives it).
static std::string open_reason(int err) {
    switch (err) {
        case 0: return "";
        case ENOENT: return "\nThere is no such file.";
        case ENOTDIR: return "\nThere is no such file: a part of its path is not a directory.";
        case EACCES:
        case EPERM: return "\nPermission denied: the file may not be read.";
        case EISDIR: return "\nIt is a directory, not a file.";
        case not_regular_file:
            return "\nIt is not a regular file (a pipe, a device or a socket): its rows must be read again on"
                   " every pass.";
        case ELOOP: return "\nIts path holds a loop of symbolic links.";
        case ENAMETOOLONG: return "\nIts name is too long.";
        default: return format("\nThe system says: %s.", std::strerror(err));
    }
}

std::string system_problem(int err) {
    switch (err) {
        case ENOSPC: return "There is no space left on the device.";
        case EFBIG: return "The file would pass the size limit for files.";
        case EDQUOT: return "The disk quota is used up.";
        case EACCES:
        case EPERM: return "Permission denied: the file may not be written there.";
        case EROFS: return "The file system is read-only.";
        case EISDIR: return "A directory bears the file's name.";
        case ENOENT: return "The directory does not exist or takes no files.";
        case ENOTDIR: return "A part of the path is not a directory.";
        case EIO: return "The device reported an input/output error.";
        case EPIPE: return "The pipe is closed at its other end.";
        case EBADF: return "It is closed, or open for reading only.";
        default: return format("The system says: %s.", std::strerror(err));
    }
}

// The line that says why a result file cannot be created, written or named.
static std::string write_reason(int err) {
    return err == 0 ? std::string() : format("\n%s", system_problem(err).c_str());
}

std::string failure_text(const Failure& f) {
    const char* path = f.path.c_str();
    switch (f.what) {
        case Fault::none: return "";
        case Fault::open: return open_reason(f.err) + format("\nPANIC: Can't find/open file: %s\n\n", path);
        case Fault::create: return write_reason(f.err) + format("\nPANIC: Can't create file: %s\n\n", path);
        case Fault::write: return write_reason(f.err) + format("\nPANIC: Can't write file: %s\n\n", path);
        case Fault::bad_row:
            return f.reason + format("\nPANIC: Bad datafile: %s  Datarow:%lld\n", path, static_cast<long long>(f.row));
        case Fault::changed: return format("\nPANIC: Datafile changed while it was read: %s\n\n", path);
        case Fault::name_clash:
            return format("\nPANIC: Results of %s would replace those of %s\n\n", path, f.other.c_str());
        case Fault::centre_row:
            return f.reason +
                   format("\nPANIC: Unusable centre file: %s  Row:%lld\n\n", path, static_cast<long long>(f.row));
        case Fault::centre_count:
            return format("\nPANIC: More than %d centres in centre file: %s\n\n", max_clusters, path);
        case Fault::no_centres: return format("\nPANIC: No centres in centre file: %s\n\n", path);
        case Fault::spill:
            return write_reason(f.err) + format("\nPANIC: Can't read back the rows kept in a spill file in: %s\n\n", path);
        case Fault::memory_centre:
            return format(memory_centre_text, f.bytes, static_cast<long long>(f.row));
        case Fault::memory_clustno:
            return format(memory_clustno_text, f.bytes);
        case Fault::memory_compressed: return format(memory_compressed_text, f.bytes >> 20, path);
    }
    return "";
}

int failure_status(const Failure& f) {
    switch (f.what) {
        case Fault::open: return 4;
        case Fault::memory_centre:
        case Fault::memory_clustno:
        case Fault::memory_compressed: return 2;
        default: return 5;
    }
}

}  // namespace kmeans
