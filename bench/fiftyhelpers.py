#!/usr/bin/python3
"""Fifty sign-ins on one terminal server.

Starts 50 helpers as 50 clients on one terminal server would: one X display, each helper with a
home and runtime folder of its own (the same account), started 200 ms apart, each sent hello and
navigate at once and signing in against one loopback provider over TLS whose page leaves for
the redirect URI a second after it has painted. The helpers stay up after their sign-in, as a
client keeps its helper. Prints whether every sign-in succeeded, the time from the first spawn
until every page had painted, the summed PSS of all helper trees when the last page painted and
once every sign-in has ended and settled, and what each helper beyond the first adds: (the
settled sum - one helper alone in the same state, measured just before) / (n - 1).

Shares bench.py's account (nobody, the engine's sandbox on), TLS, page server and /proc
readers. Every wait has a bound; every process started here is killed before it ends.
Usage: bench/fiftyhelpers.py --build build-bench [--helpers 50] [--spacing-ms 200]
"""

import argparse
import os
import shutil
import statistics
import sys
import tempfile
import threading
import time

import bench

LEAVE_MS = 1000  # the provider's page leaves for the redirect URI this long after its paint
SIGNIN_TIMEOUT = 300.0  # a sign-in among fifty on a 2-core machine
SETTLE_SECONDS = 3.0


class Client:
    """One client: its helper, started in folders of its own, and the sign-in it asks for."""

    def __init__(self, index, helper, account, env, pages, work):
        self.run = "fifty%d" % index
        home = os.path.join(work, "homes", str(index))
        runtime = os.path.join(work, "runtime", str(index))
        shutil.copytree(account.home, home)
        os.makedirs(runtime, 0o700)
        account.own(home)
        account.own(runtime)
        self.argv = account.prefix + [helper]
        self.env = dict(env, HOME=home, XDG_RUNTIME_DIR=runtime)
        self.url = "%s/login?run=%s&leave_ms=%d" % (pages.base, self.run, LEAVE_MS)
        self.log = os.path.join(work, "helper%d.log" % index)
        self.program = None
        self.reply = None
        self.error = None

    def sign_in(self):
        """Runs on a thread of its own: starts the helper, asks for the sign-in, reads the
        answer."""
        try:
            self.program = bench.Program("helper", self.argv, self.env, self.log)
            self.program.send(b'{"jsonrpc":"2.0","id":1,"method":"hello"}\n')
            bench.Bench.navigate(self.program, self.url)
            self.program.read_line(SIGNIN_TIMEOUT)  # the hello reply
            self.reply, _ = self.program.read_line(SIGNIN_TIMEOUT)
        except (RuntimeError, OSError) as error:
            self.error = str(error)
        bench.log("%s: %s" % (self.run, self.error or self.reply))

    @property
    def succeeded(self):
        return self.reply is not None and bench.REDIRECT_TARGET in self.reply

    def pss_kib(self):
        return bench.tree_memory_kib(self.program.pid)[1] if self.program else 0

    def stop(self):
        if self.program is not None:
            self.program.stop()


def sign_in_all(clients, spacing):
    threads = []
    for i, client in enumerate(clients):
        if i:
            time.sleep(spacing)
        thread = threading.Thread(target=client.sign_in, daemon=True)
        thread.start()
        threads.append(thread)
    return threads


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--helpers", type=int, default=50)
    parser.add_argument("--spacing-ms", type=int, default=200)
    parser.add_argument("--as-root", action="store_true",
                        help="run the helpers as root with the sandbox off (a comparison)")
    args = parser.parse_args()
    helper = os.path.join(args.build, "src", "corvane-tavisk")

    work = tempfile.mkdtemp(prefix="tavisk-fifty-")
    os.chmod(work, 0o755)
    xvfb = pages = None
    clients = []
    load_before = os.getloadavg()
    try:
        account = bench.Account(work)
        account.settle([helper], unprivileged=not args.as_root)
        pages = bench.PageServer(bench.make_tls(work, account))
        xvfb, display = bench.start_xvfb(work)
        env = bench.program_env(account, display)

        bench.log("one helper alone")
        alone = Client(0, helper, account, env, pages, work)
        clients.append(alone)
        alone.sign_in()
        if not alone.succeeded:
            raise RuntimeError("the lone helper did not sign in: %s" % (alone.error or alone.reply))
        time.sleep(SETTLE_SECONDS)
        alone_kib = alone.pss_kib()
        alone.stop()

        bench.log("%d helpers, %d ms apart" % (args.helpers, args.spacing_ms))
        clients = [Client(i, helper, account, env, pages, work)
                   for i in range(1, args.helpers + 1)]
        first_spawn = bench.wall_ms()
        threads = sign_in_all(clients, args.spacing_ms / 1000)
        # One bound for all: a page that never painted (its sign-in failed) costs it once.
        deadline = time.monotonic() + SIGNIN_TIMEOUT
        paints = [pages.reports.wait(c.run, "fcp", max(0.0, deadline - time.monotonic()))
                  for c in clients]
        painted_kib = sum(c.pss_kib() for c in clients)
        for thread in threads:
            thread.join(max(0.0, deadline - time.monotonic()))
        time.sleep(SETTLE_SECONDS)
        settled_kib = sum(c.pss_kib() for c in clients)
    finally:
        for client in clients:
            client.stop()
        if pages is not None:
            pages.shutdown()
        if xvfb is not None:
            bench.stop_xvfb(xvfb)
    load_after = os.getloadavg()

    succeeded = sum(1 for c in clients if c.succeeded)
    painted = [p[0] for p in paints if p]
    last_paint_s = (max(painted) - first_spawn) / 1000 if painted else float("nan")
    spawn_to_paint = [p[0] - c.program.started_wall_ms for c, p in zip(clients, paints)
                      if p and c.program is not None]
    n = len(clients)
    bench.print_table(("figure", "value"), [
        ("helpers that signed in", "%d of %d" % (succeeded, n)),
        ("first spawn to every page painted", "%.1f s" % last_paint_s),
        ("   spawn to first paint, median over the helpers",
         "%.0f ms" % statistics.median(spawn_to_paint) if spawn_to_paint else "-"),
        ("PSS of all helpers, when the last page painted", "%.0f MiB" % (painted_kib / 1024)),
        ("PSS of all helpers, every sign-in ended (settled)", "%.0f MiB" % (settled_kib / 1024)),
        ("PSS of one helper alone, sign-in ended (settled)", "%.1f MiB" % (alone_kib / 1024)),
        ("PSS of each helper beyond the first (goal <= 40 MiB)",
         "%.1f MiB" % ((settled_kib - alone_kib) / 1024 / max(n - 1, 1))),
    ])
    print()
    print("Machine: %s" % bench.machine())
    print("Helpers ran %s; the page came over %s; load average %.2f before, %.2f after"
          % (account.describe(), "TLS" if pages.base.startswith("https") else "plain HTTP",
             load_before[0], load_after[0]))
    for client in clients:
        if not client.succeeded:
            print("%s: %s" % (client.run, client.error or client.reply), file=sys.stderr)
    shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
