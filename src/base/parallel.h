// Work split over threads and joined in order.
//
// A job is a number of items. map(item, worker) runs for every item on any
// of the threads (the calling thread included), in any order; it computes
// into memory that belongs to its item alone and never writes to the
// console or to files. reduce(item) runs on the calling thread for one item
// after another in item order, each after its map: everything that depends
// on the order (sums in file order, messages, result files) happens there.
// So a job gives the same bits with one thread or many.
//
// While it waits, the calling thread polls for cancellation, so a key press
// or a signal ends the run within one item's time. Every exit path first
// waits for the maps in flight (registry.workers), so no thread runs while
// the process ends.
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
    std::vector<pthread_t> pool;       // threads - 1 helpers
    std::mutex mutex;
    std::condition_variable wake;      // helpers: a job has items, or stop
    std::condition_variable finished;  // caller: an item's map is done
    // The job in work (guarded by mutex).
    const std::function<void(std::size_t, int)>* map = nullptr;
    std::size_t items = 0;             // items of the job
    std::size_t next = 0;              // next item to map
    std::size_t limit = 0;             // items at or past it wait for the reduce
    std::vector<unsigned char> done;   // per item: its map has finished
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

// Starts threads - 1 helper threads (none for one thread; fewer when no more
// can be started) and registers `w` so that the exit path can wait for its
// maps.
void workers_start(Workers& w, int threads);

// Runs the job described above over `items` items, with at most `window`
// items mapped ahead of the next reduce (so that per-item buffers can be
// reused as slot item % window). A map that throws stops the job; the
// exception comes out of this call after every map in flight has ended.
void run_ordered(Workers& w, std::size_t items, std::size_t window,
                 const std::function<void(std::size_t item, int worker)>& map,
                 const std::function<void(std::size_t item)>& reduce);

// Lets no further item start and waits for the maps in flight. Called on
// every exit path before the process ends; safe to call at any time.
void workers_quiesce(Workers& w);

}  // namespace kmeans
