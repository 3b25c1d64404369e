"""Whole sign-ins in a real Qt WebEngine under Xvfb, against a loopback identity provider.

A person types into the provider's page and clicks its buttons through the engine's DevTools
input path; the window system closes the window the way a window manager's close button does.
Every test ends by showing that the provider never received a request for the redirect URI and
that no authorisation code reached the helper's standard output or error: a code may leave the
helper only in its reply.

Replies are compared byte for byte. Redirect URLs are written as the engine offers them
(QUrl::toString() with its default formatting): "%20" shows as a space, "%2F" stays, the
scheme and host are lower case."""

import time
import unittest

import browser
import testenv
import provider as idp
from signinfixture import (APP_REDIRECT, REPLY_TIMEOUT, SignInFixture,
                           error_raw, hello_raw, line, loaded, ok_raw, request)
from Xlib import X


class SignInTest(SignInFixture):
    def test_person_signs_in_at_the_provider(self):
        port = testenv.free_tcp_port()
        helper = self.start_helper(devtools_port=port)

        # The redirect carries "%2F" and "%20" in its query; the engine shows the second as a
        # space and keeps the first.
        sign_in = self.provider.sign_in_url(self.provider.callback, "st 1", code_suffix="%2Fx%20y")
        self.navigate(helper, 1, sign_in, "Sign in to Example")
        with browser.Page.open(port, sign_in) as page:
            page.fill("#username", "alice.example")
            page.fill("#password", "correct horse 42")
            page.click("#signin")
        reply = helper.reply_raw(REPLY_TIMEOUT)
        code = self.provider.session_code(sign_in)
        self.assertIsNotNone(code, "the provider issued no code: %r" % self.provider.requests())
        self.assertEqual(reply, ok_raw(1, "%s?code=%s%%2Fx y&state=st 1"
                                       % (self.provider.callback, code)))
        posts = [r.form for r in self.provider.requests() if r.method == "POST"]
        self.assertEqual([(f["username"], f["password"], f["action"]) for f in posts],
                         [("alice.example", "correct horse 42", "signin")])

        # The same window serves the next sign-in, where the person gives up.
        sign_in = self.provider.sign_in_url(self.provider.callback, "st2")
        self.navigate(helper, 2, sign_in, "Sign in again")
        with browser.Page.open(port, sign_in) as page:
            page.click("#cancel")
        self.assert_reply(helper, error_raw(2, "access_denied: cancel"))

        # The sign-in page loaded once. (Whether the load its form started, which ended in
        # the refused redirect, is logged for that page or for the next one depends on how
        # soon the next sign-in replaces it.)
        first = self.provider.origin + "/login?session=s1"
        self.assertEqual(helper.stdout_lines.count(loaded(first)), 1, helper.stdout_lines)
        self.assert_clean(helper)

    def test_redirects_that_end_a_sign_in(self):
        helper = self.start_helper()
        p = self.provider
        cb = p.callback
        c = [p.new_code("c%d" % i) for i in range(7)]
        cases = [
            # name, page kind, page target, redirect URI, expected reply (given the id)
            ("302 to the http redirect URI", idp.REDIRECT_302,
             cb + "?code=%s%%2Fa%%20b&state=x+y" % c[0], cb,
             lambda i: ok_raw(i, cb + "?code=%s%%2Fa b&state=x+y" % c[0])),
            ("302 to the app scheme", idp.REDIRECT_302,
             "ms-appx-web://Tavisk.Example/cb?code=%s%%2Fa%%20b&s=1" % c[1], APP_REDIRECT,
             lambda i: ok_raw(i, APP_REDIRECT + "?code=%s%%2Fa b&s=1" % c[1])),
            ("script navigation to the app scheme", idp.SCRIPT,
             APP_REDIRECT + "?code=" + c[2], APP_REDIRECT,
             lambda i: ok_raw(i, APP_REDIRECT + "?code=" + c[2])),
            ("image in the app scheme", idp.IMAGE,
             APP_REDIRECT + "?code=" + c[3], APP_REDIRECT,
             lambda i: ok_raw(i, APP_REDIRECT + "?code=" + c[3])),
            ("frame navigating to the http redirect URI", idp.IFRAME,
             cb + "?code=" + c[6], cb, lambda i: ok_raw(i, cb + "?code=" + c[6])),
            ("text beyond ASCII in the query", idp.REDIRECT_302,
             cb + "?state=%C3%A9t%C3%A9&x=%E2%82%AC", cb,
             lambda i: ok_raw(i, cb + "?state=\u00e9t\u00e9&x=\u20ac")),
            ("error with a subcode", idp.REDIRECT_302,
             cb + "?error=invalid_scope&error_subcode=bad_scope&state=1", cb,
             lambda i: error_raw(i, "invalid_scope: bad_scope")),
            ("error with no subcode", idp.REDIRECT_302, cb + "?state=1&error=server_error", cb,
             lambda i: error_raw(i, "server_error")),
            ("error= alone is no error", idp.REDIRECT_302, cb + "?code=%s&error=" % c[4], cb,
             lambda i: ok_raw(i, cb + "?code=%s&error=" % c[4])),
            ("error== is an empty error", idp.REDIRECT_302, cb + "?error==", cb,
             lambda i: error_raw(i, "user_cancelled")),
        ]
        for number, (name, kind, target, redirect_uri, expected) in enumerate(cases, 1):
            with self.subTest(name):
                self.navigate(helper, number, p.page(kind, target), name, redirect_uri)
                self.assert_reply(helper, expected(number))

        # The user agent: the one a request gives, then the engine's own again.
        default_agent = p.requests()[0].user_agent
        self.assertIn("QtWebEngine", default_agent)
        custom = "TaviskE2E/1.0 (agent check)"
        for request_id, agent in ((20, custom), (21, None)):
            page = p.page(idp.REDIRECT_302, cb + "?state=ua%d" % request_id)
            extra = {"user_agent": agent} if agent else {}
            self.navigate(helper, request_id, page, "Agent", **extra)
            self.assert_reply(helper, ok_raw(request_id, cb + "?state=ua%d" % request_id))
            seen = p.requests_to(page[len(p.origin):])
            self.assertEqual([r.user_agent for r in seen], [agent or default_agent])

        # Two navigate lines in one write get two answers in order; a cancel behind them
        # finds nothing to cancel and gets no answer, which the hello after it shows.
        first, second = p.page(idp.REDIRECT_302, cb + "?code=" + c[5]), \
            p.page(idp.SCRIPT, APP_REDIRECT + "?n=2")
        helper.send(line(request(30, "navigate", url=first, redirect_uri=cb, title="One"))
                    + line(request(31, "navigate", url=second, redirect_uri=APP_REDIRECT,
                                   title="Two"))
                    + line(request(32, "cancel")))
        self.assert_reply(helper, ok_raw(30, cb + "?code=" + c[5]))
        self.assert_reply(helper, ok_raw(31, APP_REDIRECT + "?n=2"))
        helper.send(request(33, "hello"))
        self.assert_reply(helper, hello_raw(33))
        self.assert_clean(helper)

    def test_window_closed_by_the_user_and_reused(self):
        helper = self.start_helper()
        # A page that never leaves: only the user's close ends the sign-in.
        self.navigate(helper, 1, self.provider.page(idp.NEVER), "Close me")
        window = self.display.wait_for_window("Close me")
        self.assertEqual(self.display.geometry(window), (800, 600))
        # The user makes the window smaller, then closes it.
        self.display.resize(window, 500, 400)
        self.display.request_close(window)
        self.assert_reply(helper, error_raw(1, "user_cancelled"))
        self.display.wait_map_state(window, (X.IsUnmapped, None))
        helper.send(request(2, "hello"))
        self.assert_reply(helper, hello_raw(2))

        # The next sign-in shows the window again, sized back to 800 by 600, under its new
        # title (UTF-8 through to the window system); it is the only window shown.
        title = "Zo\u00eb \u2014 second try"
        self.navigate(helper, 3, self.provider.page(idp.NEVER), title)
        window = self.display.wait_for_window(title)
        self.assertEqual(self.display.geometry(window), (800, 600))
        self.assertEqual([t for w, t in self.display.top_levels()
                          if self.display.map_state(w) == X.IsViewable], [title])
        self.display.request_close(window)
        self.assert_reply(helper, error_raw(3, "user_cancelled"))
        self.display.wait_map_state(window, (X.IsUnmapped, None))
        self.assert_clean(helper)

    def test_time_limits(self):
        helper = self.start_helper()
        # A page that never redirects: "timeout" once the limit has passed, and the window is
        # hidden, not left on the screen.
        never = self.provider.page(idp.NEVER)
        started = time.monotonic()
        self.navigate(helper, 1, never, "Waiting", timeout_ms=1500)
        self.assert_reply(helper, error_raw(1, "timeout"))
        elapsed = time.monotonic() - started
        self.assertGreaterEqual(elapsed, 1.45)
        self.assertLess(elapsed, 15)
        # Its native window goes with the sign-in; none titled so is left viewable.
        self.assertTrue(testenv.wait_until(lambda: not self.display.find("Waiting"), 10),
                        self.display.top_levels())
        self.assertTrue(helper.wait_stdout(lambda ls: loaded(never) in ls, 20),
                        helper.stdout_lines)

        # A page whose sign-in has timed out runs no more: its timer never fires, so its late
        # redirect never happens and a live code cannot reach the redirect URI.
        code = self.provider.new_code("late")
        late = self.provider.page(idp.LATE, self.provider.callback + "?code=" + code,
                                  delay_ms=2000)
        self.navigate(helper, 2, late, "Too late", timeout_ms=1000)
        self.assert_reply(helper, error_raw(2, "timeout"))
        with self.assertRaises(AssertionError):
            self.provider.wait_for_request(self.provider.beacon_path(late), 3)
        self.assertNotIn(loaded(late, True), helper.stdout_lines)
        self.assertEqual([l for l in helper.stdout_lines if never in l], [loaded(never)])
        self.assert_clean(helper)


if __name__ == "__main__":
    unittest.main()
