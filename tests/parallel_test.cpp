// The ordered runner keeps its promises with several threads: reduces in
// item order, no map further ahead than the window, a failing map or reduce
// that comes out of run_ordered only once no map is in flight (and no later
// reduce runs), and a run ended from inside a map (a cancelling signal, a
// panic on a helper or on the calling thread) that ends without hanging,
// after every map in flight has ended.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numeric>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "base/parallel.h"
#include "base/registry.h"
#include "e2e.h"

using namespace kmeans;
using namespace std::chrono_literals;

namespace {

// Waits until `ready` holds, for at most about ten seconds: the scenes below
// wait for each other, and a runner that broke its promises must fail them,
// not hang them. Returns whether `ready` came to hold.
bool wait_until(const std::function<bool()>& ready) {
    for (int i = 0; i < 10000 && !ready(); ++i) std::this_thread::sleep_for(1ms);
    return ready();
}

std::vector<std::size_t> first_items(std::size_t n) {
    std::vector<std::size_t> v(n);
    std::iota(v.begin(), v.end(), std::size_t{0});
    return v;
}

TEST(RunOrdered, ReducesInItemOrderWithinTheWindow) {
    constexpr std::size_t items = 300, window = 4;
    Workers w;
    workers_start(w, 3);
    ASSERT_EQ(w.threads, 3);
    std::vector<std::size_t> slots(window);
    std::vector<std::atomic<int>> maps(items);
    std::atomic<std::size_t> reduced{0};   // reduces returned (or about to)
    std::atomic<std::size_t> mapped{0};    // maps ended
    std::atomic<int> too_far_ahead{0};
    std::vector<std::size_t> order;
    int overwritten = 0;
    bool window_filled = false;
    run_ordered(
        w, items, window,
        [&](std::size_t i, int) {
            if (i >= reduced.load() + window) ++too_far_ahead;
            ++maps[i];
            slots[i % window] = i * 7 + 1;
            ++mapped;
        },
        [&](std::size_t i) {
            // The helpers fill the window while the first reduce waits; the
            // next item may not start before it returns.
            if (i == 0) window_filled = wait_until([&] { return mapped.load() >= window; });
            order.push_back(i);
            if (slots[i % window] != i * 7 + 1) ++overwritten;
            reduced.store(i + 1);
        });
    EXPECT_TRUE(window_filled);
    EXPECT_EQ(order, first_items(items));
    EXPECT_EQ(too_far_ahead.load(), 0);
    EXPECT_EQ(overwritten, 0);
    for (std::size_t i = 0; i < items; ++i) ASSERT_EQ(maps[i].load(), 1) << "item " << i;
}

TEST(RunOrdered, AFailureComesOutAfterTheMapsInFlight) {
    constexpr std::size_t items = 100, window = 8, fail_at = 5;
    Workers w;
    workers_start(w, 3);
    ASSERT_EQ(w.threads, 3);
    for (bool in_map : {true, false}) {
        SCOPED_TRACE(in_map ? "a map throws" : "a reduce throws");
        std::atomic<int> in_flight{0};
        std::atomic<bool> failed{false}, helper_late{false}, overlapped{false};
        std::vector<std::size_t> reduces;
        // The failure waits until a helper runs a later map, which goes on
        // a little after it. The calling thread's own later maps wait for
        // such a helper too, so that it cannot take all of them.
        auto fail = [&](const char* what) {
            overlapped = wait_until([&] { return helper_late.load(); });
            failed = true;
            throw std::runtime_error(what);
        };
        auto map = [&](std::size_t i, int worker) {
            ++in_flight;
            if (in_map && i == fail_at) {
                --in_flight;
                fail("map failed");
            }
            if (i > fail_at && worker != 0) {
                helper_late = true;
                wait_until([&] { return failed.load(); });
                std::this_thread::sleep_for(20ms);
            } else if (i > fail_at) {
                wait_until([&] { return helper_late.load(); });
            }
            --in_flight;
        };
        auto reduce = [&](std::size_t i) {
            reduces.push_back(i);
            if (!in_map && i == fail_at) fail("reduce failed");
        };
        std::string what;
        int in_flight_after = -1;
        try {
            run_ordered(w, items, window, map, reduce);
        } catch (const std::runtime_error& e) {
            what = e.what();
            in_flight_after = in_flight.load();
        }
        EXPECT_EQ(what, in_map ? "map failed" : "reduce failed");
        EXPECT_TRUE(overlapped.load());
        EXPECT_EQ(in_flight_after, 0);
        // The reduces before the failure, in order, and none after it.
        if (in_map) EXPECT_LT(reduces.size(), fail_at + 1);
        else EXPECT_EQ(reduces.size(), fail_at + 1);
        EXPECT_EQ(reduces, first_items(reduces.size()));
        // The workers take the next job as if nothing had happened.
        std::vector<std::size_t> next;
        run_ordered(w, 10, 2, [](std::size_t, int) {}, [&](std::size_t i) { next.push_back(i); });
        EXPECT_EQ(next, first_items(10));
    }
}

// What the scenes in a child process record for their exit: the maps in
// flight and the reduces that ran after the item whose map ended the run
// (its own included for a panic; a cancellation may still reduce it).
struct Scene {
    std::atomic<int> in_flight{0};
    std::atomic<std::size_t> asking{~std::size_t{0}};
    std::atomic<int> late_reduces{0};
};
Scene scene;

void report_at_exit() {
    std::fprintf(stderr, "[maps in flight at exit: %d, late reduces: %d]\n", scene.in_flight.load(),
                 scene.late_reduces.load());
}

enum class Ending { cancel_signal, panic_on_helper, panic_on_caller };

// A run of 100 items over three threads in which one map from item 3 on
// ends the run while a helper's map is in flight (it goes on a little
// longer). The other maps from item 3 on wait for such a helper, so that
// the calling thread cannot take all of them.
void ending_scene(Ending how) {
    Workers w;
    workers_start(w, 3);
    if (w.threads != 3) _exit(98);
    std::atexit(report_at_exit);
    std::atomic<bool> asked{false}, helper_waits{false}, ended{false};
    run_ordered(
        w, 100, 8,
        [&](std::size_t i, int worker) {
            ++scene.in_flight;
            const bool may_ask = i >= 3 && (how == Ending::cancel_signal ||
                                            (how == Ending::panic_on_helper) == (worker != 0));
            if (may_ask && !asked.exchange(true)) {
                scene.asking = i;
                wait_until([&] { return helper_waits.load(); });
                ended = true;
                --scene.in_flight;
                if (how == Ending::cancel_signal) registry.cancel_requested = 1;
                if (how == Ending::panic_on_helper) panic(7, "\nPANIC: A helper's map ended the run\n");
                if (how == Ending::panic_on_caller) panic(8, "\nPANIC: The caller's map ended the run\n");
                return;
            }
            if (i >= 3 && worker != 0) {
                helper_waits = true;
                wait_until([&] { return ended.load(); });
                std::this_thread::sleep_for(20ms);
            } else if (i >= 3) {
                wait_until([&] { return helper_waits.load(); });
            }
            --scene.in_flight;
        },
        [&](std::size_t i) {
            if (i + (how == Ending::cancel_signal ? 0 : 1) > scene.asking.load()) ++scene.late_reduces;
        });
    _exit(97);  // the run was not ended
}

struct Ended {
    int status = -1;
    std::string err;
    bool hung = true;
};

// Runs `body` in a child process with standard error captured; a child that
// has not ended after a minute is killed and counts as hung.
Ended in_child(const std::function<void()>& body) {
    ScratchDir dir;
    const std::string err_path = (dir.path / "err").string();
    std::fflush(stderr);
    const pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(err_path.c_str(), "w", stderr)) _exit(99);
        body();
        _exit(96);
    }
    Ended e;
    int ws = 0;
    for (int i = 0; i < 6000; ++i) {
        if (waitpid(pid, &ws, WNOHANG) == pid) {
            e.hung = false;
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    if (e.hung) {
        kill(pid, SIGKILL);
        waitpid(pid, &ws, 0);
    }
    e.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    e.err = dir.read("err");
    return e;
}

TEST(RunOrdered, EndingTheRunInsideAMapNeverHangs) {
    const std::string after = "[maps in flight at exit: 0, late reduces: 0]\n";
    const struct {
        const char* what;
        Ending how;
        int status;
        std::string err;
    } cases[] = {
        {"a cancelling signal", Ending::cancel_signal, 1, "\nINFO: Program cancelled.\n" + after},
        {"a panic on a helper", Ending::panic_on_helper, 7, "\nPANIC: A helper's map ended the run\n" + after},
        {"a panic in the caller's map", Ending::panic_on_caller, 8,
         "\nPANIC: The caller's map ended the run\n" + after},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Ended e = in_child([&] { ending_scene(c.how); });
        EXPECT_FALSE(e.hung);
        EXPECT_EQ(e.status, c.status);
        EXPECT_EQ(e.err, c.err);
    }
}

}  // namespace
