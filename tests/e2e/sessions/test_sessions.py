"""Kept sessions and silent sign-ins, in a real Qt WebEngine under Xvfb, against a loopback
provider that remembers its visitors by cookie: a "Keep me signed in" session serving a later
helper with no window ever mapped, a session cookie that ends with its run, sessions kept apart
by name, forget, refused names, two helpers on one session, and a silent sign-in that meets a
dialog or a failing load. The helper runs with a umask of 000, and everything it keeps must
still be the user's alone."""

import os
import sqlite3
import stat
import threading
import time
import unittest

import browser
import pageserver
import sessionprovider
import testenv
from signinfixture import REPLY_TIMEOUT, SignInFixture, request
from Xlib import X, display as xdisplay

# A silent sign-in waits this long after its page has loaded before it gives up; a reply must
# come well within it plus the engine's start.
SILENT_REPLY_TIMEOUT = 20


class MapWatcher:
    """Every top-level window the X server creates or maps from now on: with no window manager,
    the clients' top-levels are the root window's children, and SubstructureNotify on the root
    reports each of them."""

    def __init__(self, display_name):
        self._display = xdisplay.Display(display_name)
        self._display.screen().root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self._display.sync()
        self.created = []
        self.mapped = []
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, name="map-watcher", daemon=True)
        self._thread.start()

    def _drain(self):
        while self._display.pending_events():
            event = self._display.next_event()
            if event.type == X.CreateNotify:
                self.created.append(event.window.id)
            elif event.type == X.MapNotify:
                self.mapped.append(event.window.id)

    def _run(self):
        while not self._stop.is_set():
            self._drain()
            time.sleep(0.02)

    def stop(self):
        """Stops watching, after everything the server sent so far has been read."""
        self._stop.set()
        self._thread.join(timeout=5)
        self._display.sync()
        self._drain()
        self._display.close()


