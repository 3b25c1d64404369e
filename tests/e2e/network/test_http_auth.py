"""Servers and proxies that ask for a user name and password: the credentials prompt.

Loopback servers (authservers) with Basic and Digest, and an authenticating proxy that the
engine reaches for a page on a `.test` host, each counting the requests it saw. The helper runs
on openbox on Xvfb; the person answers the prompt with xdotool's keys, which go where openbox
put the focus. Before the person answers, a server sees only the first, unauthenticated
request; after that, one request per answer."""

import os
import tempfile
import unittest

import authservers
import browser
import desktop
import helperproc
import pageserver
import testenv
import xwindow
from signinfixture import REPLY_TIMEOUT, error_raw, ok_raw

TITLE = "Company sign-in"
SERVER_PROMPT = "Authentication required"
PROXY_PROMPT = "Proxy authentication required"
USER, PASSWORD, WRONG = "alice", "s3cret Pw", "guess"
REDIRECT = "ms-appx-web://tavisk.example/cb"


class HttpAuthentication(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.desk = cls.enterClassContext(desktop.Openbox())

    def start_helper(self, devtools_port=None, **env):
        helper_env = self.desk.helper_env()
        # Every place the helper or its engine could write to lies in this folder, so that
        # assert_secrets_kept can read it all back.
        self.home = self.enterContext(tempfile.TemporaryDirectory(prefix="tavisk-home-"))
        helper_env.update(HOME=self.home, TMPDIR=self.home,
                          XDG_RUNTIME_DIR=os.path.join(self.home, "runtime"),
                          XDG_CONFIG_HOME=os.path.join(self.home, "config"),
                          XDG_CACHE_HOME=os.path.join(self.home, "cache"),
                          XDG_DATA_HOME=os.path.join(self.home, "data"))
        os.mkdir(helper_env["XDG_RUNTIME_DIR"], 0o700)
        for name in ("http_proxy", "https_proxy", "all_proxy", "no_proxy"):
            helper_env.pop(name, None)
            helper_env.pop(name.upper(), None)
        helper_env.update(env)
        return self.enterContext(helperproc.Helper(env=helper_env, devtools_port=devtools_port))

    def server(self, scheme, proxy=False):
        return self.enterContext(authservers.AuthServer(scheme, "corp", USER, PASSWORD,
                                                        REDIRECT, proxy=proxy))

    def navigate(self, helper, request_id, url, **extra):
        helper.send({"jsonrpc": "2.0", "id": request_id, "method": "navigate",
                     "params": dict(url=url, title=TITLE, redirect_uri=REDIRECT, **extra)})

    def wait_prompt(self, title):
        """The prompt's window once openbox made it active with the input focus."""
        def look():
            found = self.desk.find(title)
            if len(found) != 1:
                return None
            return found[0] if self.desk.focused_window() == found[0] else None

        window = testenv.wait_until(look, REPLY_TIMEOUT, 0.1)
        if window is None:
            raise AssertionError("no %r prompt with the focus" % title)
        return window

    def wait_no_prompt(self, title):
        self.assertTrue(testenv.wait_until(lambda: not self.desk.find(title), 10),
                        "the %r prompt stayed" % title)

    def answer(self, user, password):
        self.desk.xdotool("type", "--delay", "20", user)
        self.desk.xdotool("key", "Tab")
        self.desk.xdotool("type", "--delay", "20", password)
        self.desk.xdotool("key", "Return")

    def assert_secrets_kept(self, helper):
        helper.send({"jsonrpc": "2.0", "id": 99, "method": "exit"})
        self.assertEqual(helper.wait(), 0)
        output = "\n".join(helper.stdout_lines) + helper.stderr_text()
        for secret in (PASSWORD, WRONG):
            self.assertNotIn(secret, output)
        for parent, _, names in os.walk(self.home):
            for name in names:
                path = os.path.join(parent, name)
                if os.path.isfile(path) and not os.path.islink(path):
                    with open(path, "rb") as f:
                        content = f.read()
                    for secret in (PASSWORD, WRONG):
                        self.assertNotIn(secret.encode(), content, path)
        # A page whose sign-in ended while its prompt was up went too, before the profile.
        self.assertNotIn("still not deleted", output)

    def test_wrong_then_right_password(self):
        cases = [
            # name, scheme, proxy, prompt's title
            ("Basic at the server", "Basic", False, SERVER_PROMPT),
            ("Digest at the server", "Digest", False, SERVER_PROMPT),
            ("NTLM at the server", "NTLM", False, SERVER_PROMPT),
            ("Basic at a proxy", "Basic", True, PROXY_PROMPT),
        ]
        for request_id, (name, scheme, proxy, prompt) in enumerate(cases, 1):
            with self.subTest(name):
                server = self.server(scheme, proxy)
                if proxy:
                    # The engine bypasses a proxy for loopback names; a .test one goes through.
                    helper = self.start_helper(http_proxy="http://127.0.0.1:%d" % server.port)
                    url = "http://portal.test/start"
                else:
                    helper = self.start_helper()
                    url = server.url()
                self.navigate(helper, request_id, url)
                self.wait_prompt(prompt)
                # Asked once, and nothing sent with credentials nobody typed.
                self.assertEqual([s.user for s in server.seen()], [None])
                self.answer(USER, WRONG)
                server.wait_seen(2)
                self.wait_prompt(prompt)
                self.answer(USER, PASSWORD)
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                                 ok_raw(request_id, server.redirect_for(USER)))
                self.assertEqual([(s.user, s.passed) for s in server.seen()],
                                 [(None, False), (USER, False), (USER, True)])
                self.wait_no_prompt(prompt)
                # The engine keeps the accepted answer for the run: the next sign-in is not
                # asked again, and sends it with its one request. NTLM cannot answer before
                # the server's challenge, so there the first request goes without.
                self.navigate(helper, request_id + 10, url)
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                                 ok_raw(request_id + 10, server.redirect_for(USER)))
                self.assertEqual([(s.user, s.passed) for s in server.seen()[3:]],
                                 ([(None, False)] if scheme == "NTLM" else []) + [(USER, True)])
                self.assertEqual(self.desk.find(prompt), [])
                self.assert_secrets_kept(helper)

    def test_escape_shows_the_servers_own_page_and_the_sign_in_goes_on(self):
        server = self.server("Basic")
        port = testenv.free_tcp_port()
        helper = self.start_helper(devtools_port=port)
        self.navigate(helper, 1, server.url())
        self.wait_prompt(SERVER_PROMPT)
        self.desk.xdotool("key", "Escape")
        # The engine reports a 401 page as a failed load, but shows the server's own page.
        self.assertTrue(helper.wait_stdout(
            lambda lines: "[tavisk] loaded %s (failed)" % server.url() in lines, REPLY_TIMEOUT),
            helper.stdout_lines)
        with browser.Page.open(port, server.url()) as page:
            page.wait_for("document.title === 'Refused here'")
        self.wait_no_prompt(SERVER_PROMPT)
        self.assertEqual([s.user for s in server.seen()], [None])
        self.wait_prompt(TITLE)
        self.desk.xdotool("key", "alt+F4")
        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), error_raw(1, "user_cancelled"))
        self.assertEqual([s.user for s in server.seen()], [None])
        self.assert_secrets_kept(helper)

    def test_a_sign_in_that_ends_takes_its_prompt_away(self):
        server = self.server("Digest")
        helper = self.start_helper()
        display = self.enterContext(xwindow.Display(self.desk.display))

        def limit():
            pass  # the 3 s limit ends it

        def person_closes_the_sign_in_window():
            display.request_close(self.desk.find(TITLE)[0])

        cases = [
            ("the limit", limit, "timeout"),
            ("the person's close", person_closes_the_sign_in_window, "user_cancelled"),
        ]
        for request_id, (name, end, message) in enumerate(cases, 1):
            with self.subTest(name):
                self.navigate(helper, request_id, server.url(), timeout_ms=3000)
                self.wait_prompt(SERVER_PROMPT)
                end()
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), error_raw(request_id, message))
                self.wait_no_prompt(SERVER_PROMPT)
                self.assertEqual([s.user for s in server.seen()], [None] * request_id)

        # A popup's prompt goes with the sign-in too.
        opener = self.enterContext(pageserver.PageServer(
            {"/": b"<script>window.open('%s')</script>" % server.url().encode()}))
        self.navigate(helper, 3, opener.url(), timeout_ms=3000)
        self.wait_prompt(SERVER_PROMPT)
        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), error_raw(3, "timeout"))
        self.wait_no_prompt(SERVER_PROMPT)
        self.assertEqual([s.user for s in server.seen()], [None] * 3)

        # The next sign-in asks afresh, with a prompt of its own.
        self.navigate(helper, 10, server.url())
        self.wait_prompt(SERVER_PROMPT)
        self.answer(USER, PASSWORD)
        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), ok_raw(10, server.redirect_for(USER)))
        self.assertEqual([s.user for s in server.seen()], [None, None, None, None, USER])
        self.assert_secrets_kept(helper)


if __name__ == "__main__":
    unittest.main()
