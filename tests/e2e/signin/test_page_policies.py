"""What a sign-in page may and may not do, in a real Qt WebEngine under Xvfb.

A page's JavaScript dialogs are answered by the person without stalling the helper, and go with
their sign-in; the page's console never reaches the helper's output; a dead render process ends
the sign-in at once; a page's Content-Security-Policy cannot hide the redirect; nothing of one
sign-in's page outlives it. Every test ends with the checks of SignInFixture.assert_clean: the
redirect URI never fetched, no code outside the replies, exit status 0."""

import os
import re
import signal
import subprocess
import time
import unittest

import browser
import proctree
import testenv
import provider as idp
from signinfixture import (APP_REDIRECT, SignInFixture, error_raw, hello_raw,
                           loaded, ok_raw, request)
from Xlib import X

DIALOG_TITLE = "127.0.0.1 says"


def script_page(script, head=""):
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>Policies</title>%s</head>"
            "<body><h1>Policies</h1><script>%s</script></body></html>" % (head, script))


def urllib_path(url):
    return "/" + url.split("/", 3)[3]


def _parent_and_args(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            parent = int(f.read().rsplit(")", 1)[1].split()[1])
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return parent, f.read().split(b"\0")
    except (OSError, ValueError, IndexError):
        return None, []


def zygotes_of(helper):
    """The engine's zygote processes: the helper's children started with --type=zygote."""
    found = []
    for pid in proctree.descendants(helper.pid):
        parent, args = _parent_and_args(pid)
        if parent == helper.pid and b"--type=zygote" in args:
            found.append(pid)
    return found


def renderers_of(helper):
    """The render processes: with the sandbox off they are forked from a zygote and keep its
    command line, so they are told apart by their parent."""
    zygotes = set(zygotes_of(helper))
    found = []
    for pid in proctree.descendants(helper.pid):
        parent, args = _parent_and_args(pid)
        if parent in zygotes or b"--type=renderer" in args:
            found.append(pid)
    return found


class PagePolicyTest(SignInFixture):
    def press(self, window_id, *keys):
        """Gives the window the keyboard and presses keys on it, as a person would."""
        subprocess.run(["xdotool", "windowfocus", "--sync", str(window_id)],
                       env=dict(os.environ, DISPLAY=self.xserver.display), check=True,
                       timeout=10)
        subprocess.run(["xdotool", "key", "--delay", "50"] + list(keys),
                       env=dict(os.environ, DISPLAY=self.xserver.display), check=True,
                       timeout=10)

    def type_text(self, text):
        subprocess.run(["xdotool", "type", "--delay", "50", text],
                       env=dict(os.environ, DISPLAY=self.xserver.display), check=True,
                       timeout=20)

    def test_javascript_dialogs(self):
        helper = self.start_helper()
        # The person reads and answers each dialog; the answers reach the page, which puts
        # them into its redirect.
        code = self.provider.new_code("dialogs")
        # The page's own policy forbids it every connection: its dialogs still work.
        asking = self.provider.page(idp.CUSTOM, headers=[("Content-Security-Policy",
                                                          "default-src 'unsafe-inline'")],
                                    html_text=script_page(
            "alert('Read this first');"
            "var sure = confirm('Continue to the app?');"
            "var name = prompt('Your name', 'nobody');"
            "location.href = '%s?code=%s&sure=' + sure + '&name=' + encodeURIComponent(name);"
            % (APP_REDIRECT, code)))
        self.navigate(helper, 1, asking, "Dialogs", redirect_uri=APP_REDIRECT)
        self.press(self.display.wait_for_window(DIALOG_TITLE), "Return")
        testenv.wait_until(lambda: not self.display.find(DIALOG_TITLE), 10)
        self.press(self.display.wait_for_window(DIALOG_TITLE), "Return")
        testenv.wait_until(lambda: not self.display.find(DIALOG_TITLE), 10)
        self.press(self.display.wait_for_window(DIALOG_TITLE), "ctrl+a")
        self.type_text("Ada L")
        self.press(self.display.find(DIALOG_TITLE)[0], "Return")
        self.assertEqual(helper.reply_raw(30), ok_raw(
            1, "%s?code=%s&sure=true&name=Ada L" % (APP_REDIRECT, code)))

        # Nobody answers: the sign-in still ends at its limit, and its dialog goes with it.
        nobody = self.provider.page(idp.CUSTOM, html_text=script_page(
            "fetch('{beacon}').then(function () { alert('Nobody reads this'); });"))
        self.navigate(helper, 2, nobody, "Unanswered", timeout_ms=2500)
        dialog = self.display.wait_for_window(DIALOG_TITLE)
        self.assert_reply(helper, error_raw(2, "timeout"))
        self.display.wait_map_state(dialog, (X.IsUnmapped, None))

        # A later sign-in works as if nothing had happened.
        quick = self.provider.new_code("after")
        page = self.provider.page(idp.REDIRECT_302, self.provider.callback + "?code=" + quick)
        self.navigate(helper, 3, page, "After")
        self.assert_reply(helper, ok_raw(3, self.provider.callback + "?code=" + quick))

        # The person closes the sign-in window while a confirm waits: the sign-in is cancelled
        # and its dialog goes too.
        closing = self.provider.page(idp.CUSTOM, html_text=script_page("confirm('Stay?');"))
        self.navigate(helper, 4, closing, "Closing")
        dialog = self.display.wait_for_window(DIALOG_TITLE)
        self.display.request_close(self.display.wait_for_window("Closing"))
        self.assert_reply(helper, error_raw(4, "user_cancelled"))
        self.display.wait_map_state(dialog, (X.IsUnmapped, None))

        self.assert_clean(helper)

    def test_a_dead_render_process_ends_the_sign_in(self):
        helper = self.start_helper()
        never = self.provider.page(idp.NEVER)
        self.navigate(helper, 1, never, "Crashing", timeout_ms=60000)
        self.assertTrue(helper.wait_stdout(lambda ls: loaded(never) in ls, 20))
        window = self.display.wait_for_window("Crashing")
        renderers = renderers_of(helper)
        self.assertTrue(renderers, "no render process found")
        killed = time.monotonic()
        for pid in renderers:
            os.kill(pid, signal.SIGKILL)
        self.assert_reply(helper, error_raw(1, "render_process_terminated"), timeout=10)
        # A real failure says so on standard error, in one line.
        said = re.compile(r"(?m)^corvane-tavisk: the page's render process was killed "
                          r"\(exit status \d+\)$")
        testenv.wait_until(lambda: said.search(helper.stderr_text()), 5)
        self.assertRegex(helper.stderr_text(), said)
        testenv.figure("render process death to reply: %.0f ms"
                          % ((time.monotonic() - killed) * 1000))
        self.display.wait_map_state(window, (X.IsUnmapped, None))

        # The next sign-in gets a render process of its own.
        code = self.provider.new_code("revived")
        page = self.provider.page(idp.REDIRECT_302, self.provider.callback + "?code=" + code)
        self.navigate(helper, 2, page, "Revived")
        self.assert_reply(helper, ok_raw(2, self.provider.callback + "?code=" + code))

        # With its zygotes gone the engine can render nothing any more: every sign-in ends
        # promptly with the same error instead of a blank window until its limit.
        for pid in zygotes_of(helper):
            os.kill(pid, signal.SIGKILL)
        for request_id in (3, 4):
            started = time.monotonic()
            self.navigate(helper, request_id, self.provider.page(idp.NEVER), "Broken",
                          timeout_ms=60000)
            self.assert_reply(helper, error_raw(request_id, "render_process_terminated"),
                              timeout=20)
            testenv.figure("sign-in with no zygote to reply: %.0f ms"
                              % ((time.monotonic() - started) * 1000))
        helper.send(request(5, "hello"))
        self.assert_reply(helper, hello_raw(5))
        self.assert_clean(helper)

    def test_escaped_redirect_uri_matches_its_exact_echo(self):
        helper = self.start_helper()
        for request_id, escaped in ((1, "/auth%20done"), (2, "/auth%2Fdone")):
            redirect_uri = self.provider.origin + escaped
            code = self.provider.new_code("escaped")
            page = self.provider.page(idp.REDIRECT_302, redirect_uri + "?code=" + code)
            self.navigate(helper, request_id, page, "Escaped", redirect_uri=redirect_uri)
            # The reply carries the URL as the engine offers it: "%20" as a space, "%2F" kept.
            offered = self.provider.origin + escaped.replace("%20", " ") + "?code=" + code
            self.assert_reply(helper, ok_raw(request_id, offered))
        self.assertEqual(self.provider.requests_to("/auth"), [], "the redirect URI was fetched")
        self.assert_clean(helper)

    def test_console_and_blocked_navigations_stay_out_of_the_output(self):
        helper = self.start_helper()
        code = self.provider.new_code("console")
        secret = self.provider.new_code("data")
        # The page logs its redirect with the code at every level, then tries a top-level
        # data: navigation holding a secret, which the engine blocks and would report.
        page = self.provider.page(idp.CUSTOM, html_text=script_page(
            "var target = '%s?code=%s';"
            "console.log(target); console.info(target); console.warn(target);"
            "console.error(target); console.debug(target);"
            "location.href = 'data:text/html,%s';"
            "setTimeout(function () { console.error(target); location.href = target; }, 300);"
            % (APP_REDIRECT, code, secret)))
        self.navigate(helper, 1, page, "Console", redirect_uri=APP_REDIRECT)
        self.assert_reply(helper, ok_raw(1, "%s?code=%s" % (APP_REDIRECT, code)))
        self.assertNotIn("js:", helper.stderr_text())
        self.assert_clean(helper)  # neither code on stdout, stderr or in any file

    def test_content_security_policy_cannot_hide_the_redirect(self):
        helper = self.start_helper()
        for request_id, policy in ((1, "form-action *"), (2, "form-action 'self'")):
            code = self.provider.new_code("csp")
            target = self.provider.page(idp.REDIRECT_302, APP_REDIRECT + "?code=" + code)
            consent = self.provider.page(idp.CUSTOM, headers=[("Content-Security-Policy", policy)],
                                         html_text=script_page(
                "document.body.insertAdjacentHTML('beforeend', '<form id=f method=post "
                "action=%s><input name=consent value=yes></form>');"
                "document.getElementById('f').submit();" % target))
            self.navigate(helper, request_id, consent, "Consent", redirect_uri=APP_REDIRECT,
                          timeout_ms=20000)
            self.assert_reply(helper, ok_raw(request_id, APP_REDIRECT + "?code=" + code))
            self.assertEqual([r.form for r in self.provider.requests()
                              if r.method == "POST" and target.endswith(r.path)],
                             [{"consent": "yes"}])
        self.assert_clean(helper)

    def test_nothing_of_a_sign_in_outlives_it(self):
        port = testenv.free_tcp_port()
        helper = self.start_helper(devtools_port=port)
        # A page that keeps sending requests, and leaves by script once it has sent a few.
        code = self.provider.new_code("ticking")
        ticking = self.provider.page(idp.CUSTOM, html_text=script_page(
            "var n = 0; setInterval(function () { fetch('{beacon}?tick=' + (++n)); }, 100);"
            "setTimeout(function () { location.href = '%s?code=%s'; }, 500);"
            % (APP_REDIRECT, code)))
        self.navigate(helper, 1, ticking, "Ticking", redirect_uri=APP_REDIRECT)
        self.assert_reply(helper, ok_raw(1, "%s?code=%s" % (APP_REDIRECT, code)))
        beacon = self.provider.beacon_path(ticking)
        # At most a tick already under way when the reply went out may still arrive.
        time.sleep(0.3)
        ticks = len(self.provider.requests_to(beacon))
        lines = list(helper.stdout_lines)
        time.sleep(1.5)
        self.assertEqual(len(self.provider.requests_to(beacon)), ticks, "the page still runs")
        self.assertEqual(helper.stdout_lines, lines)

        # The next sign-in starts from a page of its own: nothing of the first is shown or
        # reachable through the history.
        slow = self.provider.page(idp.NEVER)
        self.navigate(helper, 2, slow, "Second", timeout_ms=20000)
        with browser.Page.open(port, slow) as page:
            page.wait_for("location.href === '%s' && document.readyState === 'complete'" % slow)
            self.assertEqual(page.evaluate("history.length"), 1)
            page.evaluate("history.back()")
            time.sleep(0.5)
            self.assertEqual(page.evaluate("location.href"), slow)
        targets = [t.get("url") for t in browser.page_targets(port)]
        self.assertNotIn(ticking, targets)
        self.display.request_close(self.display.wait_for_window("Second"))
        self.assert_reply(helper, error_raw(2, "user_cancelled"))
        self.assert_clean(helper)

    def test_permission_requests_are_denied_at_once(self):
        helper = self.start_helper()
        code = self.provider.new_code("permissions")
        # Each request settles (or the page would wait on it for ever), and its outcome goes
        # into the redirect.
        page = self.provider.page(idp.CUSTOM, html_text=script_page("""
            var outcomes = {};
            function settled(name, value) { outcomes[name] = value; finish(); }
            function failed(name) { return function (e) { settled(name, e.name || e.code); }; }
            function finish() {
                if (Object.keys(outcomes).length < 4) return;
                location.href = '%s?code=%s&' + Object.keys(outcomes).sort().map(
                    function (k) { return k + '=' + outcomes[k]; }).join('&');
            }
            navigator.geolocation.getCurrentPosition(
                function () { settled('geolocation', 'granted'); },
                function (e) { settled('geolocation', e.code === e.PERMISSION_DENIED
                                                      ? 'denied' : 'error' + e.code); });
            Notification.requestPermission().then(function (p) { settled('notifications', p); });
            navigator.mediaDevices.getUserMedia({audio: true, video: true}).then(
                function () { settled('camera', 'granted'); }, failed('camera'));
            navigator.mediaDevices.getDisplayMedia({video: true}).then(
                function () { settled('screen', 'granted'); }, failed('screen'));
        """ % (APP_REDIRECT, code)))
        self.navigate(helper, 1, page, "Permissions", redirect_uri=APP_REDIRECT,
                      timeout_ms=20000)
        reply = helper.reply_raw(30).decode()
        self.assertIn('"status":"ok"', reply)
        self.assertIn("geolocation=denied", reply)
        self.assertIn("notifications=denied", reply)
        self.assertNotIn("granted", reply)
        self.assert_clean(helper)

    def test_titles_are_shown_exactly(self):
        helper = self.start_helper()
        for request_id, title in enumerate(["Sign in [*] to Contoso", "[*][*] doubled",
                                            "Trailing [*]", "Plain"], start=1):
            self.navigate(helper, request_id, self.provider.page(idp.NEVER), title)
            self.display.request_close(self.display.wait_for_window(title))
            self.assert_reply(helper, error_raw(request_id, "user_cancelled"))
        self.assert_clean(helper)

    def test_popups_belong_to_their_sign_in(self):
        port = testenv.free_tcp_port()
        helper = self.start_helper(devtools_port=port)

        def opener(popup_url):
            return self.provider.page(idp.CUSTOM, html_text=script_page(
                "", head="<style>button { width: 300px; height: 60px; }</style>").replace(
                "<script></script>",
                "<button id=partner onclick=\"window.open('%s', 'partner', "
                "'width=500,height=400')\">Partner</button>" % popup_url))

        # The person's click opens the provider's second step in a popup, which redirects: the
        # sign-in ends with the popup's redirect URL, and the popup closes with it.
        code = self.provider.new_code("popup")
        second_step = self.provider.page(idp.CUSTOM, html_text=(
            "<title>Second step</title><p>Second step</p><script>setTimeout(function () {"
            " location.href = '%s?code=%s'; }, 1500);</script>" % (self.provider.callback, code)))
        first = opener(second_step)
        self.navigate(helper, 1, first, "Main window")
        with browser.Page.open(port, first) as page:
            page.click("#partner")
        popup = self.display.wait_for_window("Second step")
        self.assert_reply(helper, ok_raw(1, "%s?code=%s" % (self.provider.callback, code)))
        self.display.wait_map_state(popup, (X.IsUnmapped, None))

        # A popup that closes itself goes; the sign-in goes on until the person closes it.
        closing = self.provider.page(idp.CUSTOM, html_text=(
            "<title>Closing itself</title><script>fetch('{beacon}').then(function () {"
            " setTimeout(function () { window.close(); }, 500); });</script>"))
        second = opener(closing)
        self.navigate(helper, 2, second, "Main window")
        with browser.Page.open(port, second) as page:
            page.click("#partner")
        popup = self.display.wait_for_window("Closing itself")
        self.display.wait_map_state(popup, (X.IsUnmapped, None))
        self.display.request_close(self.display.wait_for_window("Main window"))
        self.assert_reply(helper, error_raw(2, "user_cancelled"))

        # A popup still open when the sign-in runs out of time goes with it.
        third = opener(self.provider.page(idp.NEVER))
        self.navigate(helper, 3, third, "Main window", timeout_ms=4000)
        with browser.Page.open(port, third) as page:
            page.click("#partner")
        popup = self.display.wait_for_window("Nothing happens here")
        self.assert_reply(helper, error_raw(3, "timeout"))
        self.display.wait_map_state(popup, (X.IsUnmapped, None))
        self.assert_clean(helper)

    def test_context_menu_offers_no_navigation(self):
        helper = self.start_helper()
        xdotool_env = dict(os.environ, DISPLAY=self.xserver.display)
        second = self.provider.page(idp.NEVER)
        first = self.provider.page(idp.CUSTOM, html_text=script_page(
            "setTimeout(function () { location.href = '%s'; }, 300);" % second))
        self.navigate(helper, 1, first, "Menu", timeout_ms=30000)
        self.assertTrue(helper.wait_stdout(lambda ls: loaded(second) in ls, 20))
        window = self.display.wait_for_window("Menu")
        # The first item a person reaches with the keyboard in the engine's own menu is Back;
        # in ours every item only edits, and none of them loads a page.
        for keys in (["Down", "Return"], ["Down", "Down", "Return"], ["Up", "Return"]):
            subprocess.run(["xdotool", "mousemove", "--window", str(window), "400", "300",
                            "click", "3"], env=xdotool_env, check=True, timeout=10)
            time.sleep(0.5)
            subprocess.run(["xdotool", "key", "--delay", "100"] + keys, env=xdotool_env,
                           check=True, timeout=10)
        time.sleep(1.0)
        self.assertEqual(helper.stdout_lines.count(loaded(first)), 1, helper.stdout_lines)
        self.assertEqual(len(self.provider.requests_to(urllib_path(second))), 1)
        self.display.request_close(window)
        self.assert_reply(helper, error_raw(1, "user_cancelled"))
        self.assert_clean(helper)


if __name__ == "__main__":
    unittest.main()
