"""The helper killed from outside, idle and in the middle of a sign-in: nothing of its process
tree may outlive it, and the client's ends of both channels must see the end."""

import os
import signal
import time
import unittest

import helperproc
import pageserver
import proctree
import testenv
import xvfb

REPLY_TIMEOUT = 30
EXIT_TIMEOUT = 15
# Engine processes notice their parent's death through their own pipes; give them this long.
TREE_GONE_BOUND = 10
PAGE = (b"<html><head><title>Sign in</title><link rel=\"icon\" href=\"data:,\"></head>"
        b"<body><form><input name=user></form></body></html>")

xserver = xvfb.SharedXServer()
setUpModule = xserver.start
tearDownModule = xserver.stop
figure = testenv.figure


def command_line(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode("utf-8", "replace")[:160]
    except OSError:
        return "(gone)"


class KilledHelperTest(unittest.TestCase):
    def test_killed_helper_leaves_nothing_behind(self):
        with pageserver.PageServer({"/": PAGE}) as server:
            for signum in (signal.SIGTERM, signal.SIGKILL):
                for phase in ("idle", "during a sign-in"):
                    with self.subTest(signal=signum.name, phase=phase):
                        self.kill_and_check(server, signum, phase)

    def kill_and_check(self, server, signum, phase):
        env = testenv.base_env(display=xserver.display)
        with helperproc.Helper(env=env) as helper:
            helper.send({"jsonrpc": "2.0", "id": 1, "method": "hello"})
            helper.reply(REPLY_TIMEOUT)
            if phase != "idle":
                url = server.url("/")
                helper.send({"jsonrpc": "2.0", "id": 2, "method": "navigate",
                             "params": {"title": "Sign in", "url": url,
                                        "redirect_uri": "http://127.0.0.1:9/never",
                                        "timeout_ms": 120000}})
                self.assertTrue(helper.wait_stdout(
                    lambda lines: "[tavisk] loaded " + url in lines, REPLY_TIMEOUT),
                    helper.stdout_lines)

            tree = helper.tree()
            commands = {pid: command_line(pid) for pid in tree}
            engine = [c for c in commands.values() if "QtWebEngineProcess" in c]
            # The engine's two zygotes are up from start-up on; a shown page adds a renderer,
            # forked from a zygote and so still under the zygote's command line.
            self.assertGreaterEqual(len(engine), 2 if phase == "idle" else 3, commands)

            killed = time.monotonic()
            os.kill(helper.pid, signum)
            self.assertEqual(helper.wait(EXIT_TIMEOUT), -signum)
            survivors = lambda: {p for p in tree if proctree.is_running(p)}
            gone = testenv.wait_until(lambda: not survivors(), TREE_GONE_BOUND)
            self.assertTrue(gone, {p: commands[p] for p in survivors()})
            self.assertEqual(proctree.group_members(helper.pid), set())
            figure("%s %s: %d processes, all gone %.3f s after the signal" % (
                signum.name, phase, len(tree), time.monotonic() - killed))

            # The client's ends: the out-channel reads EOF, the in-channel has no reader.
            self.assertTrue(helper.out_at_eof(2))
            self.assertRaises(BrokenPipeError, helper.send,
                              {"jsonrpc": "2.0", "id": 3, "method": "hello"})


if __name__ == "__main__":
    unittest.main()
