"""Scripted IRC flood server for the benchmark (Python standard library only).

One FloodServer serves one client connection on a loopback port that the
system hands out. It registers the client (CAP LS is answered with an empty
list, NICK and USER are answered with 001..004 and an end of MOTD), sends the
scenario's set-up lines, synchronises with "PING :bench-ready", then sends the
whole flood as fast as the client reads it, followed by "PING :bench-end".

Figures, all taken here on the server side:
  seconds     first flooded byte sent -> the client's "PONG :bench-end" read
  busy_after  how long after that PONG the client still answers a probe PING
              late (> PROBE_SLOW seconds): a client that answers the PING
              before it paints is busy painting then.

Every scenario also writes what a client must show after it (expect()): the
channel list's rows, a channel's nick list, the private windows and their
line counts. The in-process harness checks Zorv against it.
"""

import json
import random
import socket
import threading
import time

SERVER = "flood.bench"
PROBE_SLOW = 0.020      # a probe answered later than this counts as busy
PROBE_GAP = 0.005       # pause between probes
PROBE_QUIET = 0.300     # this long with only quick answers ends the probing
PROBE_LIMIT = 10.0      # probing gives up after this long


def _nicks(prefix, n):
    return ["%s%05d" % (prefix, i) for i in range(n)]


def _names_lines(me, channel, names, width=400):
    """353 lines for names (each line at most about width bytes of names)."""
    out, cur, size = [], [], 0
    for n in names:
        if cur and size + len(n) + 1 > width:
            out.append(":%s 353 %s = %s :%s" % (SERVER, me, channel, " ".join(cur)))
            cur, size = [], 0
        cur.append(n)
        size += len(n) + 1
    if cur:
        out.append(":%s 353 %s = %s :%s" % (SERVER, me, channel, " ".join(cur)))
    return out


WORDS = ("lorem ipsum dolor sit amet consectetur adipiscing elit sed do eiusmod tempor "
         "incididunt ut labore et dolore magna aliqua enim ad minim veniam quis nostrud").split()


def _text(rng, i):
    k = 4 + (i % 9)
    return "%d %s" % (i, " ".join(rng.choice(WORDS) for _ in range(k)))


class Scenario:
    """setup(me) -> lines sent before the ready PING; flood(me) -> the flood lines;
    expect(me) -> what the client must show after the flood."""

    name = ""
    texts = 0   # bytes of display text the client keeps after the flood (estimate)

    def __init__(self, size):
        self.size = size
        self.rng = random.Random(8)

    def setup(self, me):
        return []

    def flood(self, me):
        return []

    def expect(self, me):
        return {}


class Messages(Scenario):
    """size messages in one channel of 500 members."""

    name = "messages"
    channel = "#flood"

    def setup(self, me):
        self.members = _nicks("m", 500)
        return ([":%s!u@h JOIN %s" % (me, self.channel)] +
                _names_lines(me, self.channel, ["@" + me] + self.members) +
                [":%s 366 %s %s :End of /NAMES list." % (SERVER, me, self.channel)])

    def flood(self, me):
        out = []
        self.last = ""
        kept = 0
        for i in range(self.size):
            nick = self.members[i % len(self.members)]
            text = self.text(i)
            out.append(":%s!u@h PRIVMSG %s :%s" % (nick, self.channel, text))
            kept += len(nick) + 2 + len(text)
            self.last = "<%s>%s" % (nick, text)
        self.texts = kept
        return out

    def expect(self, me):
        return {"windows": {self.channel: {"messages": self.size, "last": self.last}},
                "nicks": {self.channel: ["@" + me] + self.members}}

    def text(self, i):
        return _text(self.rng, i)


def _coloured(rng, i):
    """A line in the style of a bot or a colourful user: bold, colours with and
    without a background, underline, italics, reverse and a reset."""
    words = [rng.choice(WORDS) for _ in range(4 + (i % 9))]
    fg, bg = i % 16, (i * 7) % 16
    return ("\x02%d\x02 \x03%02d,%02d%s\x03 %s \x1f%s\x1f \x03%d%s \x1d%s\x1d \x16%s\x0f %s"
            % (i, fg, bg, words[0], " ".join(words[1:-3]), words[-3], (fg + 3) % 16, words[-2],
               words[-1], words[0], words[1]))


class Colours(Messages):
    """size channel messages with bold, colour and other formatting codes."""

    name = "colours"
    channel = "#colours"

    def text(self, i):
        return _coloured(self.rng, i)


class Names(Scenario):
    """A names burst of size members into a channel just joined."""

    name = "names"
    channel = "#names"

    def setup(self, me):
        return [":%s!u@h JOIN %s" % (me, self.channel)]

    def flood(self, me):
        self.members = ["@" + me] + _nicks("n", self.size)
        lines = _names_lines(me, self.channel, self.members)
        self.texts = sum(len(x) for x in lines)
        return lines + [":%s 366 %s %s :End of /NAMES list." % (SERVER, me, self.channel)]

    def expect(self, me):
        return {"nicks": {self.channel: self.members}}


