#!/usr/bin/python3
"""What kept sessions cost: the default path (no "session") before and after the change, a
sign-in in a kept session, and a silent sign-in that a kept session carries through.

Two builds side by side, interleaved (the order rotates every round), under a private Xvfb with
no window manager, the engine's sandbox off as in the process tests:

- BEFORE, a build without kept sessions, and AFTER, this tree's build, each with no "session":
  start to the hello reply; first paint, from writing the navigate line to the page's own
  first-contentful-paint; then, after a one-second settle, the sums of Pss and of private memory
  over the helper and every engine process below it; and the files the run left in its
  XDG folders;
- AFTER with "session": the same figures for a sign-in in a kept session (its disk profile
  made at that navigate);
- AFTER, silent: a new helper whose kept session a provider remembers (by a persistent cookie
  set in an earlier run), a silent navigate to the provider: from the navigate's write to the
  reply, and from the provider's answer (a 302 to the redirect URI) to the reply.

    bench/sessions.py BEFORE/src/corvane-tavisk AFTER/src/corvane-tavisk [--rounds 7]

Prints a table of medians (lowest-highest). Every process started here is killed before it ends.
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "lib"))
import helperproc  # noqa: E402
import pageserver  # noqa: E402
import sessionprovider  # noqa: E402
import testenv  # noqa: E402
import xvfb  # noqa: E402
from accessibility import (PAINT_TIMEOUT, SETTLE_SECONDS, first_paint_ms,  # noqa: E402
                           tree_memory_kib)

REDIRECT = "ms-appx-web://bench.example/cb"


def private_env(display, home):
    env = testenv.base_env(display=display)
    env.update(HOME=home, XDG_DATA_HOME=os.path.join(home, "data"),
               XDG_CACHE_HOME=os.path.join(home, "cache"),
               XDG_CONFIG_HOME=os.path.join(home, "config"))
    return env


def files_below(folder):
    return sum(len(names) for _, _, names in os.walk(folder))


def one_run(binary, session, display, server):
    os.environ["TAVISK_BINARY"] = binary
    home = tempfile.mkdtemp(prefix="tavisk-bench-home-")
    try:
        started = time.monotonic()
        with helperproc.Helper(env=private_env(display, home), stdout_pipe=False) as helper:
            helper.send({"jsonrpc": "2.0", "id": 1, "method": "hello"})
            helper.reply(PAINT_TIMEOUT)
            hello_ms = (time.monotonic() - started) * 1000.0
            # The page never leaves: the time limit ends the sign-in, so that the helper can end
            # in order and leave what it leaves.
            extra = {"timeout_ms": 4000}
            if session:
                extra["session"] = "bench"
            paint_ms = first_paint_ms(helper, server, **extra)
            time.sleep(SETTLE_SECONDS)
            pss, private = tree_memory_kib(helper.pid)
            helper.reply(PAINT_TIMEOUT)
            helper.send({"jsonrpc": "2.0", "id": 3, "method": "exit"})
            helper.wait()
        return {"hello_ms": hello_ms, "paint_ms": paint_ms, "pss_kib": pss,
                "private_kib": private, "files": files_below(home)}
    finally:
        shutil.rmtree(home, ignore_errors=True)


def silent_run(binary, display, provider, home):
    """A silent sign-in in the kept session of `home`, which the provider remembers."""
    os.environ["TAVISK_BINARY"] = binary
    with helperproc.Helper(env=private_env(display, home), stdout_pipe=False) as helper:
        helper.send({"jsonrpc": "2.0", "id": 1, "method": "hello"})
        helper.reply(PAINT_TIMEOUT)
        written = time.monotonic()
        helper.send({"jsonrpc": "2.0", "id": 2, "method": "navigate", "params": {
            "url": provider.authorize_url(REDIRECT), "redirect_uri": REDIRECT, "title": "Sign in",
            "session": "bench", "silent": True}})
        reply = helper.reply(PAINT_TIMEOUT)
        replied = time.monotonic()
        if reply.get("result", {}).get("status") != "ok":
            raise AssertionError("the silent sign-in failed: %r" % reply)
        answered = provider.last_request_time("/authorize")
        helper.send({"jsonrpc": "2.0", "id": 3, "method": "exit"})
        helper.wait()
    return {"navigate_ms": (replied - written) * 1000.0, "after_ms": (replied - answered) * 1000.0}


def remember(binary, display, provider, home):
    """Signs in once in the kept session, ticking "keep me signed in" (by the page's script)."""
    os.environ["TAVISK_BINARY"] = binary
    with helperproc.Helper(env=private_env(display, home), stdout_pipe=False) as helper:
        helper.send({"jsonrpc": "2.0", "id": 1, "method": "navigate", "params": {
            "url": provider.authorize_url(REDIRECT, auto="bench"), "redirect_uri": REDIRECT,
            "title": "Sign in", "session": "bench"}})
        reply = helper.reply(PAINT_TIMEOUT)
        if reply.get("result", {}).get("status") != "ok":
            raise AssertionError("the sign-in failed: %r" % reply)
        helper.send({"jsonrpc": "2.0", "id": 2, "method": "exit"})
        helper.wait()


def cell(runs, key, scale, fmt):
    values = [r[key] / scale for r in runs]
    return (fmt + " (" + fmt + "-" + fmt + ")") % (statistics.median(values), min(values),
                                                  max(values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    sides = [("before, no session", args.before, False),
             ("this tree, no session", args.after, False),
             ("this tree, kept session (first sign-in in it)", args.after, True)]
    results = {name: [] for name, _, _ in sides}
    silent = []
    begun = time.monotonic()
    home = tempfile.mkdtemp(prefix="tavisk-bench-kept-")
    try:
        with xvfb.XServer() as xserver, pageserver.PageServer({}) as server, \
                sessionprovider.SessionProvider() as provider:
            for _, binary, session in sides:
                one_run(binary, session, xserver.display, server)  # warm caches and fonts
            remember(args.after, xserver.display, provider, home)
            for round_number in range(args.rounds):
                shift = round_number % len(sides)
                for name, binary, session in sides[shift:] + sides[:shift]:
                    results[name].append(one_run(binary, session, xserver.display, server))
                silent.append(silent_run(args.after, xserver.display, provider, home))
    finally:
        shutil.rmtree(home, ignore_errors=True)

    print("Medians of %d runs per side (lowest-highest); run took %.0f s" %
          (args.rounds, time.monotonic() - begun))
    print()
    print("| build, profile | start to hello (ms) | first paint (ms) | PSS (MiB) | private (MiB) "
          "| files left |")
    print("|---|---:|---:|---:|---:|---:|")
    for name, _, _ in sides:
        runs = results[name]
        print("| %s | %s | %s | %s | %s | %s |" % (
            name, cell(runs, "hello_ms", 1.0, "%.0f"), cell(runs, "paint_ms", 1.0, "%.0f"),
            cell(runs, "pss_kib", 1024.0, "%.1f"), cell(runs, "private_kib", 1024.0, "%.1f"),
            cell(runs, "files", 1.0, "%.0f")))
    print()
    print("| silent sign-in from a kept session | navigate to reply (ms) "
          "| provider's answer to reply (ms) |")
    print("|---|---:|---:|")
    print("| this tree | %s | %s |" % (cell(silent, "navigate_ms", 1.0, "%.0f"),
                                      cell(silent, "after_ms", 1.0, "%.0f")))


if __name__ == "__main__":
    main()
