#include "base/failure.h"

#include "base/format.h"
#include "base/limits.h"

namespace kmeans {

std::string failure_text(const Failure& f) {
    const char* path = f.path.c_str();
    switch (f.what) {
        case Fault::none: return "";
        case Fault::open: return format("\nPANIC: Can't find/open file: %s\n\n", path);
        case Fault::create: return format("\nPANIC: Can't create file: %s\n\n", path);
        case Fault::write: return format("\nPANIC: Can't write file: %s\n\n", path);
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
        case Fault::memory_centre:
            return format(memory_centre_text, f.bytes, static_cast<long long>(f.row));
        case Fault::memory_clustno:
            return format(memory_clustno_text, f.bytes);
    }
    return "";
}

int failure_status(const Failure& f) {
    switch (f.what) {
        case Fault::open: return 4;
        case Fault::memory_centre:
        case Fault::memory_clustno: return 2;
        default: return 5;
    }
}

}  // namespace kmeans
