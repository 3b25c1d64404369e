"""A person who uses a screen reader, or only a keyboard, signs in.

The helper runs on a desktop with a private accessibility bus, a screen reader's switches on,
and openbox as window manager (screenreader.py). Its accessibility tree is read through AT-SPI
as a screen reader reads it; focus is moved through AT-SPI as a screen reader moves it, and keys
go through the X server's XTEST extension as a keyboard's would. The page reports its own focus
to the loopback provider (provider.focus_reports).

Not tested, because Qt WebEngine 6.4 does not offer them: setting a field's text through
EditableText (its fields expose read-only Text) and pressing a button through its action
interface (its buttons offer only a focus action); a reader's user presses Enter instead.
"""

import time
import unittest

import screenreader
import helperproc
import testenv
import provider as idp
from signinfixture import error_raw, ok_raw
from Xlib import X, display as xdisplay, error as xerror
# Roles by AT-SPI's numbers: their names change between AT-SPI releases (Debian 13's calls a
# push button "button").
from pyatspi import (ROLE_DOCUMENT_WEB, ROLE_FRAME, ROLE_HEADING, ROLE_LINK,
                     ROLE_PASSWORD_TEXT, ROLE_PUSH_BUTTON, ROLE_TEXT)

REPLY_TIMEOUT = 30
USER, PASSWORD = "alice.example", "correct horse 42"
SCREEN = (1280, 1024)  # xvfb.XServer's screen

desk = screenreader.Desktop()
setUpModule = desk.start
tearDownModule = desk.stop


def navigate_line(request_id, url, title, redirect_uri, **extra):
    params = dict(url=url, title=title, redirect_uri=redirect_uri, **extra)
    return helperproc.Helper.encode({"jsonrpc": "2.0", "id": request_id, "method": "navigate",
                                     "params": params})


def subtree(nodes, top):
    """The nodes below top in a depth-first list."""
    start = nodes.index(top) + 1
    below = []
    for node in nodes[start:]:
        if node.depth <= top.depth:
            break
        below.append(node)
    return below


def view_of(nodes, document):
    """The widget that holds the web document: it has the keyboard focus when the page has."""
    return next(n for n in reversed(nodes[:nodes.index(document)]) if n.depth < document.depth)


def window_frame(nodes, title):
    """The application's top-level frame named title, or None."""
    return next((n for n in nodes if n.depth == 1 and n.role == ROLE_FRAME and n.name == title),
                None)


