"""The helper under KDE's compositor: kwin_wayland on a virtual output, started by the test,
with the helper native on Wayland (QT_QPA_PLATFORM=wayland) and as an X client of KWin's
Xwayland. A person's hands are KWin's fake input; what KWin knows about the windows (active,
stacking, full-screen) is read through a KWin script.

One KWin serves the tests of both platforms; each test starts its own helper."""

import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compositorcase  # noqa: E402
import signincase  # noqa: E402
import kwin  # noqa: E402  (on the path through signincase)

_desk = None


def setUpModule():
    global _desk
    reason = kwin.available()
    if reason:
        raise unittest.SkipTest("KWin: " + reason)
    _desk = unittest.enterModuleContext(kwin.KWin())


class KdeCase(compositorcase.DeskCase):
    @property
    def desk(self):
        return _desk

    def wait_sign_in_window(self, helper, title, url):
        self.desk.wait_for_window(title, active=True, timeout=signincase.REPLY_TIMEOUT)
        self.wait_ready(helper, url)

    def assert_over(self, title, standin):
        windows = {w["caption"]: w for w in self.desk.windows()}
        sign_in, client = windows[title], windows[standin.title]
        self.assertTrue(client["fullScreen"], client)
        self.assertGreater(sign_in["stacking"], client["stacking"],
                           "the sign-in window is below the full-screen client: %r" % windows)


class NativeWayland(KdeCase):
    platform = "wayland"

    def test_typed_sign_ins_and_alt_f4(self):
        self.check_typed_sign_ins_and_alt_f4()

    def test_sign_in_over_a_clicked_full_screen_client(self):
        self.check_sign_in_over_a_clicked_full_screen_client()


class Xwayland(KdeCase):
    platform = "xcb"

    def test_typed_sign_ins_and_alt_f4(self):
        self.check_typed_sign_ins_and_alt_f4()

    def test_sign_in_over_a_clicked_full_screen_client(self):
        self.check_sign_in_over_a_clicked_full_screen_client()


if __name__ == "__main__":
    unittest.main()
