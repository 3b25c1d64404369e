"""The helper under KDE's compositor: kwin_wayland on a virtual output, started by the test,
with the helper native on Wayland (QT_QPA_PLATFORM=wayland) and as an X client of KWin's
Xwayland. A person's hands are KWin's fake input; what KWin knows about the windows (active,
stacking, full-screen) is read through a KWin script.

One KWin serves the tests of both platforms; each test starts its own helper."""

import os
import unittest

import compositorcase
import signincase
import testenv
import kwin

# GTK 3 exports a window only through zxdg_exporter_v1, which KWin does not offer: natively,
# the stand-in client is the small C one that exports through v2, when it was built.
_WAYLAND_STANDIN = os.environ.get("TAVISK_WAYLAND_STANDIN")

_desk = None


def setUpModule():
    global _desk
    reason = kwin.available()
    if reason:
        raise unittest.SkipTest("KWin: " + reason)
    _desk = unittest.enterModuleContext(kwin.KWin())


class KdeCase(compositorcase.DeskCase):
    @classmethod
    def start_desktop(cls):
        return _desk  # one KWin for the module's classes, started by setUpModule

    def wait_sign_in_window(self, helper, title, url):
        try:
            self.desk.wait_for_window(title, active=True, timeout=signincase.REPLY_TIMEOUT)
        except AssertionError as e:
            # Whether the helper could reach its display at all is on its standard error.
            raise AssertionError("%s\nthe helper (%s, running: %s) said: %s"
                                 % (e, self.platform, helper.process.poll() is None,
                                    helper.stderr_text()[-2000:])) from None
        self.wait_ready(helper, url)

    def assert_over(self, title, standin, parent):
        windows = {w["caption"]: w for w in self.desk.windows()}
        sign_in, client = windows[title], windows[standin.title]
        self.assertTrue(client["fullScreen"], client)
        self.assertGreater(sign_in["stacking"], client["stacking"],
                           "the sign-in window is below the full-screen client: %r" % windows)
        self.assertEqual(sign_in["transientFor"], standin.title if parent else None)


class NativeWayland(KdeCase):
    platform = "wayland"
    standin_program = [_WAYLAND_STANDIN] if _WAYLAND_STANDIN else None

    def test_typed_sign_ins_and_alt_f4(self):
        self.check_typed_sign_ins_and_alt_f4()

    def test_sign_ins_over_a_clicked_full_screen_client(self):
        self.check_sign_ins_over_a_clicked_full_screen_client()


class Xwayland(KdeCase):
    platform = "xcb"

    def test_typed_sign_ins_and_alt_f4(self):
        self.check_typed_sign_ins_and_alt_f4()

    def test_sign_ins_over_a_clicked_full_screen_client(self):
        self.check_sign_ins_over_a_clicked_full_screen_client()



class ExtremeFocusStealingPrevention(KdeCase):
    """KWin at its strictest ("Extreme", FocusStealingPreventionLevel=4) lets windows take the
    keyboard only when the person activates them. With parent_window the helper's window
    belongs to the client's: it comes up above the full-screen client, natively and on
    Xwayland (without a parent, the X11 window comes up behind the full-screen client and the
    keys go to the client).

    Natively the client hands over the xdg-activation token it asked for with the person's
    click, as a client should: the window takes the keyboard at once. Without a token KWin 5.27
    still activated a native window transient for the active one, KWin 6 waits for the
    person's click. On X11 there is no token: the person clicks into the window."""

    @classmethod
    def start_desktop(cls):
        return cls.enterClassContext(kwin.KWin(focus_stealing_prevention=4))

    def check_parented_sign_in(self):
        standin = self.full_screen_standin()
        handle = standin.handle()
        if handle is None:
            self.skipTest("the stand-in client could not export its window here")
        self.click(standin)
        extra = {}
        if self.platform == "wayland":
            # The token of the last click (the stand-in asks for one at every click; a newer
            # token may void an older one).
            def tokens():
                return [line.split(" ", 1)[1] for line in standin.lines()
                        if line.startswith("token ")]

            clicks = standin.lines().count("clicked")
            if not testenv.wait_until(lambda: len(tokens()) >= clicks, 10):
                raise AssertionError("no activation token for each click: %r" % standin.lines())
            extra["activation_token"] = tokens()[-1]
        helper = self.start_helper()
        title = "Sign in at extreme"
        url = self.navigate(helper, 1, title, parent_window=handle, **extra)
        self.wait_loaded(helper, url)
        window = self.desk.wait_for_window(title, active=True if extra else None)
        # The person sees it: above the full-screen client, which it belongs to.
        self.assert_over(title, standin, handle)
        if not window["active"]:
            # KWin gives it the keyboard only when the person asks: a click into it (on the
            # page's empty lower right, which takes the caret out of the field) and Tab to
            # the first field.
            # A window just mapped may miss the first click; a person clicks again.
            x, y, width, height = window["frame"]
            for _ in range(5):
                self.desk.click(at=(x + width - 30, y + height - 30))
                if testenv.wait_until(lambda: self.desk.find(title)[0]["active"], 2, 0.1):
                    break
            self.desk.wait_for_window(title, active=True, timeout=0)
            self.desk.type(("key", "Tab"))
        self.wait_sign_in_window(helper, title, url)
        self.desk.type(signincase.USER, ("key", "Tab"), signincase.PASSWORD, ("key", "Return"))
        self.assert_signed_in(helper, 1, url)
        self.assertEqual(standin.keys(), [], "keys typed into the sign-in reached the client")
        self.assert_clean_exit(helper)

    def test_parented_sign_in_natively(self):
        self.platform = "wayland"
        self.standin_program = [_WAYLAND_STANDIN] if _WAYLAND_STANDIN else None
        self.check_parented_sign_in()

    def test_parented_sign_in_on_xwayland(self):
        self.platform = "xcb"
        self.check_parented_sign_in()


if __name__ == "__main__":
    unittest.main()
