#!/usr/bin/python3
"""Side-by-side benchmark of the helper against the engine's floor.

Every figure is measured in this one run, helper and floor runs interleaved (the order flips each
round), and reported as medians with the ratio helper / floor. bench/run.sh builds the programs
and calls this; see docs/performance.md for what each row means.

Standard library only. Every wait has a bound; every process started here (the programs, the
engine processes they start, Xvfb) is killed before this script ends.
"""

import argparse
import http.server
import os
import platform
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

REDIRECT_PREFIX = "ms-appx-web://broker.bench/cb"
REDIRECT_TARGET = REDIRECT_PREFIX + "?code=bench-code&state=bench"
STREAM_LINES = 200_000
IDLE_SECONDS = 10.0
START_TIMEOUT = 30.0
SIGNIN_TIMEOUT = 30.0
STREAM_TIMEOUT = 120.0
STOP_TIMEOUT = 15.0


def log(text):
    print(text, file=sys.stderr, flush=True)


def now_ns():
    # CLOCK_MONOTONIC: the same clock the stamps library reads inside the programs.
    return time.monotonic_ns()


# ---------------------------------------------------------------------------------------------
# Process trees through /proc. Every program is started in a session of its own, so its tree is
# every process whose session id is the program's pid, however the engine forks.


def _stat(pid):
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            data = f.read().decode("latin-1")
    except OSError:
        return None
    return data[data.rfind(")") + 2:].split()


def session_pids(sid):
    pids = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        fields = _stat(int(name))
        if fields is not None and int(fields[3]) == sid and fields[0] not in ("Z", "X"):
            pids.append(int(name))
    return pids


def thread_cpu_ns(pids):
    """{(pid, tid): nanoseconds on CPU} for every thread of the given processes."""
    times = {}
    for pid in pids:
        try:
            tids = os.listdir("/proc/%d/task" % pid)
        except OSError:
            continue
        for tid in tids:
            try:
                with open("/proc/%d/task/%s/schedstat" % (pid, tid)) as f:
                    times[(pid, tid)] = int(f.read().split()[0])
            except (OSError, ValueError, IndexError):
                pass
    return times


def cpu_delta_ns(before, after):
    # Threads born in between count from zero. A thread that ended in between is lost; idle
    # engines start and end few threads, and both sides are treated alike.
    return sum(max(0, value - before.get(key, 0)) for key, value in after.items())


def tree_memory_kib(sid):
    """(sum of VmHWM, sum of Pss, number of processes) over the session."""
    hwm = pss = 0
    pids = session_pids(sid)
    for pid in pids:
        try:
            with open("/proc/%d/status" % pid) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        hwm += int(line.split()[1])
            with open("/proc/%d/smaps_rollup" % pid) as f:
                for line in f:
                    if line.startswith("Pss:"):
                        pss += int(line.split()[1])
        except (OSError, ValueError):
            pass
    return hwm, pss, len(pids)


def kill_session(sid):
    for pid in session_pids(sid):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass


def wait_session_gone(sid, timeout):
    deadline = time.monotonic() + timeout
    while session_pids(sid):
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.02)
    return True


# ---------------------------------------------------------------------------------------------
# A started program with a line channel: the helper on --cmdInFd/--cmdOutFd, a floor program on
# its stdin/stdout. Both ends are plain pipes.


