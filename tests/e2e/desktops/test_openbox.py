"""The helper on X11 with a real window manager: openbox on Xvfb, started by the test. A
person's hands are xdotool's keys and clicks through the X server (XTEST), never sent to a
window directly, so they go where openbox gave the focus; nothing is clicked before typing.

One Xvfb with openbox serves every test; each test starts its own helper."""

import subprocess
import unittest

import signincase
from signincase import PASSWORD, USER
import desktop
import testenv


class OpenboxCase(signincase.DesktopCase):
    """One openbox for the class, and a person's ways with it; no tests of its own."""

    platform = "xcb"

    @classmethod
    def start_desktop(cls):
        return cls.enterClassContext(desktop.Openbox())

    def wait_active(self, title):
        """The id of the one viewable window titled title, once openbox has made it the
        active window and it holds the X input focus."""
        def look():
            found = self.desk.find(title)
            if len(found) != 1:
                return None
            window = found[0]
            focus = self.desk.focused_window()
            return window if self.desk.active_window() == window and focus == window else None

        window = testenv.wait_until(look, signincase.REPLY_TIMEOUT, 0.1)
        if window is None:
            raise AssertionError("window %r never became active with the focus" % title)
        return window

    def type_sign_in(self, helper, request_id, title):
        url = self.navigate(helper, request_id, title)
        self.wait_active(title)
        self.wait_ready(helper, url)
        self.desk.xdotool("type", "--delay", "20", USER)
        self.desk.xdotool("key", "Tab")
        self.desk.xdotool("type", "--delay", "20", PASSWORD)
        self.desk.xdotool("key", "Return")
        self.assert_signed_in(helper, request_id, url)

    def terminal(self):
        """An xterm that the person moved to: it has the focus."""
        self.start_program(["xterm", "-title", "terminal"])
        self.wait_active("terminal")

    def close_button(self, window):
        """Where the close button of window's title bar is: the right end of the title bar,
        which openbox's frame extents say the size of (left, right, top, bottom)."""
        extents = subprocess.run(["xprop", "-id", str(window), "_NET_FRAME_EXTENTS"],
                                 env=self.desk.env(), capture_output=True, text=True,
                                 timeout=10).stdout
        _, right, top, _ = (int(v) for v in extents.split("=")[1].split(","))
        info = subprocess.run(["xwininfo", "-id", str(window)], env=self.desk.env(),
                              capture_output=True, text=True, timeout=10).stdout
        values = dict(line.strip().split(": ", 1) for line in info.splitlines() if ": " in line)
        x, y = int(values["Absolute upper-left X"]), int(values["Absolute upper-left Y"])
        width = int(values["Width"])
        return x + width + right - top // 2, y - top // 2


class Openbox(OpenboxCase):
    def test_typed_sign_ins_and_the_window_managers_closes(self):
        helper = self.start_helper()
        self.type_sign_in(helper, 1, "Sign in under openbox")

        self.navigate(helper, 2, "Close by Alt F4")
        self.wait_active("Close by Alt F4")
        self.desk.xdotool("key", "alt+F4")
        self.assert_cancelled(helper, 2)

        self.navigate(helper, 3, "Close by button")
        window = self.wait_active("Close by button")
        x, y = self.close_button(window)
        self.desk.xdotool("mousemove", str(x), str(y), "click", "1")
        self.assert_cancelled(helper, 3)

        # The next sign-in comes up over the terminal the person moved to and takes the keys.
        self.terminal()
        self.type_sign_in(helper, 4, "Sign in over a terminal")
        self.assert_clean_exit(helper)


if __name__ == "__main__":
    unittest.main()
