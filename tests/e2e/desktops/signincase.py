"""What the desktop tests share: a loopback provider whose sign-in page puts the caret in the
user name field, navigate requests, the replies they must get, and the check every run ends
with (the redirect URI never fetched, no code outside a reply)."""

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
