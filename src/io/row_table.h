// The rows of a data file kept as parsed: N rows of nvars single-precision
// values, row after row, in one block of memory that grows as the first pass
// appends rows, up to the memory budget. Later passes read it instead of
// parsing the file again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/params.h"

namespace kmeans {

struct RowTable {
    float* values = nullptr;    // row r at values + r * nvars
    std::size_t capacity = 0;   // floats the mapping holds (0: no table)
    std::size_t used = 0;       // floats stored
    std::size_t limit = 0;      // floats the budget allows
};

// The memory budget of a table in bytes: KMEANS_MEMORY megabytes, or half of
// the physical memory when it is not set.
std::uint64_t table_budget(const Resources& r);

// Starts a table that may grow to `bytes` bytes. Returns false, with no
// table, when the budget is too small for any row or no memory can be had.
bool table_reserve(RowTable& t, std::uint64_t bytes);

// Appends `n` values, growing the mapping (by doubling, without copying)
// when needed. Returns false, with nothing appended, when they would pass
// the budget or the memory cannot be had.
bool table_append(RowTable& t, const float* v, std::size_t n);

// Gives the unused rest of the reservation back.
void table_trim(RowTable& t);

// Releases the table; safe to call twice.
void table_release(RowTable& t);

inline bool table_held(const RowTable& t) { return t.capacity > 0; }

}  // namespace kmeans
