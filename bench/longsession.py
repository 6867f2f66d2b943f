#!/usr/bin/env python3
"""A long session: Zorv's memory while lines keep coming for ever.

Starts the release zorv_bench_app (offscreen, a settings file naming a
loopback server of this script), registers it, joins #front and #behind, makes
#front the active window, then sends --lines lines into each of the two
channels, interleaved, in blocks. After every block a PING is sent and its
PONG awaited, so the client has processed every line before it; then its
resident memory is read. The report gives RSS against lines received and the
growth per line over the second half of the run, once the windows' bounds
(the active window's scrollback, a background window's 300 lines) hold.

    bench/longsession.py --build build/bench-rel [--lines 1000000] [--block 50000] [--scrollback N]
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


def block(start, count):
    out = []
    for i in range(start, start + count):
        out.append(":amy!u@h PRIVMSG #front :%d lorem ipsum dolor sit amet consectetur\r\n" % i)
        out.append(":bob!u@h PRIVMSG #behind :%d sed do eiusmod tempor incididunt ut labore\r\n" % i)
    return "".join(out)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default="build/bench-rel")
    ap.add_argument("--lines", type=int, default=1000000, help="lines into each channel")
    ap.add_argument("--block", type=int, default=50000, help="lines per channel between two readings")
    ap.add_argument("--scrollback", type=int, help="ScrollbackLines to run with (default: the program's)")
    opts = ap.parse_args()

    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    tmp = tempfile.mkdtemp(prefix="zorvlong-")
    exe = os.path.join(tmp, "zorv_bench_app")
    shutil.copy2(os.path.join(opts.build, "bench", "harness", "zorv_bench_app"), exe)
    with open(os.path.join(tmp, "ZORV.INI"), "w") as f:
        f.write("[User Info]\nNick=%s\nServer=127.0.0.1\nPort=%d\n" % (NICK, port))
        if opts.scrollback is not None:
            f.write("[Client Info]\nScrollbackLines=%d\n" % opts.scrollback)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_DATA_HOME=os.path.join(tmp, "data"))
    proc = subprocess.Popen([exe], env=env, cwd=tmp, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        listener.settimeout(30)
        conn, _ = listener.accept()
        peer = Peer(conn)
        peer.wait_for("USER ")
        peer.send(":srv 001 %s :Welcome\r\n:%s!u@h JOIN :#behind\r\n:%s!u@h JOIN :#front\r\nPING :ready\r\n"
                  % (NICK, NICK, NICK))
        peer.wait_for("PONG :ready")
        rows = [(0, rss_kb(proc.pid), 0.0)]
        sent = 0
        t0 = time.monotonic()
        while sent < opts.lines:
            n = min(opts.block, opts.lines - sent)
            peer.send(block(sent, n))
            sent += n
            peer.send("PING :block%d\r\n" % sent)
            peer.wait_for("PONG :block%d" % sent)
            rows.append((sent * 2, rss_kb(proc.pid), time.monotonic() - t0))
        print("lines received   RSS (KiB)   seconds")
        for lines, rss, secs in rows:
            print("%14d %11d %9.1f" % (lines, rss, secs))
        half = rows[len(rows) // 2]
        last = rows[-1]
        per_line = (last[1] - half[1]) * 1024.0 / max(1, last[0] - half[0])
        print("growth over the second half: %+.3f bytes per line (%d -> %d KiB)" % (per_line, half[1], last[1]))
        print("log folder: %.1f MiB" % (sum(os.path.getsize(os.path.join(d, f))
                                                for d, _, fs in os.walk(os.path.join(tmp, "data")) for f in fs)
                                            / 1048576.0))
    finally:
        proc.terminate()
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
        shutil.rmtree(tmp, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