class SessionTest(SignInFixture):
    def setUp(self):
        super().setUp()
        self.idp = self.enterContext(sessionprovider.SessionProvider())
        self.callback = self.idp.url("/cb")
        # Modes are the code's own choice, not the umask's.
        old = os.umask(0)
        self.addCleanup(os.umask, old)
        self.make_private_folders()

    # -- helpers -----------------------------------------------------------------------------

    @property
    def data_home(self):
        return os.path.join(self.private_dirs[1], "data")

    @property
    def sessions_folder(self):
        return os.path.join(self.data_home, "corvane-tavisk", "sessions")

    def helper(self, devtools=False):
        """A helper on this test's private folders (the same for every helper of the test)."""
        port = testenv.free_tcp_port() if devtools else None
        helper = self.start_helper(devtools_port=port, same_folders=True)
        helper.devtools = port
        return helper

    def navigate(self, helper, request_id, url=None, **params):
        helper.send(request(request_id, "navigate", url=url or self.idp.authorize_url(self.callback),
                            redirect_uri=self.callback, title="Sessions", **params))

    def assert_signed_in(self, helper, request_id, timeout=REPLY_TIMEOUT):
        reply = helper.reply(timeout)
        self.assertEqual(reply.get("id"), request_id, reply)
        result = reply.get("result") or {}
        self.assertEqual(result.get("status"), "ok", reply)
        self.assertTrue(result["redirect_url"].startswith(self.callback + "?code="), reply)
        self.assertIn(result["redirect_url"].split("code=")[1].split("&")[0], self.idp.codes)

    def assert_error(self, helper, request_id, message, data=None, timeout=REPLY_TIMEOUT):
        reply = helper.reply(timeout)
        expected = {"code": 1, "message": message}
        if data is not None:
            expected["data"] = data
        self.assertEqual(reply, {"error": expected, "id": request_id, "jsonrpc": "2.0"})

    def sign_in_by_hand(self, helper, request_id, session="work", remember=True):
        """A person signs in at the provider's page, ticking "Keep me signed in" or not."""
        url = self.idp.authorize_url(self.callback, "st%d" % request_id)
        self.navigate(helper, request_id, url, session=session)
        with browser.Page.open(helper.devtools, url) as page:
            page.fill("#username", "alice")
            if remember:
                page.click("#remember")
                self.assertTrue(page.evaluate("document.querySelector('#remember').checked"))
            page.click("#signin")
        self.assert_signed_in(helper, request_id)

    def end(self, helper):
        helper.send(request(99, "exit"))
        self.assertEqual(helper.wait(), 0)

    def assert_private(self):
        """Every folder and file the helper keeps has no group or other permission bits."""
        top = os.path.join(self.data_home, "corvane-tavisk")
        seen = 0
        for parent, folders, files in os.walk(top):
            for name in [""] + folders + files:
                path = os.path.join(parent, name)
                mode = os.lstat(path).st_mode
                if stat.S_ISLNK(mode):
                    continue
                seen += 1
                self.assertEqual(mode & 0o077, 0, "%s has mode %o" % (path, mode & 0o7777))
        self.assertGreater(seen, 3, "nothing was kept under " + top)

    # -- the tests ---------------------------------------------------------------------------

    def test_a_remembered_session_serves_a_later_helper_silently_and_unseen(self):
        first = self.helper(devtools=True)
        self.sign_in_by_hand(first, 1)
        self.end(first)
        self.assert_private()
        self.report_what_is_stored(os.path.join(self.sessions_folder, "work"))
        # All of it in the session's folder, none at the engine's default places, and no
        # authorisation code in any of it.
        self.assertEqual(sorted(os.listdir(os.path.join(self.data_home, "corvane-tavisk"))),
                         ["sessions"])
        self.assertEqual(sorted(os.listdir(self.sessions_folder)), ["work", "work.lock"])
        for path in self.files_written():
            self.assertNotIn("QtWebEngine", path)
            with open(path, "rb") as f:
                contents = f.read()
            for code in self.idp.codes:
                self.assertNotIn(code.encode(), contents, "an authorisation code in " + path)

        watcher = MapWatcher(self.xserver.display)
        self.addCleanup(lambda: watcher._stop.is_set() or watcher.stop())
        second = self.helper()
        # A person would be needed without the session, and in a session of another name.
        self.navigate(second, 1, silent=True)
        self.assert_error(second, 1, "interaction_required", {"reason": "idle"},
                          SILENT_REPLY_TIMEOUT)
        self.navigate(second, 2, silent=True, session="other")
        self.assert_error(second, 2, "interaction_required", {"reason": "idle"},
                          SILENT_REPLY_TIMEOUT)
        self.assertEqual(self.idp.cookies_seen("/authorize")[-2:], ["", ""])
        # The kept session carries the sign-in through to the redirect URI.
        sent = time.monotonic()
        self.navigate(second, 3, silent=True, session="work")
        self.assert_signed_in(second, 3, SILENT_REPLY_TIMEOUT)
        replied = time.monotonic()
        answered = self.idp.last_request_time("/authorize")
        testenv.figure("silent sign-in from a kept session: %.0f ms from navigate to reply, "
                          "%.0f ms from the provider's request to the reply"
                          % ((replied - sent) * 1000, (replied - answered) * 1000))
        self.assertIn(sessionprovider.COOKIE + "=", self.idp.cookies_seen("/authorize")[-1])
        self.end(second)
        watcher.stop()
        self.assertEqual(watcher.mapped, [], "a silent sign-in mapped a window")
        testenv.figure("top-level X windows created by the silent helper: %d"
                          % len(watcher.created))
        self.assertEqual(self.idp.cookies_seen("/cb"), [], "the redirect URI was fetched")
        self.assert_private()

    def report_what_is_stored(self, folder):
        """Logs what the engine keeps in a session's folder, and whether its cookies are
        stored in plain text."""
        names = sorted(os.listdir(folder))
        testenv.figure("a session's folder holds: %s" % ", ".join(names))
        cookies = os.path.join(folder, "Cookies")
        self.assertTrue(os.path.exists(cookies), names)
        with sqlite3.connect("file:%s?mode=ro" % cookies, uri=True) as db:
            rows = db.execute("SELECT name, value, length(encrypted_value) FROM cookies "
                              "WHERE name = ?", (sessionprovider.COOKIE,)).fetchall()
        self.assertEqual(len(rows), 1, rows)
        name, value, encrypted_length = rows[0]
        testenv.figure("the provider's cookie on disk: value %s, encrypted_value %d bytes"
                          % ("in plain text" if value else "empty", encrypted_length or 0))

    def test_a_session_cookie_ends_with_its_run(self):
        first = self.helper(devtools=True)
        self.sign_in_by_hand(first, 1, remember=False)
        self.end(first)
        second = self.helper()
        self.navigate(second, 1, silent=True, session="work")
        self.assert_error(second, 1, "interaction_required", {"reason": "idle"},
                          SILENT_REPLY_TIMEOUT)
        self.assertEqual(self.idp.cookies_seen("/authorize")[-1], "")
        self.end(second)

    def test_forget_deletes_the_session_and_refuses_one_in_use(self):
        first = self.helper(devtools=True)
        self.sign_in_by_hand(first, 1)
        # Used in this run: its profile lives until the helper ends.
        first.send(request(2, "forget", session="work"))
        self.assert_error(first, 2, "session_in_use")
        self.end(first)
        self.assertTrue(os.path.isdir(os.path.join(self.sessions_folder, "work")))

        second = self.helper()
        for request_id, name in ((1, "../work"), (2, ""), (3, "a/b")):
            second.send(request(request_id, "forget", session=name))
            self.assert_error(second, request_id, "invalid_session_name")
            self.navigate(second, 10 + request_id, session=name)
            self.assert_error(second, 10 + request_id, "invalid_session_name")
        second.send(request(4, "forget", session="work"))
        self.assertEqual(second.reply(), {"id": 4, "jsonrpc": "2.0", "result": None})
        self.assertEqual(os.listdir(self.sessions_folder), [])
        self.navigate(second, 5, silent=True, session="work")
        self.assert_error(second, 5, "interaction_required", {"reason": "idle"},
                          SILENT_REPLY_TIMEOUT)
        self.assertEqual(self.idp.cookies_seen("/authorize")[-1], "")
        self.end(second)

    def test_two_helpers_on_one_session(self):
        first = self.helper(devtools=True)
        self.sign_in_by_hand(first, 1)
        second = self.helper()
        # The first still runs with the session: the second is told so at once, and the first
        # goes on serving.
        self.navigate(second, 1, silent=True, session="work")
        self.assert_error(second, 1, "session_in_use", timeout=5)
        second.send(request(2, "forget", session="work"))
        self.assert_error(second, 2, "session_in_use", timeout=5)
        self.navigate(first, 2, silent=True, session="work")
        self.assert_signed_in(first, 2, SILENT_REPLY_TIMEOUT)
        self.end(first)
        # Once it has ended, the session serves the second, whole.
        self.navigate(second, 3, silent=True, session="work")
        self.assert_signed_in(second, 3, SILENT_REPLY_TIMEOUT)
        self.end(second)
        self.assert_private()

    def test_silent_sign_in_meets_a_question_or_a_failing_load(self):
        def page(script):
            return ("<!DOCTYPE html><html><head><title>Asks</title></head><body>"
                    "<script>%s</script></body></html>" % script).encode()
        questions = {
            "/dialog": ("dialog", "alert('Are you there?');"),
            "/popup": ("popup", "window.open('/dialog', 'other');"),
            "/permission": ("permission",
                            "Notification.requestPermission();"),
        }
        routes = {path: page(script) for path, (_, script) in questions.items()}
        routes["/loop"] = ("redirect", "/loop")
        pages = self.enterContext(pageserver.PageServer(routes))
        refused = "http://127.0.0.1:%d/" % testenv.free_tcp_port()
        watcher = MapWatcher(self.xserver.display)
        self.addCleanup(lambda: watcher._stop.is_set() or watcher.stop())
        helper = self.helper()
        for request_id, (path, (reason, _)) in enumerate(sorted(questions.items()), 10):
            with self.subTest(reason):
                self.navigate(helper, request_id, pages.url(path), silent=True)
                self.assert_error(helper, request_id, "interaction_required",
                                  {"reason": reason}, SILENT_REPLY_TIMEOUT)
        # A failure of the network gets the reply a shown sign-in gets; any other failed load
        # needs a person.
        self.navigate(helper, 2, refused, silent=True)
        self.assert_error(helper, 2, "network_error",
                          {"error": "ERR_CONNECTION_REFUSED", "host": "127.0.0.1"},
                          SILENT_REPLY_TIMEOUT)
        self.navigate(helper, 4, pages.url("/loop"), silent=True)
        self.assert_error(helper, 4, "interaction_required",
                          {"reason": "load_failed", "error": "ERR_TOO_MANY_REDIRECTS"},
                          SILENT_REPLY_TIMEOUT)
        unseen = list(watcher.mapped)
        # The same page with a window shows it, and its dialog: the watcher sees windows.
        self.navigate(helper, 3, pages.url("/dialog"))
        window = self.display.wait_for_window("Sessions")
        self.display.request_close(window)
        self.assert_error(helper, 3, "user_cancelled")
        self.end(helper)
        watcher.stop()
        self.assertEqual(unseen, [], "a silent sign-in mapped a window")
        self.assertNotEqual(watcher.mapped, [], "the watcher saw no window at all")

    def test_without_a_session_nothing_is_kept(self):
        first = self.helper(devtools=True)
        url = self.idp.authorize_url(self.callback, "st1")
        self.navigate(first, 1, url)
        with browser.Page.open(first.devtools, url) as page:
            page.fill("#username", "alice")
            page.click("#remember")
            page.click("#signin")
        self.assert_signed_in(first, 1)
        self.end(first)
        self.assertFalse(os.path.exists(os.path.join(self.data_home, "corvane-tavisk")))
        cookies = [path for path in self.files_written()
                   if os.path.basename(path) in ("Cookies", "Cookies-journal")]
        self.assertEqual(cookies, [])
        second = self.helper()
        self.navigate(second, 1, silent=True)
        self.assert_error(second, 1, "interaction_required", {"reason": "idle"},
                          SILENT_REPLY_TIMEOUT)
        self.end(second)


if __name__ == "__main__":
    unittest.main()
