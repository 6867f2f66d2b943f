"""Flood benchmark driver: runs Zorv and the installed IRC clients against the
flood server, scenario by scenario, interleaved, and writes bench/RESULTS.md.

Clients (each started fresh per run, with a fresh settings directory):
  zorv        build/<dir>/bench/harness/zorv_bench_app: the program as Program.cpp
              makes it, pressing Connect itself after its first paint; offscreen
              by default, on Xvfb with --xvfb
  zorv-nolog  the same with [Client Info] Logging=0 (the logging A/B)
  zorv-x      the release zorv binary itself on Xvfb, Connect pressed with xdotool
  harness     TMainForm in-process (offscreen), checks every line arrived
  harness-nolog  the same with Logging=0
  irssi       irssi in a detached tmux session
  weechat     weechat-headless
  hexchat     hexchat on Xvfb

Everything lives under a temporary directory; every process started here is
ended by its own id (tmux by its own socket).
"""

import argparse
import datetime
import json
import os
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

import flood

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
NICK = "benchnick"
RENDERERS = ("irssi", "hexchat")


def log(*a):
    print(*a, file=sys.stderr, flush=True)


def proc_status(pid, key):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])  # kB
    except (OSError, ValueError):
        pass
    return None


def proc_cpu(pid):
    """CPU seconds of a process so far, all its threads, in nanoseconds
    (schedstat), or in clock ticks where schedstat is missing."""
    try:
        total = 0
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        return total / 1e9
    except (OSError, ValueError, IndexError):
        pass
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, ValueError, IndexError):
        return None


def stop(proc, grace=3.0):
    if proc is None or proc.poll() is not None:
        return
    proc.send_signal(signal.SIGTERM)
    try:
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(5)


class Xvfb:
    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1280x1024x24",
                                      "-nolisten", "tcp"], pass_fds=(w,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r) as f:
            self.display = ":" + f.readline().strip()

    def close(self):
        stop(self.proc)


def tool_version(cmd):
    try:
        out = subprocess.run(cmd, capture_output=True, text=True, timeout=10)
        return (out.stdout or out.stderr).strip().splitlines()[0]
    except Exception:
        return "?"


# ---------------------------------------------------------------------------
# Clients. start(port, tmp) returns (pid to measure, cleanup callable, extra dict).

class Client:
    name = ""

    def __init__(self, opts, xvfb):
        self.opts = opts
        self.xvfb = xvfb

    def env(self, display=False):
        e = dict(os.environ)
        e.pop("SESSION_MANAGER", None)
        e["DBUS_SESSION_BUS_ADDRESS"] = "disabled:"
        e["NO_AT_BRIDGE"] = "1"
        if display:
            e["DISPLAY"] = self.xvfb.display
            e.pop("QT_QPA_PLATFORM", None)
        return e


def write_zorv_ini(directory, port, extra=""):
    with open(os.path.join(directory, "ZORV.INI"), "w") as f:
        f.write("[User Info]\nNick=%s\nServer=127.0.0.1\nPort=%d\n%s" % (NICK, port, extra))


NO_LOGS = "[Client Info]\nLogging=0\n"


class ZorvApp(Client):
    name = "zorv"
    ini = ""

    def start(self, port, tmp):
        exe = os.path.join(tmp, "zorv_bench_app")
        shutil.copy2(os.path.join(self.opts.build, "bench", "harness", "zorv_bench_app"), exe)
        write_zorv_ini(tmp, port, self.ini)
        env = self.env(display=self.opts.xvfb)
        env["XDG_DATA_HOME"] = os.path.join(tmp, "data")  # its logs go with the run
        if not self.opts.xvfb:
            env["QT_QPA_PLATFORM"] = "offscreen"
        prefix = self.opts.wrap.split() if self.opts.wrap and self.opts.wrap_zorv else []
        t0 = time.monotonic_ns()
        p = subprocess.Popen(prefix + [exe], env=env, cwd=tmp, stdout=subprocess.PIPE,
                             stderr=open(os.path.join(tmp, "stderr.txt"), "w"), text=True)
        line = p.stdout.readline().split()
        extra = {}
        if len(line) == 2 and line[0] == "painted":
            extra["startup"] = (int(line[1]) - t0) / 1e9
        return p.pid, lambda: stop(p), extra


