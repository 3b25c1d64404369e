"""Hostile bytes on the in-channel: floods of garbage, one enormous line, broken encodings,
NUL bytes, absurd nesting and numbers out of every range. None of it may stop the helper; the
request after it is answered.

Large inputs are written from a thread, so a full pipe can never deadlock the test."""

import json
import time
import unittest

import helperproc
import pageserver
import testenv
import xvfb

REPLY_TIMEOUT = 30
FLOOD_TIMEOUT = 180
EXIT_TIMEOUT = 15
CHUNK = 1 << 20

xserver = xvfb.SharedXServer()
setUpModule = xserver.start
tearDownModule = xserver.stop
figure = testenv.figure


def hello(request_id):
    return helperproc.Helper.encode({"jsonrpc": "2.0", "id": request_id, "method": "hello"})


def hello_raw(request_id):
    return (b'{"id":%d,"jsonrpc":"2.0","result":{"helper":"corvane-tavisk/1.0",'
            b'"protocol_version":1}}\n' % request_id)


HELLO_RESULT = {"helper": "corvane-tavisk/1.0", "protocol_version": 1}
EXIT = b'{"jsonrpc":"2.0","method":"exit"}\n'


def chunks(data):
    return [data[i:i + CHUNK] for i in range(0, len(data), CHUNK)]


def new_helper(**kwargs):
    return helperproc.Helper(env=testenv.base_env(display=xserver.display), **kwargs)


