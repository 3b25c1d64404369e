"""The render process a helper starts ahead of its first sign-in, counted in /proc under Xvfb:
the first sign-in's page runs in it rather than in one of its own, nothing is shown before the
navigate, the page and its process go when the sign-in ends, and a helper that is not asked
drops them by itself."""

import time
import unittest

import proctree
import provider as idp
from signinfixture import SignInFixture, error_raw, hello_raw, loaded, request
from Xlib import X

# Start-up to the warm render process, and a render process's exit, on a loaded machine.
PROCESS_TIMEOUT = 20
# The helper drops a warm page that no sign-in used after 10 s.
IDLE_DROP_TIMEOUT = 10 + PROCESS_TIMEOUT


class WarmPageTest(SignInFixture):
    def renderers(self, helper):
        return {pid for pid in helper.tree() if proctree.is_renderer(pid)}

    def wait_renderers(self, helper, predicate, timeout, what):
        """The render processes once predicate holds for them; fails after timeout."""
        deadline = time.monotonic() + timeout
        while True:
            found = self.renderers(helper)
            if predicate(found):
                return found
            if time.monotonic() >= deadline:
                self.fail("%s within %d s: render processes %r" % (what, timeout, found))
            time.sleep(0.05)

    def started(self):
        helper = self.start_helper()
        helper.send(request(1, "hello"))
        self.assertEqual(helper.reply_raw(), hello_raw(1))
        warm = self.wait_renderers(helper, lambda r: len(r) == 1, PROCESS_TIMEOUT,
                                   "one render process before any navigate")
        return helper, warm

    def shown_windows(self):
        return [(wid, title) for wid, title in self.display.top_levels()
                if self.display.map_state(wid) == X.IsViewable]

    def sign_in_until_its_time_limit(self, helper, request_id):
        """A sign-in whose page loads and stays; returns the render processes while it is up."""
        url = self.provider.page(idp.NEVER)
        self.navigate(helper, request_id, url, "Warm", timeout_ms=3000)
        self.assertTrue(helper.wait_stdout(lambda lines: loaded(url) in lines, PROCESS_TIMEOUT),
                        helper.stdout_lines)
        during = self.renderers(helper)
        self.assert_reply(helper, error_raw(request_id, "timeout"))
        return during

    def test_first_sign_in_runs_in_the_warm_process_and_the_page_goes_with_it(self):
        helper, warm = self.started()
        self.assertEqual(self.shown_windows(), [], "a window shown before any navigate")
        self.assertEqual(self.sign_in_until_its_time_limit(helper, 2), warm,
                         "the first sign-in started a render process of its own")
        # Between sign-ins the page is dropped, and its process with it.
        self.wait_renderers(helper, lambda r: not r, PROCESS_TIMEOUT,
                            "no render process after the sign-in")
        self.assertEqual(len(self.sign_in_until_its_time_limit(helper, 3)), 1)
        self.assert_clean(helper)

    def test_helper_not_asked_drops_its_warm_process_and_still_signs_in(self):
        helper, _ = self.started()
        self.wait_renderers(helper, lambda r: not r, IDLE_DROP_TIMEOUT,
                            "the warm render process dropped by a helper not asked")
        self.assertEqual(self.shown_windows(), [])
        self.assertEqual(len(self.sign_in_until_its_time_limit(helper, 2)), 1)
        self.assert_clean(helper)


if __name__ == "__main__":
    unittest.main()
