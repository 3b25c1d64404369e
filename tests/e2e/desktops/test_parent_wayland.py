"""The sign-in window as the xdg-foreign child of the client's window (navigate's
"parent_window" "wayland:<handle>"), with the helper native on Wayland. The client is
tavisk-wayland-standin, full-screen and clicked by a person, which exports its toplevel through
zxdg_exporter_v2 where offered, else v1.

- KWin 5.27 offers only zxdg_importer_v2; its script tells which window is transient for which.
- mutter 43 offers only zxdg_importer_v1 and tells a client nothing about its windows: there
  the test shows that a sign-in with the client's handle comes up over the full-screen client
  and takes the typing, as one without does, and that nothing of the import breaks it.

A handle the compositor does not know, and one of the other window system, leave the window on
its own; the next sign-in without a parent has none. Each compositor serves the tests of its
class; each test starts its own helper and client."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import compositorcase  # noqa: E402
import signincase  # noqa: E402
import kwin  # noqa: E402  (on the path through signincase)
import mutter  # noqa: E402

STANDIN = os.environ.get("TAVISK_WAYLAND_STANDIN")


class ParentTests:
    """The tests, mixed into a DeskCase per compositor: `compositor` is its module."""

    platform = "wayland"
    compositor = None
    expected_parent = None  # the caption assert_parent expects as the transient parent

    @classmethod
    def setUpClass(cls):
        if not STANDIN:
            raise unittest.SkipTest("tavisk-wayland-standin was not built")
        reason = cls.compositor.available()
        if reason:
            raise unittest.SkipTest(reason)
        cls.desk = cls.enterClassContext(cls.session())
        cls.standin_program = [STANDIN]

    def assert_parent(self, title):
        """What the compositor tells about the sign-in window's parent; nothing by default."""

    def assert_imports(self, helper, handles):
        """What the helper asked the compositor for: handles imported, one per sign-in with a
        parent, each set as the parent of a surface before that surface's first buffer; checked
        where the compositor tells nothing itself."""

    def assert_over(self, title, standin, parent):
        self.assert_parent(title)

    def exported_handle(self, standin):
        handle = standin.handle()
        self.assertIsNotNone(handle, "the compositor offers no xdg-foreign exporter")
        return handle

    def test_the_sign_in_window_is_the_clients_child_and_the_next_one_stands_alone(self):
        standin = self.clicked_standin()
        handle = self.exported_handle(standin)
        helper = self.start_helper()
        self.expected_parent = standin.title
        self.type_sign_in(helper, 1, "Over the client", standin=standin, parent_window=handle)
        self.assertEqual(standin.keys(), [], "keys typed into the sign-in reached the client")

        self.expected_parent = None
        self.desk.click()
        if not compositorcase.helperproc.wait_until(standin.has_focus, signincase.REPLY_TIMEOUT):
            raise AssertionError("the clicked client has no keyboard: %r" % standin.lines())
        self.type_sign_in(helper, 2, "On its own", standin=standin)
        self.assert_imports(helper, [handle])
        self.assert_clean_exit(helper)

    def test_a_handle_that_cannot_be_used_is_left_out(self):
        standin = self.clicked_standin()
        self.exported_handle(standin)
        helper = self.start_helper()
        self.expected_parent = None
        for request_id, parent in enumerate(["wayland:no-such-handle", "x11:1a00003"], start=1):
            with self.subTest(parent):
                self.type_sign_in(helper, request_id, "Sign in %d" % request_id,
                                  standin=standin, parent_window=parent)
                self.desk.click()
                compositorcase.helperproc.wait_until(standin.has_focus, signincase.REPLY_TIMEOUT)
        self.assert_clean_exit(helper)


class KWinParent(ParentTests, compositorcase.DeskCase):
    compositor = kwin
    session = kwin.KWin

    def wait_sign_in_window(self, helper, title, url):
        self.desk.wait_for_window(title, active=True, timeout=signincase.REPLY_TIMEOUT)
        self.wait_ready(helper, url)

    def assert_parent(self, title):
        (sign_in,) = self.desk.find(title)
        self.assertEqual(sign_in["transientFor"], self.expected_parent, sign_in)


class MutterParent(ParentTests, compositorcase.DeskCase):
    compositor = mutter
    session = mutter.Mutter

    def start_helper(self):
        # mutter tells a client nothing about its windows, so the helper's own protocol log
        # (libwayland writes every request sent) shows what it asked for.
        helper = self.desk.helper(self.platform)
        helper.env["WAYLAND_DEBUG"] = "client"
        return self.enterContext(helper)

    def wait_sign_in_window(self, helper, title, url):
        self.wait_ready(helper, url)

    def assert_imports(self, helper, handles):
        sent = [line.split(" -> ", 1)[1] for line in helper.stderr_text().splitlines()
                if " -> " in line]
        imported = [line for line in sent if ".import(" in line]
        self.assertEqual(len(imported), len(handles), imported)
        for handle, line in zip(handles, imported):
            self.assertTrue(line.startswith("zxdg_importer_v1@"), line)
            self.assertIn('"%s")' % handle.split(":", 1)[1], line)
            at = sent.index(line)
            imported_id = re.search(r"new id (zxdg_imported_v1@\d+)", line).group(1)
            parent_of = sent[at + 1]
            self.assertRegex(parent_of, r"^%s\.set_parent_of\(wl_surface@\d+\)$" % imported_id)
            surface = re.search(r"wl_surface@\d+", parent_of).group(0)
            self.assertFalse([s for s in sent[:at] if s.startswith(surface + ".attach(")],
                             "the window had shown a frame before it was given its parent")


if __name__ == "__main__":
    unittest.main()