class AccessibilityTest(unittest.TestCase):
    def setUp(self):
        self.provider = self.enterContext(idp.Provider())

    def start_helper(self, **env):
        helper = self.enterContext(helperproc.Helper(env=desk.helper_env(**env)))
        return helper, screenreader.application(helper.pid)

    def sign_in_page(self, state):
        return self.provider.sign_in_url(self.provider.callback, state, accessible=True)

    def wait_for_page(self, app, title):
        """The tree once the window titled title shows the sign-in page with its user-name
        field focused, as a screen reader finds it when the window appears."""
        def ready(nodes):
            frame = window_frame(nodes, title)
            if frame is None:
                return None
            page = subtree(nodes, frame)
            document = screenreader.find(page, ROLE_DOCUMENT_WEB, "Provider sign-in")
            field = screenreader.find(page, ROLE_TEXT, "User name")
            return nodes if frame.active and document and view_of(nodes, document).focused \
                and field and field.focused else None
        return screenreader.wait_for_tree(app, ready, what="the active window %r with the "
                                          "keyboard focus in its page, on the user-name field"
                                          % title)

    def move_focus(self, app, role, name):
        """Moves the focus to an object as a screen reader does, and waits until it is there."""
        node = screenreader.find(screenreader.tree(app), role, name)
        self.assertIsNotNone(node, "no [%s] %r in the tree" % (role, name))
        node.grab_focus()
        return screenreader.wait_for_tree(
            app, lambda nodes: screenreader.find(nodes, role, name).focused and nodes,
            what="the focus on [%s] %r" % (role, name))

    def wait_for_field_text(self, app, role, name, text):
        """Waits until the field reads text; a password field reads one bullet a character."""
        screenreader.wait_for_tree(
            app, lambda nodes: screenreader.find(nodes, role, name).text() == text,
            what="%r in the field %r" % (text, name))

    def type_keys(self, text):
        desk.xdotool("type", "--delay", "40", text)

    # -----------------------------------------------------------------------------------------

    def test_page_as_a_screen_reader_reads_it(self):
        helper, app = self.start_helper()
        title = "Sign in to Example"
        helper.send(navigate_line(1, self.sign_in_page("st"), title, self.provider.callback))
        nodes = self.wait_for_page(app, title)
        frame = window_frame(nodes, title)
        page = [(n.role, n.name) for n in subtree(nodes, frame)]
        for expected in [(ROLE_DOCUMENT_WEB, "Provider sign-in"), (ROLE_HEADING, "Sign in"),
                         (ROLE_TEXT, "User name"), (ROLE_PASSWORD_TEXT, "Password"),
                         (ROLE_PUSH_BUTTON, "Sign in"), (ROLE_LINK, "Cancel")]:
            self.assertIn(expected, page, "\n".join(map(repr, nodes)))
        # The keyboard focus is in the page (its view holds it), and in the page on the field.
        document = screenreader.find(nodes, ROLE_DOCUMENT_WEB, "Provider sign-in")
        self.assertTrue(view_of(nodes, document).focused)
        focused = [n for n in subtree(nodes, document) if n.focused]
        self.assertEqual([(n.role, n.name) for n in focused], [(ROLE_TEXT, "User name")])

    def test_environment_keeps_the_page_hidden_when_it_asks(self):
        # QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY=0 from the environment turns the page's
        # content off (the engine's cost stays away); the window itself is still there.
        helper, app = self.start_helper(QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY="0")
        title = "Hidden page"
        sign_in = self.sign_in_page("st")
        helper.send(navigate_line(1, sign_in, title, self.provider.callback))
        self.provider.wait_for_request("/focus/", REPLY_TIMEOUT)  # the page has loaded

        nodes = screenreader.wait_for_tree(app, lambda nodes: window_frame(nodes, title) and nodes,
                                           what="the window %r" % title)
        # Nothing of the page: no object of its, and no document with anything in it (Qt 6.4
        # shows an empty web document in the view, Qt 6.8 none at all).
        page_names = {"Provider sign-in", "Sign in", "User name", "Password", "Cancel"}
        shown = [n for n in nodes if n.name in page_names
                 or (n.role == ROLE_DOCUMENT_WEB and subtree(nodes, n))]
        self.assertEqual(shown, [], "\n".join(map(repr, nodes)))

    def test_sign_in_as_a_screen_reader_user(self):
        helper, app = self.start_helper()
        sign_in = self.sign_in_page("st1")
        helper.send(navigate_line(1, sign_in, "Reader sign-in", self.provider.callback))
        self.wait_for_page(app, "Reader sign-in")
        desk.wait_for_keyboard("Reader sign-in")
        # The reader's user moves to each field, types, moves to the button and presses Enter
        # (the engine's buttons offer no press action).
        self.move_focus(app, ROLE_TEXT, "User name")
        self.type_keys(USER)
        self.wait_for_field_text(app, ROLE_TEXT, "User name", USER)
        self.move_focus(app, ROLE_PASSWORD_TEXT, "Password")
        self.type_keys(PASSWORD)
        self.wait_for_field_text(app, ROLE_PASSWORD_TEXT, "Password", "\u2022" * len(PASSWORD))
        self.move_focus(app, ROLE_PUSH_BUTTON, "Sign in")
        desk.xdotool("key", "Return")
        reply = helper.reply_raw(REPLY_TIMEOUT)
        code = self.provider.session_code(sign_in)
        self.assertIsNotNone(code, "no code issued: %r" % self.provider.requests())
        self.assertEqual(reply, ok_raw(1, "%s?code=%s&state=st1" % (self.provider.callback, code)))

        # On the next sign-in the user gives up through the page's Cancel link.
        helper.send(navigate_line(2, self.sign_in_page("st2"), "Reader again",
                                  self.provider.callback))
        self.wait_for_page(app, "Reader again")
        desk.wait_for_keyboard("Reader again")
        self.move_focus(app, ROLE_LINK, "Cancel")
        desk.xdotool("key", "Return")
        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), error_raw(2, "access_denied: cancel"))
        self.assertEqual(self.provider.requests_to(idp.CALLBACK_PATH), [])

    def test_focus_when_a_sign_in_follows_another_at_once(self):
        # The first sign-in ends, by a redirect or its time limit, and the next navigate is
        # already waiting: the window is hidden and shown again in the same moment. The window
        # must still be the active one, with the focus ring in the page's field and the keyboard
        # typing into it.
        p = self.provider
        cases = [
            ("redirect", p.page(idp.REDIRECT_302, p.callback + "?state=first"), {},
             lambda i: ok_raw(i, p.callback + "?state=first")),
            ("time limit", p.page(idp.NEVER), {"timeout_ms": 500},
             lambda i: error_raw(i, "timeout")),
        ]
        for number, (name, first, extra, first_reply) in enumerate(cases):
            with self.subTest(name), helperproc.Helper(env=desk.helper_env()) as helper:
                app = screenreader.application(helper.pid)
                first_id, second_id = 10 * number + 1, 10 * number + 2
                title = "Next after %s" % name
                second = self.sign_in_page("next%d" % number)
                helper.send(navigate_line(first_id, first, "First", p.callback, **extra)
                            + navigate_line(second_id, second, title, p.callback))
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), first_reply(first_id))
                self.wait_for_page(app, title)
                # What the page itself sees: focus in the document, on the field, with a ring.
                ring = {"has": True, "active": "username", "visible": True}
                testenv.wait_until(lambda: p.focus_reports(second)[-1:] == [ring], 10)
                self.assertEqual(p.focus_reports(second)[-1:], [ring], p.focus_reports(second))
                # The keyboard alone finishes the sign-in: type, Tab, type, Enter.
                desk.wait_for_keyboard(title)
                self.type_keys(USER)
                self.wait_for_field_text(app, ROLE_TEXT, "User name", USER)
                desk.xdotool("key", "Tab")
                self.type_keys(PASSWORD)
                self.wait_for_field_text(app, ROLE_PASSWORD_TEXT, "Password",
                                         "\u2022" * len(PASSWORD))
                desk.xdotool("key", "Return")
                reply = helper.reply_raw(REPLY_TIMEOUT)
                self.assertEqual(reply, ok_raw(second_id, "%s?code=%s&state=next%d"
                                               % (p.callback, p.session_code(second), number)))

    def test_window_inside_the_screen_at_scale_2(self):
        # 800 by 600 at scale 2 is 1600 by 1200 pixels, more than the 1280 by 1024 screen: the
        # window takes what fits, frame and title bar included, on its first showing and on the
        # next one.
        helper, app = self.start_helper(QT_SCALE_FACTOR="2")
        connection = xdisplay.Display(desk.display)
        self.addCleanup(connection.close)
        for request_id, title in ((1, "Scaled"), (2, "Scaled again")):
            helper.send(navigate_line(request_id, self.provider.page(idp.NEVER), title,
                                      self.provider.callback))
            frame, client = self.settled_geometry(connection, title)
            x, y, width, height = frame
            self.assertTrue(x >= 0 and y >= 0 and x + width <= SCREEN[0]
                            and y + height <= SCREEN[1],
                            "frame %r, window %r on a %r screen" % (frame, client, SCREEN))
            # As large as fits: only the frame's width and title bar are given up.
            self.assertGreater(client[2], SCREEN[0] - 40, client)
            self.assertGreater(client[3], SCREEN[1] - 80, client)
            # The person closes it with the frame's close button (Alt+F4 is the same request),
            # once they see it focused.
            desk.wait_for_keyboard(title)
            desk.xdotool("key", "alt+F4")
            self.assertEqual(helper.reply_raw(REPLY_TIMEOUT), error_raw(request_id,
                                                                        "user_cancelled"))

    # -- windows as the X server sees them -----------------------------------------------------

    @staticmethod
    def client_window(connection, title):
        """The viewable window titled title, or None."""
        net_wm_name = connection.intern_atom("_NET_WM_NAME")
        utf8 = connection.intern_atom("UTF8_STRING")
        todo = [connection.screen().root]
        while todo:
            window = todo.pop()
            try:
                name = window.get_full_property(net_wm_name, utf8)
                attributes = window.get_attributes()
                children = window.query_tree().children
            except xerror.XError:
                continue  # destroyed while we looked
            if name is not None and name.value.decode("utf-8", "replace") == title \
                    and attributes.map_state == X.IsViewable:
                return window
            todo.extend(children)
        return None

    @staticmethod
    def geometries(connection, window):
        """(frame, window) as (x, y, width, height) on the root: the frame is the window
        manager's window that holds the helper's."""
        root = connection.screen().root
        frame = window
        while frame.query_tree().parent.id != root.id:
            frame = frame.query_tree().parent

        def on_root(w):
            g = w.get_geometry()
            origin = w.translate_coords(root, 0, 0)
            return (-origin.x, -origin.y, g.width, g.height)
        return on_root(frame), on_root(window)

    def settled_geometry(self, connection, title, settle=0.5, timeout=15):
        """geometries() of the window titled title once the same window has kept the same
        geometry for settle seconds. Qt may replace a window's native window just after
        showing it, and the window manager frames and the helper fits it after that."""
        deadline = time.monotonic() + timeout
        last, since = None, None
        while True:
            window = self.client_window(connection, title)
            try:
                look = (window.id, self.geometries(connection, window)) if window else None
            except xerror.XError:
                look = None
            now = time.monotonic()
            if look is None or look != last:
                last, since = look, now
            elif now - since >= settle:
                return look[1]
            if now >= deadline:
                raise AssertionError("the window %r did not settle within %.1f s (last: %r)"
                                     % (title, timeout, last))
            time.sleep(0.05)


if __name__ == "__main__":
    unittest.main()