class Listing(Scenario):
    """A channel list of size channels."""

    name = "list"

    def flood(self, me):
        out = [":%s 321 %s Channel :Users  Name" % (SERVER, me)]
        self.rows = []
        for i in range(self.size):
            ch = "#chan%05d" % i
            users = 1 + (i * 7919) % 500
            topic = "topic of channel %d %s" % (i, self.rng.choice(WORDS))
            out.append(":%s 322 %s %s %d :%s" % (SERVER, me, ch, users, topic))
            self.rows.append(ch)
        out.append(":%s 323 %s :End of /LIST" % (SERVER, me))
        self.texts = sum(len(x) for x in out)
        return out

    def expect(self, me):
        return {"channels": self.rows}


class Churn(Scenario):
    """size join, part, quit, nick and op events in a channel of 1000 members."""

    name = "churn"
    channel = "#churn"

    def setup(self, me):
        self.members = {n: False for n in _nicks("c", 1000)}  # nick -> op
        self.fresh = 0
        return ([":%s!u@h JOIN %s" % (me, self.channel)] +
                _names_lines(me, self.channel, ["@" + me] + list(self.members)) +
                [":%s 366 %s %s :End of /NAMES list." % (SERVER, me, self.channel)])

    def _new(self):
        self.fresh += 1
        return "j%06d" % self.fresh

    def flood(self, me):
        rng, ch, out = self.rng, self.channel, []
        order = list(self.members)  # members in a list for random picks
        index = {n: i for i, n in enumerate(order)}

        def drop(n):
            i = index.pop(n)
            last = order.pop()
            if last != n:
                order[i] = last
                index[last] = i
            del self.members[n]

        def add(n, op=False):
            index[n] = len(order)
            order.append(n)
            self.members[n] = op

        texts = 0
        for i in range(self.size):
            kind = i % 5
            if kind == 0 or len(order) < 10:
                n = self._new()
                add(n)
                line = ":%s!u@h JOIN %s" % (n, ch)
            else:
                n = order[rng.randrange(len(order))]
                if kind == 1:
                    drop(n)
                    line = ":%s!u@h PART %s" % (n, ch)
                elif kind == 2:
                    drop(n)
                    line = ":%s!u@h QUIT :gone %d" % (n, i)
                elif kind == 3:
                    op = self.members[n]
                    drop(n)
                    new = self._new()
                    add(new, op)
                    line = ":%s!u@h NICK :%s" % (n, new)
                else:
                    give = not self.members[n]
                    self.members[n] = give
                    line = ":ChanServ!s@services MODE %s %so %s" % (ch, "+" if give else "-", n)
            texts += len(line)
            out.append(line)
        self.texts = texts
        return out

    def expect(self, me):
        return {"nicks": {self.channel: ["@" + me] + [("@" if op else "") + n
                                                       for n, op in self.members.items()]}}


class Private(Scenario):
    """size private messages from 200 senders."""

    name = "private"
    senders = 200

    def flood(self, me):
        self.nicks = _nicks("p", self.senders)
        self.counts = {n: 0 for n in self.nicks}
        self.last = {}
        out = []
        texts = 0
        for i in range(self.size):
            n = self.nicks[i % self.senders]
            text = _text(self.rng, i)
            out.append(":%s!u@h PRIVMSG %s :%s" % (n, me, text))
            self.counts[n] += 1
            self.last[n] = "<%s>%s" % (n, text)
            texts += len(n) + 2 + len(text)
        self.texts = texts
        return out

    def expect(self, me):
        return {"windows": {n: {"messages": c, "last": self.last[n]} for n, c in self.counts.items()}}


class Wave(Scenario):
    """A spam wave: size senders, one private message each, sent in batches of
    250 a little apart, each batch followed by a PING; the figures are how late
    those PINGs are answered while the wave lasts."""

    name = "wave"
    batch = 250
    gap = 0.2   # seconds between batches

    def batches(self, me):
        self.nicks = _nicks("w", self.size)
        self.last = {}
        out, texts = [], 0
        for start in range(0, self.size, self.batch):
            lines = []
            for i in range(start, min(start + self.batch, self.size)):
                n = self.nicks[i]
                text = _text(self.rng, i)
                lines.append(":%s!u@h PRIVMSG %s :%s" % (n, me, text))
                self.last[n] = "<%s>%s" % (n, text)
                texts += len(n) + 2 + len(text)
            out.append(lines)
        self.texts = texts
        return out

    def expect(self, me):
        return {"windows": {n: {"messages": 1, "last": self.last[n]} for n in self.nicks}}


