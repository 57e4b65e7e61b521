#include "base/keyboard.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "base/clock.h"
#include "base/format.h"

namespace kmeans {

// Whether this process is the terminal's foreground job. Only then may it
// change the terminal's settings or read it: a background job that tries
// would be stopped by the terminal (SIGTTOU, SIGTTIN).
static bool foreground() {
    return registry.tty_fd >= 0 && tcgetpgrp(registry.tty_fd) == getpgrp();
}

// Puts our terminal settings in force: no line buffering, no echo, reads
// return at once.
static void set_raw() {
    termios t = registry.tty_saved;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(registry.tty_fd, TCSANOW, &t) == 0) registry.tty_raw.store(true);
}

static void install(int sig, void (*handler)(int)) {
    struct sigaction sa{};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(sig, &sa, nullptr);
}

static void on_cancel_signal(int) { registry.cancel_requested.store(1); }

// Suspend: the shell gets the terminal as it was.
static void on_stop_signal(int sig) {
    if (registry.tty_raw.load()) {
        tcsetattr(registry.tty_fd, TCSANOW, &registry.tty_saved);
        registry.tty_raw.store(false);
    }
    std::signal(sig, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, sig);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(sig);
    // Execution continues here after SIGCONT.
    install(sig, on_stop_signal);
    if (foreground()) set_raw();
}

// Resumed (also in the foreground after running in the background): take
// the terminal again when it is ours.
static void on_continue_signal(int) {
    if (!registry.tty_raw.load() && foreground()) set_raw();
}

// Every signal whose default action ends the process, except SIGPIPE and
// SIGXFSZ (ignored below) and the faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL,
// SIGABRT, SIGSYS, SIGTRAP), after which the program cannot go on safely.
static const int cancel_signals[] = {
    SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGVTALRM, SIGPROF, SIGXCPU, SIGPOLL,
#ifdef SIGPWR
    SIGPWR,
#endif
#ifdef SIGSTKFLT
    SIGSTKFLT,
#endif
};

void keyboard_start() {
    for (int sig : cancel_signals) install(sig, on_cancel_signal);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig) install(sig, on_cancel_signal);
    std::signal(SIGPIPE, SIG_IGN);  // a closed output pipe must not kill the run mid-file
    std::signal(SIGXFSZ, SIG_IGN);  // a file size limit shows as a write error, not a kill

    int fd = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    if (!isatty(fd) || tcgetattr(fd, &registry.tty_saved) != 0) {
        close(fd);
        return;
    }
    registry.tty_fd = fd;
    install(SIGTSTP, on_stop_signal);
    install(SIGCONT, on_continue_signal);
    if (foreground()) {
        set_raw();
        tcflush(fd, TCIFLUSH);
    }
}

void keyboard_restore() {
    if (registry.tty_fd >= 0 && registry.tty_raw.load()) {
        // Never stopped by the terminal on the way out.
        std::signal(SIGTTOU, SIG_IGN);
        tcsetattr(registry.tty_fd, TCSANOW, &registry.tty_saved);
        registry.tty_raw.store(false);
    }
}

bool key_pressed() {
    if (!on_main_thread_outside_map() || !registry.tty_raw.load() || !foreground()) return false;
    char buf[64];
    ssize_t n = read(registry.tty_fd, buf, sizeof buf);
    return n > 0;
}

void poll_cancel_timed() {
    if (registry.cancel_requested.load()) cancel_run();
    if (registry.tty_fd < 0 || !on_main_thread_outside_map()) return;
    const std::int64_t now = monotonic_ns();
    if (now - registry.key_polled_ns < 20000000) return;
    registry.key_polled_ns = now;
    if (key_pressed()) cancel_run();
}

void cancel_run() {
    if (!on_main_thread_outside_map()) {
        RunEnd end;
        end.status = 1;
        end.cancel = true;
        throw end;
    }
    if (registry.tty_raw.load() && foreground()) tcflush(registry.tty_fd, TCIFLUSH);
    panic(1, "\nINFO: Program cancelled.\n");
}

}  // namespace kmeans
