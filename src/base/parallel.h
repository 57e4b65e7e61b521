// Work split over threads and joined in order.
//
// A job is a number of items. map(item, worker) runs for every item on any
// of the threads (the calling thread included), in any order; it computes
// into memory that belongs to its item alone. reduce(item) runs on the
// calling thread for one item after another in item order, each after its
// map: everything that depends on the order (sums in file order, messages,
// result files) happens there. So a job gives the same bits with one thread
// or many.
//
// What a map may not do, and what happens if it does:
//   - It never writes to the console or to files, nor reads the terminal:
//     those belong to the main thread outside any map (see
//     on_main_thread_outside_map in base/registry.h). The console writers
//     throw std::logic_error inside a map, and the terminal is not read
//     there (poll_cancel then only looks for a cancelling signal).
//   - It fails by throwing. The job stops: no further item starts, no later
//     reduce runs, and the exception comes out of run_ordered once every map
//     in flight has ended.
//   - A panic, finish or cancel_run reached inside a map (on any thread)
//     cannot end the run there: it throws RunEnd (base/registry.h), which
//     stops the job like any exception; run_ordered then, with no map in
//     flight, ends the run on the calling thread as the call asked.
// So no exit path ever waits for a map that cannot end.
//
// While it waits, and after every item it maps or reduces, the calling
// thread polls for cancellation, so a key press or a signal ends the run
// within one item's time. Every exit path first waits for the maps in
// flight (registry.workers), so no thread runs a map while the process
// ends. The helper threads block the cancelling signals: their handlers run
// on the main thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <pthread.h>
#include <vector>

namespace kmeans {

struct Workers {
    int threads = 1;                   // threads that run maps, the caller included
    std::vector<pthread_t> pool;       // threads - 1 helpers; helper pool[t] is worker t + 1
    std::mutex mutex;
    std::condition_variable wake;      // helpers: a job has items, or stop
    std::condition_variable finished;  // caller: an item's map is done
    // The job in work (guarded by mutex).
    const std::function<void(std::size_t, int)>* map = nullptr;
    std::size_t items = 0;             // items of the job
    std::size_t next = 0;              // next item to map
    std::size_t limit = 0;             // items at or past it wait for the reduce
    std::vector<unsigned char> done;   // per item: its map has finished
    std::vector<unsigned char> mapping = std::vector<unsigned char>(1);  // per worker: in a map
    int busy = 0;                      // maps in flight
    bool abort = false;                // claim no further item
    bool stop = false;                 // helpers end
    std::exception_ptr failure;        // what a map threw

    Workers() = default;
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;
    ~Workers();  // ends and joins the helpers
};

// The number of threads to use by default: the processors this process may
// run on.
int default_threads();

// The threads (of `threads` asked for, at least one) that the address-space
// limit of the process (RLIMIT_AS) leaves room for; all of them when there
// is no limit.
int threads_within_address_limit(int threads);

// Starts threads - 1 helper threads (none for one thread; fewer when the
// address-space limit leaves no room for more, or no more can be started)
// and registers `w` so that the exit path can wait for its
// maps. Called on the main thread before any job.
void workers_start(Workers& w, int threads);

// Runs the job described above over `items` items, with at most `window`
// items mapped ahead of the next reduce: item i's map starts only after the
// reduce of item i - window has returned (so that per-item buffers can be
// reused as slot item % window). A map or a reduce that throws stops the
// job; the exception comes out of this call after every map in flight has
// ended, and no later reduce runs. A RunEnd from a map ends the run instead
// (see above). Called on the main thread outside any map; elsewhere it
// throws std::logic_error.
void run_ordered(Workers& w, std::size_t items, std::size_t window,
                 const std::function<void(std::size_t item, int worker)>& map,
                 const std::function<void(std::size_t item)>& reduce);

// For the exit paths: lets no further item start and waits until no map is
// in flight on any other thread. Called from inside a map (the terminate
// handler can be), that map counts as ended, since its thread is on the way
// out and never returns to it; so this never waits for the calling thread
// itself. A job stopped so never completes: the process must end. Safe to
// call at any time, on any thread, more than once.
void workers_quiesce(Workers& w);

}  // namespace kmeans