class Program:
    def __init__(self, kind, argv, env, log_path):
        self.kind = kind
        in_r, self.in_w = os.pipe()
        self.out_r, out_w = os.pipe()
        if kind == "helper":
            argv = argv + ["--cmdInFd=%d" % in_r, "--cmdOutFd=%d" % out_w]
            stdin, stdout, fds = subprocess.DEVNULL, subprocess.DEVNULL, (in_r, out_w)
        else:
            stdin, stdout, fds = in_r, out_w, ()
        self.log = open(log_path, "ab")
        self.started_ns = now_ns()
        self.proc = subprocess.Popen(argv, stdin=stdin, stdout=stdout, stderr=self.log,
                                     pass_fds=fds, env=env, start_new_session=True)
        os.close(in_r)
        os.close(out_w)
        self.pid = self.proc.pid
        self.pending = b""

    def send(self, data):
        view = memoryview(data)
        while view:
            view = view[os.write(self.in_w, view):]

    def read_line(self, timeout):
        """(line, monotonic ns of the read that completed it). Fails after timeout seconds."""
        deadline = time.monotonic() + timeout
        while b"\n" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.out_r], [], [], left)[0]:
                raise RuntimeError("%s: no reply line within %.0f s" % (self.kind, timeout))
            chunk = os.read(self.out_r, 65536)
            if not chunk:
                raise RuntimeError("%s: channel closed (exit status %s)"
                                   % (self.kind, self.proc.poll()))
            self.pending += chunk
        stamp = now_ns()
        line, _, self.pending = self.pending.partition(b"\n")
        return line.decode("utf-8", "replace"), stamp

    def stop(self):
        """Ends the program the orderly way (exit line, end of input) and waits for its tree."""
        try:
            if self.kind == "helper":
                self.send(b'{"jsonrpc":"2.0","id":99,"method":"exit"}\n')
        except OSError:
            pass
        for fd in (self.in_w,):
            try:
                os.close(fd)
            except OSError:
                pass
        try:
            self.proc.wait(timeout=STOP_TIMEOUT)
        except subprocess.TimeoutExpired:
            log("%s: did not stop within %.0f s; killed" % (self.kind, STOP_TIMEOUT))
        if not wait_session_gone(self.pid, 5.0):
            log("%s: engine processes left behind; killed" % self.kind)
        kill_session(self.pid)
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()
        os.close(self.out_r)
        self.log.close()


# ---------------------------------------------------------------------------------------------
# The loopback page: /start answers 302 to the redirect URI at once.


class RedirectHandler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):  # noqa: N802 (the base class's name)
        if self.path.startswith("/start"):
            self.send_response(302)
            self.send_header("Location", REDIRECT_TARGET)
            self.send_header("Content-Length", "0")
            self.end_headers()
        else:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()

    def log_message(self, *args):
        pass


# ---------------------------------------------------------------------------------------------