class ZorvNoLog(ZorvApp):
    """zorv with [Client Info] Logging=0: what logging costs is zorv minus this."""

    name = "zorv-nolog"
    ini = NO_LOGS


class ZorvX(Client):
    """The release binary itself on Xvfb; Alt+C presses Connect."""

    name = "zorv-x"

    def start(self, port, tmp):
        exe = os.path.join(tmp, "zorv")
        shutil.copy2(os.path.join(self.opts.build, "src", "app", "zorv"), exe)
        write_zorv_ini(tmp, port)
        env = self.env(display=True)
        env["XDG_DATA_HOME"] = os.path.join(tmp, "data")
        p = subprocess.Popen([exe], env=env, cwd=tmp, stdout=subprocess.DEVNULL,
                             stderr=open(os.path.join(tmp, "stderr.txt"), "w"))
        wid = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(p.pid)],
                             env=env, capture_output=True, text=True, timeout=20).stdout.split()
        if wid:
            subprocess.run(["xdotool", "windowfocus", "--sync", wid[0]], env=env, timeout=10,
                           capture_output=True)
            subprocess.run(["xdotool", "key", "--window", wid[0], "alt+c"], env=env, timeout=10,
                           capture_output=True)
        return p.pid, lambda: stop(p), {}


class Irssi(Client):
    name = "irssi"

    def start(self, port, tmp):
        home = os.path.join(tmp, "irssi")
        os.makedirs(home)
        with open(os.path.join(home, "config"), "w") as f:
            f.write('settings = { core = { real_name = "bench"; user_name = "bench"; nick = "%s"; }; '
                    '"fe-common/core" = { autolog = "no"; }; };\n' % NICK)
        sock = "zorvbench%d" % os.getpid()
        cmd = "exec irssi --home=%s -c 127.0.0.1 -p %d -n %s" % (home, port, NICK)
        subprocess.run(["tmux", "-L", sock, "-f", "/dev/null", "new-session", "-d", "-x", "160", "-y", "48",
                        cmd], check=True, env=self.env())
        pid = int(subprocess.run(["tmux", "-L", sock, "list-panes", "-F", "#{pane_pid}"],
                                 capture_output=True, text=True, check=True).stdout.split()[0])

        def cleanup():
            subprocess.run(["tmux", "-L", sock, "kill-server"], capture_output=True)
        return pid, cleanup, {}


