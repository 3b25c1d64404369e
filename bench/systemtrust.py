#!/usr/bin/python3
"""What trusting the system's certificate authorities costs: start-up, a first sign-in, memory.

The helper runs offscreen as it ships (p11-kit's trust module loaded into its NSS at start-up)
and with TAVISK_SYSTEM_TRUST=0 (the engine's roots and the person's database only), rounds
interleaved. The provider is a loopback HTTPS page whose authority the person's NSS database
trusts, so that both runs sign in; each run's HOME is a fresh copy of that database. Per run:

- hello: from starting the process to the reply to hello (the module loads before the engine
  starts, so its cost lands here);
- sign-in: from writing the navigate line to its reply (the first TLS verification, in which
  NSS also asks the trust module's tokens);
- memory: Pss of the helper's own process (the browser process, which holds NSS) and of the
  whole tree, after the sign-in and a short settle.

Usage: bench/systemtrust.py [--build build] [--rounds 5]. Prints a table of medians. Every
process started here is killed before it ends.
"""

import argparse
import json
import os
import shutil
import statistics
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e", "lib"))
import helperproc  # noqa: E402
import proctree  # noqa: E402
import testenv  # noqa: E402
import tlsserver  # noqa: E402
from signinfixture import line, request  # noqa: E402

SETTLE_SECONDS = 1.0
REPLY_TIMEOUT = 60


def pss_kib(pid):
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for entry in f:
                if entry.startswith("Pss:"):
                    return int(entry.split()[1])
    except OSError:
        pass
    return 0


def one_run(binary, home_template, server, trust_off):
    with tempfile.TemporaryDirectory(prefix="tavisk-bench-trust-") as scratch:
        home = os.path.join(scratch, "home")
        shutil.copytree(home_template, home)
        env = testenv.base_env(offscreen=True)
        env.update(HOME=home, TMPDIR=scratch, XDG_CONFIG_HOME=os.path.join(scratch, "c"),
                   XDG_CACHE_HOME=os.path.join(scratch, "k"))
        env.pop("TAVISK_SYSTEM_TRUST", None)
        if trust_off:
            env["TAVISK_SYSTEM_TRUST"] = "0"
        started = time.monotonic()
        with helperproc.Helper(env=env, binary=binary) as helper:
            helper.send(line(request(1, "hello")))
            helper.reply(REPLY_TIMEOUT)
            hello = time.monotonic() - started
            asked = time.monotonic()
            helper.send(line(request(2, "navigate", url=server.url("/"), title="Sign in",
                                     redirect_uri=server.url("/cb"))))
            reply = helper.reply(REPLY_TIMEOUT)
            signed_in = time.monotonic() - asked
            if "result" not in reply:
                raise SystemExit("the sign-in failed: %r" % reply)
            time.sleep(SETTLE_SECONDS)
            main = pss_kib(helper.pid)
            tree = main + sum(pss_kib(pid) for pid in proctree.descendants(helper.pid))
    return hello, signed_in, main, tree


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(HERE, "..", "build"))
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    binary = os.path.join(os.path.abspath(args.build), "src", "corvane-tavisk")
    with tempfile.TemporaryDirectory(prefix="tavisk-bench-pki-") as folder:
        authority = tlsserver.Authority(folder)
        cert, key = authority.issue("server", ["127.0.0.1"])
        home = os.path.join(folder, "home")
        authority.trust_in(home)
        page = "<script>location.replace('/cb?code=1')</script>"
        runs = {False: [], True: []}
        with tlsserver.TlsServer(cert, key, page) as server:
            for _ in range(args.rounds):
                for trust_off in (False, True):
                    result = one_run(binary, home, server, trust_off)
                    runs[trust_off].append(result)
                    print(json.dumps({"trust_off": trust_off, "run": result}), file=sys.stderr)
    print("| | hello (ms) | first sign-in (ms) | helper process Pss (MiB) | whole tree Pss (MiB) |")
    print("|---|---|---|---|---|")
    for trust_off, label in ((False, "system trust (as shipped)"),
                             (True, "TAVISK_SYSTEM_TRUST=0")):
        columns = list(zip(*runs[trust_off]))
        print("| %s | %.0f | %.0f | %.1f | %.1f |" % (
            label, statistics.median(columns[0]) * 1000, statistics.median(columns[1]) * 1000,
            statistics.median(columns[2]) / 1024, statistics.median(columns[3]) / 1024))


if __name__ == "__main__":
    main()
