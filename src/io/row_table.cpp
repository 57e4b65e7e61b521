#include "io/row_table.h"

#include <cstring>
#include <sys/mman.h>
#include <unistd.h>

namespace kmeans {

std::uint64_t table_budget(const Params& p) {
    if (p.memory_mb >= 0) return static_cast<std::uint64_t>(p.memory_mb) << 20;
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

bool table_reserve(RowTable& t, std::uint64_t bytes) {
    table_release(t);
    if (bytes < sizeof(float) || bytes > SIZE_MAX / 2) return false;
    const std::size_t size = round_to_pages(static_cast<std::size_t>(bytes));
    void* m = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return false;
    t.values = static_cast<float*>(m);
    t.capacity = size / sizeof(float);
    t.used = 0;
    return true;
}

bool table_append(RowTable& t, const float* v, std::size_t n) {
    if (!table_held(t)) return false;
    if (n > t.capacity - t.used) {
        table_release(t);
        return false;
    }
    std::memcpy(t.values + t.used, v, n * sizeof(float));
    t.used += n;
    return true;
}

void table_trim(RowTable& t) {
    if (!table_held(t)) return;
    const std::size_t keep = round_to_pages(t.used * sizeof(float));
    const std::size_t size = t.capacity * sizeof(float);
    if (keep == 0) {
        table_release(t);
        return;
    }
    if (keep < size) {
        munmap(reinterpret_cast<char*>(t.values) + keep, size - keep);
        t.capacity = keep / sizeof(float);
    }
}

void table_release(RowTable& t) {
    if (t.values) munmap(t.values, t.capacity * sizeof(float));
    t.values = nullptr;
    t.capacity = 0;
    t.used = 0;
}

}  // namespace kmeans
