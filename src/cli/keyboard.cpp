#include "cli/keyboard.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "cli/format.h"

// Puts our terminal settings in force: no line buffering, no echo, reads
// return at once.
static void set_raw() {
    termios t = registry.tty_saved;
    t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(registry.tty_fd, TCSANOW, &t) == 0) registry.tty_raw = true;
}

static void on_cancel_signal(int) { registry.cancel_requested = 1; }

static void install(int sig, void (*handler)(int));

// Suspend: the shell gets the terminal as it was; resume: ours again.
static void on_stop_signal(int sig) {
    if (registry.tty_raw) tcsetattr(registry.tty_fd, TCSANOW, &registry.tty_saved);
    std::signal(sig, SIG_DFL);
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, sig);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
    raise(sig);
    // Execution continues here after SIGCONT.
    install(sig, on_stop_signal);
    if (registry.tty_raw) set_raw();
}

static void install(int sig, void (*handler)(int)) {
    struct sigaction sa{};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(sig, &sa, nullptr);
}

void keyboard_start() {
    install(SIGINT, on_cancel_signal);
    install(SIGTERM, on_cancel_signal);
    install(SIGHUP, on_cancel_signal);
    std::signal(SIGPIPE, SIG_IGN);  // a closed output pipe must not kill the run mid-file
    std::signal(SIGXFSZ, SIG_IGN);  // a file size limit shows as a write error, not a kill

    int fd = open("/dev/tty", O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return;
    if (!isatty(fd) || tcgetattr(fd, &registry.tty_saved) != 0) {
        close(fd);
        return;
    }
    registry.tty_fd = fd;
    set_raw();
    tcflush(fd, TCIFLUSH);
    install(SIGTSTP, on_stop_signal);
}

void keyboard_restore() {
    if (registry.tty_fd >= 0 && registry.tty_raw) {
        tcsetattr(registry.tty_fd, TCSANOW, &registry.tty_saved);
        registry.tty_raw = false;
    }
}

bool key_pressed() {
    if (registry.tty_fd < 0) return false;
    char buf[64];
    ssize_t n = read(registry.tty_fd, buf, sizeof buf);
    return n > 0;
}

void cancel_run() {
    if (registry.tty_fd >= 0) tcflush(registry.tty_fd, TCIFLUSH);
    panic(1, "\nINFO: Program cancelled.\n");
}
