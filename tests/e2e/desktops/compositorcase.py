"""What the GNOME and KDE tests share: a sign-in typed from the first key, the compositor's own
close (Alt+F4), and a full-screen stand-in client that a person has just clicked, over which
the sign-in must come up and take the typing. Each compositor's test file says how it tells
that a window is up with the keyboard (DeskCase.wait_sign_in_window) and what else it can
read about the windows."""

import os
import subprocess
import sys

import signincase
from signincase import PASSWORD, USER
import helperproc
import testenv

STANDIN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "standin.py")
STANDIN_TITLE = "Remote desktop"


class StandIn:
    """The full-screen GTK 3 stand-in client (standin.py), or another program that reports as
    it does (program: its argv before the title), its report lines read as they come."""

    def __init__(self, desk, platform, title=STANDIN_TITLE, program=None):
        self.title = title
        self._desk = desk
        argv = (program or [sys.executable, STANDIN]) + [title]
        self.process = desk.start(argv, platform=platform, stdout=subprocess.PIPE)
        self._reader = helperproc.PipeReader(os.dup(self.process.stdout.fileno()), "stand-in")
        self.process.stdout.close()

    def lines(self):
        return [line.decode().strip() for line in self._reader.all_lines]

    def wait_line(self, predicate, what, timeout=signincase.REPLY_TIMEOUT):
        """The first report line that predicate accepts."""
        def look(_raw):
            return next((line for line in self.lines() if predicate(line)), None)

        if not self._reader.wait_for(look, timeout):
            # Its errors (no display, say) are in the compositor's log.
            raise AssertionError("the stand-in client never reported %s; it said %r "
                                 "(exit status: %r); %s%s log: %s"
                                 % (what, self.lines(), self.process.poll(),
                                    self._desk.x_state(), self._desk.name,
                                    self._desk.log_tail()))
        return look(None)

    def handle(self):
        """Its window as a parent-window string, or None when it could not export one."""
        line = self.wait_line(lambda line: line.startswith("handle "), "its handle")
        handle = line.split(" ", 1)[1]
        return None if handle == "none" else handle

    def keys(self):
        return [line for line in self.lines() if line.startswith("key ")]

    def has_focus(self):
        focus = [line for line in self.lines() if line.startswith("focus ")]
        return bool(focus) and focus[-1] == "focus in"

    def close(self):
        self._reader.close()


class DeskCase(signincase.DesktopCase):
    """One compositor, one client platform, and the full-screen stand-in client."""

    standin_program = None  # the stand-in client's argv before its title; None: standin.py

    def wait_sign_in_window(self, helper, title, url):
        """Waits until the sign-in window titled title shows url's page with the caret in it
        and the keyboard, as a person waits before typing."""
        raise NotImplementedError

    def assert_over(self, title, standin, parent):
        """Whatever the compositor tells about the sign-in window titled title, up with the
        keyboard over the stand-in client: stacked above it, and transient for it exactly
        when parent (the parent_window the sign-in was asked with) is set."""

    def type_sign_in(self, helper, request_id, title, standin=None, **extra):
        """A whole sign-in typed from the first key: no click, the window must have the
        keyboard as soon as it is up (and be over the stand-in client, when there is one)."""
        url = self.navigate(helper, request_id, title, **extra)
        self.wait_sign_in_window(helper, title, url)
        if standin is not None:
            if not testenv.wait_until(lambda: not standin.has_focus(), 10):
                raise AssertionError("the client kept the keyboard: %r" % standin.lines())
            self.assert_over(title, standin, extra.get("parent_window"))
        self.desk.type(USER, ("key", "Tab"), PASSWORD, ("key", "Return"))
        self.assert_signed_in(helper, request_id, url)

    def close_by_key(self, helper, request_id, title):
        """A person's close: Alt+F4, the compositor's shortcut, typed into the sign-in."""
        url = self.navigate(helper, request_id, title)
        self.wait_sign_in_window(helper, title, url)
        self.desk.press(["alt"], "F4")
        self.assert_cancelled(helper, request_id)

    def full_screen_standin(self):
        """The stand-in client, up and full-screen."""
        standin = StandIn(self.desk, self.platform, program=self.standin_program)
        self.addCleanup(self.desk.stop, standin.process)
        self.addCleanup(standin.close)
        standin.wait_line(lambda line: line == "fullscreen", "being full-screen")
        return standin

    def click(self, standin):
        """A person clicks into the full-screen client: it has the keyboard then. The window
        may miss the pointer's first click while it settles; a person whose click did nothing
        clicks again."""
        def clicks():
            return standin.lines().count("clicked")

        before = clicks()
        for _ in range(5):
            self.desk.click()
            if testenv.wait_until(lambda: clicks() > before, 2):
                break
        else:
            raise AssertionError("the stand-in client saw no click: %r" % standin.lines())
        if not testenv.wait_until(standin.has_focus, signincase.REPLY_TIMEOUT):
            raise AssertionError("the clicked stand-in has no keyboard: %r" % standin.lines())

    def clicked_standin(self):
        """A full-screen stand-in client that a person has just clicked: it has the keyboard."""
        standin = self.full_screen_standin()
        self.click(standin)
        return standin

    def check_typed_sign_ins_and_alt_f4(self):
        helper = self.start_helper()
        self.type_sign_in(helper, 1, "Sign in")
        self.close_by_key(helper, 2, "Close by Alt F4")
        # The window closed by the compositor comes back for the next sign-in with the keys.
        self.type_sign_in(helper, 3, "Sign in again")
        self.assert_clean_exit(helper)

    def check_sign_ins_over_a_clicked_full_screen_client(self):
        """Sign-ins over a full-screen client that a person has just clicked, the second one
        with the client's window as parent_window; the window, reused, has no parent again
        for the third. Every key typed goes to the sign-in, none to the client."""
        standin = self.full_screen_standin()
        handle = standin.handle()
        helper = self.start_helper()
        for request_id, parent in ((1, None), (2, handle), (3, None)):
            with self.subTest(parent_window=parent):
                self.click(standin)
                extra = {"parent_window": parent} if parent else {}
                self.type_sign_in(helper, request_id, "Sign in over the client %d" % request_id,
                                  standin=standin, **extra)
        self.assertEqual(standin.keys(), [], "keys typed into the sign-in reached the client")
        self.assert_clean_exit(helper)
        if handle is None:
            self.skipTest("the stand-in client could not export its window here")
