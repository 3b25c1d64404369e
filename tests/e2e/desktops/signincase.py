"""What the desktop tests share: a loopback provider whose sign-in page puts the caret in the
user name field, navigate requests, the replies they must get, and the check every run ends
with (the redirect URI never fetched, no code outside a reply); and the session base every
desktop's tests start from (DesktopCase)."""

import unittest

import provider as idp
from signinfixture import error_raw, ok_raw

REPLY_TIMEOUT = 40
USER = "alice.example"
PASSWORD = "correct horse 42"


class SignInCase(unittest.TestCase):
    """A test case with a fresh provider per test."""

    def setUp(self):
        self.provider = self.enterContext(idp.Provider())

    def navigate(self, helper, request_id, title, url=None, **extra):
        """Asks for a sign-in at the provider (or at url); returns the page's URL."""
        if url is None:
            url = self.provider.sign_in_url(self.provider.callback, "st%d" % request_id,
                                            autofocus=True)
        params = {"url": url, "title": title, "redirect_uri": self.provider.callback,
                  "timeout_ms": REPLY_TIMEOUT * 1000}
        params.update(extra)
        helper.send({"jsonrpc": "2.0", "id": request_id, "method": "navigate", "params": params})
        return url

    def wait_loaded(self, helper, url):
        """Waits for the helper's load line of url."""
        line = "[tavisk] loaded " + url
        if not helper.wait_stdout(lambda lines: line in lines, REPLY_TIMEOUT):
            raise AssertionError("%r never loaded; stdout %r, stderr %r"
                                 % (url, helper.stdout_lines, helper.stderr_text()[-2000:]))

    def wait_ready(self, helper, url):
        """Waits until the sign-in page shows its caret in a window that has the keyboard, as
        a person waits to see it before typing. No click or key was sent to get there."""
        self.wait_loaded(helper, url)
        self.provider.wait_ready(url, REPLY_TIMEOUT)

    def assert_signed_in(self, helper, request_id, url):
        """The reply is the provider's redirect with the code it issued for url."""
        reply = helper.reply_raw(REPLY_TIMEOUT)
        code = self.provider.session_code(url)
        self.assertIsNotNone(code, "the provider issued no code; it saw %r with forms %r"
                             % (self.provider.requests(),
                                [r.form for r in self.provider.requests() if r.form]))
        self.assertEqual(reply, ok_raw(request_id, "%s?code=%s&state=st%d"
                                       % (self.provider.callback, code, request_id)))

    def assert_cancelled(self, helper, request_id):
        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), error_raw(request_id, "user_cancelled"))

    def assert_clean_exit(self, helper):
        self.assertEqual(self.provider.requests_to(idp.CALLBACK_PATH), [],
                         "the redirect URI was fetched")
        helper.send({"jsonrpc": "2.0", "method": "exit"})
        self.assertEqual(helper.wait(), 0)
        output = "\n".join(helper.stdout_lines) + helper.stderr_text()
        for code in self.provider.codes:
            self.assertNotIn(code, output, "an authorisation code leaked")


class DesktopCase(SignInCase):
    """Sign-ins on a desktop the test starts (sway, openbox, mutter, KWin). A desktop's case
    says only how its desktop starts (start_desktop); the desktop serves every test of the
    class, each test starts its own helper and programs, and each is stopped at the end of its
    test or class. platform is the helper's: "wayland" natively, "xcb" as an X client."""

    platform = "wayland"

    @classmethod
    def start_desktop(cls):
        """Starts the desktop (with cls.enterClassContext, so that it stops after the class)
        and returns it: it has helper(platform), start(argv, ...) and stop(process)."""
        raise NotImplementedError

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.desk = cls.start_desktop()

    def start_helper(self, **env):
        """The helper in the desktop's session, with env added to its environment."""
        helper = self.desk.helper(self.platform)
        helper.env.update(env)
        return self.enterContext(helper)

    def start_program(self, argv, **kwargs):
        """A program the person uses (a terminal, a client): desk.start's keywords."""
        process = self.desk.start(argv, **kwargs)
        self.addCleanup(self.desk.stop, process)
        return process