class Bench:
    def __init__(self, build, work, env):
        self.helper = os.path.join(build, "src", "corvane-tavisk")
        self.floor = os.path.join(build, "bench", "tavisk-bench-floor")
        self.echo = os.path.join(build, "bench", "tavisk-bench-echo")
        self.jsonecho = os.path.join(build, "bench", "tavisk-bench-jsonecho")
        self.channelcost = os.path.join(build, "bench", "tavisk-bench-channelcost")
        self.stamps_lib = os.path.join(build, "bench", "libtavisk-bench-stamps.so")
        self.work = work
        self.env = env
        self.log_path = os.path.join(work, "programs.log")
        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), RedirectHandler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        self.start_url = "http://127.0.0.1:%d/start" % self.server.server_address[1]

    def start(self, kind, env=None):
        argv = {"helper": [self.helper], "floor-startup": [self.floor, "startup"],
                "floor-signin": [self.floor, "signin"], "echo": [self.echo],
                "jsonecho": [self.jsonecho]}[kind]
        return Program("helper" if kind == "helper" else kind, argv, env or self.env,
                       self.log_path)

    @staticmethod
    def until_ready(program):
        """Start-up's end: the hello reply for the helper, the "ready" line for a floor."""
        if program.kind == "helper":
            program.send(b'{"jsonrpc":"2.0","id":1,"method":"hello"}\n')
            line, stamp = program.read_line(START_TIMEOUT)
            if '"corvane-tavisk/1.0"' not in line:
                raise RuntimeError("unexpected hello reply: %s" % line)
        else:
            line, stamp = program.read_line(START_TIMEOUT)
            if line != "ready":
                raise RuntimeError("unexpected floor line: %s" % line)
        return stamp

    @staticmethod
    def idle_cpu(program, result):
        """CPU time of the whole tree over IDLE_SECONDS from now, and over the same window
        without its first second (the tail of what came just before: the steady idle cost)."""
        start = thread_cpu_ns(session_pids(program.pid))
        time.sleep(1.0)
        settled = thread_cpu_ns(session_pids(program.pid))
        time.sleep(IDLE_SECONDS - 1.0)
        end = thread_cpu_ns(session_pids(program.pid))
        result["idle_ms"] = cpu_delta_ns(start, end) / 1e6
        result["steady_ms"] = cpu_delta_ns(settled, end) / 1e6

    # 1 and 5a
    def cold_start(self, helper, idle):
        program = self.start("helper" if helper else "floor-startup")
        try:
            ready = self.until_ready(program)
            result = {"start_ms": (ready - program.started_ns) / 1e6}
            if idle:
                self.idle_cpu(program, result)
            return result
        finally:
            program.stop()

    # 2, 4 and 5b
    def sign_in(self, helper, idle, stamps=None):
        env = self.env
        if stamps is not None:
            env = dict(env, LD_PRELOAD=self.stamps_lib, TAVISK_BENCH_STAMPS=stamps)
        program = self.start("helper" if helper else "floor-signin", env)
        try:
            ready = self.until_ready(program)
            sent = now_ns()
            if helper:
                program.send(('{"jsonrpc":"2.0","id":2,"method":"navigate","params":{"url":"%s",'
                              '"redirect_uri":"%s","title":"Bench","timeout_ms":%d}}\n'
                              % (self.start_url, REDIRECT_PREFIX, SIGNIN_TIMEOUT * 1000))
                             .encode())
            else:
                program.send(("%s %s\n" % (self.start_url, REDIRECT_PREFIX)).encode())
            line, replied = program.read_line(SIGNIN_TIMEOUT)
            if REDIRECT_TARGET not in line:
                raise RuntimeError("unexpected sign-in reply: %s" % line)
            result = {"signin_ms": (replied - sent) / 1e6,
                      "total_ms": (replied - program.started_ns) / 1e6,
                      "received_ns": replied}
            result["hwm_kib"], result["pss_kib"], result["processes"] = \
                tree_memory_kib(program.pid)
            if idle:
                self.idle_cpu(program, result)
            return result
        finally:
            program.stop()

    def sign_in_stamped(self, helper):
        path = os.path.join(self.work, "stamps-%d" % now_ns())
        result = self.sign_in(helper, idle=False, stamps=path)
        try:
            with open(path) as f:
                url_ns, reject_ns, wake_ns, write_ns, _ = (int(v) for v in f.read().split()[:5])
        except (OSError, ValueError) as error:
            raise RuntimeError("no time stamps from the %s: %s"
                               % ("helper" if helper else "floor", error)) from error
        stamps = {"url_to_write_us": (write_ns - url_ns) / 1e3,
                  "reject_to_write_us": (write_ns - reject_ns) / 1e3,
                  "url_to_received_us": (result["received_ns"] - url_ns) / 1e3}
        if helper:
            # The command thread's wake-up from its sign-in wait: the hand-over between threads.
            stamps["url_to_wake_us"] = (wake_ns - url_ns) / 1e3
            stamps["wake_to_write_us"] = (write_ns - wake_ns) / 1e3
        return stamps

    # 3
    def stream(self, kind):
        program = self.start(kind)
        try:
            if kind == "helper":
                self.until_ready(program)
            else:
                program.send(b'{"jsonrpc":"2.0","id":0,"method":"hello"}\n')
                program.read_line(START_TIMEOUT)
            data = b"".join(b'{"jsonrpc":"2.0","id":%d,"method":"hello"}\n' % i
                            for i in range(1, STREAM_LINES + 1))
            main_threads = [program.pid]
            cpu_before = thread_cpu_ns(main_threads)
            writer = threading.Thread(target=program.send, args=(data,), daemon=True)
            started = now_ns()
            writer.start()
            seen = program.pending.count(b"\n")
            deadline = time.monotonic() + STREAM_TIMEOUT
            while seen < STREAM_LINES:
                left = deadline - time.monotonic()
                if left <= 0 or not select.select([program.out_r], [], [], left)[0]:
                    raise RuntimeError("%s: stream stalled after %d replies" % (program.kind, seen))
                chunk = os.read(program.out_r, 1 << 20)
                if not chunk:
                    raise RuntimeError("%s: channel closed mid-stream" % program.kind)
                seen += chunk.count(b"\n")
            finished = now_ns()
            cpu = cpu_delta_ns(cpu_before, thread_cpu_ns(main_threads))
            writer.join(10)
            seconds = (finished - started) / 1e9
            return {"rate": STREAM_LINES / seconds, "cpu_us": cpu / 1e3 / STREAM_LINES}
        finally:
            program.stop()


