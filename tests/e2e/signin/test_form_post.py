"""A provider that answers with response_mode=form_post: its page posts the code in a form to an
`ms-appx-web:` redirect URI. From Qt 6.7 the helper reads the form and replies "ok" with the
redirect URL and the form's fields in "form"; on Qt 6.4 the engine hands no form to the
helper, which replies with the URL alone, as it always did."""

import os
import unittest

import helperproc
import pageserver
import testenv
import xvfb
from signinfixture import REPLY_TIMEOUT

REDIRECT = "ms-appx-web://tavisk.example/cb"
# CTest passes the Qt the helper was built with; run by hand, the installed Qt's own word.
QT_VERSION = (tuple(int(part) for part in os.environ["TAVISK_QT_VERSION"].split(".")[:2])
              if os.environ.get("TAVISK_QT_VERSION") else testenv.qt_version())
READS_FORMS = QT_VERSION >= (6, 7)

# What providers post: a code with characters the form encoding escapes, the state, and a
# field with no value; the form posts itself as soon as the page is there.
PAGE = ("""<!doctype html><title>Working...</title><body>
<form method="post" action="%s/done">
<input type="hidden" name="code" value="c0de+/= \u00e9">
<input type="hidden" name="state" value="st&amp;1">
<input type="hidden" name="session_state" value="">
</form><script>document.forms[0].submit();</script>""" % REDIRECT).encode("utf-8")


class FormPost(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.xserver = cls.enterClassContext(xvfb.XServer())
        cls.pages = cls.enterClassContext(pageserver.PageServer({"/authorize": PAGE}))

    def test_the_posted_form_comes_with_the_redirect_url(self):
        helper = self.enterContext(helperproc.Helper(
            env=testenv.base_env(display=self.xserver.display)))
        helper.send({"jsonrpc": "2.0", "id": 1, "method": "navigate",
                     "params": {"url": self.pages.url("/authorize"), "title": "Sign in",
                                "redirect_uri": REDIRECT}})
        reply = helper.reply(REPLY_TIMEOUT)
        result = reply["result"]
        self.assertEqual(result["status"], "ok")
        self.assertEqual(result["redirect_url"], REDIRECT + "/done")
        if not READS_FORMS:
            # What every client has read so far, and all a client gets here.
            self.assertNotIn("form", result)
            self.skipTest("Qt %d.%d hands a scheme handler no request body: the form cannot be "
                          "read (the URL-only reply was checked)" % QT_VERSION)
        self.assertEqual(result["form"], {"code": "c0de+/= \u00e9", "state": "st&1",
                                          "session_state": ""})
        # The next sign-in's redirect, a plain one, carries no form of the last.
        helper.send({"jsonrpc": "2.0", "id": 2, "method": "navigate",
                     "params": {"url": REDIRECT + "/plain?code=2", "title": "Sign in",
                                "redirect_uri": REDIRECT}})
        self.assertEqual(helper.reply(REPLY_TIMEOUT)["result"],
                         {"redirect_url": REDIRECT + "/plain?code=2", "status": "ok"})
        helper.send({"jsonrpc": "2.0", "id": 9, "method": "exit"})
        self.assertEqual(helper.wait(), 0)


if __name__ == "__main__":
    unittest.main()
