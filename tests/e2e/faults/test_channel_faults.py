"""Faults around the helper's three output and input streams: the in-channel ending while idle
or while a sign-in waits, the reader of the out-channel going away, and standard output
turning into a pipe without a reader while pages load.

Pages come from a loopback server that never redirects to the redirect URI, so every sign-in
here ends by its time limit. Windows are shown on a private Xvfb server."""

import os
import select
import statistics
import time
import unittest

import helperproc
import pageserver
import proctree
import testenv
import xvfb

REPLY_TIMEOUT = 30
EXIT_TIMEOUT = 15
# An idle helper must be gone well within this after its input ends.
IDLE_EXIT_BOUND = 5.0
NEVER_MATCHES = "http://127.0.0.1:9/never-reached"
# The empty icon keeps the engine from asking the server for /favicon.ico.
PAGE = (b"<html><head><title>Sign in</title><link rel=\"icon\" href=\"data:,\"></head>"
        b"<body><p>Sign in here</p></body></html>")

xserver = xvfb.SharedXServer()
setUpModule = xserver.start
tearDownModule = xserver.stop
figure = testenv.figure


def hello(request_id):
    return {"jsonrpc": "2.0", "id": request_id, "method": "hello"}


def navigate(request_id, url, timeout_ms):
    return {"jsonrpc": "2.0", "id": request_id, "method": "navigate",
            "params": {"title": "Sign in", "url": url, "redirect_uri": NEVER_MATCHES,
                       "timeout_ms": timeout_ms}}


EXIT = {"jsonrpc": "2.0", "method": "exit"}


def loaded_line(url):
    return "[tavisk] loaded " + url


def new_helper(**kwargs):
    return helperproc.Helper(env=testenv.base_env(display=xserver.display), **kwargs)


class InputEndsTest(unittest.TestCase):
    def assert_timeout_reply(self, reply, request_id):
        self.assertEqual(reply, {"jsonrpc": "2.0", "id": request_id,
                                 "error": {"code": 1, "message": "timeout"}})

    def test_input_ends_while_idle(self):
        """Exit 0 soon after the end of input, with and without a (hidden) window."""
        with pageserver.PageServer({"/": PAGE}) as server:
            for with_window in (False, True):
                latencies = []
                for _ in range(3):
                    with self.subTest(with_window=with_window), new_helper() as helper:
                        helper.send(hello(1))
                        helper.reply(REPLY_TIMEOUT)
                        if with_window:
                            helper.send(navigate(2, server.url("/"), 1000))
                            self.assert_timeout_reply(helper.reply(REPLY_TIMEOUT), 2)
                        start = time.monotonic()
                        helper.close_input()
                        self.assertEqual(helper.wait(EXIT_TIMEOUT), 0)
                        self.assertTrue(helper.out_at_eof(2))
                        latencies.append(time.monotonic() - start)
                self.assertLess(max(latencies), IDLE_EXIT_BOUND, latencies)
                figure("exit after end of input, idle, %s: median %.3f s, max %.3f s (%s)" % (
                    "window hidden" if with_window else "no window yet",
                    statistics.median(latencies), max(latencies),
                    ", ".join("%.3f" % t for t in latencies)))

    def test_input_ends_while_sign_in_waits(self):
        """The sign-in still ends at its own outcome; the lines sent with it are still handled;
        only then does the helper stop."""
        with pageserver.PageServer({"/": PAGE}) as server, new_helper() as helper:
            url = server.url("/")
            # Start-up is over once hello is answered, so the time limit runs from our send.
            helper.send(hello(0))
            helper.reply(REPLY_TIMEOUT)
            helper.send(helperproc.Helper.encode(navigate(1, url, 3000))
                        + helperproc.Helper.encode(hello(2)))
            sent = time.monotonic()
            self.assertTrue(helper.wait_stdout(lambda lines: loaded_line(url) in lines,
                                               REPLY_TIMEOUT), helper.stdout_lines)
            helper.close_input()
            self.assert_timeout_reply(helper.reply(REPLY_TIMEOUT), 1)
            waited = time.monotonic() - sent
            # The end of the input did not cut the wait short.
            self.assertGreaterEqual(waited, 2.9)
            self.assertLess(waited, 10)
            self.assertEqual(helper.reply(REPLY_TIMEOUT)["id"], 2)
            self.assertEqual(helper.wait(EXIT_TIMEOUT), 0)
            self.assertTrue(helper.out_at_eof(2))
            figure("navigate with timeout_ms 3000 and input closed during it: reply after "
                   "%.3f s, exit %.3f s after the send" % (waited, time.monotonic() - sent))


