#!/usr/bin/python3
"""What a helper that is never asked costs: two builds side by side, interleaved (the order
rotates every round), under a private Xvfb with no window manager, the engine's sandbox off as
in the process tests. Each run sends hello and nothing else, and reads the sums of Pss and of
private memory over the helper and every engine process below it, and how many processes that
is, at WARM_SECONDS after the reply (a warm page, if the build makes one, is up) and at
IDLE_SECONDS (a build that drops an unused warm page after 10 s has dropped it).

    bench/idlehelper.py BEFORE/src/corvane-tavisk AFTER/src/corvane-tavisk [--rounds 5]

Prints a table of medians (lowest-highest). Every process started here is killed before it ends.
"""

import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "lib"))
import helperproc  # noqa: E402
import testenv  # noqa: E402
import xvfb  # noqa: E402
from accessibility import PAINT_TIMEOUT, tree_memory_kib  # noqa: E402
from sessions import cell  # noqa: E402  (median (lowest-highest))

WARM_SECONDS = 3.0
IDLE_SECONDS = 15.0


def one_run(binary, display):
    os.environ["TAVISK_BINARY"] = binary
    with helperproc.Helper(env=testenv.base_env(display=display), stdout_pipe=False) as helper:
        helper.send({"jsonrpc": "2.0", "id": 1, "method": "hello"})
        helper.reply(PAINT_TIMEOUT)
        answered = time.monotonic()
        result = {}
        for label, at in (("warm", WARM_SECONDS), ("idle", IDLE_SECONDS)):
            time.sleep(max(0.0, answered + at - time.monotonic()))
            result[label + "_pss"], result[label + "_private"] = tree_memory_kib(helper.pid)
            result[label + "_processes"] = len(helper.tree())
        return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    sides = [("before", args.before), ("this tree", args.after)]
    results = {name: [] for name, _ in sides}
    begun = time.monotonic()
    with xvfb.XServer() as xserver:
        for round_number in range(args.rounds):
            shift = round_number % len(sides)
            for name, binary in sides[shift:] + sides[:shift]:
                results[name].append(one_run(binary, xserver.display))

    print("Medians of %d runs per side (lowest-highest); run took %.0f s" %
          (args.rounds, time.monotonic() - begun))
    print()
    print("| build | after hello | PSS (MiB) | private (MiB) | processes |")
    print("|---|---|---:|---:|---:|")
    for name, _ in sides:
        runs = results[name]
        for label, at in (("warm", WARM_SECONDS), ("idle", IDLE_SECONDS)):
            print("| %s | %.0f s | %s | %s | %s |" % (
                name, at, cell(runs, label + "_pss", 1024.0, "%.1f"),
                cell(runs, label + "_private", 1024.0, "%.1f"),
                cell(runs, label + "_processes", 1, "%.0f")))


if __name__ == "__main__":
    main()
