#!/usr/bin/env python3
"""The terminal gets its settings back however the console ends: for each signal that ends a process,
and for a fatal error's report, the console is started in a pseudo-terminal of 80x24
(TERM=xterm-256color, LANG=C.UTF-8, the cache folder in a temporary folder), waits at its prompt (the
terminal raw), and is ended so; the terminal's settings must then be those it had before oka started.

    terminal_restore.py OKA"""
import fcntl
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import termios
import time

OKA = os.path.abspath(sys.argv[1])
PATIENCE = 90 if os.environ.get("OKA_GC_STRESS") else 30  # seconds for each thing awaited, more under the stress mode


# The settings are read before oka starts, so that they are those of the terminal it found.
def start():
    appdata = tempfile.mkdtemp()
    fd, terminal = os.openpty()
    fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    before = settings(fd)
    env = dict(os.environ, TERM="xterm-256color", LANG="C.UTF-8", APPDATA=appdata)
    child = subprocess.Popen([OKA], stdin=terminal, stdout=terminal, stderr=terminal, env=env, start_new_session=True)
    os.close(terminal)
    return child.pid, fd, appdata, before


def read_some(fd, seconds):
    ready, _, _ = select.select([fd], [], [], seconds)
    if not ready:
        return b""
    try:
        data = os.read(fd, 65536)
    except OSError:
        return b""
    # the line editor asks where the cursor is
    if b"\x1b[6n" in data:
        os.write(fd, b"\x1b[1;1R")
    return data


def wait_raw(fd, seconds=PATIENCE):
    deadline = time.monotonic() + seconds
    while termios.tcgetattr(fd)[3] & termios.ICANON:
        if time.monotonic() > deadline:
            raise AssertionError("the line editor did not start")
        read_some(fd, 0.05)


def wait_exit(pid, fd):
    deadline = time.monotonic() + PATIENCE
    while time.monotonic() < deadline:
        read_some(fd, 0.05)
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return status
    os.kill(pid, signal.SIGKILL)
    raise AssertionError("oka did not end")


def settings(fd):
    iflag, oflag, cflag, lflag, _, _, cc = termios.tcgetattr(fd)
    return iflag, oflag, cflag, lflag, cc[termios.VMIN], cc[termios.VTIME]


def check(name, end):
    pid, fd, appdata, before = start()
    try:
        wait_raw(fd)
        if settings(fd) == before:
            raise AssertionError("%s: the terminal did not become raw" % name)
        end(pid)
        wait_exit(pid, fd)
        after = settings(fd)
        if after != before:
            raise AssertionError("%s: the terminal's settings were not given back: %r, not %r" % (name, after, before))
    finally:
        os.close(fd)
        shutil.rmtree(appdata, ignore_errors=True)


def main():
    failures = []
    endings = [(signal.Signals(s).name, s) for s in (
        signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGABRT, signal.SIGPIPE,
        signal.SIGALRM, signal.SIGUSR1, signal.SIGUSR2, signal.SIGXCPU, signal.SIGVTALRM, signal.SIGPROF)]
    endings.append(("SIGRTMIN+2", signal.SIGRTMIN + 2))
    # a fault ends the console with a fatal error's report
    endings.append(("the report of SIGSEGV", signal.SIGSEGV))
    for name, signo in endings:
        try:
            check(name, lambda pid, signo=signo: os.kill(pid, signo))
        except AssertionError as failure:
            failures.append(str(failure))
    for failure in failures:
        print("FAILED:", failure)
    print("%d of %d endings gave the terminal back" % (len(endings) - len(failures), len(endings)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
