"""The sign-in window as the child of the client's window on X11 (navigate's "parent_window"
"x11:<hex id>"), under openbox on Xvfb: transient for it, centred over it, above it also when
it is full-screen, with the keyboard. A parent that cannot be used leaves the window on its
own, and the sign-in goes on. The client is a stand-in: an xterm that a person clicked into.

One Xvfb with openbox serves every test; each test starts its own helper and client."""

import unittest

from Xlib import X, display as xdisplay
from Xlib.protocol import event as xevent

import signincase
import test_openbox
import testenv

CLIENT_TITLE = "Remote desktop"


class ParentOnOpenbox(test_openbox.OpenboxCase):
    def setUp(self):
        super().setUp()
        self.x = xdisplay.Display(self.desk.display)
        self.addCleanup(self.x.close)

    def atom(self, name):
        return self.x.intern_atom(name)

    def window(self, window_id):
        return self.x.create_resource_object("window", window_id)

    def transient_for(self, window_id):
        parent = self.window(window_id).get_wm_transient_for()
        return parent.id if parent else None

    def outer_rect(self, window_id):
        """(x, y, width, height) of the window with openbox's frame around it."""
        window = self.window(window_id)
        origin = self.x.screen().root.translate_coords(window, 0, 0)
        geometry = window.get_geometry()
        extents = window.get_full_property(self.atom("_NET_FRAME_EXTENTS"), X.AnyPropertyType)
        left, right, top, bottom = extents.value if extents else (0, 0, 0, 0)
        return (origin.x - left, origin.y - top, geometry.width + left + right,
                geometry.height + top + bottom)

    def stacking(self):
        """openbox's managed windows, bottom to top."""
        prop = self.x.screen().root.get_full_property(self.atom("_NET_CLIENT_LIST_STACKING"),
                                                      X.AnyPropertyType)
        return list(prop.value) if prop else []

    def is_full_screen(self, window_id):
        prop = self.window(window_id).get_full_property(self.atom("_NET_WM_STATE"),
                                                        X.AnyPropertyType)
        return prop is not None and self.atom("_NET_WM_STATE_FULLSCREEN") in prop.value

    def go_full_screen(self, window_id):
        """Asks openbox to make the window full-screen, as its program does (EWMH)."""
        message = xevent.ClientMessage(
            window=self.window(window_id), client_type=self.atom("_NET_WM_STATE"),
            data=(32, [1, self.atom("_NET_WM_STATE_FULLSCREEN"), 0, 1, 0]))
        self.x.screen().root.send_event(
            message, event_mask=X.SubstructureRedirectMask | X.SubstructureNotifyMask)
        self.x.sync()
        if not testenv.wait_until(lambda: self.is_full_screen(window_id), 10, 0.05):
            raise AssertionError("the client never became full-screen")

    def client(self, *xterm_args):
        """The stand-in client's window, once a person has clicked into it and it holds the
        keyboard."""
        self.start_program(["xterm", "-title", CLIENT_TITLE] + list(xterm_args))
        window = testenv.wait_until(lambda: (self.desk.find(CLIENT_TITLE) or [None])[0],
                                       signincase.REPLY_TIMEOUT, 0.1)
        self.assertIsNotNone(window, "the stand-in client never appeared")
        self.click(window)
        return self.wait_active(CLIENT_TITLE)

    def click(self, window_id):
        x, y, width, height = self.outer_rect(window_id)
        self.desk.xdotool("mousemove", str(x + width // 2), str(y + height // 2), "click", "1")

    def assert_child_of(self, window, client):
        self.assertEqual(self.transient_for(window), client, "WM_TRANSIENT_FOR")
        order = self.stacking()
        self.assertGreater(order.index(window), order.index(client), "stacked below the client")

    def assert_centred_over(self, window, client):
        x, y, width, height = self.outer_rect(window)
        cx, cy, c_width, c_height = self.outer_rect(client)
        # The frame is not known before openbox has framed the window; its title bar may
        # shift it by half its height.
        for axis, mine, theirs in (("x", x + width / 2, cx + c_width / 2),
                                   ("y", y + height / 2, cy + c_height / 2)):
            self.assertLessEqual(abs(mine - theirs), 16, "centre %s %r, the client's %r"
                                 % (axis, (x, y, width, height), (cx, cy, c_width, c_height)))

    def test_the_sign_in_window_is_the_clients_child_and_the_next_one_stands_alone(self):
        # A client in the lower right, so that the centre over it is not the screen's.
        client = self.client("-geometry", "140x50+420+280")
        helper = self.start_helper()
        parent = "x11:%x" % client

        url = self.navigate(helper, 1, "Over the client", parent_window=parent)
        window = self.wait_active("Over the client")
        self.assert_child_of(window, client)
        self.assert_centred_over(window, client)
        self.desk.xdotool("key", "alt+F4")
        self.assert_cancelled(helper, 1)

        # Full-screen now, and clicked again: the sign-in still comes up above it and takes
        # every key typed.
        self.go_full_screen(client)
        self.click(client)
        self.wait_active(CLIENT_TITLE)
        url = self.navigate(helper, 2, "Over the full-screen client", parent_window=parent)
        window = self.wait_active("Over the full-screen client")
        self.assert_child_of(window, client)
        self.assertTrue(self.is_full_screen(client))
        self.wait_ready(helper, url)
        self.type_into_focus()
        self.assert_signed_in(helper, 2, url)

        # The window serves the next sign-in, which names no parent: it has none.
        self.click(client)
        self.wait_active(CLIENT_TITLE)
        self.navigate(helper, 3, "On its own")
        window = self.wait_active("On its own")
        self.assertIsNone(self.transient_for(window))
        self.desk.xdotool("key", "alt+F4")
        self.assert_cancelled(helper, 3)
        self.assert_clean_exit(helper)

    def test_a_parent_that_cannot_be_used_is_left_out(self):
        client = self.client()
        gone = self.client_gone()
        unmapped = self.x.screen().root.create_window(0, 0, 10, 10, 0, X.CopyFromParent)
        self.x.sync()
        cases = [
            ("malformed", "x11:zz"),
            ("no id", "x11:"),
            ("zero", "x11:0"),
            ("spaces", " x11:%x" % client),
            ("upper-case prefix", "X11:%x" % client),
            ("not a string", 0x1000),
            ("a window that is gone", "x11:%x" % gone),
            ("a window not shown", "x11:%x" % unmapped.id),
            ("another window system's", "wayland:%x" % client),
        ]
        helper = self.start_helper()
        for request_id, (name, parent) in enumerate(cases, start=1):
            with self.subTest(name):
                url = self.navigate(helper, request_id, name, parent_window=parent)
                window = self.wait_active(name)
                self.assertIsNone(self.transient_for(window))
                self.wait_ready(helper, url)
                self.type_into_focus()
                self.assert_signed_in(helper, request_id, url)
        self.assert_clean_exit(helper)

    def client_gone(self):
        """The id of a window that existed and is gone."""
        window = self.x.screen().root.create_window(0, 0, 10, 10, 0, X.CopyFromParent)
        window_id = window.id
        window.destroy()
        self.x.sync()
        return window_id

    def type_into_focus(self):
        self.desk.xdotool("type", "--delay", "20", signincase.USER)
        self.desk.xdotool("key", "Tab")
        self.desk.xdotool("type", "--delay", "20", signincase.PASSWORD)
        self.desk.xdotool("key", "Return")


if __name__ == "__main__":
    unittest.main()
