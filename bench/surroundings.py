#!/usr/bin/python3
"""What the window's surroundings cost: the origin strip and loading view, and the translations.

Two builds of the helper side by side, interleaved (the order rotates every round), under a
private Xvfb with no window manager, the engine's sandbox off as in the process tests:

- BEFORE, a build without the strip, the loading view and the translations, in an English
  locale (LANG=en_US.UTF-8);
- AFTER, this tree's build, in the same English locale (strip and loading view; Qt's English
  needs no catalogue) and in a German one (LANG=de_DE.UTF-8: the helper's, qtbase's and
  qtwebengine's catalogues loaded).

Per run: start to the hello reply; first paint, from writing the navigate line to the page's
own first-contentful-paint (reported to the loopback server, as in bench/accessibility.py);
then, after a one-second settle, the sums of Pss and of private memory over the helper and
every engine process below it.

    bench/surroundings.py BEFORE/src/corvane-tavisk AFTER/src/corvane-tavisk [--rounds 7]

Prints a table of medians (lowest-highest). Every process started here is killed before it ends.
"""

import argparse
import os
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "lib"))
import helperproc  # noqa: E402
import pageserver  # noqa: E402
import testenv  # noqa: E402
import xvfb  # noqa: E402
from accessibility import (PAINT_TIMEOUT, SETTLE_SECONDS, first_paint_ms,  # noqa: E402
                           tree_memory_kib)

LOCALES = ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG")


def one_run(binary, lang, display, server):
    os.environ["TAVISK_BINARY"] = binary
    env = testenv.base_env(display=display)
    for name in LOCALES:
        env.pop(name, None)
    env["LANG"] = lang
    started = time.monotonic()
    with helperproc.Helper(env=env, stdout_pipe=False) as helper:
        helper.send({"jsonrpc": "2.0", "id": 1, "method": "hello"})
        helper.reply(PAINT_TIMEOUT)
        hello_ms = (time.monotonic() - started) * 1000.0
        paint_ms = first_paint_ms(helper, server)
        time.sleep(SETTLE_SECONDS)
        pss, private = tree_memory_kib(helper.pid)
        return {"hello_ms": hello_ms, "paint_ms": paint_ms, "pss_kib": pss,
                "private_kib": private}


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--rounds", type=int, default=7)
    args = parser.parse_args()
    sides = [("before (no strip), en_US", args.before, "en_US.UTF-8"),
             ("this tree, en_US", args.after, "en_US.UTF-8"),
             ("this tree, de_DE (translations loaded)", args.after, "de_DE.UTF-8")]
    results = {name: [] for name, _, _ in sides}
    begun = time.monotonic()
    with xvfb.XServer() as xserver, pageserver.PageServer({}) as server:
        for _, binary, lang in sides:
            one_run(binary, lang, xserver.display, server)  # warm the page cache and fonts
        for round_number in range(args.rounds):
            shift = round_number % len(sides)
            for name, binary, lang in sides[shift:] + sides[:shift]:
                results[name].append(one_run(binary, lang, xserver.display, server))

    def cell(runs, key, scale, fmt):
        values = [r[key] / scale for r in runs]
        return (fmt + " (" + fmt + "-" + fmt + ")") % (statistics.median(values), min(values),
                                                      max(values))
    print("Medians of %d runs per side (lowest-highest); run took %.0f s" %
          (args.rounds, time.monotonic() - begun))
    print()
    print("| build, locale | start to hello (ms) | first paint (ms) | PSS (MiB) | private (MiB) |")
    print("|---|---:|---:|---:|---:|")
    for name, _, _ in sides:
        runs = results[name]
        print("| %s | %s | %s | %s | %s |" % (
            name, cell(runs, "hello_ms", 1.0, "%.0f"), cell(runs, "paint_ms", 1.0, "%.0f"),
            cell(runs, "pss_kib", 1024.0, "%.1f"), cell(runs, "private_kib", 1024.0, "%.1f")))


if __name__ == "__main__":
    main()
