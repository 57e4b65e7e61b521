#include "base/parallel.h"

#include <algorithm>
#include <sched.h>
#include <unistd.h>

#include "base/keyboard.h"
#include "base/registry.h"

namespace kmeans {

int default_threads() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0) {
        int n = CPU_COUNT(&set);
        if (n > 0) return n;
    }
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<int>(n) : 1;
}

// Marks `item` mapped, or records what its map threw and stops the job.
static void item_ended(Workers& w, std::size_t item, std::exception_ptr failure) {
    --w.busy;
    if (failure) {
        if (!w.failure) w.failure = failure;
        w.abort = true;
    }
    w.done[item] = 1;
    w.finished.notify_all();
}

// Runs the map of one claimed item without the lock held.
static void map_item(Workers& w, std::unique_lock<std::mutex>& lock, std::size_t item, int worker) {
    const auto* map = w.map;
    ++w.busy;
    lock.unlock();
    std::exception_ptr failure;
    try {
        (*map)(item, worker);
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    item_ended(w, item, failure);
}

static bool claimable(const Workers& w) { return w.map != nullptr && !w.abort && w.next < w.limit; }

// What a helper thread starts with.
struct HelperStart {
    Workers* w;
    int worker;
};

static void helper_loop(Workers& w, int worker) {
    std::unique_lock<std::mutex> lock(w.mutex);
    for (;;) {
        w.wake.wait(lock, [&] { return w.stop || claimable(w); });
        if (w.stop) return;
        map_item(w, lock, w.next++, worker);
    }
}

static void* helper_main(void* arg) {
    const HelperStart start = *static_cast<HelperStart*>(arg);
    delete static_cast<HelperStart*>(arg);
    helper_loop(*start.w, start.worker);
    return nullptr;
}

// Helpers run short loops over rows and need little stack: a small one keeps
// the address space of a run small (it may be limited with ulimit -v).
constexpr std::size_t helper_stack_bytes = std::size_t{1} << 20;

Workers::~Workers() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stop = true;
    }
    wake.notify_all();
    for (pthread_t t : pool) pthread_join(t, nullptr);
    if (registry.workers == this) registry.workers = nullptr;
}

void workers_start(Workers& w, int threads) {
    // A thread that cannot be started (no memory for its stack) is no
    // failure: the work is shared among those that could.
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, helper_stack_bytes);
    w.pool.reserve(static_cast<std::size_t>(std::max(0, threads - 1)));
    for (int t = 1; t < threads; ++t) {
        auto* start = new HelperStart{&w, t};
        pthread_t id;
        if (pthread_create(&id, &attr, helper_main, start) != 0) {
            delete start;
            break;
        }
        w.pool.push_back(id);
    }
    pthread_attr_destroy(&attr);
    w.threads = static_cast<int>(w.pool.size()) + 1;
    registry.workers = &w;
}

// Lets no further item start and waits until no map is in flight.
static void drain(Workers& w, std::unique_lock<std::mutex>& lock) {
    w.abort = true;
    w.finished.wait(lock, [&] { return w.busy == 0; });
    w.map = nullptr;
}

void workers_quiesce(Workers& w) {
    std::unique_lock<std::mutex> lock(w.mutex);
    drain(w, lock);
}

// Polls for cancellation without the lock held.
static void poll_unlocked(std::unique_lock<std::mutex>& lock) {
    lock.unlock();
    poll_cancel_timed();
    lock.lock();
}

void run_ordered(Workers& w, std::size_t items, std::size_t window,
                 const std::function<void(std::size_t item, int worker)>& map,
                 const std::function<void(std::size_t item)>& reduce) {
    if (items == 0) return;
    window = std::max<std::size_t>(window, 1);
    std::unique_lock<std::mutex> lock(w.mutex);
    w.map = &map;
    w.items = items;
    w.next = 0;
    w.limit = std::min(items, window);
    w.done.assign(items, 0);
    w.abort = false;
    w.failure = nullptr;
    w.wake.notify_all();

    std::size_t to_reduce = 0;
    while (to_reduce < items) {
        if (w.failure) {
            drain(w, lock);
            std::exception_ptr failure = w.failure;
            w.failure = nullptr;
            lock.unlock();
            std::rethrow_exception(failure);
        }
        if (w.done[to_reduce]) {
            lock.unlock();
            try {
                reduce(to_reduce);
            } catch (...) {
                lock.lock();
                drain(w, lock);
                throw;
            }
            lock.lock();
            ++to_reduce;
            w.limit = std::min(items, to_reduce + window);
            w.wake.notify_all();
            continue;
        }
        if (claimable(w)) {
            map_item(w, lock, w.next++, 0);
        } else {
            w.finished.wait_for(lock, std::chrono::milliseconds(20));
        }
        poll_unlocked(lock);
    }
    w.map = nullptr;
}

}  // namespace kmeans
