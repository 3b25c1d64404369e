"""The helper under GNOME's compositor: mutter, headless with a virtual monitor, started by the
test, with the helper native on Wayland (QT_QPA_PLATFORM=wayland) and as an X client of
mutter's Xwayland. A person's hands are mutter's RemoteDesktop input.

mutter tells a client nothing about its Wayland windows. A native window shows it has the
keyboard through its page (the sign-in page reports document.hasFocus() with the caret in
place) and through the stand-in client losing it; on Xwayland the X root's
_NET_ACTIVE_WINDOW and _NET_CLIENT_LIST_STACKING tell which window is active and which is
above.

One mutter serves the tests of both platforms; each test starts its own helper."""

import subprocess
import unittest

import compositorcase
import signincase
import testenv
import mutter

_desk = None


def setUpModule():
    global _desk
    reason = mutter.available()
    if reason:
        raise unittest.SkipTest("mutter: " + reason)
    _desk = unittest.enterModuleContext(mutter.Mutter())


class GnomeCase(compositorcase.DeskCase):
    @classmethod
    def start_desktop(cls):
        return _desk  # one mutter for the module's classes, started by setUpModule


class NativeWayland(GnomeCase):
    platform = "wayland"

    def wait_sign_in_window(self, helper, title, url):
        self.wait_ready(helper, url)

    def test_typed_sign_ins_and_alt_f4(self):
        self.check_typed_sign_ins_and_alt_f4()

    def test_sign_ins_over_a_clicked_full_screen_client(self):
        self.check_sign_ins_over_a_clicked_full_screen_client()


class Xwayland(GnomeCase):
    platform = "xcb"

    def x_windows(self, *args):
        done = subprocess.run(["xdotool"] + list(args), env=self.desk.env("xcb"),
                              capture_output=True, text=True, timeout=10)
        return [int(w) for w in done.stdout.split()]

    def titled(self, title):
        """The visible client windows titled title. mutter 44 and later draw the frames of X
        windows in an X client of their own (mutter-x11-frames): a frame window carries its
        client's title too, and names the client in _MUTTER_FRAME_FOR."""
        def frame(window):
            done = subprocess.run(["xprop", "-id", str(window), "_MUTTER_FRAME_FOR"],
                                  env=self.desk.env("xcb"), capture_output=True, text=True,
                                  timeout=10)
            return "window id" in done.stdout

        return [w for w in self.x_windows("search", "--onlyvisible", "--name", "^%s$" % title)
                if not frame(w)]

    def stacking(self):
        """The X root's _NET_CLIENT_LIST_STACKING, bottom first."""
        done = subprocess.run(["xprop", "-root", "-notype", "_NET_CLIENT_LIST_STACKING"],
                              env=self.desk.env("xcb"), capture_output=True, text=True,
                              timeout=10)
        return [int(w, 16) for w in done.stdout.split("#")[-1].replace(",", " ").split()]

    def wait_sign_in_window(self, helper, title, url):
        def active():
            found = self.titled(title)
            return len(found) == 1 and self.desk.active_x_window() == found[0]

        if not testenv.wait_until(active, signincase.REPLY_TIMEOUT, 0.1):
            raise AssertionError("window %r never became mutter's active window" % title)
        self.wait_ready(helper, url)

    def assert_over(self, title, standin, parent):
        (sign_in,) = self.titled(title)
        client = int(standin.handle().split(":")[1], 16)
        stacking = self.stacking()
        self.assertGreater(stacking.index(sign_in), stacking.index(client),
                           "the sign-in window is below the full-screen client")
        done = subprocess.run(["xprop", "-id", str(sign_in), "WM_TRANSIENT_FOR"],
                              env=self.desk.env("xcb"), capture_output=True, text=True,
                              timeout=10)
        transient_for = int(done.stdout.split("#")[1], 16) if "#" in done.stdout else None
        self.assertEqual(transient_for, client if parent else None, done.stdout)

    def test_typed_sign_ins_and_alt_f4(self):
        self.check_typed_sign_ins_and_alt_f4()

    def test_sign_ins_over_a_clicked_full_screen_client(self):
        self.check_sign_ins_over_a_clicked_full_screen_client()


if __name__ == "__main__":
    unittest.main()
