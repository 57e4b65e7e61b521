#include "io/row_table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace kmeans {

std::uint64_t table_budget(const Resources& r) {
    if (r.memory_mb >= 0) return static_cast<std::uint64_t>(r.memory_mb) << 20;
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page <= 0) return 0;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page) / 2;
}

static std::size_t page_size() { return static_cast<std::size_t>(sysconf(_SC_PAGESIZE)); }

static std::size_t round_to_pages(std::size_t bytes) {
    const std::size_t page = page_size();
    return (bytes + page - 1) / page * page;
}

// The first mapping: enough for small files, grown by doubling after that;
// one large page (table_trim gives back what small files leave unused).
constexpr std::size_t first_bytes = std::size_t{2} << 20;

// Maps or remaps the table to hold `bytes` bytes. False when it cannot.
static bool map_to(RowTable& t, std::size_t bytes) {
    const std::size_t size = round_to_pages(bytes);
    void* m = t.values ? mremap(t.values, t.capacity * sizeof(float), size, MREMAP_MAYMOVE)
                       : mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return false;
#ifdef MADV_HUGEPAGE
    // Large pages where the system gives them on request: a page fault per
    // 2 MiB of rows instead of one per 4 KiB. Only a hint: without them the
    // table is the same.
    madvise(m, size, MADV_HUGEPAGE);
#endif
    t.values = static_cast<float*>(m);
    t.capacity = size / sizeof(float);
    return true;
}

bool table_reserve(RowTable& t, std::uint64_t bytes) {
    table_release(t);
    if (bytes < sizeof(float)) return false;
    t.limit = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, SIZE_MAX / 2) / sizeof(float));
    if (!map_to(t, std::min(first_bytes, t.limit * sizeof(float)))) {
        table_release(t);
        return false;
    }
    return true;
}

bool table_append(RowTable& t, const float* v, std::size_t n) {
    if (!table_held(t) || n > t.limit - t.used) return false;
    if (n > t.capacity - t.used) {
        const std::size_t want = std::min(std::max(t.capacity * 2, t.used + n), t.limit);
        if (!map_to(t, want * sizeof(float))) return false;
    }
    std::memcpy(t.values + t.used, v, n * sizeof(float));
    t.used += n;
    return true;
}

void table_trim(RowTable& t) {
    if (!table_held(t)) return;
    const std::size_t keep = round_to_pages(t.used * sizeof(float));
    const std::size_t size = t.capacity * sizeof(float);
    if (keep == 0) return;  // no rows: the first mapping stays
    if (keep < size && map_to(t, keep)) t.limit = t.capacity;
}

void table_release(RowTable& t) {
    if (t.values) munmap(t.values, t.capacity * sizeof(float));
    t.values = nullptr;
    t.capacity = 0;
    t.used = 0;
    t.limit = 0;
}

}  // namespace kmeans