class Weechat(Client):
    name = "weechat"

    def start(self, port, tmp):
        home = os.path.join(tmp, "weechat")
        os.makedirs(home)
        cmds = ("/server add bench 127.0.0.1/%d;/set irc.server.bench.nicks %s;"
                "/set irc.server.bench.ssl off;/set irc.server.bench.username bench;"
                "/connect bench" % (port, NICK))
        p = subprocess.Popen(["weechat-headless", "--dir", home, "-r", cmds], env=self.env(),
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        return p.pid, lambda: stop(p), {}


class Hexchat(Client):
    name = "hexchat"

    def start(self, port, tmp):
        cfg = os.path.join(tmp, "hexchat")
        os.makedirs(cfg)
        with open(os.path.join(cfg, "hexchat.conf"), "w") as f:
            f.write("version = 2.16.1\nirc_nick1 = %s\nirc_nick2 = %s_\nirc_nick3 = %s__\n"
                    "irc_user_name = bench\nirc_real_name = bench\ngui_slist_skip = 1\n"
                    "gui_join_dialog = 0\ngui_tray = 0\nirc_logging = 0\nnet_throttle = 0\n" % (NICK, NICK, NICK))
        # As root hexchat first asks to be told that this is unwise: it runs as nobody.
        env = self.env(display=True)
        prefix = []
        if os.geteuid() == 0:
            os.chmod(tmp, 0o755)
            subprocess.run(["chown", "-R", "nobody", cfg], check=True)
            env["HOME"] = cfg
            prefix = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"]
        p = subprocess.Popen(prefix + ["hexchat", "-a", "-n", "--cfgdir=" + cfg, "irc://127.0.0.1:%d/" % port],
                             env=env, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return p.pid, lambda: stop(p), {}


class Harness(Client):
    name = "harness"
    extra_env = {}
    ini = ""

    def start(self, port, tmp):
        self.expect_file = os.path.join(tmp, "expect.json")
        env = self.env()
        env["QT_QPA_PLATFORM"] = "offscreen"
        env["XDG_DATA_HOME"] = os.path.join(tmp, "data")  # its logs go with the run
        if self.ini:
            write_zorv_ini(tmp, port, self.ini)
        env.update(self.extra_env)
        exe = os.path.join(self.opts.build, "bench", "harness", "zorv_bench_harness")
        prefix = self.opts.wrap.split() if self.opts.wrap else []
        self.proc = subprocess.Popen(prefix + [exe, str(port), self.expect_file, tmp], env=env, cwd=tmp,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        return self.proc.pid, lambda: stop(self.proc), {}

    def finish(self, expect):
        with open(self.expect_file + ".part", "w") as f:
            json.dump(expect, f)
        os.rename(self.expect_file + ".part", self.expect_file)

    def report(self):
        try:
            out, _ = self.proc.communicate(timeout=120)
            return json.loads(out.strip().splitlines()[-1])
        except Exception as e:
            return {"ok": False, "errors": ["harness: %s" % e]}


class HarnessAll(Harness):
    """The harness with the private window budget lifted: every sender gets a
    window (what opening thousands of windows costs)."""

    name = "harness-all"
    extra_env = {"ZORV_BENCH_UNBUDGETED": "1"}


class HarnessNoLog(Harness):
    name = "harness-nolog"
    ini = NO_LOGS


CLIENTS = {c.name: c for c in (ZorvApp, ZorvNoLog, ZorvX, Harness, HarnessNoLog, HarnessAll, Irssi, Weechat,
                               Hexchat)}


def run_one(client, scen_name, size, opts):
    sc = flood.make(scen_name, size)
    settle = 2.0 if scen_name == "idle" else opts.settle
    srv = flood.FloodServer(sc, settle=settle, timeout=opts.timeout)
    port = srv.start()
    tmp = tempfile.mkdtemp(prefix="zorvbench-")
    cleanup = None
    res = {"client": client.name, "scenario": scen_name}
    try:
        pid, cleanup, extra = client.start(port, tmp)
        res.update(extra)
        if not srv.ready.wait(opts.timeout) and not srv.done.is_set():
            raise RuntimeError("client never got ready")
        if "error" in srv.result:
            raise RuntimeError(srv.result["error"])
        res["idle_rss_kb"] = proc_status(pid, "VmRSS")
        cpu0 = proc_cpu(pid)
        srv.release.set()
        deadline = time.monotonic() + opts.timeout + 30
        while "busy_after" not in srv.result and not srv.done.is_set() and time.monotonic() < deadline:
            time.sleep(0.02)
        if "error" in srv.result:
            raise RuntimeError(srv.result["error"])
        res["peak_rss_kb"] = proc_status(pid, "VmHWM")
        res["rss_kb"] = proc_status(pid, "VmRSS")
        cpu1 = proc_cpu(pid)
        if cpu0 is not None and cpu1 is not None:
            res["cpu"] = cpu1 - cpu0
        for k in ("seconds", "busy_after", "lines", "bytes", "texts", "ping_max", "ping_median"):
            res[k] = srv.result.get(k)
        if isinstance(client, Harness):
            client.finish(srv.result.get("expect", {}))
            res["check"] = client.report()
        srv.finish.set()
    except Exception as e:
        res["error"] = "%s: %s" % (type(e).__name__, e)
    finally:
        srv.finish.set()
        srv.release.set()
        if cleanup:
            cleanup()
        srv.done.wait(10)
        shutil.rmtree(tmp, ignore_errors=True)
    log("  %-8s %-9s %s" % (client.name, scen_name,
                            " ".join("%s=%s" % (k, ("%.3f" % v) if isinstance(v, float) else v)
                                     for k, v in res.items() if k not in ("client", "scenario"))))
    return res


# ---------------------------------------------------------------------------
# Report

def med(rows, key):
    vals = [r[key] for r in rows if r.get(key) is not None and "error" not in r]
    return statistics.median(vals) if vals else None


def fmt(v, pat="%.3f"):
    return "-" if v is None else pat % v


def write_results(path, runs, opts, clients, scenarios, sizes, elapsed, versions):
    by = {}
    for r in runs:
        by.setdefault((r["client"], r["scenario"]), []).append(r)
    flooded = [s for s in scenarios if s != "idle"]
    L = []
    L.append("# Flood benchmark results\n")
    L.append("Run on %s, %d repetitions interleaved, medians; whole run %.0f s.\n"
             % (datetime.date.today().isoformat(), opts.reps, elapsed))
    L.append("Command: `%s`\n" % opts.command)
    L.append("Versions: " + "; ".join("%s %s" % kv for kv in versions.items()) + "\n")
    L.append("Sizes: " + ", ".join("%s %d" % (s, sizes[s]) for s in flooded) + "\n")
    L.append("Zorv ran as `zorv_bench_app` (%s); `zorv-x` is the release `zorv` on Xvfb; "
             "`harness` is TMainForm in-process, offscreen, with the line checks.\n"
             % ("Xvfb" if opts.xvfb else "offscreen"))
    L.append("## Seconds from the first flooded byte to `PONG :bench-end` (median)\n")
    L.append("| scenario | " + " | ".join(clients) + " | zorv / fastest renderer |")
    L.append("|---" * (len(clients) + 2) + "|")
    for s in flooded:
        cells = [fmt(med(by.get((c, s), []), "seconds")) for c in clients]
        best = [med(by.get((c, s), []), "seconds") for c in RENDERERS if c in clients]
        best = [b for b in best if b is not None]
        z = med(by.get(("zorv", s), []), "seconds")
        ratio = fmt(z / min(best), "%.2f") if best and z is not None and min(best) > 0 else "-"
        L.append("| %s | %s | %s |" % (s, " | ".join(cells), ratio))
    L.append("\n## Client CPU seconds from the first flooded byte to the end of the probes (median)\n")
    L.append("On this shared 2-core machine CPU time is steadier than wall time: other developers' builds "
             "take turns on the cores, which stretches wall time but not CPU time.\n")
    L.append("| scenario | " + " | ".join(clients) + " |")
    L.append("|---" * (len(clients) + 1) + "|")
    for s in flooded:
        L.append("| %s | %s |" % (s, " | ".join(fmt(med(by.get((c, s), []), "cpu")) for c in clients)))
    pairs = [(a, a + "-nolog") for a in ("zorv", "harness") if a in clients and a + "-nolog" in clients]
    if pairs:
        L.append("\n## Logging on against `[Client Info] Logging=0` (median seconds and CPU seconds)\n")
        L.append("| scenario | " + " | ".join("%s s | %s s | ratio | %s CPU | %s CPU | ratio" % (a, b, a, b)
                                              for a, b in pairs) + " |")
        L.append("|---" * (6 * len(pairs) + 1) + "|")
        for s in flooded:
            cells = []
            for a, b in pairs:
                for key in ("seconds", "cpu"):
                    x, y = med(by.get((a, s), []), key), med(by.get((b, s), []), key)
                    cells += [fmt(x), fmt(y), fmt(x / y, "%.2f") if x is not None and y else "-"]
            L.append("| %s | %s |" % (s, " | ".join(cells)))
    L.append("\n## Busy after the PONG, seconds (median)\n")
    L.append("| scenario | " + " | ".join(clients) + " |")
    L.append("|---" * (len(clients) + 1) + "|")
    for s in flooded:
        L.append("| %s | %s |" % (s, " | ".join(fmt(med(by.get((c, s), []), "busy_after")) for c in clients)))
    L.append("\n## Lines per second (median)\n")
    L.append("| scenario | " + " | ".join(clients) + " |")
    L.append("|---" * (len(clients) + 1) + "|")
    for s in flooded:
        cells = []
        for c in clients:
            rows = [r for r in by.get((c, s), []) if r.get("seconds")]
            cells.append(fmt(statistics.median([r["lines"] / r["seconds"] for r in rows]), "%.0f")
                         if rows else "-")
        L.append("| %s | %s |" % (s, " | ".join(cells)))
    L.append("\n## Peak resident memory, MiB (median; idle = five windows open)\n")
    L.append("| scenario | " + " | ".join(clients) + " |")
    L.append("|---" * (len(clients) + 1) + "|")
    for s in scenarios:
        key = "rss_kb" if s == "idle" else "peak_rss_kb"
        L.append("| %s | %s |" % (s, " | ".join(fmt((med(by.get((c, s), []), key) or 0) / 1024 or None, "%.1f")
                                               for c in clients)))
    # Zorv's own targets.
    L.append("\n## Zorv against the targets\n")
    zs = med(by.get(("zorv", "idle"), []), "startup")
    L.append("- Start-up to painted main window: %s s (target < 0.150 s)" % fmt(zs))
    zi = med(by.get(("zorv", "idle"), []), "rss_kb")
    hi = med(by.get(("hexchat", "idle"), []), "rss_kb")
    if zi and hi:
        L.append("- Idle memory with five windows: zorv %.1f MiB, hexchat %.1f MiB, ratio %.2f (target <= 1.3)"
                 % (zi / 1024, hi / 1024, zi / hi))
    for s in flooded:
        rows = [r for r in by.get(("zorv", s), []) if r.get("peak_rss_kb") and r.get("idle_rss_kb")]
        kept = [r["check"].get("kept_bytes") for r in by.get(("harness", s), []) if r.get("check")]
        if rows and kept:
            added = statistics.median([(r["peak_rss_kb"] - r["idle_rss_kb"]) * 1024 for r in rows])
            k = statistics.median(kept)
            L.append("- %s: flood adds %.1f MiB over idle; text kept %.1f MiB; ratio %.2f (target <= 2)"
                     % (s, added / 2 ** 20, k / 2 ** 20, added / k if k else 0))
    for s in flooded:
        if s == "wave":  # paced by the server: its time is the pacing, not the client's
            continue
        z = med(by.get(("zorv", s), []), "seconds")
        b = med(by.get(("zorv", s), []), "busy_after")
        best = [(med(by.get((c, s), []), "seconds"), c) for c in RENDERERS if c in clients]
        best = [x for x in best if x[0] is not None]
        if z is not None and best:
            t, c = min(best)
            L.append("- %s: zorv %.3f s vs %s %.3f s: %s (target <= half); busy after %.3f s (target <= 0.1)"
                     % (s, z, c, t, "met" if z <= t / 2 else "MISSED by %.0f%%" % ((z / (t / 2) - 1) * 100), b))
    L.append("\n## In-process harness (TMainForm, offscreen) beside the whole program\n")
    L.append("| scenario | zorv (whole program) s | harness s | checks |")
    L.append("|---|---|---|---|")
    for s in flooded:
        hr = by.get(("harness", s), [])
        checks = [r.get("check", {}) for r in hr]
        okay = all(c.get("ok") for c in checks) and checks
        errs = sorted({e for c in checks for e in c.get("errors", [])})
        L.append("| %s | %s | %s | %s |" % (s, fmt(med(by.get(("zorv", s), []), "seconds")),
                                          fmt(med(hr, "seconds")),
                                          "all lines arrived (%d runs)" % len(checks) if okay
                                          else "FAILED: " + "; ".join(errs[:3])))
    if "wave" in scenarios:
        L.append("\n## Private-message wave: %d senders, one line each, in batches of %d every %.1f s "
                 "(median of the runs)\n" % (sizes["wave"], flood.Wave.batch, flood.Wave.gap))
        L.append("| client | CPU s during the wave | RSS MiB at the end | latest PING answer s | "
                 "median PING answer s | seconds to the last PONG | windows | KiB per window |")
        L.append("|---|---|---|---|---|---|---|---|")
        for c in clients:
            rows = by.get((c, "wave"), [])
            if not rows:
                continue
            rss = med(rows, "rss_kb")
            wins = [r["check"]["windows"] for r in rows if r.get("check", {}).get("windows")]
            per = [(r["rss_kb"] - r["idle_rss_kb"]) / r["check"]["windows"] for r in rows
                   if r.get("check", {}).get("windows", 0) > 100 and r.get("rss_kb") and r.get("idle_rss_kb")]
            L.append("| %s | %s | %s | %s | %s | %s | %s | %s |" % (
                c, fmt(med(rows, "cpu"), "%.2f"), fmt(rss / 1024 if rss else None, "%.1f"),
                fmt(med(rows, "ping_max")), fmt(med(rows, "ping_median")), fmt(med(rows, "seconds")),
                "%d" % statistics.median(wins) if wins else "-",
                "%.0f" % statistics.median(per) if per else "-"))
    errors = [r for r in runs if "error" in r]
    if errors:
        L.append("\n## Runs that failed\n")
        for r in errors:
            L.append("- %s %s: %s" % (r["client"], r["scenario"], r["error"]))
    L.append("\n## Raw runs\n")
    L.append("```")
    for r in runs:
        L.append(json.dumps({k: v for k, v in r.items()}, sort_keys=True))
    L.append("```")
    text = "\n".join(L) + "\n"
    if path:
        notes = ""
        if os.path.exists(path):
            old = open(path).read()
            marker = "<!-- notes -->"
            if marker in old:
                notes = old[old.index(marker):]
        with open(path, "w") as f:
            f.write(text + ("\n" + notes if notes else ""))
    return text


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--build", default=os.path.join(ROOT, "build", "bench-rel"))
    ap.add_argument("--clients", default="zorv,zorv-nolog,harness,zorv-x,irssi,hexchat",
                    help="also: harness-nolog, harness-all, weechat")
    ap.add_argument("--scenarios", default="messages,colours,names,list,churn,private,wave,idle")
    ap.add_argument("--reps", type=int, default=9)
    ap.add_argument("--scale", type=float, default=1.0, help="multiply every scenario size")
    ap.add_argument("--size", action="append", default=[], help="NAME=N for one scenario")
    ap.add_argument("--xvfb", action="store_true", help="run zorv_bench_app on Xvfb, not offscreen")
    ap.add_argument("--settle", type=float, default=0.5)
    ap.add_argument("--timeout", type=float, default=120.0)
    ap.add_argument("--wrap", default="", help="command prefix for the harness (e.g. valgrind)")
    ap.add_argument("--wrap-zorv", action="store_true", help="--wrap applies to zorv and zorv-nolog too")
    ap.add_argument("--out", default=os.path.join(HERE, "RESULTS.md"))
    ap.add_argument("--json", help="also write the raw runs here")
    opts = ap.parse_args()
    opts.build = os.path.abspath(opts.build)
    args = sys.argv[1:]
    if "--build" in args:  # bench/run passes its build directory
        i = args.index("--build")
        del args[i:i + 2]
    opts.command = " ".join(["bench/run"] + args)

    clients = [c for c in opts.clients.split(",") if c]
    scenarios = [s for s in opts.scenarios.split(",") if s]
    sizes = {s: int(flood.DEFAULT_SIZES[s] * opts.scale) for s in scenarios}
    for kv in opts.size:
        k, v = kv.split("=")
        sizes[k] = int(v)
    need_x = opts.xvfb or any(c in ("hexchat", "zorv-x") for c in clients)
    xvfb = Xvfb() if need_x else None
    versions = {"zorv": "(this tree, %s)" % subprocess.run(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"],
                                                           capture_output=True, text=True).stdout.strip()}
    if "irssi" in clients:
        versions["irssi"] = tool_version(["irssi", "--version"]).replace("irssi ", "")
    if "weechat" in clients:
        versions["weechat-headless"] = tool_version(["weechat-headless", "--version"])
    if "hexchat" in clients:
        versions["hexchat"] = tool_version(["hexchat", "--version"]).replace("hexchat ", "")
    objs = {c: CLIENTS[c](opts, xvfb) for c in clients}
    runs = []
    started = time.monotonic()
    try:
        for rep in range(opts.reps):
            for s in scenarios:
                log("rep %d, %s (%d)" % (rep + 1, s, sizes[s]))
                for c in clients:
                    if c.startswith("harness") and s == "idle":
                        continue
                    runs.append(run_one(objs[c], s, sizes[s], opts))
    finally:
        if xvfb:
            xvfb.close()
    elapsed = time.monotonic() - started
    if opts.json:
        with open(opts.json, "w") as f:
            json.dump(runs, f, indent=1)
    text = write_results(opts.out, runs, opts, clients, scenarios, sizes, elapsed, versions)
    print(text)
    bad = [r for r in runs if r["client"] == "harness" and not r.get("check", {}).get("ok")]
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
