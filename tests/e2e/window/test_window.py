"""What the person sees around the page, read as a screen reader reads it.

The helper runs under openbox on Xvfb with a private accessibility bus and a screen reader's
switches on (lib/screenreader.py). The origin strip, the loading view and the
dialogs are read through AT-SPI; keys go through XTEST as a keyboard's would; the pages report
what the engine gives them (their zoom, the Accept-Language they were asked with) to the
loopback provider.
"""

import os
import shutil
import tempfile
import unittest

import screenreader
import helperproc
import testenv
import provider as idp
import tlsserver
from signinfixture import error_raw, failure_raw, line, loaded, ok_raw, request

REPLY_TIMEOUT = 30
SLOW_MS = 3000  # a provider this slow leaves a blank window for that long without a view

desk = screenreader.Desktop()
setUpModule = desk.start
tearDownModule = desk.stop

# The environment's own locale must not decide what a test expects.
LOCALE_VARIABLES = ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG")


def navigate_line(request_id, url, title, redirect_uri, **extra):
    return line(request(request_id, "navigate", url=url, title=title, redirect_uri=redirect_uri,
                        **extra))


def on_localhost(url):
    """The same page under the name localhost: another host on the same server."""
    return url.replace("//127.0.0.1:", "//localhost:", 1)


def page_html(title, body="", script=""):
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>%s</title>"
            "<style>button { width: 300px; height: 60px; }</style></head><body><h1>%s</h1>%s"
            "<script>%s</script></body></html>" % (title, title, body, script))


def zoom_page(title, body=""):
    """A page that reports its zoom (the engine's device pixel ratio at scale 1) to its beacon
    when it opens and whenever the zoom changes."""
    return page_html(title, body, script=(
        "function report() { fetch('{beacon}?z=' + devicePixelRatio.toFixed(2)); }"
        " matchMedia('(resolution: ' + devicePixelRatio + 'dppx)').addEventListener("
        "'change', report); addEventListener('resize', report); report();"))


def beacon_of(page_url):
    return "/beacon/" + page_url.rsplit("/", 1)[1]


def subtree(nodes, top):
    """The nodes below top in a depth-first list."""
    below = []
    for node in nodes[nodes.index(top) + 1:]:
        if node.depth <= top.depth:
            break
        below.append(node)
    return below


def role(name):
    """AT-SPI's number for a role ("push button": ROLE_PUSH_BUTTON); names vary by release."""
    return getattr(screenreader.pyatspi, "ROLE_" + name.upper().replace(" ", "_"))


def showing(node):
    return node.accessible.getState().contains(screenreader.pyatspi.STATE_SHOWING)


class Window:
    """One top-level frame of the helper as the reader sees it: the strip and the loading view
    (outside the page's document) and the page."""

    def __init__(self, nodes, title):
        self.frame = next((n for n in nodes if n.depth == 1 and n.role == role("frame")
                           and n.name == title), None)
        if self.frame is None:
            raise LookupError("no frame %r" % title)
        inside = subtree(nodes, self.frame)
        document = next((n for n in inside if n.role == role("document web")), None)
        page = set(map(id, subtree(inside, document))) if document else set()
        self.document = document
        self.around = [n for n in inside if id(n) not in page and n is not document]

    def part(self, name):
        """The named panel around the page (the strip "Site", the loading view "Loading")."""
        return next((n for n in self.around if n.name == name
                     and n.role not in (role("progress bar"), role("label"))), None)

    def showing_in(self, panel_name, kind, name):
        """True when the panel holds a showing object of that role and name."""
        panel = self.part(panel_name)
        if panel is None or not showing(panel):
            return False
        return any(n.role == role(kind) and n.name == name and showing(n)
                   for n in subtree(self.around, panel))

    def strip_labels(self):
        """The strip's showing labels' names, in order."""
        strip = self.part("Site")
        return [n.name for n in subtree(self.around, strip)
                if n.role == role("label") and showing(n)]


