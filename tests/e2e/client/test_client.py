"""corvane-tavisk-client as its users run it: its command line, its errors when the helper
cannot be started or ends early, and real sign-ins through the real helper under Xvfb."""

import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

import pageserver
import proctree
import testenv
import xvfb

HERE = os.path.dirname(os.path.abspath(__file__))
FAKE_HELPER = os.path.join(HERE, "fakehelper.py")
RUN_TIMEOUT = 60
USAGE = 64
SIGN_IN_FAILED = 2
HELPER_FAILED = 3
NETWORK_FAILED = 6
INTERACTION_REQUIRED = 7
REDIRECT_URI = "http://127.0.0.1:9/done"


def client_path():
    path = os.environ.get("TAVISK_CLIENT")
    if not path or not os.access(path, os.X_OK):
        raise AssertionError("TAVISK_CLIENT is not set to an executable: %r" % path)
    return path


class Run:
    """One finished client run: exit status, standard output and standard error as text, the
    transcript lines split by direction, and how long it took."""

    def __init__(self, args, env=None, executable=None):
        started = time.monotonic()
        process = subprocess.Popen(
            [executable or client_path()] + args, env=env, stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        try:
            out, err = process.communicate(timeout=RUN_TIMEOUT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, 9)
            process.communicate()
            raise AssertionError("the client did not finish within %d s" % RUN_TIMEOUT)
        finally:
            # The client waits for its helper; nothing it started may outlive it.
            self.leftovers = testenv.wait_until(
                lambda: not proctree.group_members(process.pid), 5) is None
            if self.leftovers:
                os.killpg(process.pid, 9)
        self.seconds = time.monotonic() - started
        self.status = process.returncode
        self.stdout = out.decode("utf-8", "replace")
        self.stderr = err.decode("utf-8", "replace")
        lines = self.stderr.splitlines()
        self.sent = [json.loads(l[2:]) for l in lines if l.startswith("> ")]
        self.received = [l[2:] for l in lines if l.startswith("< ")]  # raw: may be no JSON
        self.last_error_line = lines[-1] if lines else ""

    def __repr__(self):
        return "status %r, stdout %r, stderr %r" % (self.status, self.stdout, self.stderr[-3000:])


def sign_in_args(url, *extra, helper=None):
    args = ["--url", url, "--redirect-uri", REDIRECT_URI] + list(extra)
    if helper is not None:
        args += ["--helper", helper]
    return args


class CommandLineTest(unittest.TestCase):
    def test_help_and_version(self):
        for flag in ["--help", "-h"]:
            with self.subTest(flag):
                run = Run([flag])
                self.assertEqual(run.status, 0, run)
                self.assertTrue(run.stdout.startswith("usage: corvane-tavisk-client "), run)
                for option in ["--url", "--redirect-uri", "--title", "--user-agent",
                               "--timeout-ms", "--parent-window", "--session", "--silent",
                               "--forget", "--helper"]:
                    self.assertIn(option, run.stdout)
                self.assertEqual(run.stderr, "")
        run = Run(["--version"])
        self.assertEqual((run.status, run.stdout), (0, "corvane-tavisk-client 1.0\n"))

    def test_bad_options_give_the_usage_and_start_nothing(self):
        folder = tempfile.mkdtemp(prefix="tavisk-client-")
        self.addCleanup(shutil.rmtree, folder, True)
        report = os.path.join(folder, "report.json")
        env = dict(os.environ, FAKE_HELPER_REPORT=report)
        url = ["--url", "http://127.0.0.1:9/", "--helper", FAKE_HELPER]
        cases = {
            "unknown option": url + ["--redirect-uri", REDIRECT_URI, "--bogus=1"],
            "positional argument": url + ["--redirect-uri", REDIRECT_URI, "extra"],
            "no --url": ["--redirect-uri", REDIRECT_URI],
            "empty --url": ["--url=", "--redirect-uri", REDIRECT_URI],
            "no --redirect-uri": url,
            "option without its value": url + ["--redirect-uri"],
            "negative timeout": url + ["--redirect-uri", REDIRECT_URI, "--timeout-ms=-1"],
            "timeout beyond 32 bits": url + ["--redirect-uri", REDIRECT_URI,
                                             "--timeout-ms=4294967296"],
            "timeout with a unit": url + ["--redirect-uri", REDIRECT_URI, "--timeout-ms", "5s"],
            "forget with a sign-in": url + ["--redirect-uri", REDIRECT_URI, "--forget", "work"],
            "forget silently": ["--forget", "work", "--silent", "--helper", FAKE_HELPER],
        }
        for name, args in cases.items():
            with self.subTest(name):
                run = Run(args, env=env)
                self.assertEqual(run.status, USAGE, run)
                self.assertEqual(run.stdout, "")
                self.assertRegex(run.stderr, r"^corvane-tavisk-client: .+\nusage: ")
                self.assertFalse(os.path.exists(report), "a helper was started")


class HelperFailureTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="tavisk-client-")
        self.addCleanup(shutil.rmtree, self.dir, True)
        self.report = os.path.join(self.dir, "report.json")

    def fake_env(self, mode, path=None):
        env = dict(os.environ, FAKE_HELPER_MODE=mode, FAKE_HELPER_REPORT=self.report)
        if path is not None:
            env["PATH"] = path
        return env

    def assert_helper_failure(self, run, message):
        self.assertEqual(run.status, HELPER_FAILED, run)
        self.assertEqual(run.stdout, "")
        self.assertEqual(run.last_error_line, "corvane-tavisk-client: " + message)
        self.assertFalse(run.leftovers)

    def test_helpers_that_cannot_serve(self):
        missing = os.path.join(self.dir, "no-such-helper")
        cases = [
            ("missing", [missing], os.environ,
             "cannot start the helper %s: No such file or directory" % missing),
            ("not on PATH", ["tavisk-no-such-helper"], os.environ,
             "cannot find the helper tavisk-no-such-helper on PATH"),
            ("exits at once", ["/bin/false"], os.environ,
             "the helper ended before it answered hello (exit status 1)"),
            ("ends before the navigate reply", [FAKE_HELPER], self.fake_env("quit-after-hello"),
             "the helper ended before it answered navigate (exit status 5)"),
            ("answers with no reply", [FAKE_HELPER], self.fake_env("garbage"),
             "the helper's answer to hello is not a reply to it: this is no reply"),
        ]
        for name, helper, env, message in cases:
            with self.subTest(name):
                run = Run(sign_in_args("http://127.0.0.1:9/", helper=helper[0]), env=env)
                self.assert_helper_failure(run, message)

    def test_session_silent_and_forget(self):
        env = self.fake_env("ok")
        run = Run(sign_in_args("http://127.0.0.1:9/", "--session=work", "--silent",
                               helper=FAKE_HELPER), env=env)
        self.assertEqual(run.status, INTERACTION_REQUIRED, run)
        self.assertEqual(run.stdout, "")
        self.assertEqual(run.last_error_line,
                         "corvane-tavisk-client: sign-in failed: interaction_required")
        self.assertEqual(run.sent[1]["params"]["session"], "work")
        self.assertIs(run.sent[1]["params"]["silent"], True)

        run = Run(["--forget", "work", "--helper", FAKE_HELPER], env=env)
        self.assertEqual((run.status, run.stdout), (0, ""), run)
        self.assertEqual([(r["method"], r.get("params")) for r in run.sent],
                         [("hello", None), ("forget", {"session": "work"}), ("exit", None)])
        run = Run(["--forget=busy", "--helper", FAKE_HELPER], env=env)
        self.assertEqual(run.status, SIGN_IN_FAILED, run)
        self.assertEqual(run.last_error_line,
                         "corvane-tavisk-client: forget failed: session_in_use")

    def test_default_helper_is_the_one_beside_the_client(self):
        client = os.path.join(self.dir, "corvane-tavisk-client")
        shutil.copy(client_path(), client)
        # Nothing beside it, nothing on PATH: a clear error.
        run = Run(sign_in_args("http://127.0.0.1:9/"),
                  env=self.fake_env("ok", path=os.path.join(self.dir, "empty")), executable=client)
        self.assert_helper_failure(
            run, "cannot find the helper corvane-tavisk (looked in %s, PATH); name it with "
                 "--helper" % self.dir)

        # Nothing beside it: the first one on PATH.
        on_path = os.path.join(self.dir, "on-path")
        os.mkdir(on_path)
        shutil.copy(FAKE_HELPER, os.path.join(on_path, "corvane-tavisk"))
        run = Run(sign_in_args("http://127.0.0.1:9/"),
                  env=self.fake_env("ok", path=on_path + ":/usr/bin:/bin"), executable=client)
        self.assertEqual((run.status, run.stdout), (0, REDIRECT_URI + "?code=fake\n"), run)
        with open(self.report) as f:
            self.assertEqual(json.load(f)["argv"][0], os.path.join(on_path, "corvane-tavisk"))

        # One beside it wins over the one on PATH.
        shutil.copy(FAKE_HELPER, os.path.join(self.dir, "corvane-tavisk"))
        run = Run(sign_in_args("http://127.0.0.1:9/", "--title", "T", "--user-agent", "UA/1",
                               "--timeout-ms", "0", "--parent-window=x11:1a00003"),
                  env=self.fake_env("ok", path=on_path + ":/usr/bin:/bin"), executable=client)
        self.assertEqual(run.status, 0, run)
        self.assertEqual(run.stdout, REDIRECT_URI + "?code=fake\n")
        with open(self.report) as f:
            report = json.load(f)
        self.assertEqual(report["argv"][0], os.path.join(self.dir, "corvane-tavisk"))
        # The helper holds its standard streams and its two channel ends, nothing of ours.
        in_fd = int(report["argv"][1].split("=")[1])
        out_fd = int(report["argv"][2].split("=")[1])
        self.assertEqual([a.split("=")[0] for a in report["argv"][1:]],
                         ["--cmdInFd", "--cmdOutFd"])
        self.assertEqual(report["open_fds"], sorted({0, 1, 2, in_fd, out_fd}))
        # The helper's standard output reaches our standard error, never our standard output.
        self.assertIn("[tavisk] loaded fake:start\n", run.stderr)
        # Every request, as sent and as the helper read it.
        self.assertEqual(report["requests"], run.sent)
        self.assertEqual([r.get("method") for r in run.sent], ["hello", "navigate", "exit"])
        # A limit of 0 means the helper's default, which is what leaving it out says too.
        self.assertEqual(run.sent[1]["params"], {
            "url": "http://127.0.0.1:9/", "redirect_uri": REDIRECT_URI, "title": "T",
            "user_agent": "UA/1", "parent_window": "x11:1a00003"})


