#include "base/parallel.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <malloc.h>
#include <sched.h>
#include <sys/resource.h>
#include <stdexcept>
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

// Marks `item` mapped by `worker`, or records what its map threw and stops
// the job.
static void item_ended(Workers& w, std::size_t item, int worker, std::exception_ptr failure) {
    // A worker that left its map in workers_quiesce was counted out there.
    if (w.mapping[static_cast<std::size_t>(worker)]) {
        w.mapping[static_cast<std::size_t>(worker)] = 0;
        --w.busy;
    }
    if (failure) {
        if (!w.failure) w.failure = failure;
        w.abort = true;
    }
    w.done[item] = 1;
    w.finished.notify_all();
}

// Runs the map of one claimed item without the lock held. Worker 0 is the
// calling thread, the main one: while it maps, the registry says so.
static void map_item(Workers& w, std::unique_lock<std::mutex>& lock, std::size_t item, int worker) {
    const auto* map = w.map;
    ++w.busy;
    w.mapping[static_cast<std::size_t>(worker)] = 1;
    if (worker == 0) registry.main_in_map = true;
    lock.unlock();
    std::exception_ptr failure;
    try {
        (*map)(item, worker);
    } catch (...) {
        failure = std::current_exception();
    }
    lock.lock();
    if (worker == 0) registry.main_in_map = false;
    item_ended(w, item, worker, failure);
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

// What one more thread may hold in address space at once: its stack, and
// the buffers of the two parts of a data file it may be reading (a read
// buffer, the part's rows, its line) and its share of a block pass.
constexpr std::uint64_t thread_address_bytes = std::uint64_t{8} << 20;

int threads_within_address_limit(int threads) {
    rlimit lim{};
    if (threads <= 1 || getrlimit(RLIMIT_AS, &lim) != 0 || lim.rlim_cur == RLIM_INFINITY) return threads;
    // The address space in use now (the first field of statm, in pages).
    std::uint64_t used = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        unsigned long long pages = 0;
        if (std::fscanf(f, "%llu", &pages) == 1) used = pages * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
        std::fclose(f);
    }
    const std::uint64_t limit = lim.rlim_cur;
    const std::uint64_t room = limit > used ? limit - used : 0;
    // Half the room stays for the rest of the run (centres, cluster numbers,
    // the rows kept in memory); every thread gets its share of the other half.
    const std::uint64_t more = room / 2 / thread_address_bytes;
    return static_cast<int>(std::min<std::uint64_t>(static_cast<std::uint64_t>(threads), 1 + more));
}

void workers_start(Workers& w, int threads) {
    // Under an address-space limit (ulimit -v) the threads are as many as
    // it leaves room for, and they share one memory arena: glibc reserves
    // 64 MiB of address space for every arena of its own a thread gets.
    // A thread that cannot be started (no memory for its stack) is no
    // failure either: the work is shared among those that could.
    rlimit lim{};
    if (threads > 1 && getrlimit(RLIMIT_AS, &lim) == 0 && lim.rlim_cur != RLIM_INFINITY) {
        mallopt(M_ARENA_MAX, 1);
        threads = threads_within_address_limit(threads);
    }
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, helper_stack_bytes);
    w.pool.reserve(static_cast<std::size_t>(std::max(0, threads - 1)));
    w.mapping.assign(static_cast<std::size_t>(std::max(1, threads)), 0);
    // The helpers start with every signal blocked but the faults, which
    // belong to the thread that caused them: the handlers of the others
    // (cancellation, suspend and resume) always run on the main thread.
    sigset_t blocked, old;
    sigfillset(&blocked);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) sigdelset(&blocked, sig);
    pthread_sigmask(SIG_BLOCK, &blocked, &old);
    for (int t = 1; t < threads; ++t) {
        auto* start = new HelperStart{&w, t};
        pthread_t id;
        if (pthread_create(&id, &attr, helper_main, start) != 0) {
            delete start;
            break;
        }
        w.pool.push_back(id);
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    pthread_attr_destroy(&attr);
    w.threads = static_cast<int>(w.pool.size()) + 1;
    registry.workers = &w;
}

// The worker the calling thread is for `w`: 0 for the main thread, t for
// helper pool[t - 1], -1 for any other thread.
static int worker_of_caller(const Workers& w) {
    const pthread_t self = pthread_self();
    if (pthread_equal(self, registry.main_thread)) return 0;
    for (std::size_t t = 0; t < w.pool.size(); ++t)
        if (pthread_equal(self, w.pool[t])) return static_cast<int>(t) + 1;
    return -1;
}

// Lets no further item start and waits until no map is in flight; a map of
// the calling thread's own counts as ended (see workers_quiesce).
static void drain(Workers& w, std::unique_lock<std::mutex>& lock) {
    w.abort = true;
    const int self = worker_of_caller(w);
    if (self >= 0 && w.mapping[static_cast<std::size_t>(self)]) {
        w.mapping[static_cast<std::size_t>(self)] = 0;
        --w.busy;
    }
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

// Stops the job after a failure: waits for the maps in flight, then rethrows
// `failure` with the lock released, or ends the run as a RunEnd asks.
[[noreturn]] static void fail_job(Workers& w, std::unique_lock<std::mutex>& lock, std::exception_ptr failure) {
    drain(w, lock);
    w.failure = nullptr;
    lock.unlock();
    try {
        std::rethrow_exception(failure);
    } catch (const RunEnd& end) {
        end_run_as(end);
    }
}

void run_ordered(Workers& w, std::size_t items, std::size_t window,
                 const std::function<void(std::size_t item, int worker)>& map,
                 const std::function<void(std::size_t item)>& reduce) {
    if (!on_main_thread_outside_map()) throw std::logic_error("run_ordered called inside a map or off the main thread");
    if (items == 0) return;
    window = std::max<std::size_t>(window, 1);
    // Allocated before the lock is taken: nothing throws while it is held
    // (an exception that no handler takes ends the process without
    // unwinding, and the exit path takes the lock).
    std::vector<unsigned char> done(items, 0);
    std::unique_lock<std::mutex> lock(w.mutex);
    w.map = &map;
    w.items = items;
    w.next = 0;
    w.limit = std::min(items, window);
    w.done.swap(done);
    w.abort = false;
    w.failure = nullptr;
    w.wake.notify_all();

    std::size_t to_reduce = 0;
    while (to_reduce < items) {
        if (w.failure) fail_job(w, lock, w.failure);
        if (w.done[to_reduce]) {
            lock.unlock();
            std::exception_ptr failure;
            try {
                reduce(to_reduce);
            } catch (...) {
                failure = std::current_exception();
            }
            lock.lock();
            if (failure) fail_job(w, lock, failure);
            ++to_reduce;
            w.limit = std::min(items, to_reduce + window);
            w.wake.notify_all();
        } else if (claimable(w)) {
            map_item(w, lock, w.next++, 0);
        } else {
            w.finished.wait_for(lock, std::chrono::milliseconds(20));
        }
        poll_unlocked(lock);
    }
    w.map = nullptr;
}

}  // namespace kmeans