class WindowTest(unittest.TestCase):
    def setUp(self):
        self.provider = self.enterContext(idp.Provider())

    def start_helper(self, unset=(), **env):
        environment = desk.helper_env(**env)
        for name in LOCALE_VARIABLES + tuple(unset):
            if name not in env:
                environment.pop(name, None)
        helper = self.enterContext(helperproc.Helper(env=environment))
        return helper, screenreader.application(helper.pid)

    def wait_window(self, app, title, predicate, what):
        """Reads the tree until the window titled title satisfies predicate(Window)."""
        def look(nodes):
            window = Window(nodes, title)
            return window if predicate(window) else None
        return screenreader.wait_for_tree(app, look, what="%s in %r" % (what, title))

    def zoom_reports(self, beacon):
        """The zoom levels a zoom_page reported, in order, as text ("1.10")."""
        return [r.path.rsplit("=", 1)[1] for r in self.provider.requests_to(beacon + "?z=")]

    def expect_zoom(self, beacon, value):
        if not testenv.wait_until(lambda: self.zoom_reports(beacon)[-1:] == [value], 10):
            raise AssertionError("zoom %s never reported; reports: %r"
                                 % (value, self.zoom_reports(beacon)))

    def close_window(self, helper, request_id, title):
        desk.wait_for_keyboard(title)
        desk.xdotool("key", "alt+F4")
        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), error_raw(request_id, "user_cancelled"))

    # -----------------------------------------------------------------------------------------

    def test_origin_strip_names_the_site_of_every_page_and_popup(self):
        p = self.provider
        helper, app = self.start_helper()
        title = "Sign in to Example"
        popup = p.page(idp.CUSTOM, html_text=zoom_page("Partner"))
        second = on_localhost(p.page(idp.CUSTOM, html_text=page_html(
            "Second", "<button id=open autofocus onclick=\"window.open('%s', 'partner', "
            "'width=500,height=400')\">Open</button>" % popup)))
        first = p.page(idp.CUSTOM, html_text=page_html(
            "First", "<button autofocus onclick=\"location.href = '%s'\">Next</button>" % second))
        helper.send(navigate_line(1, first, title, p.callback))

        # The host, with "Not secure" for plain http; the window keeps the client's title.
        window = self.wait_window(app, title, lambda w: w.document and w.document.name == "First"
                                  and w.strip_labels() == ["Not secure", "127.0.0.1"],
                                  "the first page under its host")
        # Read-only: nothing shown around the page takes text or a press.
        controls = [role(r) for r in ("text", "entry", "push button", "password text", "link")]
        self.assertEqual([n for n in window.around if n.role in controls and showing(n)], [])

        # The person goes on to a page on another host: the strip follows.
        desk.wait_for_keyboard(title)
        desk.xdotool("key", "Return")
        self.wait_window(app, title, lambda w: w.document and w.document.name == "Second"
                         and w.strip_labels() == ["Not secure", "localhost"],
                         "the second page under its host")

        # A popup names its own host; the window under it still names its own.
        desk.xdotool("key", "Return")
        self.wait_window(app, "Partner", lambda w: w.strip_labels() == ["Not secure",
                                                                         "127.0.0.1"],
                         "the popup's own host")
        self.wait_window(app, title, lambda w: w.strip_labels() == ["Not secure", "localhost"],
                         "the window's host under the popup")
        # The popup zooms with the same keys.
        desk.wait_for_keyboard("Partner")
        desk.xdotool("key", "ctrl+plus")
        self.expect_zoom(beacon_of(popup), "1.10")
        desk.xdotool("key", "alt+F4")
        self.close_window(helper, 1, title)

    def test_padlock_for_a_page_over_https(self):
        folder = tempfile.mkdtemp(prefix="tavisk-window-tls-")
        self.addCleanup(shutil.rmtree, folder, True)
        home = os.path.join(folder, "home")
        authority = tlsserver.Authority(folder)
        authority.trust_in(home)
        cert, key = authority.issue("server", ["127.0.0.1"])
        server = self.enterContext(tlsserver.TlsServer(cert, key, page_html("Secure page")))
        helper, app = self.start_helper(HOME=home)
        helper.send(navigate_line(1, server.url("/signin"), "Secure", self.provider.callback))
        window = self.wait_window(app, "Secure", lambda w: w.document
                                  and w.document.name == "Secure page"
                                  and w.showing_in("Site", "image", "Secure connection"),
                                  "the padlock")
        self.assertEqual(window.strip_labels(), ["127.0.0.1"])
        self.close_window(helper, 1, "Secure")

    def test_loading_view_until_the_first_page_then_progress_in_the_strip(self):
        p = self.provider
        helper, app = self.start_helper()
        title = "Slow provider"
        later = p.page(idp.CUSTOM, delay_ms=SLOW_MS, html_text=page_html("Later"))
        first = p.page(idp.CUSTOM, delay_ms=SLOW_MS, html_text=page_html(
            "Arrived", "<button autofocus onclick=\"location.href = '%s'\">Next</button>"
            % later))
        helper.send(navigate_line(1, first, title, p.callback))

        # At once, in place of a blank page: what is happening, and that it is loading.
        self.wait_window(app, title, lambda w: w.showing_in("Loading", "label",
                                                            "Connecting to 127.0.0.1\u2026")
                         and w.showing_in("Loading", "progress bar", "Loading")
                         and not (w.document and w.document.name == "Arrived"),
                         "the loading view before the page")

        # Once the page is there, the view is gone and the page shows.
        self.wait_window(app, title, lambda w: w.document and w.document.name == "Arrived"
                         and not w.showing_in("Loading", "label", "Connecting to 127.0.0.1\u2026"),
                         "the page in place of the loading view")

        # A later page of the sign-in loads under the page the person sees, with the strip's
        # progress bar showing until it is there.
        desk.wait_for_keyboard(title)
        desk.xdotool("key", "Return")
        self.wait_window(app, title, lambda w: w.showing_in("Site", "progress bar", "Loading")
                         and not w.showing_in("Loading", "label", "Connecting to 127.0.0.1\u2026"),
                         "the strip's progress while the next page loads")
        self.wait_window(app, title, lambda w: w.document and w.document.name == "Later"
                         and not w.showing_in("Site", "progress bar", "Loading"),
                         "the next page, loaded")
        self.close_window(helper, 1, title)

    def test_accept_language_from_the_locale(self):
        cases = [
            ("German locale", {"LANG": "de_DE.UTF-8"}, "de-DE,de;q=0.9"),
            ("language list", {"LANGUAGE": "fr_FR:de", "LANG": "en_US.UTF-8"},
             "fr-FR,fr;q=0.9,de;q=0.8"),
            ("US English", {"LANG": "en_US.UTF-8"}, "en-US,en;q=0.9"),
        ]
        for name, locale, header in cases:
            with self.subTest(name):
                helper, _ = self.start_helper(**locale)
                page = self.provider.page(idp.REDIRECT_302, self.provider.callback + "?s=1")
                helper.send(navigate_line(1, page, "Languages", self.provider.callback))
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                                 ok_raw(1, self.provider.callback + "?s=1"))
                path = "/" + page.split("/", 3)[3]
                self.assertEqual([r.accept_language for r in self.provider.requests_to(path)],
                                 [header])

    def test_german_texts_and_qt_buttons_under_a_german_locale(self):
        p = self.provider
        helper, app = self.start_helper(LANG="de_DE.UTF-8")
        title = "Anmelden"
        asking = p.page(idp.CUSTOM, delay_ms=SLOW_MS, html_text=page_html(
            "Frage", script="addEventListener('load', function () {"
            " setTimeout(function () { confirm('Weiter?'); }, 100); });"))
        helper.send(navigate_line(1, asking, title, p.callback))
        self.wait_window(app, title, lambda w: w.showing_in(
            "Wird geladen", "label", "Verbindung zu 127.0.0.1 wird hergestellt\u2026"),
            "the loading view in German")
        self.wait_window(app, title, lambda w: w.document and w.document.name == "Frage"
                         and w.showing_in("Website", "label", "Nicht sicher"),
                         "the strip in German")

        # The page's question: the helper's title, Qt's own buttons, all in German.
        def dialog(nodes):
            frame = next((n for n in nodes if n.depth == 1 and n.name == "127.0.0.1 meldet"),
                         None)
            if frame is None:
                return None
            buttons = sorted(n.name for n in subtree(nodes, frame)
                             if n.role == role("push button"))
            return buttons if buttons == ["Abbrechen", "OK"] else None
        screenreader.wait_for_tree(app, dialog, what="the page's question in German")
        desk.wait_for_keyboard("127.0.0.1 meldet")
        desk.xdotool("key", "Escape")
        self.close_window(helper, 1, title)

    def test_zoom_keys_and_wheel_and_the_next_sign_in_keeps_the_zoom(self):
        p = self.provider
        helper, app = self.start_helper()
        first = p.page(idp.CUSTOM, html_text=zoom_page("Zoom", "<input autofocus>"))
        beacon = beacon_of(first)
        zoom_reports, expect_zoom = self.zoom_reports, self.expect_zoom

        helper.send(navigate_line(1, first, "Zoom", p.callback))
        expect_zoom(beacon, "1.00")
        desk.wait_for_keyboard("Zoom")
        for keys, value in [("ctrl+plus", "1.10"), ("ctrl+plus", "1.25"), ("ctrl+minus", "1.10"),
                            ("ctrl+0", "1.00"), ("ctrl+minus", "0.90"), ("ctrl+equal", "1.00")]:
            desk.xdotool("key", keys)
            expect_zoom(beacon, value)
        # The wheel with Ctrl held, over the page.
        desk.xdotool("mousemove", "400", "300")
        desk.xdotool("keydown", "ctrl", "click", "4", "keyup", "ctrl")
        testenv.wait_until(lambda: zoom_reports(beacon)[-1] != "1.00", 10)
        wheel_zoom = zoom_reports(beacon)[-1]
        self.assertGreater(float(wheel_zoom), 1.0, zoom_reports(beacon))
        self.close_window(helper, 1, "Zoom")

        # The next sign-in of the run opens at the person's zoom, on another host too.
        second = on_localhost(p.page(idp.CUSTOM, html_text=zoom_page("Zoom", "<input autofocus>")))
        helper.send(navigate_line(2, second, "Zoom again", p.callback))
        expect_zoom(beacon_of(second), wheel_zoom)
        self.close_window(helper, 2, "Zoom again")

    def test_quiet_standard_error_and_the_switch_that_brings_messages_back(self):
        p = self.provider
        for name, rules, expect_engine_lines in [("quiet", None, False),
                                                 ("asked for", "qt.webenginecontext=true",
                                                  True)]:
            with self.subTest(name):
                env = {"unset": ["QT_LOGGING_RULES"]} if rules is None \
                    else {"QT_LOGGING_RULES": rules}
                helper, _ = self.start_helper(**env)
                # A sign-in that goes well: the page loads, then redirects.
                page = p.page(idp.LATE, p.callback + "?s=%s" % name[0], delay_ms=300)
                helper.send(navigate_line(1, page, "Quiet", p.callback))
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                                 ok_raw(1, p.callback + "?s=%s" % name[0]))
                helper.send(line(request(2, "exit")))
                self.assertEqual(helper.wait(), 0)
                self.assertTrue(helper.wait_stderr_eof())
                # The load lines on standard output are as they were.
                self.assertTrue(helper.wait_stdout(lambda ls: loaded(page) in ls, 10),
                                helper.stdout_lines)
                if expect_engine_lines:
                    self.assertIn("qt.webenginecontext:", helper.stderr_text())
                else:
                    self.assertEqual(helper.stderr_text(), "")

        # A site whose certificate the engine cannot verify ends the sign-in at once; the
        # engine's complaint is no error of the helper's, and stays off standard error too.
        folder = tempfile.mkdtemp(prefix="tavisk-window-tls-")
        self.addCleanup(shutil.rmtree, folder, True)
        cert, key = tlsserver.self_signed(folder, "untrusted", ["127.0.0.1"])
        server = self.enterContext(tlsserver.TlsServer(cert, key, page_html("Untrusted")))
        helper, _ = self.start_helper(unset=["QT_LOGGING_RULES"])
        helper.send(navigate_line(1, server.url("/"), "Untrusted", p.callback, timeout_ms=3000))
        server.wait_for_connections(1, REPLY_TIMEOUT)
        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                         failure_raw(1, "certificate_error", "127.0.0.1",
                                     "ERR_CERT_AUTHORITY_INVALID"))
        helper.send(line(request(2, "exit")))
        self.assertEqual(helper.wait(), 0)
        self.assertTrue(helper.wait_stderr_eof())
        self.assertEqual(helper.stderr_text(), "")
        self.assertEqual(server.request_lines, [])

        # A real error still says why, in one line.
        env = desk.helper_env(DISPLAY=":%d" % testenv.free_tcp_port(), QT_QPA_PLATFORM="xcb")
        env.pop("QT_LOGGING_RULES", None)
        with helperproc.Helper(env=env) as helper:
            self.assertNotEqual(helper.wait(), 0)
            self.assertTrue(helper.wait_stderr_eof())
            lines = helper.stderr_text().splitlines()
            self.assertEqual(len(lines), 1, lines)
            self.assertRegex(lines[0], r"^corvane-tavisk: cannot start: .*display")


if __name__ == "__main__":
    unittest.main()
