"""The helper under sway, a real Wayland compositor started headless by the test: natively
(QT_QPA_PLATFORM=wayland) and on XWayland (xcb). A person's hands are wtype (keys through a
virtual keyboard) and sway's own commands; the window is found in sway's tree by its title.

One sway serves every test of a class; each test starts its own helper. Under root, sway, the
helper and the tools all run as "nobody" (see desktop.Account), and then the web engine runs
with its sandbox on."""

import os
import unittest

import signincase
from signincase import PASSWORD, USER
import desktop

# Windows with these titles are mapped without the keyboard, as on a desktop that prevents
# focus stealing: only a valid activation token gives it to them.
GUARDED = "Guarded"
SWAY_EXTRA = 'no_focus [title="^%s"]' % GUARDED


class SwayCase(signincase.DesktopCase):
    xwayland = "disable"

    @classmethod
    def start_desktop(cls):
        return cls.enterClassContext(desktop.Sway(xwayland=cls.xwayland, extra=SWAY_EXTRA))

    def terminal(self, title="terminal"):
        """A foot terminal, focused, as the program the person was using. Give each one a
        title of its own: the wait is for that very window."""
        process = self.start_program(["foot", "--title", title, "--", "sleep", "600"])
        self.desk.wait_for_window(title, focused=True)
        return process

    def type_sign_in(self, helper, request_id, title):
        """A whole sign-in typed from the first key: no click, the window must have the
        keyboard as soon as it is up."""
        url = self.navigate(helper, request_id, title)
        self.desk.wait_for_window(title, focused=True)
        self.wait_ready(helper, url)
        self.desk.type(USER, ("key", "Tab"), PASSWORD, ("key", "Return"))
        self.assert_signed_in(helper, request_id, url)
        self.desk.wait_gone(title)


class NativeWayland(SwayCase):
    def test_typed_sign_ins_and_closes_over_a_terminal(self):
        helper = self.start_helper()
        self.type_sign_in(helper, 1, "Sign in natively")

        # The compositor's close, as a script or a panel asks for it.
        self.navigate(helper, 2, "Close me")
        self.desk.wait_for_window("Close me", focused=True)
        self.desk.command('[title="^Close me$"] kill')
        self.assert_cancelled(helper, 2)

        # The next sign-in comes up over the terminal the person moved to, and takes the keys.
        self.terminal()
        self.type_sign_in(helper, 3, "Sign in again")

        # A person's close: the key binding, typed while the window has the keyboard.
        self.navigate(helper, 4, "Close by key")
        self.desk.wait_for_window("Close by key", focused=True)
        self.desk.press(["logo", "shift"], "q")
        self.assert_cancelled(helper, 4)
        self.assert_clean_exit(helper)

    def test_activation_tokens_raise_windows_the_compositor_would_not_focus(self):
        self.terminal()
        # The first window takes the token the helper was started with; later ones the token
        # of their own request; one without a token stays behind the terminal.
        helper = self.start_helper(XDG_ACTIVATION_TOKEN=self.desk.activation_token())
        for request_id, token in ((1, None), (2, self.desk.activation_token()), (3, None)):
            with self.subTest(request_id=request_id):
                title = "%s %d" % (GUARDED, request_id)
                extra = {"activation_token": token} if token else {}
                url = self.navigate(helper, request_id, title, **extra)
                if request_id < 3:
                    self.desk.wait_for_window(title, focused=True)
                    self.wait_ready(helper, url)
                    self.desk.type(USER, ("key", "Tab"), PASSWORD, ("key", "Return"))
                    self.assert_signed_in(helper, request_id, url)
                else:
                    self.wait_loaded(helper, url)
                    self.desk.wait_for_window(title, focused=False)
                    self.assertEqual(self.desk.focused().get("name"), "terminal")
                    self.desk.command('[title="^%s$"] kill' % title)
                    self.assert_cancelled(helper, request_id)
        self.assert_clean_exit(helper)

    def test_output_scale_two(self):
        self.desk.command("output HEADLESS-1 scale 2")
        self.addCleanup(self.desk.command, "output HEADLESS-1 scale 1")
        helper = self.start_helper()
        # The page reports the scale it is drawn at through the redirect it makes.
        redirect = self.provider.callback
        page = ("data:text/html,<title>scale</title><script>location.href = '%s?dpr=' + "
                "window.devicePixelRatio;</script>" % redirect)
        self.navigate(helper, 1, "Scaled", url=page)
        self.assertEqual(helper.reply_raw(signincase.REPLY_TIMEOUT),
                         signincase.ok_raw(1, redirect + "?dpr=2"))
        self.type_sign_in(helper, 2, "Sign in scaled")
        self.navigate(helper, 3, "Scaled shot")
        self.desk.wait_for_window("Scaled shot", focused=True)
        # At scale 2 the 1280x800 output is 640x400 in logical units, and the window fits it.
        output = self.desk.msg("-t", "get_outputs")[0]
        self.assertEqual((output["scale"], output["rect"]["width"]), (2, 640))
        window = self.desk.find("Scaled shot")[0]
        self.assertLessEqual(window["rect"]["width"], 640)
        shot = os.path.join(self.desk.runtime_dir, "shot.png")
        self.assertEqual(self.desk.screenshot(shot), (1280, 800))
        self.desk.command('[title="^Scaled shot$"] kill')
        self.assert_cancelled(helper, 3)
        self.assert_clean_exit(helper)


class XWayland(SwayCase):
    """The helper as an X client of sway's XWayland. Showing a hidden X window again over
    another window could leave the X input focus on no window; each sign-in's window must take
    the keys."""

    platform = "xcb"
    xwayland = "force"

    def test_each_sign_in_takes_the_keyboard_over_a_terminal(self):
        helper = self.start_helper()
        self.type_sign_in(helper, 1, "Sign in on X")
        self.terminal("first terminal")
        self.type_sign_in(helper, 2, "Sign in on X again")
        self.terminal("second terminal")
        self.type_sign_in(helper, 3, "Sign in on X once more")
        self.assert_clean_exit(helper)


if __name__ == "__main__":
    unittest.main()