class HostileInputTest(unittest.TestCase):
    def finish(self, helper):
        helper.send(EXIT)
        self.assertEqual(helper.wait(EXIT_TIMEOUT), 0, helper.stderr_text()[-2000:])

    def test_a_million_garbage_lines(self):
        kinds = [b"\n", b"garbage\n", b"{\n", b"}\n", b"[1,2,3]\n", b'"hello"\n', b"\xff\xfe\n",
                 b'{"id":1,"method":"nope"}\n', b'{"id":1}\n', b'{"id":1,"method":"Hello"}\n']
        lines = 1_000_000
        flood = b"".join(kinds) * (lines // len(kinds))
        with new_helper() as helper:
            helper.send(hello(1))
            self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(1))
            start = time.monotonic()
            writer = helper.send_in_background(chunks(flood) + [hello(2)])
            # Not one of the garbage lines is answered: the next reply is the hello's.
            self.assertEqual(helper.reply_raw(FLOOD_TIMEOUT), hello_raw(2))
            figure("%d garbage lines (%.1f MB) then hello: answered after %.2f s" % (
                lines, len(flood) / 1e6, time.monotonic() - start))
            writer.join(5)
            self.assertIsNone(writer.error)
            self.finish(helper)

    def test_one_64_mib_line(self):
        pad = b"a" * (64 << 20)
        line = (b'{"jsonrpc":"2.0","id":2,"method":"hello","params":{"pad":"' + pad + b'"}}\n')
        with new_helper() as helper:
            helper.send(hello(1))
            self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(1))
            before = helper.peak_rss_kib()
            start = time.monotonic()
            writer = helper.send_in_background(chunks(line) + [hello(3)])
            self.assertEqual(helper.reply_raw(FLOOD_TIMEOUT), hello_raw(2))
            self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(3))
            elapsed = time.monotonic() - start
            after = helper.peak_rss_kib()
            figure("one 64 MiB hello line: answered after %.2f s; helper peak RSS (VmHWM) "
                   "%d MiB before, %d MiB after" % (elapsed, before >> 10, after >> 10))
            writer.join(5)
            self.assertIsNone(writer.error)
            self.finish(helper)

    def test_malformed_bytes(self):
        """Each line, then a hello: the replies are exactly the listed ids, then the hello."""
        deep = 100_000
        deep_arrays = b"[" * deep + b"]" * deep
        deep_objects = b'{"a":' * deep + b"1" + b"}" * deep
        cases = {
            # name: (line, ids of the replies it gets)
            "invalid UTF-8 outside any string": (b"\xff\xfe\xfd{}\n", []),
            "invalid UTF-8 in the method": (b'{"id":1,"method":"hel\xfflo"}\n', []),
            "overlong UTF-8 in params": (
                b'{"id":1,"method":"hello","params":{"x":"\xc0\xaf"}}\n', []),
            "truncated UTF-8 sequence in params": (
                b'{"id":1,"method":"hello","params":{"x":"\xe2\x82"}}\n', []),
            "UTF-16 surrogate encoded as UTF-8 in params": (
                b'{"id":1,"method":"hello","params":{"x":"\xed\xa0\x80"}}\n', []),
            "escaped lone surrogate in params": (
                b'{"id":1,"method":"hello","params":{"x":"\\ud800"}}\n', [1]),
            "escaped lone surrogate in the method": (
                b'{"id":1,"method":"hello\\udc00"}\n', []),
            "NUL bytes alone": (b"\x00\x00\x00\n", []),
            "a million NUL bytes": (b"\x00" * 1_000_000 + b"\n", []),
            "NUL after the object": (b'{"id":1,"method":"hello"}\x00\n', []),
            "NUL before the object": (b'\x00{"id":1,"method":"hello"}\n', []),
            "raw NUL inside the method": (b'{"id":1,"method":"hel\x00lo"}\n', []),
            "escaped NUL in params": (
                b'{"id":1,"method":"hello","params":{"x":"\\u0000"}}\n', [1]),
            "arrays 100,000 deep": (deep_arrays + b"\n", []),
            "objects 100,000 deep": (deep_objects + b"\n", []),
            "100,000 deep in the params of a hello": (
                b'{"id":1,"method":"hello","params":' + deep_objects + b"}\n", []),
            "100,000 deep in the id of a hello": (
                b'{"id":' + deep_arrays + b',"method":"hello"}\n', []),
            "100,000 unclosed brackets": (b"[" * deep + b"\n", []),
            "100,000 closing brackets": (b"]" * deep + b"\n", []),
        }
        with new_helper() as helper:
            for number, (name, (line, ids)) in enumerate(cases.items(), start=100):
                with self.subTest(name):
                    helper.send_in_background(chunks(line + hello(number))).join(REPLY_TIMEOUT)
                    for request_id in ids:
                        reply = helper.reply(REPLY_TIMEOUT)
                        self.assertEqual((reply["id"], reply["result"]),
                                         (request_id, HELLO_RESULT))
                    self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(number))
            self.finish(helper)

    def test_numbers_out_of_range_in_the_id(self):
        """An id out of the 64-bit range is answered with some number (which one is ours to
        choose); a number beyond a double's range makes the line unreadable JSON, so it gets no
        reply. Either way the helper lives on."""
        answered = [b"1e300", b"-1e300", b"18446744073709551616", b"-18446744073709551616",
                    b"9223372036854775808", b"-9223372036854775809", b"1e-300", b"-0"]
        unreadable = [b"1e400", b"-1e400", b"1" * 400, b"1e-400"]
        with new_helper() as helper:
            for number, text in enumerate(answered + unreadable, start=100):
                with self.subTest(id=text[:30]):
                    helper.send(b'{"jsonrpc":"2.0","id":' + text + b',"method":"hello"}\n'
                                + hello(number))
                    if text in answered:
                        reply = helper.reply(REPLY_TIMEOUT)
                        self.assertIsInstance(reply["id"], (int, float))
                        self.assertEqual(reply["result"], HELLO_RESULT)
                    self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(number))
            self.finish(helper)

    def test_numbers_out_of_range_in_timeout_ms(self):
        """A time limit out of every range falls back to the default, never to something short:
        a page that redirects after about a second still completes the sign-in."""
        page = (b"<html><head><link rel=\"icon\" href=\"data:,\"></head><body><script>"
                b"setTimeout(function () { location.href = '/done?code=x'; }, 1200);"
                b"</script></body></html>")
        values = [b"1e300", b"-1e300", b"18446744073709551616", b"-18446744073709551616"]
        with pageserver.PageServer({"/": page, "/done": b"done"}) as server, \
                new_helper() as helper:
            for number, text in enumerate(values, start=1):
                with self.subTest(timeout_ms=text):
                    params = json.dumps({"title": "Sign in", "url": server.url("/"),
                                         "redirect_uri": server.url("/done")})
                    params = params[:-1].encode() + b',"timeout_ms":' + text + b"}"
                    helper.send(b'{"jsonrpc":"2.0","id":%d,"method":"navigate","params":%s}\n'
                                % (number, params))
                    reply = helper.reply(REPLY_TIMEOUT)
                    self.assertEqual(reply, {"jsonrpc": "2.0", "id": number, "result": {
                        "status": "ok", "redirect_url": server.url("/done?code=x")}})
            # Beyond a double's range the line is not JSON at all: nothing is opened.
            helper.send(b'{"jsonrpc":"2.0","id":9,"method":"navigate","params":{"url":"%s",'
                        b'"timeout_ms":1e400}}\n' % server.url("/").encode() + hello(99))
            self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(99))
            # One page per sign-in; each redirect was refused, never loaded.
            self.assertEqual(server.requests, ["/"] * len(values))
            self.finish(helper)


if __name__ == "__main__":
    unittest.main()
