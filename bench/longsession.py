#!/usr/bin/env python3
"""A long session: Zorv's memory while lines keep coming for ever.

Starts the release zorv_bench_app (offscreen, a settings file naming a
loopback server of this script), registers it, joins #front and #behind, makes
#front the active window, then sends --lines lines into each of the two
channels, interleaved, in blocks. After every block a PING is sent and its
PONG awaited, so the client has processed every line before it; then its
resident memory is read. The report gives RSS against lines received and the
growth per line over the second half of the run, once the windows' bounds
(the active window's scrollback, a background window's 300 lines) hold, and
the client's CPU seconds per million lines received (logging on, as by
default). --into behind sends every line into the background channel only,
--into front into the active one only. After the run the client is ended with
SIGTERM and its logs are counted: every line received must be in them.

    bench/longsession.py --build build/bench-rel [--lines 1000000] [--block 50000] [--scrollback N]
                         [--into front,behind] [--no-logs] [--wrap "valgrind --tool=callgrind"]
"""

import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

NICK = "benchnick"


def cpu_seconds(pid):
    """CPU time of every thread of the process so far (schedstat, nanoseconds)."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
            total += int(f.read().split()[0])
    return total / 1e9


def user_system(pid):
    """User and system CPU seconds of the process so far (clock ticks)."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    tick = os.sysconf("SC_CLK_TCK")
    return int(fields[11]) / tick, int(fields[12]) / tick


def rss_kb(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class Peer:
    def __init__(self, conn):
        self.conn = conn
        self.buf = b""

    def send(self, text):
        self.conn.sendall(text.encode())

    def wait_for(self, needle, timeout=300):
        deadline = time.monotonic() + timeout
        needle = needle.encode()
        while needle not in self.buf:
            if time.monotonic() > deadline:
                raise RuntimeError("client did not send %r" % needle)
            self.conn.settimeout(max(0.1, deadline - time.monotonic()))
            data = self.conn.recv(65536)
            if not data:
                raise RuntimeError("client closed the connection")
            self.buf += data
        self.buf = self.buf[self.buf.index(needle) + len(needle):]


def block(start, count, into):
    out = []
    for i in range(start, start + count):
        if "front" in into:
            out.append(":amy!u@h PRIVMSG #front :%d lorem ipsum dolor sit amet consectetur\r\n" % i)
        if "behind" in into:
            out.append(":bob!u@h PRIVMSG #behind :%d sed do eiusmod tempor incididunt ut labore\r\n" % i)
    return "".join(out)


def logged_lines(folder):
    """Lines in the log files of #front and #behind."""
    counts = {}
    for d, _, files in os.walk(folder):
        for f in files:
            if f in ("#front.log", "#behind.log"):
                with open(os.path.join(d, f), "rb") as fh:
                    counts[f[:-4]] = sum(1 for line in fh if b"> " in line or b">" in line)
    return counts


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build/bench-rel")
    ap.add_argument("--lines", type=int, default=1000000, help="lines into each channel")
    ap.add_argument("--block", type=int, default=50000, help="lines per channel between two readings")
    ap.add_argument("--scrollback", type=int, help="ScrollbackLines to run with (default: the program's)")
    ap.add_argument("--into", default="front,behind", help="the channels that get the lines")
    ap.add_argument("--no-logs", action="store_true", help="run with Logging=0")
    ap.add_argument("--wrap", default="", help="command prefix for the client (e.g. valgrind)")
    opts = ap.parse_args()
    into = opts.into.split(",")

    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    tmp = tempfile.mkdtemp(prefix="zorvlong-")
    exe = os.path.join(tmp, "zorv_bench_app")
    shutil.copy2(os.path.join(opts.build, "bench", "harness", "zorv_bench_app"), exe)
    with open(os.path.join(tmp, "ZORV.INI"), "w") as f:
        f.write("[User Info]\nNick=%s\nServer=127.0.0.1\nPort=%d\n" % (NICK, port))
        f.write("[Client Info]\n")
        if opts.scrollback is not None:
            f.write("ScrollbackLines=%d\n" % opts.scrollback)
        if opts.no_logs:
            f.write("Logging=0\n")
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_DATA_HOME=os.path.join(tmp, "data"))
    proc = subprocess.Popen(opts.wrap.split() + [exe], env=env, cwd=tmp, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        listener.settimeout(30)
        conn, _ = listener.accept()
        peer = Peer(conn)
        peer.wait_for("USER ")
        peer.send(":srv 001 %s :Welcome\r\n:%s!u@h JOIN :#behind\r\n:%s!u@h JOIN :#front\r\nPING :ready\r\n"
                  % (NICK, NICK, NICK))
        peer.wait_for("PONG :ready")
        cpu0 = cpu_seconds(proc.pid)
        us0 = user_system(proc.pid)
        rows = [(0, rss_kb(proc.pid), 0.0, 0.0)]
        sent = 0
        t0 = time.monotonic()
        while sent < opts.lines:
            n = min(opts.block, opts.lines - sent)
            text = block(sent, n, into)
            peer.send(text)
            sent += n
            peer.send("PING :block%d\r\n" % sent)
            peer.wait_for("PONG :block%d" % sent)
            rows.append((sent * len(into), rss_kb(proc.pid), time.monotonic() - t0, cpu_seconds(proc.pid) - cpu0))
        print("into %s, logging %s" % (" and ".join("#" + c for c in into), "off" if opts.no_logs else "on"))
        print("lines received   RSS (KiB)   seconds   CPU s")
        for lines, rss, secs, cpu in rows:
            print("%14d %11d %9.1f %7.2f" % (lines, rss, secs, cpu))
        half = rows[len(rows) // 2]
        last = rows[-1]
        per_line = (last[1] - half[1]) * 1024.0 / max(1, last[0] - half[0])
        print("growth over the second half: %+.3f bytes per line (%d -> %d KiB)" % (per_line, half[1], last[1]))
        us1 = user_system(proc.pid)
        print("CPU: %.2f s per million lines received (%.2f s for %d lines; user %.2f s, system %.2f s)"
              % (last[3] / last[0] * 1e6, last[3], last[0], us1[0] - us0[0], us1[1] - us0[1]))
    finally:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
    try:
        folder = os.path.join(tmp, "data")
        print("log folder after SIGTERM: %.1f MiB" % (sum(os.path.getsize(os.path.join(d, f))
                                                          for d, _, fs in os.walk(folder) for f in fs) / 1048576.0))
        if not opts.no_logs:
            counts = logged_lines(folder)
            for c in into:
                got = counts.get("#" + c, 0)
                print("#%s.log: %d of %d lines%s" % (c, got, sent, "" if got == sent else "  LINES LOST"))
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
