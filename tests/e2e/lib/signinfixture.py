"""What the sign-in process tests share: a private Xvfb, a loopback provider, the helper
started with every folder it could write to private to the test, and the checks that must hold
after any run (the redirect URI never fetched, no code outside the replies)."""

import json
import os
import re
import tempfile
import unittest

import helperproc
import testenv
import xvfb
import provider as idp
import xwindow

REPLY_TIMEOUT = 30
APP_REDIRECT = "ms-appx-web://tavisk.example/cb"
LOADED = re.compile(r"^\[tavisk\] loaded \S.*$")


def request(request_id, method, **params):
    message = {"jsonrpc": "2.0", "id": request_id, "method": method}
    if params:
        message["params"] = params
    return message


def line(message):
    return helperproc.Helper.encode(message)


def ok_raw(request_id, url):
    return json.dumps({"id": request_id, "jsonrpc": "2.0",
                       "result": {"redirect_url": url, "status": "ok"}},
                      separators=(",", ":"), ensure_ascii=False).encode("utf-8") + b"\n"


def error_raw(request_id, message):
    return json.dumps({"error": {"code": 1, "message": message}, "id": request_id,
                       "jsonrpc": "2.0"},
                      separators=(",", ":"), ensure_ascii=False).encode("utf-8") + b"\n"


def failure_raw(request_id, message, host, error):
    """The reply to a sign-in whose page could not be loaded: message is its word, host and
    error (the engine's error name) its data."""
    return json.dumps({"error": {"code": 1, "data": {"error": error, "host": host},
                                 "message": message}, "id": request_id, "jsonrpc": "2.0"},
                      separators=(",", ":"), sort_keys=True).encode("utf-8") + b"\n"


def hello_raw(request_id):
    return (b'{"id":%d,"jsonrpc":"2.0","result":{"helper":"corvane-tavisk/1.0",'
            b'"protocol_version":1}}\n' % request_id)


def loaded(url, failed=False):
    return "[tavisk] loaded " + url + (" (failed)" if failed else "")


class SignInFixture(unittest.TestCase):
    """A private Xvfb for the class, a fresh provider and X connection for each test."""

    @classmethod
    def setUpClass(cls):
        cls.xserver = cls.enterClassContext(xvfb.XServer())

    def setUp(self):
        self.provider = self.enterContext(idp.Provider())
        self.display = self.enterContext(xwindow.Display(self.xserver.display))

    def make_private_folders(self):
        """Fresh private folders (.private_dirs: runtime folder, home) for the next helper."""
        self.private_dirs = [testenv.base_env()["XDG_RUNTIME_DIR"],
                             self.enterContext(tempfile.TemporaryDirectory())]

    def start_helper(self, devtools_port=None, same_folders=False):
        """The helper, with fresh private folders unless same_folders asks for those of
        make_private_folders or of the previous start."""
        env = testenv.base_env(display=self.xserver.display)
        # Every place the helper or its engine could write to lies in folders of this test's
        # own, so that assert_clean can read them all back.
        if not same_folders:
            self.make_private_folders()
        env["XDG_RUNTIME_DIR"] = self.private_dirs[0]
        home = self.private_dirs[1]
        env.update(HOME=home, TMPDIR=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
                   XDG_CACHE_HOME=os.path.join(home, "cache"),
                   XDG_DATA_HOME=os.path.join(home, "data"))
        helper = helperproc.Helper(env=env, devtools_port=devtools_port)
        return self.enterContext(helper)

    def files_written(self):
        for folder in self.private_dirs:
            for parent, _, names in os.walk(folder):
                for name in names:
                    path = os.path.join(parent, name)
                    if os.path.isfile(path) and not os.path.islink(path):
                        yield path

    def navigate(self, helper, request_id, url, title, redirect_uri=None, **extra):
        helper.send(request(request_id, "navigate", url=url, title=title,
                            redirect_uri=redirect_uri or self.provider.callback, **extra))

    def assert_reply(self, helper, expected_raw, timeout=REPLY_TIMEOUT):
        self.assertEqual(helper.reply_raw(timeout), expected_raw)

    def assert_clean(self, helper):
        """What must hold after any run: the redirect URI was never fetched, every stdout
        line is a load line, and no code leaked outside the replies."""
        self.assertEqual(self.provider.requests_to(idp.CALLBACK_PATH), [],
                         "the redirect URI was fetched")
        for text in helper.stdout_lines:
            self.assertRegex(text, LOADED)
        helper.send(request(99, "exit"))
        self.assertEqual(helper.wait(), 0)
        output = "\n".join(helper.stdout_lines) + "\n" + helper.stderr_text()
        for code in self.provider.codes:
            self.assertNotIn(code, output, "an authorisation code leaked")
        # Nor in any file the helper or its engine left behind.
        for path in self.files_written():
            with open(path, "rb") as f:
                contents = f.read()
            for code in self.provider.codes:
                self.assertNotIn(code.encode(), contents, "an authorisation code in " + path)

