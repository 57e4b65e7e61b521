// Why a step of a run failed, as a value: the layers below the drivers
// return it, and the drivers (learn, recall) write its text and end the run
// with its status. Nothing below the drivers ends the process on a failure;
// only a cancellation does (base/keyboard.h).
#pragma once

#include <cstdint>
#include <string>

namespace kmeans {

enum class Fault : unsigned char {
    none,
    open,            // a data or centre file cannot be found or opened (status 4)
    create,          // a result file cannot be created (5)
    write,           // a result file cannot be written, flushed or given its name (5)
    bad_row,         // the first pass met a row the reader refuses (5)
    changed,         // the data file changed while it was read (5)
    name_clash,      // the results would replace those of an earlier argument (5)
    centre_row,      // the centre file holds a row the reader refuses (5)
    centre_count,    // the centre file holds more than max_clusters centres (5)
    no_centres,      // the centre file holds no centre (5)
    memory_centre,   // a centre row cannot be reserved (2)
    memory_clustno,  // the cluster numbers cannot be reserved (2)
    spill,           // the spill file does not give back the rows kept in it (5)
    memory_compressed,  // the rows of a compressed data file pass the memory budget (2)
};

struct Failure {
    Fault what = Fault::none;
    std::string path;        // the file concerned (name_clash: the argument refused)
    std::string other;       // name_clash: the earlier argument whose results they are
    int err = 0;             // what the system said (errno, or not_regular_file), 0 when nothing
    std::int64_t row = 0;    // bad_row: the data row, from 1; centre_row: the row of the centre
                             // file, from 1; memory_centre: the cluster, from 1
    std::string reason;      // bad_row, centre_row: the line that says why, as written before the PANIC
    long long bytes = 0;     // memory_*: the size asked for; memory_compressed: the budget
};

inline bool failed(const Failure& f) { return f.what != Fault::none; }

// The texts of the memory failures, with the bytes asked for (and the
// cluster for a centre row): written without asking for memory.
constexpr const char* memory_centre_text =
    "\nAttemted to reserve %lld bytes memory. (clust[])\nPANIC: Not enough memory for cluster: %lld\n";
constexpr const char* memory_clustno_text = "Attemted to reserve %lld bytes memory. (clustno)\nPANIC: Not enough memory.\n";

// What text_open gives for a file that opened but is not a regular file
// (a pipe, terminal or device); a directory gives EISDIR.
constexpr int not_regular_file = -1;

// What the system said when a file could not be created or written, in
// one sentence ("There is no space left on the device.").
std::string system_problem(int err);

// The text written to standard error before the run ends: the reason line
// (`reason`, or for a file the system refused one line from `err`, such as
// "\nThere is no such file."), then the PANIC line ("\nPANIC: Can't
// find/open file: %s\n\n", ...; for memory the "Attemted to reserve" line
// first).
std::string failure_text(const Failure& f);

// The text for rows of a compressed data file beyond the memory budget: the
// budget in megabytes, then the data file.
constexpr const char* memory_compressed_text =
    "\nThe rows of a compressed data file are read into memory, and these need more than the memory budget"
    " (%lld MB, KMEANS_MEMORY): decompress the file to have its rows read again from the disk."
    "\nPANIC: Not enough memory for compressed file: %s\n";

// The exit status of a run that ends on `f`: 4 for a file that cannot be
// opened, 2 for memory, 5 for everything else.
int failure_status(const Failure& f);

}  // namespace kmeans
