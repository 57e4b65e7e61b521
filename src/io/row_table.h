// The rows of a data file kept as parsed: N rows of nvars single-precision
// values, row after row, in one block of memory reserved before the first
// pass. Later passes read it instead of parsing the file again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/params.h"

namespace kmeans {

struct RowTable {
    float* values = nullptr;    // row r at values + r * nvars
    std::size_t capacity = 0;   // floats the reservation holds (0: no table)
    std::size_t used = 0;       // floats stored
};

// The memory budget of a table in bytes: KMEANS_MEMORY megabytes, or half of
// the physical memory when it is not set.
std::uint64_t table_budget(const Params& p);

// Reserves room for `bytes` bytes of values (address space only; memory is
// taken as rows arrive). Returns false, with no table, when it cannot be had.
bool table_reserve(RowTable& t, std::uint64_t bytes);

// Appends `n` values. When they do not fit the reservation the table is
// released and false returned: the rows are then read from the file.
bool table_append(RowTable& t, const float* v, std::size_t n);

// Gives the unused rest of the reservation back.
void table_trim(RowTable& t);

// Releases the table; safe to call twice.
void table_release(RowTable& t);

inline bool table_held(const RowTable& t) { return t.capacity > 0; }

}  // namespace kmeans