def retried(measure, *args):
    """One measurement; a run that failed (a lost reply, a crashed engine under load) is logged
    and run once more, so one flake does not throw the whole table away."""
    try:
        return measure(*args)
    except (RuntimeError, OSError) as error:
        log("a run failed (%s); running it again" % error)
        return measure(*args)


def channel_cost(bench, rounds):
    """[(command loop, JSON floor)] from tavisk-bench-channelcost, one pair per run."""
    pairs = []
    for _ in range(rounds):
        out = subprocess.run([bench.channelcost, str(STREAM_LINES)], capture_output=True,
                             text=True, timeout=120, check=True).stdout
        figures = {}
        for line in out.splitlines():
            name, allocs, calls, ns = line.split()
            figures[name] = {"allocs": float(allocs), "calls": float(calls), "ns": float(ns)}
        pairs.append((figures["commandLoop"], figures["json-floor"]))
    return pairs


def rotated(rounds, kinds, measure):
    """[{kind: result}] for each round; the order of the kinds rotates every round."""
    results = []
    for i in range(rounds):
        shift = i % len(kinds)
        results.append({kind: retried(measure, kind) for kind in kinds[shift:] + kinds[:shift]})
    return results


def interleaved(rounds, measure):
    """[(helper result, floor result)] for each round; the order flips every round."""
    pairs = []
    for i in range(rounds):
        if i % 2 == 0:
            h = retried(measure, True, i)
            f = retried(measure, False, i)
        else:
            f = retried(measure, False, i)
            h = retried(measure, True, i)
        pairs.append((h, f))
    return pairs


def medians(pairs, key):
    h = [p[0][key] for p in pairs if key in p[0]]
    f = [p[1][key] for p in pairs if key in p[1]]
    return statistics.median(h), statistics.median(f), len(h)


def start_xvfb(work):
    read_fd, write_fd = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x1024x24",
                             "-nolisten", "tcp"], pass_fds=(write_fd,),
                            stdout=subprocess.DEVNULL,
                            stderr=open(os.path.join(work, "xvfb.log"), "wb"),
                            start_new_session=True)
    os.close(write_fd)
    text = b""
    deadline = time.monotonic() + 15
    while not text.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([read_fd], [], [], left)[0]:
            xvfb.kill()
            raise RuntimeError("Xvfb did not report its display")
        chunk = os.read(read_fd, 64)
        if not chunk:
            raise RuntimeError("Xvfb ended: see %s/xvfb.log" % work)
        text += chunk
    os.close(read_fd)
    return xvfb, ":" + text.decode().strip()


def machine():
    model = "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    versions = []
    for package in ("libqt6core6", "libqt6webenginecore6"):
        try:
            versions.append(subprocess.run(["dpkg-query", "-W", "-f=${Version}", package],
                                           capture_output=True, text=True,
                                           timeout=10).stdout.strip() or "?")
        except (OSError, subprocess.SubprocessError):
            versions.append("?")
    return "nproc %d | %s | Linux %s | Qt %s, Qt WebEngine %s" % (
        os.cpu_count(), model, platform.release(), versions[0], versions[1])


