#!/usr/bin/python3
"""What exposing the sign-in page to assistive technology costs: memory and first paint.

The helper runs on a private desktop (Xvfb, a session bus, the accessibility bus, openbox; the
process tests' tests/e2e/lib/screenreader.py) twice over: with no screen reader running
(the accessibility bus's switches off, as on most desktops) and with one (switches on, and the
whole tree read once, as a reader does when a window appears). On each, the helper runs as it
ships (QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY set by the helper itself) and with the variable
at "0" (the page hidden, as before), rounds interleaved. Per run:

- first paint: from writing the navigate line to the page's first-contentful-paint, which the
  page measures itself (PerformanceObserver, wall clock) and reports to the loopback server;
- memory: the sums of Pss and of private memory over the helper and every engine process
  below it, once the page has painted (and, with a reader, once the tree has been read), after
  a short settle.

Usage: bench/accessibility.py [--build build] [--rounds 5]. Prints a table of medians.
Needs what the process tests need (scripts/install-deps.sh). Every process started here is
killed before it ends.
"""

import argparse
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "lib"))
import screenreader  # noqa: E402
import helperproc  # noqa: E402
import pageserver  # noqa: E402
import proctree  # noqa: E402
import testenv  # noqa: E402

SETTLE_SECONDS = 1.0
PAINT_TIMEOUT = 30

# A sign-in page of the usual size, which reports its first contentful paint.
PAGE = b"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Sign in</title>
<script>
new PerformanceObserver(function (list) {
  list.getEntries().forEach(function (entry) {
    if (entry.name === "first-contentful-paint")
      fetch("/paint?at=" + (performance.timeOrigin + entry.startTime), {cache: "no-store"});
  });
}).observe({type: "paint", buffered: true});
</script></head>
<body style="font: 16px sans-serif; margin: 40px">
<h1>Sign in</h1>
<form method="post" action="/login">
  <label>User name <input name="username" autofocus></label><br>
  <label>Password <input name="password" type="password"></label><br>
  <button type="submit">Sign in</button>
</form>
<p><a href="/cancel">Cancel</a> &middot; <a href="/help">Help</a></p>
<p>By signing in you accept the terms of use and the privacy statement.</p>
</body></html>
"""


def tree_memory_kib(pid):
    """(sum of Pss, sum of private memory) over pid and every process below it. Pss shares
    the engine's libraries with every other process that maps them, on this machine too; the
    private sum is what these processes alone hold."""
    pss = private = 0
    for p in {pid} | proctree.descendants(pid):
        try:
            with open("/proc/%d/smaps_rollup" % p) as f:
                for line in f:
                    key, _, value = line.partition(":")
                    if key == "Pss":
                        pss += int(value.split()[0])
                    elif key in ("Private_Clean", "Private_Dirty"):
                        private += int(value.split()[0])
        except OSError:
            pass
    return pss, private


def first_paint_ms(helper, server, **params):
    """Sends a navigate (with params added) to a fresh copy of PAGE and returns the time from
    writing it to the page's own first-contentful-paint, in milliseconds."""
    before = len(server.requests)
    path = "/page%d" % before
    server.routes[path] = PAGE
    params.update(url=server.url(path), title="Sign in",
                  redirect_uri="ms-appx-web://bench.example/cb")
    written_ms = time.time() * 1000.0
    helper.send({"jsonrpc": "2.0", "id": 2, "method": "navigate", "params": params})
    report = testenv.wait_until(
        lambda: next((r for r in server.requests[before:] if r.startswith("/paint?at=")),
                     None), PAINT_TIMEOUT)
    if report is None:
        raise AssertionError("no first paint within %d s" % PAINT_TIMEOUT)
    return float(report.split("=", 1)[1]) - written_ms


def one_run(desk, server, reader, hidden):
    env = desk.helper_env()
    if hidden:
        env["QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY"] = "0"
    with helperproc.Helper(env=env, stdout_pipe=False) as helper:
        helper.send({"jsonrpc": "2.0", "id": 1, "method": "hello"})
        helper.reply(PAINT_TIMEOUT)
        paint_ms = first_paint_ms(helper, server)
        nodes = 0
        if reader:
            app = screenreader.application(helper.pid)
            nodes = len(screenreader.wait_for_tree(
                app, lambda n: n if any(x.role == "push button" for x in n) or hidden else None,
                what="the page's button"))
        time.sleep(SETTLE_SECONDS)
        pss, private = tree_memory_kib(helper.pid)
        return {"paint_ms": paint_ms, "pss_kib": pss, "private_kib": private, "nodes": nodes}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    os.environ.setdefault("TAVISK_BINARY", os.path.join(args.build, "src", "corvane-tavisk"))
    testenv.binary_path()

    rows = []
    for reader in (False, True):
        desk = screenreader.Desktop(screen_reader=reader)
        desk.start()
        try:
            with pageserver.PageServer({}) as server:
                results = {False: [], True: []}
                one_run(desk, server, reader, False)  # warm the page cache and fonts
                for round_number in range(args.rounds):
                    # The order flips each round, so a drift in the machine's load is shared.
                    for hidden in ((False, True) if round_number % 2 == 0 else (True, False)):
                        results[hidden].append(one_run(desk, server, reader, hidden))
                for hidden in (True, False):
                    rows.append((reader, hidden, results[hidden]))
        finally:
            desk.stop()

    print("Exposing the page to assistive technology: medians of %d runs each" % args.rounds)
    print()
    print("Each cell: median (lowest-highest).")
    print()
    print("| screen reader | page content | first paint (ms) | PSS (MiB) | private (MiB) "
          "| objects read |")
    print("|---|---|---:|---:|---:|---:|")

    def cell(runs, key, scale, fmt):
        values = [r[key] / scale for r in runs]
        return (fmt + " (" + fmt + "-" + fmt + ")") % (statistics.median(values), min(values),
                                                      max(values))
    for reader, hidden, runs in rows:
        print("| %s | %s | %s | %s | %s | %s |" % (
            "running, tree read" if reader else "none",
            "hidden (variable at 0)" if hidden else "exposed (as shipped)",
            cell(runs, "paint_ms", 1.0, "%.0f"),
            cell(runs, "pss_kib", 1024.0, "%.1f"),
            cell(runs, "private_kib", 1024.0, "%.1f"),
            int(statistics.median(r["nodes"] for r in runs)) if reader else "-"))


if __name__ == "__main__":
    main()
