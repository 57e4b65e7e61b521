#!/usr/bin/env python3
"""Cancellation through a real terminal and through signals.

Runs the built binary on a pseudo-terminal (its controlling terminal) and
checks that a key press cancels a run with status 1 and the message, that
keys typed before the start do not, that the terminal settings are the same
after every exit, around a suspend and resume, that every signal that would
end the process cancels like a key and leaves no partial result file behind,
and that a run killed with SIGKILL leaves no file behind either.

Usage: cancel_test.py PATH_TO_KMEANS
"""
import os
import pty
import select
import signal
import sys
import tempfile
import termios
import time

KMEANS = os.path.abspath(sys.argv[1])
pty_initial = None  # the settings of the last new terminal, before the program ran
failures = []
passes = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)
    else:
        passes.append(what)
        print("ok:", what)


def write_data(path, rows):
    with open(path, "w") as f:
        for i in range(rows):
            f.write("%d %d.5 %d\n" % (i % 97, (i * 7) % 13, (i * 31) % 101))


def spawn_on_pty(args, cwd, pre_input=None, foreground=True, env=None):
    """Starts kmeans with a new pty as its controlling terminal and stdin
    redirected from /dev/null, as the foreground job of a small session
    leader (the way a shell runs it, so that job control works). Returns
    (pid of kmeans, pid to wait for, master fd, slave fd)."""
    master, slave = pty.openpty()
    global pty_initial
    pty_initial = settings(slave)  # read before the program can change it
    if pre_input:
        os.write(master, pre_input)
        time.sleep(0.1)
    rfd, wfd = os.pipe()
    leader = os.fork()
    if leader == 0:
        os.close(rfd)
        os.setsid()
        os.close(master)
        import fcntl
        fcntl.ioctl(slave, termios.TIOCSCTTY, 0)
        child = os.fork()
        if child == 0:
            os.setpgid(0, 0)
            if foreground:
                signal.signal(signal.SIGTTOU, signal.SIG_IGN)
                os.tcsetpgrp(slave, os.getpgrp())
                signal.signal(signal.SIGTTOU, signal.SIG_DFL)
            devnull = os.open("/dev/null", os.O_RDONLY)
            os.dup2(devnull, 0)
            os.dup2(slave, 1)
            os.dup2(slave, 2)
            os.chdir(cwd)
            os.execve(KMEANS, [KMEANS] + args, dict(os.environ, **(env or {})))
        os.write(wfd, str(child).encode())
        os.close(wfd)
        _, st = os.waitpid(child, 0)
        os._exit(os.waitstatus_to_exitcode(st) & 0xFF)
    os.close(wfd)
    child = int(os.read(rfd, 32))
    os.close(rfd)
    return child, leader, master, slave


def read_some(master, wait):
    """Bytes waiting on the pty within `wait` seconds: b"" when none came,
    None when the terminal is closed."""
    r, _, _ = select.select([master], [], [], wait)
    if not r:
        return b""
    try:
        chunk = os.read(master, 65536)
    except OSError:
        return None
    return chunk or None


def read_until(master, needle, timeout):
    """Reads the pty until `needle` appears; returns all text read."""
    out = b""
    end = time.time() + timeout
    while time.time() < end and needle not in out:
        chunk = read_some(master, 0.1)
        if chunk is None:
            break
        out += chunk
    return out


def drain_and_wait(pid, master, timeout=30):
    """Reads the pty until the program exits; returns (exit status, text)."""
    out = b""
    end = time.time() + timeout
    while time.time() < end:
        out += read_some(master, 0.1) or b""
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            while True:
                chunk = read_some(master, 0.05)
                if not chunk:
                    break
                out += chunk
            return os.waitstatus_to_exitcode(status), out
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    return None, out


def wait_for(cond, timeout=10):
    """Polls cond() until it holds or the time runs out; returns its last value."""
    end = time.time() + timeout
    while time.time() < end:
        if cond():
            return True
        time.sleep(0.05)
    return cond()


def settings(fd):
    attrs = termios.tcgetattr(fd)
    return attrs[3] & (termios.ICANON | termios.ECHO)