def main():
    global IDLE_SECONDS, STREAM_LINES  # pylint: disable=global-statement
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--idle-seconds", type=float, default=IDLE_SECONDS)
    parser.add_argument("--stream-lines", type=int, default=STREAM_LINES)
    parser.add_argument("--rounds", type=int, default=11, help="rounds of the quick figures")
    parser.add_argument("--idle-rounds", type=int, default=7)
    parser.add_argument("--stream-rounds", type=int, default=5)
    args = parser.parse_args()
    IDLE_SECONDS, STREAM_LINES = args.idle_seconds, args.stream_lines

    work = tempfile.mkdtemp(prefix="tavisk-bench-")
    runtime = os.path.join(work, "xdg")
    os.mkdir(runtime, 0o700)
    xvfb = None
    started = time.monotonic()
    load_before = os.getloadavg()
    try:
        xvfb, display = start_xvfb(work)
        env = dict(os.environ)
        for name in ("QT_QPA_PLATFORM", "QTWEBENGINE_CHROMIUM_FLAGS", "LD_PRELOAD",
                     "WAYLAND_DISPLAY"):
            env.pop(name, None)
        env.update(DISPLAY=display, QTWEBENGINE_DISABLE_SANDBOX="1", XDG_RUNTIME_DIR=runtime,
                   QT_LOGGING_RULES="qt.webenginecontext.info=false")
        bench = Bench(args.build, work, env)

        rounds, idle_rounds = args.rounds, min(args.idle_rounds, args.rounds)
        log("1/5 cold start (%d rounds, %d with %.0f s idle)" % (rounds, idle_rounds, IDLE_SECONDS))
        start = interleaved(rounds, lambda h, i: bench.cold_start(h, i < idle_rounds))
        log("2/5 sign-in (%d rounds, %d with %.0f s idle)" % (rounds, idle_rounds, IDLE_SECONDS))
        signin = interleaved(rounds, lambda h, i: bench.sign_in(h, i < idle_rounds))
        log("3/5 sign-in with time stamps (%d rounds)" % rounds)
        stamped = interleaved(rounds, lambda h, i: bench.sign_in_stamped(h))
        log("4/5 stream of %d hello lines (%d rounds)" % (STREAM_LINES, args.stream_rounds))
        streams = rotated(args.stream_rounds, ["helper", "echo", "jsonecho"], bench.stream)
        stream = [(r["helper"], r["echo"]) for r in streams]
        json_stream = [(r["helper"], r["jsonecho"]) for r in streams]
        log("5/5 channel cost in-process (%d runs)" % args.stream_rounds)
        cost = channel_cost(bench, args.stream_rounds)
        bench.server.shutdown()
    finally:
        if xvfb is not None:
            xvfb.terminate()
            try:
                xvfb.wait(10)
            except subprocess.TimeoutExpired:
                xvfb.kill()
                xvfb.wait()
    elapsed = time.monotonic() - started
    load_after = os.getloadavg()

    rows = []

    def row(name, key, unit, goal, check, pairs, scale=1.0, fmt="%.1f"):
        if not any(key in p[0] for p in pairs):
            rows.append((name, "-", "-", "-", goal, "not run", "0"))
            return
        h, f, n = medians(pairs, key)
        h, f = h * scale, f * scale
        ratio = h / f if f else float("inf")
        rows.append((name, (fmt % h) + " " + unit, (fmt % f) + " " + unit, "%.3f" % ratio,
                     goal, "" if goal == "-" else "met" if check(h, f, ratio) else "MISSED",
                     str(n)))

    def helper_only(name, key, unit, pairs):
        h = statistics.median(p[0][key] for p in pairs)
        rows.append((name, "%.0f %s" % (h, unit), "-", "-", "-", "", str(len(pairs))))

    row("1. cold start to hello reply", "start_ms", "ms", "ratio <= 1.05",
        lambda h, f, r: r <= 1.05, start)
    row("2. sign-in: navigate to reply line", "signin_ms", "ms", "ratio <= 1.05",
        lambda h, f, r: r <= 1.05, signin)
    row("   (start to reply line, for reference)", "total_ms", "ms", "-",
        lambda h, f, r: True, signin)
    row("   navigation handed over to reply write()", "url_to_write_us", "us", "helper < 1000 us",
        lambda h, f, r: h < 1000, stamped, fmt="%.0f")
    h_worst = max(p[0]["url_to_write_us"] for p in stamped) if stamped else 0
    f_worst = max(p[1]["url_to_write_us"] for p in stamped) if stamped else 0
    rows.append(("   the same, slowest run", "%.0f us" % h_worst, "%.0f us" % f_worst,
                 "-", "-", "", str(len(stamped))))
    row("   reject() to reply write() (< 0: written first)", "reject_to_write_us", "us", "-",
        lambda h, f, r: True, stamped, fmt="%.0f")
    helper_only("   of which: GUI thread to command thread awake", "url_to_wake_us", "us", stamped)
    helper_only("   of which: awake command thread to write()", "wake_to_write_us", "us", stamped)
    row("   navigation handed over to line read by client", "url_to_received_us", "us", "-",
        lambda h, f, r: True, stamped, fmt="%.0f")
    row("3. stream: replies per second", "rate", "/s", "ratio >= 0.5",
        lambda h, f, r: r >= 0.5, stream, fmt="%.0f")
    row("   CPU time per request (channel process)", "cpu_us", "us", "-",
        lambda h, f, r: True, stream, fmt="%.2f")
    row("   vs JSON floor: replies per second", "rate", "/s", "-",
        lambda h, f, r: True, json_stream, fmt="%.0f")
    row("   vs JSON floor: CPU time per request", "cpu_us", "us", "-",
        lambda h, f, r: True, json_stream, fmt="%.2f")
    row("   in-process, vs JSON floor: heap allocations per request", "allocs", "", "-",
        lambda h, f, r: True, cost, fmt="%.1f")
    row("   in-process, vs JSON floor: channel system calls per request", "calls", "", "-",
        lambda h, f, r: True, cost, fmt="%.2f")
    row("   in-process, vs JSON floor: time per request", "ns", "ns", "-",
        lambda h, f, r: True, cost, fmt="%.0f")
    row("4. peak memory, sum of VmHWM over the tree", "hwm_kib", "MiB", "ratio <= 1.05",
        lambda h, f, r: r <= 1.05, signin, scale=1 / 1024)
    row("   sum of PSS over the tree at the reply", "pss_kib", "MiB", "-",
        lambda h, f, r: True, signin, scale=1 / 1024)
    row("   processes in the tree at the reply", "processes", "", "-",
        lambda h, f, r: True, signin, fmt="%.0f")
    def idle_row(name, pairs, key="idle_ms"):
        # "No more than the floor", read as a sign test over the interleaved rounds: a helper
        # median above the floor's is a cost only if the helper used more in every round;
        # otherwise it is noise, shown with the number of rounds in which the helper used more.
        runs = [(p[0][key], p[1][key]) for p in pairs if key in p[0] and key in p[1]]
        if not runs:
            rows.append((name, "-", "-", "-", "<= floor", "not run", "0"))
            return
        h = statistics.median(r[0] for r in runs)
        f = statistics.median(r[1] for r in runs)
        above = sum(1 for r in runs if r[0] > r[1])
        verdict = ("met" if h <= f else "MISSED" if above == len(runs)
                   else "noise (%d/%d)" % (above, len(runs)))
        rows.append((name, "%.2f ms" % h, "%.2f ms" % f, "%.3f" % (h / f if f else 0),
                     "<= floor", verdict, str(len(runs))))

    idle_row("5. idle CPU of the tree, %.0f s after hello" % IDLE_SECONDS, start)
    idle_row("   the same without its first second", start, "steady_ms")
    idle_row("   idle CPU of the tree, %.0f s after a sign-in (hidden)" % IDLE_SECONDS, signin)
    idle_row("   the same without its first second", signin, "steady_ms")

    headers = ("figure", "helper", "floor", "ratio", "goal", "", "n")
    widths = [max(len(r[i]) for r in rows + [headers]) for i in range(len(headers))]
    print("| " + " | ".join(h.ljust(w) for h, w in zip(headers, widths)) + " |")
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print("| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |")
    print()
    print("Machine: %s" % machine())
    print("Run: %.0f s; load average %.2f before, %.2f after; medians of n runs per side"
          % (elapsed, load_before[0], load_after[0]))

    print("\nRaw runs (helper / floor):", file=sys.stderr)
    for title, pairs in (("cold start", start), ("sign-in", signin), ("stamped", stamped),
                         ("stream (helper / echo)", stream),
                         ("stream (helper / JSON floor)", json_stream),
                         ("channel cost (command loop / JSON floor)", cost)):
        print("  %s:" % title, file=sys.stderr)
        for h, f in pairs:
            h = {k: v for k, v in h.items() if k != "received_ns"}
            f = {k: v for k, v in f.items() if k != "received_ns"}
            print("    %s / %s" % (fmt_dict(h), fmt_dict(f)), file=sys.stderr)
    shutil.rmtree(work, ignore_errors=True)


def fmt_dict(d):
    return " ".join("%s=%.3g" % (k, v) for k, v in d.items())


if __name__ == "__main__":
    main()