class RealSignInTest(unittest.TestCase):
    """The real helper in a window on Xvfb, signing in against a loopback page."""

    @classmethod
    def setUpClass(cls):
        cls.xserver = xvfb.XServer().__enter__()
        cls.addClassCleanup(cls.xserver.__exit__, None, None, None)
        cls.pages = pageserver.PageServer({
            "/signin": ("redirect", REDIRECT_URI + "?code=c%2F1&state=s"),
            "/refuse": ("redirect", REDIRECT_URI + "?error=access_denied&error_subcode=cancel"),
            "/wait": b"<html><body>Sign in here, some day.</body></html>",
        }).__enter__()
        cls.addClassCleanup(cls.pages.__exit__, None, None, None)
        cls.env = testenv.base_env(display=cls.xserver.display)

    def sign_in(self, path, *extra):
        return Run(sign_in_args(self.pages.url(path), *extra, helper=testenv.binary_path()),
                   env=self.env)

    def assert_conversation(self, run, navigate_reply):
        self.assertEqual([r.get("method") for r in run.sent], ["hello", "navigate", "exit"])
        received = [json.loads(line) for line in run.received]
        self.assertEqual(len(received), 2, run)
        self.assertEqual(received[0]["result"],
                         {"helper": "corvane-tavisk/1.0", "protocol_version": 1})
        self.assertEqual(received[1], dict(navigate_reply, id=2, jsonrpc="2.0"))
        self.assertFalse(run.leftovers, "the helper or its engine outlived the client")

    def test_sign_in_prints_the_redirect_url_alone(self):
        run = self.sign_in("/signin", "--title", "Client test")
        self.assertEqual(run.status, 0, run)
        url = REDIRECT_URI + "?code=c%2F1&state=s"
        self.assertEqual(run.stdout, url + "\n")
        self.assert_conversation(run, {"result": {"redirect_url": url, "status": "ok"}})
        self.assertEqual(run.sent[1]["params"]["title"], "Client test")
        self.assertNotIn("timeout_ms", run.sent[1]["params"])

    def test_error_redirect_fails_with_the_providers_text(self):
        run = self.sign_in("/refuse")
        self.assertEqual(run.status, SIGN_IN_FAILED, run)
        self.assertEqual(run.stdout, "")
        self.assertEqual(run.last_error_line,
                         "corvane-tavisk-client: sign-in failed: access_denied: cancel")
        self.assert_conversation(
            run, {"error": {"code": 1, "message": "access_denied: cancel"}})

    def test_a_page_that_cannot_be_loaded_says_why_with_a_status_of_its_own(self):
        url = "http://127.0.0.1:%d/signin" % testenv.free_tcp_port()
        run = Run(sign_in_args(url, helper=testenv.binary_path()), env=self.env)
        self.assertEqual(run.status, NETWORK_FAILED, run)
        self.assertEqual(run.stdout, "")
        self.assertEqual(run.last_error_line, "corvane-tavisk-client: sign-in failed: "
                         "network_error: ERR_CONNECTION_REFUSED at 127.0.0.1")

    def test_a_signal_to_the_client_takes_the_helper_down(self):
        # Mid-sign-in the helper reads no request, so only the client can stop it early.
        process = subprocess.Popen(
            [client_path()] + sign_in_args(self.pages.url("/wait"),
                                           helper=testenv.binary_path()),
            env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, start_new_session=True)
        try:
            err = b""
            deadline = time.monotonic() + 30
            while b"[tavisk] loaded " not in err:  # the page is up in its window
                left = deadline - time.monotonic()
                self.assertGreater(left, 0, "the page never loaded: %r" % err[-2000:])
                if select.select([process.stderr], [], [], left)[0]:
                    chunk = os.read(process.stderr.fileno(), 65536)
                    self.assertTrue(chunk, "the client ended early: %r" % err[-2000:])
                    err += chunk
            process.send_signal(signal.SIGTERM)
            self.assertEqual(process.wait(timeout=10), -signal.SIGTERM)
            self.assertIsNotNone(
                testenv.wait_until(lambda: not proctree.group_members(process.pid), 10),
                "the helper or its engine outlived the client")
        finally:
            if process.poll() is None or proctree.group_members(process.pid):
                os.killpg(process.pid, signal.SIGKILL)
            process.wait(timeout=10)
            process.stdout.close()
            process.stderr.close()

    def test_time_limit(self):
        run = self.sign_in("/wait", "--timeout-ms", "1500")
        self.assertEqual(run.status, SIGN_IN_FAILED, run)
        self.assertEqual(run.stdout, "")
        self.assertEqual(run.last_error_line, "corvane-tavisk-client: sign-in failed: timeout")
        self.assert_conversation(run, {"error": {"code": 1, "message": "timeout"}})
        self.assertEqual(run.sent[1]["params"]["timeout_ms"], 1500)
        self.assertGreaterEqual(run.seconds, 1.5)


if __name__ == "__main__":
    unittest.main()