def main():
    work = tempfile.mkdtemp(prefix="kmeans-cancel-")
    big = os.path.join(work, "BIG.DAT")
    write_data(big, 20000)
    small = os.path.join(work, "SMALL.DAT")
    write_data(small, 30)

    # A key pressed during a run cancels it.
    kid, pid, master, slave = spawn_on_pty(["BIG.DAT", "-K20", "-R100000"], work)
    before = pty_initial
    seen = read_until(master, b"Iteration:2", 30)
    check(b"Iteration:2" in seen, "run reaches its second iteration")
    check(before != 0 and settings(slave) == 0, "terminal is in non-canonical no-echo mode during the run")
    os.write(master, b"x")
    status, out = drain_and_wait(pid, master)
    check(status == 1, "key press exits with status 1 (got %r)" % status)
    check(b"INFO: Program cancelled." in out, "key press writes the cancellation message")
    check(settings(slave) == before, "terminal settings restored after cancellation")
    check(not any(n.startswith(".") for n in os.listdir(work)), "no temporary result file left after cancellation")
    check(not os.path.exists(os.path.join(work, "BIG.KMC")), "no partial centre file after cancellation")
    os.close(master)
    os.close(slave)

    # On every path (rows in memory or read again from the file, one thread
    # or all; the batch and the adaptive algorithm) a key cancels at once.
    for env in ({}, {"KMEANS_MEMORY": "0"}, {"KMEANS_THREADS": "1"}):
        for algo in (["-K20"], ["-A", "-K20"]):
            what = "%s %s" % (" ".join(algo), " ".join("%s=%s" % kv for kv in env.items()) or "defaults")
            kid, pid, master, slave = spawn_on_pty(["BIG.DAT", "-R100000"] + algo, work, env=env)
            before = pty_initial
            seen = read_until(master, b"Iteration:2", 30)
            pressed = time.time()
            os.write(master, b"x")
            status, out = drain_and_wait(pid, master)
            took = time.time() - pressed
            check(b"Iteration:2" in seen and status == 1, "key press cancels (%s): status %r" % (what, status))
            check(took < 1.0, "key press cancels within a second (%s): %.3f s" % (what, took))
            check(settings(slave) == before, "terminal settings restored (%s)" % what)
            os.close(master)
            os.close(slave)

    # Keys typed before the start are discarded and do not cancel.
    kid, pid, master, slave = spawn_on_pty(["SMALL.DAT", "-R2"], work, pre_input=b"abc")
    before = pty_initial
    status, out = drain_and_wait(pid, master)
    check(status == 0, "keys typed before the start do not cancel (status %r)" % status)
    check(b"cancelled" not in out, "no cancellation message for early keys")
    check(settings(slave) == before, "terminal settings restored after a normal end")
    os.close(master)
    os.close(slave)

    # A background job leaves the terminal alone and is not stopped by it.
    kid, pid, master, slave = spawn_on_pty(["SMALL.DAT", "-R2"], work, foreground=False)
    before = pty_initial
    status, out = drain_and_wait(pid, master)
    check(status == 0, "a background run ends normally (status %r)" % status)
    check(settings(slave) == before, "a background run leaves the terminal settings alone")
    os.close(master)
    os.close(slave)

    # Suspend and resume: the terminal is given back while stopped.
    kid, pid, master, slave = spawn_on_pty(["BIG.DAT", "-K20", "-R100000"], work)
    before = pty_initial
    read_until(master, b"Iteration:2", 30)
    os.kill(kid, signal.SIGTSTP)
    check(wait_for(lambda: settings(slave) == before), "terminal settings restored while suspended")
    os.kill(kid, signal.SIGCONT)
    check(wait_for(lambda: settings(slave) == 0), "non-canonical no-echo mode again after resume")
    os.write(master, b"q")
    status, out = drain_and_wait(pid, master)
    check(status == 1, "key after resume cancels (status %r)" % status)
    check(settings(slave) == before, "terminal settings restored at the end")
    os.close(master)
    os.close(slave)

    # SIGINT and SIGTERM cancel like a key, also without a terminal.
    for sig in (signal.SIGINT, signal.SIGTERM):
        with open(os.path.join(work, "BIG.KMC"), "w") as f:
            f.write("earlier result\n")
        errpath = os.path.join(work, "err.txt")
        pid = os.fork()
        if pid == 0:
            os.setsid()
            os.chdir(work)
            fd = os.open(errpath, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
            os.dup2(fd, 2)
            null = os.open("/dev/null", os.O_RDWR)
            os.dup2(null, 0)
            os.dup2(null, 1)
            os.execv(KMEANS, [KMEANS, "BIG.DAT", "-K20", "-R100000"])
        deadline = time.time() + 30
        while time.time() < deadline:
            time.sleep(0.1)
            with open(errpath, "rb") as f:
                if b"Iteration:2" in f.read():
                    break
        os.kill(pid, sig)
        _, st = os.waitpid(pid, 0)
        code = os.waitstatus_to_exitcode(st)
        with open(errpath, "rb") as f:
            err = f.read()
        name = signal.Signals(sig).name
        check(code == 1, "%s exits with status 1 (got %r)" % (name, code))
        check(err.endswith(b"\nINFO: Program cancelled.\n"), "%s writes the cancellation message last" % name)
        with open(os.path.join(work, "BIG.KMC")) as f:
            check(f.read() == "earlier result\n", "%s leaves the earlier centre file untouched" % name)
        check(not any(n.startswith(".") for n in os.listdir(work)), "%s leaves no temporary file" % name)

    # Every signal whose default action would end the process cancels like
    # SIGINT: status 1, the message, the terminal restored, no temporary file,
    # the earlier result kept. (SIGPIPE and SIGXFSZ are ignored instead.)
    fatal = ["SIGINT", "SIGTERM", "SIGHUP", "SIGQUIT", "SIGUSR1", "SIGUSR2", "SIGALRM", "SIGVTALRM",
             "SIGPROF", "SIGXCPU", "SIGPOLL", "SIGPWR", "SIGRTMIN"]
    with open(os.path.join(work, "BIG.KMC"), "w") as f:
        f.write("earlier result\n")
    listing = sorted(os.listdir(work))
    for name in fatal:
        kid, pid, master, slave = spawn_on_pty(["BIG.DAT", "-K20", "-R100000"], work)
        before = pty_initial
        seen = read_until(master, b"Iteration:2", 30)
        os.kill(kid, getattr(signal, name))
        status, out = drain_and_wait(pid, master)
        check(b"Iteration:2" in seen and status == 1, "%s exits with status 1 (got %r)" % (name, status))
        check(out.endswith(b"\nINFO: Program cancelled.\r\n"), "%s writes the cancellation message last" % name)
        check(settings(slave) == before, "%s restores the terminal settings" % name)
        check(sorted(os.listdir(work)) == listing, "%s leaves no file behind (%r)" % (name, sorted(os.listdir(work))))
        with open(os.path.join(work, "BIG.KMC")) as f:
            check(f.read() == "earlier result\n", "%s leaves the earlier centre file untouched" % name)
        os.close(master)
        os.close(slave)

    # A killed run (SIGKILL cannot be caught) leaves nothing behind either:
    # the result files have no name until they are complete.
    pid = os.fork()
    if pid == 0:
        os.setsid()
        os.chdir(work)
        null = os.open("/dev/null", os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(null, fd)
        os.execv(KMEANS, [KMEANS, "BIG.DAT", "-K20", "-R100000"])
    time.sleep(0.3)
    running = os.waitpid(pid, os.WNOHANG)[0] == 0
    os.kill(pid, signal.SIGKILL)
    os.waitpid(pid, 0)
    check(running, "the run is still going when it is killed")
    check(sorted(os.listdir(work)) == listing,
          "SIGKILL leaves no file behind (%r, before %r)" % (sorted(os.listdir(work)), listing))
    with open(os.path.join(work, "BIG.KMC")) as f:
        check(f.read() == "earlier result\n", "SIGKILL leaves the earlier centre file untouched")

    for n in os.listdir(work):
        os.unlink(os.path.join(work, n))
    os.rmdir(work)
    print("%d passed, %d failed" % (len(passes), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
