#!/usr/bin/env python3
"""Times the console's launch as a person at a terminal sees it: from the start of the program on a
pseudo-terminal (80x24, TERM=xterm-256color, LANG=C.UTF-8, a cache folder of its own) to the first ">> "
that it writes, the median of several runs. The terminal answers the line editor's question for the
cursor's position at once, as a terminal does. Beside it, for comparison, the same program running a
script that only writes ">> ", on the same terminal and timed the same way: the difference is what the
console's launch adds to the start-up. Each is timed as the program starts from its heap image and, with
OKA_HEAP_IMAGE=off, from the boot data.

    bench/console_prompt.py [--oka build/release/oka] [--runs 20]"""
import argparse
import fcntl
import os
import re
import select
import signal
import statistics
import struct
import sys
import tempfile
import termios
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PROMPT = b">> "
CURSOR_QUESTION = b"\x1b[6n"
SEQUENCE = re.compile(rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07")
PATIENCE = 10.0  # seconds: a run that shows nothing by then failed


def start(command, env):
    """Starts `command` on a new pseudo-terminal, which becomes the terminal of its own session; answers
    the process id, the terminal's master side and the moment of the start. A spawn, not a fork of
    this interpreter: copying its memory would cost more than the program's whole start-up."""
    master, slave = os.openpty()
    fcntl.ioctl(master, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 80, 0, 0))
    name = os.ttyname(slave)
    os.close(slave)
    actions = [(os.POSIX_SPAWN_OPEN, 0, name, os.O_RDWR, 0),
               (os.POSIX_SPAWN_DUP2, 0, 1), (os.POSIX_SPAWN_DUP2, 0, 2)]
    started = time.perf_counter()
    pid = os.posix_spawn(command[0], command, env, file_actions=actions, setsid=True)
    return pid, master, started


def cursor_report(shown):
    """The terminal's answer to the cursor question: the row does not matter to the editor, the column
    is what follows the last line end of the output."""
    line = SEQUENCE.sub(b"", shown).replace(b"\r", b"\n").rsplit(b"\n", 1)[-1]
    return b"\x1b[1;%dR" % (len(line.decode("utf-8", "replace")) + 1)


def processor_time(pid):
    """The seconds that the process's threads have run on a processor so far; None once it ended (a
    script may end as soon as it wrote the prompt)."""
    total = 0
    try:
        for task in os.listdir(f"/proc/{pid}/task"):
            with open(f"/proc/{pid}/task/{task}/schedstat", encoding="ascii") as stat:
                total += int(stat.read().split()[0])
    except (OSError, IndexError):
        return None
    return total / 1e9


def time_run(command, env):
    """Seconds from the start to the first prompt, and the processor time the process took to get there;
    None when it did not come."""
    pid, master, started = start(command, env)
    shown, answered, taken, processor = b"", 0, None, None
    deadline = started + PATIENCE
    try:
        while time.perf_counter() < deadline:
            ready, _, _ = select.select([master], [], [], max(0.0, deadline - time.perf_counter()))
            if not ready:
                break
            try:
                chunk = os.read(master, 65536)
            except OSError:  # the program ended: its side of the terminal is closed
                chunk = b""
            if not chunk:
                break
            shown += chunk
            while shown.count(CURSOR_QUESTION) > answered:
                os.write(master, cursor_report(shown[:shown.find(CURSOR_QUESTION, 0)]))
                answered += 1
            if PROMPT in SEQUENCE.sub(b"", shown):
                taken, processor = time.perf_counter() - started, processor_time(pid)
                break
    finally:
        os.kill(pid, signal.SIGKILL)
        _, _, usage = os.wait4(pid, 0)
        os.close(master)
    if taken is None:
        return None
    return taken, processor if processor is not None else usage.ru_utime + usage.ru_stime


def medians(command, env, runs):
    times = [time_run(command, env) for _ in range(runs)]
    if None in times:
        return "failed"
    wall, processor = ([run[i] * 1000 for run in times] for i in (0, 1))
    return (f"{statistics.median(wall):5.1f} ms (least {min(wall):.1f}), "
            f"processor {statistics.median(processor):.1f} ms (least {min(processor):.1f})")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--oka", default=os.path.join(ROOT, "build", "release", "oka"), help="the oka program")
    parser.add_argument("--runs", type=int, default=20, help="runs of each; the median counts")
    args = parser.parse_args()
    oka = os.path.abspath(args.oka)
    if not os.access(oka, os.X_OK):
        sys.exit(f"no oka program at {oka}: build it first (make build-release)")
    with tempfile.TemporaryDirectory() as folder:
        prompt_only = os.path.join(folder, "prompt.oka")
        with open(prompt_only, "w", encoding="utf-8") as script:
            script.write('Oka [] prin ">> "\n')
        base = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": folder, "APPDATA": folder,
                "TERM": "xterm-256color", "LANG": "C.UTF-8"}
        print(f"Times: the median of {args.runs} runs, from the start on a pseudo-terminal; then the processor")
        print("time the process took until then (which a busy machine does not inflate as much).")
        for label, extra in (("from the heap image", {}), ("OKA_HEAP_IMAGE=off", {"OKA_HEAP_IMAGE": "off"})):
            env = dict(base, **extra)
            print(f"{label}:")
            print(f"  the console:                     {medians([oka], env, args.runs)}")
            print(f"  a script that writes the prompt: {medians([oka, prompt_only], env, args.runs)}")


if __name__ == "__main__":
    main()
