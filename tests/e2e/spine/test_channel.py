"""The command channel through the real binary and real pipes: what is answered, what is met
with silence, and how the process ends.

Silence is proven, never waited for: after each line that must get no reply, a hello with a
fresh id follows, and the very next reply line must be that hello's, byte for byte."""

import unittest

import helperproc

REPLY_TIMEOUT = 30
EXIT_TIMEOUT = 15
# Once the helper has exited nobody may hold the out-channel open any more, in particular no
# engine process that inherited it: the client's read must end at once.
EOF_TIMEOUT = 2


def hello(request_id):
    return {"jsonrpc": "2.0", "id": request_id, "method": "hello"}


def hello_raw(request_id):
    return (b'{"id":%d,"jsonrpc":"2.0","result":{"helper":"corvane-tavisk/1.0",'
            b'"protocol_version":1}}\n' % request_id)


EXIT = b'{"jsonrpc":"2.0","method":"exit"}\n'


class ChannelTest(unittest.TestCase):
    def assert_orderly_exit(self, helper):
        self.assertEqual(helper.wait(EXIT_TIMEOUT), 0, helper.stderr_text()[-2000:])
        self.assertTrue(helper.out_at_eof(EOF_TIMEOUT), "the out-channel stayed open")
        self.assertRaises(AssertionError, helper.reply_raw, 0.1)

    def test_answers(self):
        with helperproc.Helper() as helper:
            cases = [
                ("hello", hello(1), hello_raw(1)),
                ("hello with params", {"jsonrpc": "2.0", "id": 2, "method": "hello",
                                       "params": {"protocol_version": 7}}, hello_raw(2)),
                ("shutdown", {"jsonrpc": "2.0", "id": 3, "method": "shutdown"},
                 b'{"id":3,"jsonrpc":"2.0","result":null}\n'),
                ("hello after shutdown", hello(4), hello_raw(4)),
                ("line ended by CR LF", b'{"jsonrpc":"2.0","id":5,"method":"hello"}\r\n',
                 hello_raw(5)),
                ("no jsonrpc member", b'{"id":6,"method":"hello"}\n', hello_raw(6)),
            ]
            for name, request, expected in cases:
                with self.subTest(name):
                    helper.send(request)
                    self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), expected)

            # Two requests in one write, and one request split over several writes.
            helper.send(helperproc.Helper.encode(hello(7)) + helperproc.Helper.encode(hello(8)))
            self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(7))
            self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(8))
            for piece in (b'{"jsonrpc":"2.0",', b'"id":9,"meth', b'od":"hello"}', b"\n"):
                helper.send(piece)
            self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(9))

            helper.send(EXIT)
            self.assert_orderly_exit(helper)
            self.assertEqual(helper.stdout_lines, [])

    def test_silence(self):
        cases = {
            "empty line": b"\n",
            "carriage return alone": b"\r\n",
            "not JSON": b"hello\n",
            "truncated object": b'{"jsonrpc":"2.0","id":1,"method":"hello"\n',
            "JSON array": b'[{"jsonrpc":"2.0","id":1,"method":"hello"}]\n',
            "JSON string": b'"hello"\n',
            "JSON number": b"42\n",
            "JSON null": b"null\n",
            "two objects on one line": b'{"id":1,"method":"hello"}{"id":2,"method":"hello"}\n',
            "no method": b'{"jsonrpc":"2.0","id":1}\n',
            "null method": b'{"jsonrpc":"2.0","id":1,"method":null}\n',
            "numeric method": b'{"jsonrpc":"2.0","id":1,"method":1}\n',
            "method in an array": b'{"jsonrpc":"2.0","id":1,"method":["hello"]}\n',
            "unknown method": b'{"jsonrpc":"2.0","id":1,"method":"initialize"}\n',
            "empty method": b'{"jsonrpc":"2.0","id":1,"method":""}\n',
            "Hello": b'{"jsonrpc":"2.0","id":1,"method":"Hello"}\n',
            "HELLO": b'{"jsonrpc":"2.0","id":1,"method":"HELLO"}\n',
            "hello with a trailing space": b'{"jsonrpc":"2.0","id":1,"method":"hello "}\n',
            "hello with a leading space": b'{"jsonrpc":"2.0","id":1,"method":" hello"}\n',
            "hello with a NUL": b'{"jsonrpc":"2.0","id":1,"method":"hello\\u0000"}\n',
            "Shutdown": b'{"jsonrpc":"2.0","id":1,"method":"Shutdown"}\n',
            "shutdown with a trailing space": b'{"jsonrpc":"2.0","id":1,"method":"shutdown "}\n',
            "Navigate": b'{"jsonrpc":"2.0","id":1,"method":"Navigate","params":{}}\n',
            # Near misses of exit must not stop the helper either: the hello after them is
            # still answered.
            "Exit": b'{"jsonrpc":"2.0","method":"Exit"}\n',
            "exit with a trailing space": b'{"jsonrpc":"2.0","method":"exit "}\n',
            "EXIT": b'{"jsonrpc":"2.0","method":"EXIT"}\n',
            "cancel": b'{"jsonrpc":"2.0","id":1,"method":"cancel"}\n',
            "cancel with params": b'{"jsonrpc":"2.0","id":1,"method":"cancel","params":[1]}\n',
        }
        with helperproc.Helper() as helper:
            for number, (name, line) in enumerate(cases.items(), start=100):
                with self.subTest(name):
                    helper.send(line + helperproc.Helper.encode(hello(number)))
                    self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(number))
            # The same lines all in one write, then one hello: exactly one reply, the hello's.
            helper.send(b"".join(cases.values()) + helperproc.Helper.encode(hello(999)))
            self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(999))
            helper.send(EXIT)
            self.assert_orderly_exit(helper)

    def test_endings(self):
        """Every way the client ends the run gives exit status 0 and an out-channel at EOF."""
        endings = {
            "exit": [EXIT],
            "exit with an id and params": [
                b'{"jsonrpc":"2.0","id":12,"method":"exit","params":{"x":1}}\n'],
            "end of input": [],
            "shutdown, then end of input": [b'{"jsonrpc":"2.0","id":3,"method":"shutdown"}\n'],
            "shutdown, then exit": [b'{"jsonrpc":"2.0","id":3,"method":"shutdown"}\n', EXIT],
            "end of input after an unfinished line": [b'{"jsonrpc":"2.0","id":1,"method":"hel'],
            "end of input after a request without its newline": [
                b'{"jsonrpc":"2.0","id":1,"method":"hello"}'],
        }
        for name, lines in endings.items():
            with self.subTest(name), helperproc.Helper() as helper:
                helper.send(hello(1))
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(1))
                for line in lines:
                    helper.send(line)
                    if b'"shutdown"' in line:
                        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                                         b'{"id":3,"jsonrpc":"2.0","result":null}\n')
                helper.close_input()
                self.assert_orderly_exit(helper)

    def test_nothing_after_exit_is_handled(self):
        encode = helperproc.Helper.encode
        cases = {
            "hello after exit in the same write": (EXIT + encode(hello(2)), []),
            "shutdown after exit in the same write":
                (EXIT + b'{"jsonrpc":"2.0","id":3,"method":"shutdown"}\n', []),
            "hello before and after exit in the same write":
                (encode(hello(1)) + EXIT + encode(hello(2)), [hello_raw(1)]),
        }
        for name, (data, replies) in cases.items():
            with self.subTest(name), helperproc.Helper() as helper:
                # The input stays open: only exit can have ended the run.
                helper.send(data)
                for expected in replies:
                    self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), expected)
                self.assert_orderly_exit(helper)

    def test_exit_while_the_engine_starts(self):
        """A client that gives up at once meets the engine starting the warm page's render
        process: torn down then, Qt 6.8's engine crashed on its way out in about one run in
        eighty. Enough rounds to see that more often than not, each ended as any other run."""
        for round_number in range(60):
            with self.subTest(round=round_number), helperproc.Helper() as helper:
                helper.send(helperproc.Helper.encode(hello(1)) + EXIT)
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(1))
                self.assert_orderly_exit(helper)

    def test_reader_of_replies_gone(self):
        """A client that stopped reading replies can still make the helper exit."""
        for ending in ("exit", "end of input"):
            with self.subTest(ending), helperproc.Helper() as helper:
                helper.send(hello(1))
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), hello_raw(1))
                helper.close_reply_reader()
                # Each of these replies now meets a pipe without a reader.
                for request_id in range(2, 6):
                    helper.send(hello(request_id))
                helper.send(b'{"jsonrpc":"2.0","id":6,"method":"shutdown"}\n')
                if ending == "exit":
                    helper.send(EXIT)
                else:
                    helper.close_input()
                self.assertEqual(helper.wait(EXIT_TIMEOUT), 0, helper.stderr_text()[-2000:])


if __name__ == "__main__":
    unittest.main()
