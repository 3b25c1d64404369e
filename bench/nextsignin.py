#!/usr/bin/env python3
"""Round trip of the sign-ins that follow the first one in a helper run: from the navigate's
write to its reply, for a provider page that answers 302 to the redirect URI at once. Compares
two builds of the helper (say, before and after a change to the window), interleaved, under a
private Xvfb; prints one line per build.

    bench/nextsignin.py BUILD_A/src/corvane-tavisk BUILD_B/src/corvane-tavisk [--runs 5]

Runs as the caller, with the engine's sandbox off for the measured helpers (as in the process
tests), so it also works as root; both builds are measured alike."""

import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "e2e", "lib"))
import helperproc  # noqa: E402
import testenv  # noqa: E402
import xvfb  # noqa: E402
import provider as idp  # noqa: E402

SIGN_INS_PER_RUN = 6


def one_run(binary, display, provider):
    """Milliseconds of each sign-in of one helper run, the first one first."""
    os.environ["TAVISK_BINARY"] = binary
    times = []
    with helperproc.Helper(env=testenv.base_env(display=display)) as helper:
        for request_id in range(1, SIGN_INS_PER_RUN + 1):
            code = provider.new_code("bench")
            page = provider.page(idp.REDIRECT_302, provider.callback + "?code=" + code)
            started = time.monotonic()
            helper.send({"jsonrpc": "2.0", "id": request_id, "method": "navigate",
                         "params": {"url": page, "redirect_uri": provider.callback,
                                    "title": "Bench"}})
            helper.reply_raw(30)
            times.append((time.monotonic() - started) * 1000)
        helper.send({"jsonrpc": "2.0", "id": 99, "method": "exit"})
        helper.wait()
    return times


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binaries", nargs=2)
    parser.add_argument("--runs", type=int, default=5)
    args = parser.parse_args()
    first = {b: [] for b in args.binaries}
    later = {b: [] for b in args.binaries}
    with xvfb.XServer() as xserver, idp.Provider() as provider:
        for run in range(args.runs):
            order = args.binaries if run % 2 == 0 else list(reversed(args.binaries))
            for binary in order:
                times = one_run(binary, xserver.display, provider)
                first[binary].append(times[0])
                later[binary].extend(times[1:])
    print("| build | first sign-in, median | later sign-ins, median | later, 90th percentile | n |")
    print("|---|---|---|---|---|")
    for binary in args.binaries:
        ordered = sorted(later[binary])
        print("| %s | %.1f ms | %.1f ms | %.1f ms | %d |"
              % (binary, statistics.median(first[binary]), statistics.median(ordered),
                 ordered[int(len(ordered) * 0.9)], len(ordered)))


if __name__ == "__main__":
    main()