class Idle(Scenario):
    """No flood: five windows (server, three channels, one private) for the idle figure."""

    name = "idle"

    def setup(self, me):
        out = []
        for ch in ("#one", "#two", "#three"):
            out.append(":%s!u@h JOIN %s" % (me, ch))
            out += _names_lines(me, ch, ["@" + me] + _nicks("i", 50))
            out.append(":%s 366 %s %s :End of /NAMES list." % (SERVER, me, ch))
            out.append(":i00001!u@h PRIVMSG %s :hello %s" % (ch, ch))
        out.append(":friend!u@h PRIVMSG %s :hello" % me)
        return out


SCENARIOS = {c.name: c for c in (Messages, Colours, Names, Listing, Churn, Private, Wave, Idle)}
DEFAULT_SIZES = {"messages": 100000, "colours": 100000, "names": 20000, "list": 50000, "churn": 20000,
                 "private": 20000, "wave": 5000, "idle": 0}


class FloodServer:
    """Serves one scenario to one client. start() returns the port; the figures
    are in .result once .done is set."""

    def __init__(self, scenario, settle=0.5, timeout=180.0, log=None):
        self.scenario = scenario
        self.settle = settle
        self.timeout = timeout
        self.log = log
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(1)
        self.port = self.sock.getsockname()[1]
        self.result = {}
        self.done = threading.Event()
        self.ready = threading.Event()      # the client answered bench-ready
        self.release = threading.Event()    # the driver lets the flood start
        self.finish = threading.Event()     # the driver ends the session
        self._pongs = {}
        self._cv = threading.Condition()
        self.me = None

    def start(self):
        threading.Thread(target=self._serve, daemon=True).start()
        return self.port

    # -- reading the client ---------------------------------------------------

    def _reader(self, conn):
        buf = b""
        registered = {"nick": False, "user": False}
        while True:
            try:
                data = conn.recv(65536)
            except OSError:
                break
            if not data:
                break
            buf += data
            while b"\n" in buf:
                raw, buf = buf.split(b"\n", 1)
                line = raw.rstrip(b"\r").decode("utf-8", "replace")
                self._client_line(conn, line, registered)
        with self._cv:
            self._pongs["<closed>"] = time.monotonic()
            self._cv.notify_all()

    def _send(self, conn, text):
        try:
            conn.sendall((text + "\r\n").encode("utf-8"))
        except OSError:
            pass

    def _client_line(self, conn, line, registered):
        if self.log:
            self.log.write("< %s\n" % line)
        words = line.split(" ")
        cmd = words[0].upper() if words else ""
        if cmd == "PONG":
            token = line.rsplit(":", 1)[-1] if ":" in line else words[-1]
            with self._cv:
                self._pongs.setdefault(token.strip(), time.monotonic())
                self._cv.notify_all()
        elif cmd == "PING":
            arg = line[5:].lstrip(":")
            self._send(conn, ":%s PONG %s :%s" % (SERVER, SERVER, arg))
        elif cmd == "CAP" and len(words) > 1 and words[1].upper() == "LS":
            self._send(conn, ":%s CAP * LS :" % SERVER)
        elif cmd == "NICK" and len(words) > 1:
            nick = words[1].lstrip(":")
            if self.me is None:
                self.me = nick
            registered["nick"] = True
            self._welcome(conn, registered)
        elif cmd == "USER":
            registered["user"] = True
            self._welcome(conn, registered)

    def _welcome(self, conn, registered):
        if not (registered["nick"] and registered["user"]) or registered.get("welcomed"):
            return
        registered["welcomed"] = True
        me = self.me
        for line in (":%s 001 %s :Welcome to the flood bench %s" % (SERVER, me, me),
                     ":%s 002 %s :Your host is %s" % (SERVER, me, SERVER),
                     ":%s 003 %s :This server was created today" % (SERVER, me),
                     ":%s 004 %s %s bench o o" % (SERVER, me, SERVER),
                     ":%s 005 %s CHANTYPES=#& PREFIX=(ov)@+ CHANMODES=b,k,l,imnpst :are supported"
                     % (SERVER, me),
                     ":%s 375 %s :- MOTD -" % (SERVER, me),
                     ":%s 376 %s :End of MOTD" % (SERVER, me)):
            self._send(conn, line)
        with self._cv:
            self._pongs["<registered>"] = time.monotonic()
            self._cv.notify_all()

    def _send_wave(self, conn, sc, me):
        """Sends the batches, each followed by "PING :wave-<k>", gap seconds
        apart, then "PING :bench-end"; returns when the first batch went out."""
        batches = sc.batches(me)
        self.result["lines"] = sum(len(b) for b in batches)
        self.result["texts"] = sc.texts
        self._wave_sent = {}
        nbytes = 0
        t0 = time.monotonic()
        for k, lines in enumerate(batches):
            due = t0 + k * sc.gap
            while time.monotonic() < due:
                time.sleep(max(0.0, min(0.01, due - time.monotonic())))
            payload = ("\r\n".join(lines + ["PING :wave-%d" % k]) + "\r\n").encode("utf-8")
            nbytes += len(payload)
            conn.sendall(payload)
            self._wave_sent["wave-%d" % k] = due   # a late send counts against the client too
        self._send(conn, "PING :bench-end")
        self.result["bytes"] = nbytes
        return t0

    def _ping_delays(self):
        """How late each batch's PING was answered: the largest and the median."""
        delays = []
        with self._cv:
            for token, sent in self._wave_sent.items():
                got = self._pongs.get(token)
                if got is not None:
                    delays.append(got - sent)
        delays.sort()
        if delays:
            self.result["ping_max"] = delays[-1]
            self.result["ping_median"] = delays[len(delays) // 2]
        self.result["pings_answered"] = len(delays)

    def _wait(self, token, deadline):
        with self._cv:
            while token not in self._pongs and "<closed>" not in self._pongs:
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self._cv.wait(left)
            return self._pongs.get(token)

    # -- the session ------------------------------------------------------------

    def _serve(self):
        try:
            self._session()
        except Exception as e:  # reported, never raised into the driver's thread
            self.result["error"] = "%s: %s" % (type(e).__name__, e)
        finally:
            self.done.set()

    def _session(self):
        self.sock.settimeout(self.timeout)
        conn, _ = self.sock.accept()
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        threading.Thread(target=self._reader, args=(conn,), daemon=True).start()
        deadline = time.monotonic() + self.timeout
        if self._wait("<registered>", deadline) is None:
            raise RuntimeError("client did not register")
        time.sleep(0.2)  # clients send their own start-up lines after 001
        me = self.me
        sc = self.scenario
        for line in sc.setup(me):
            self._send(conn, line)
        self._send(conn, "PING :bench-ready")
        if self._wait("bench-ready", deadline) is None:
            raise RuntimeError("no PONG for bench-ready")
        time.sleep(self.settle)
        self.ready.set()
        self.release.wait(self.timeout)
        if hasattr(sc, "batches"):
            t0 = self._send_wave(conn, sc, me)
        else:
            payload = ("\r\n".join(sc.flood(me) + ["PING :bench-end"]) + "\r\n").encode("utf-8")
            self.result["lines"] = payload.count(b"\n") - 1
            self.result["bytes"] = len(payload)
            self.result["texts"] = sc.texts
            t0 = time.monotonic()
            conn.sendall(payload)
            self.result["sent"] = time.monotonic() - t0
        t1 = self._wait("bench-end", t0 + self.timeout)
        if t1 is None or "bench-end" not in self._pongs:
            raise RuntimeError("no PONG for bench-end")
        self.result["seconds"] = t1 - t0
        # Probe: how long the client stays busy after its PONG.
        last_busy = t1
        quiet_since = time.monotonic()
        n = 0
        while time.monotonic() - t1 < PROBE_LIMIT:
            n += 1
            token = "bench-probe-%d" % n
            sent = time.monotonic()
            self._send(conn, "PING :" + token)
            got = self._wait(token, sent + PROBE_LIMIT)
            if got is None:
                break
            if got - sent > PROBE_SLOW:
                last_busy = got
                quiet_since = got
            elif got - quiet_since > PROBE_QUIET:
                break
            time.sleep(PROBE_GAP)
        self.result["busy_after"] = last_busy - t1
        if hasattr(sc, "batches"):
            self._ping_delays()
        self.result["expect"] = sc.expect(me)
        self.result["me"] = me
        self.finish.wait(self.timeout)
        try:
            conn.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass
        conn.close()
        self.sock.close()


def make(name, size=None):
    cls = SCENARIOS[name]
    return cls(DEFAULT_SIZES[name] if size is None else size)


if __name__ == "__main__":
    # A standalone server for trying a client by hand: prints the port, then the figures.
    import argparse
    ap = argparse.ArgumentParser()
    ap.add_argument("scenario", choices=sorted(SCENARIOS))
    ap.add_argument("--size", type=int)
    ap.add_argument("--expect", help="write what the client must show to this JSON file")
    a = ap.parse_args()
    srv = FloodServer(make(a.scenario, a.size))
    print(srv.start(), flush=True)
    srv.ready.wait(600)
    srv.release.set()
    while not srv.done.is_set() and "busy_after" not in srv.result and "error" not in srv.result:
        time.sleep(0.05)
    if a.expect:
        with open(a.expect, "w") as f:
            json.dump(srv.result.get("expect", {}), f)
    out = {k: v for k, v in srv.result.items() if k != "expect"}
    print(json.dumps(out), flush=True)
    srv.finish.set()
    srv.done.wait(10)
