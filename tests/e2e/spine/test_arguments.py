"""The command line as the client gives it: the usage line, a failed import of a channel
handle, the last occurrence of an option winning, and arguments that are none of ours."""

import unittest

import helperproc

REPLY_TIMEOUT = 30
EXIT_TIMEOUT = 15
IMPORT_FAILURE = "failed to import the cmdIn/cmdOut channel handles\n"
# A descriptor the child certainly does not have open: Popen closes all but the channels.
NOT_OPEN = "987"


def hello(request_id):
    return {"jsonrpc": "2.0", "id": request_id, "method": "hello"}


def hello_raw(request_id):
    return (b'{"id":%d,"jsonrpc":"2.0","result":{"helper":"corvane-tavisk/1.0",'
            b'"protocol_version":1}}\n' % request_id)


class StartupFailureTest(unittest.TestCase):
    def assert_fails_with(self, args, expected_stderr, argv0=None):
        with helperproc.Helper(args=args, argv0=argv0) as helper:
            self.assertEqual(helper.wait(EXIT_TIMEOUT), 1)
            self.assertTrue(helper.wait_stderr_eof(), "standard error never ended")
            self.assertEqual(helper.stderr_text(), expected_stderr)
            # Nothing was ever written on the out-channel, and the child kept nothing open.
            self.assertTrue(helper.out_at_eof(5))
            self.assertRaises(AssertionError, helper.reply_raw, 0.1)
            self.assertEqual(helper.stdout_lines, [])

    def test_usage_line(self):
        program = "/opt/some where/tavisk under test"
        usage = "usage: %s --cmdInFd=<handle> --cmdOutFd=<handle>\n" % program
        cases = {
            "no arguments": [],
            "only the in-channel": ["--cmdInFd={in}"],
            "only the out-channel": ["--cmdOutFd={out}"],
            "in-channel in lower case": ["--cmdinfd={in}", "--cmdOutFd={out}"],
            "out-channel in upper case": ["--cmdInFd={in}", "--CMDOUTFD={out}"],
            "prefix after a leading space": [" --cmdInFd={in}", "--cmdOutFd={out}"],
            "prefix inside another argument": ["--cmdInFd={in}", "x--cmdOutFd={out}"],
            "single dash": ["-cmdInFd={in}", "-cmdOutFd={out}"],
            "prefix without its equals sign": ["--cmdInFd{in}", "--cmdOutFd={out}"],
            "both only as unrelated arguments": ["--unrelated", "value"],
        }
        for name, args in cases.items():
            with self.subTest(name):
                self.assert_fails_with(args, usage, argv0=program)

    def test_usage_names_the_program_as_invoked(self):
        # The program name is argv[0] exactly as given, not the binary's path.
        for argv0 in ["corvane-tavisk", "./x", ""]:
            with self.subTest(argv0=argv0):
                self.assert_fails_with(
                    [], "usage: %s --cmdInFd=<handle> --cmdOutFd=<handle>\n" % argv0, argv0)

    def test_import_failure(self):
        cases = {
            "in-channel prefix alone": ["--cmdInFd=", "--cmdOutFd={out}"],
            "out-channel prefix alone": ["--cmdInFd={in}", "--cmdOutFd="],
            "in-channel not open": ["--cmdInFd=" + NOT_OPEN, "--cmdOutFd={out}"],
            "out-channel not open": ["--cmdInFd={in}", "--cmdOutFd=" + NOT_OPEN],
            "both not open": ["--cmdInFd=" + NOT_OPEN, "--cmdOutFd=" + NOT_OPEN],
            "not a number": ["--cmdInFd={in}", "--cmdOutFd=one"],
            "negative": ["--cmdInFd=-1", "--cmdOutFd={out}"],
            # The last occurrence wins even when an earlier one was the good one.
            "good in-channel replaced by a bad one": [
                "--cmdInFd={in}", "--cmdOutFd={out}", "--cmdInFd=" + NOT_OPEN],
            "good out-channel replaced by an empty one": [
                "--cmdInFd={in}", "--cmdOutFd={out}", "--cmdOutFd="],
        }
        for name, args in cases.items():
            with self.subTest(name):
                self.assert_fails_with(args, IMPORT_FAILURE)


class StartupTest(unittest.TestCase):
    def assert_serves(self, args):
        with helperproc.Helper(args=args) as helper:
            helper.send(hello(11))
            helper.reply(REPLY_TIMEOUT)
            self.assertEqual(helper.last_raw, hello_raw(11))
            helper.send({"jsonrpc": "2.0", "method": "exit"})
            self.assertEqual(helper.wait(EXIT_TIMEOUT), 0)
            self.assertTrue(helper.out_at_eof(5))

    def test_starts_with_these_arguments(self):
        cases = {
            "the two channels alone": ["--cmdInFd={in}", "--cmdOutFd={out}"],
            "out-channel first": ["--cmdOutFd={out}", "--cmdInFd={in}"],
            "bogus in-channel, then the real one": [
                "--cmdInFd=" + NOT_OPEN, "--cmdOutFd={out}", "--cmdInFd={in}"],
            "empty out-channel, then the real one": [
                "--cmdOutFd=", "--cmdInFd={in}", "--cmdOutFd={out}"],
            "unrelated arguments around them": [
                "--unrelated", "--cmdInFd={in}", "some value", "--cmdOutFd={out}",
                "--cmdInFdX=3", "--CMDINFD=" + NOT_OPEN, "x--cmdOutFd=" + NOT_OPEN, ""],
        }
        for name, args in cases.items():
            with self.subTest(name):
                self.assert_serves(args)


if __name__ == "__main__":
    unittest.main()