class ReplyReaderGoneTest(unittest.TestCase):
    def test_keeps_reading_and_handling(self):
        """With nobody reading replies the helper still carries out each request in turn:
        every navigate visibly loads its page, after replies that went nowhere."""
        routes = {"/first": PAGE, "/second": PAGE, "/third": PAGE}
        with pageserver.PageServer(routes) as server, new_helper() as helper:
            helper.send(hello(1))
            helper.reply(REPLY_TIMEOUT)
            helper.close_reply_reader()
            for number, path in enumerate(["/first", "/second", "/third"], start=2):
                url = server.url(path)
                helper.send(hello(100 + number))
                helper.send(navigate(number, url, 800))
                self.assertTrue(helper.wait_stdout(lambda lines: loaded_line(url) in lines,
                                                   REPLY_TIMEOUT), helper.stdout_lines)
            helper.send(EXIT)
            self.assertEqual(helper.wait(EXIT_TIMEOUT), 0, helper.stderr_text()[-2000:])
            self.assertEqual(server.requests, ["/first", "/second", "/third"])


def read_until(fd, needle, timeout):
    """Reads fd until needle has been seen; returns what was read (fails on timeout/EOF)."""
    data = b""
    deadline = time.monotonic() + timeout
    while needle not in data:
        left = deadline - time.monotonic()
        if left <= 0:
            raise AssertionError("%r not seen within %.1f s: %r" % (needle, timeout, data))
        ready, _, _ = select.select([fd], [], [], left)
        if ready:
            chunk = os.read(fd, 65536)
            if not chunk:
                raise AssertionError("EOF before %r: %r" % (needle, data))
            data += chunk
    return data


class StandardOutputGoneTest(unittest.TestCase):
    def test_page_loads_with_nobody_reading_standard_output(self):
        routes = {"/first": PAGE, "/second": PAGE, "/third": PAGE}
        stdout_r, stdout_w = os.pipe()
        try:
            with pageserver.PageServer(routes) as server, \
                    new_helper(stdout_pipe=stdout_w) as helper:
                os.close(stdout_w)
                stdout_w = None
                helper.send(navigate(1, server.url("/first"), 1000))
                read_until(stdout_r, loaded_line(server.url("/first")).encode(), REPLY_TIMEOUT)
                # From here on every diagnostic line meets a pipe without a reader.
                os.close(stdout_r)
                stdout_r = None
                self.assertEqual(helper.reply(REPLY_TIMEOUT)["error"]["message"], "timeout")
                for number, path in enumerate(["/second", "/third"], start=2):
                    helper.send(navigate(number, server.url(path), 1000))
                    reply = helper.reply(REPLY_TIMEOUT)
                    self.assertEqual((reply["id"], reply["error"]["message"]),
                                     (number, "timeout"))
                helper.send(hello(9))
                self.assertEqual(helper.reply(REPLY_TIMEOUT)["id"], 9)
                self.assertTrue(proctree.is_running(helper.pid))
                # Each page was really loaded, so each load's line was really written.
                self.assertEqual(server.requests, ["/first", "/second", "/third"])
                helper.send(EXIT)
                self.assertEqual(helper.wait(EXIT_TIMEOUT), 0, helper.stderr_text()[-2000:])
        finally:
            for fd in (stdout_r, stdout_w):
                if fd is not None:
                    os.close(fd)


if __name__ == "__main__":
    unittest.main()
