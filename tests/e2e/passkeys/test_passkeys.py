"""Pages that ask for a passkey or a security key (WebAuthn) while no key is attached, as on
these machines (no USB, HID or Bluetooth): the request must settle as NotAllowedError, at the
page's own timeout or at once when the person declines, and the person must see what is asked
and how to decline. The page reports how its request ended by going to the redirect URI with
the error's name and the milliseconds it waited."""

import unittest
import urllib.parse

import desktop
import helperproc
import pageserver
import testenv
import xwindow
from signinfixture import REPLY_TIMEOUT, error_raw

TITLE = "Company sign-in"
PROMPT = "Security key"
REDIRECT = "ms-appx-web://tavisk.example/cb"

# The credential id is made up: no key could hold it, so nothing but a key's absence is shown.
PAGE = b"""<!doctype html><title>Passkey</title><body><p>Use your security key.</p><script>
const query = new URLSearchParams(location.search);
const options = {publicKey: {challenge: new Uint8Array(32),
    allowCredentials: [{type: 'public-key', id: new Uint8Array(16)}]}};
if (query.has('timeout'))
    options.publicKey.timeout = Number(query.get('timeout'));
const started = performance.now();
function report(outcome) {
    location.href = '%s?outcome=' + outcome + '&ms=' + Math.round(performance.now() - started);
}
navigator.credentials.get(options).then(() => report('credential'), error => report(error.name));
</script>""" % REDIRECT.encode()

CREATE_PAGE = b"""<!doctype html><title>Passkey</title><body><script>
const started = performance.now();
navigator.credentials.create({publicKey: {challenge: new Uint8Array(32),
        rp: {name: 'Company'}, user: {id: new Uint8Array(8), name: 'alice', displayName: 'Alice'},
        pubKeyCredParams: [{type: 'public-key', alg: -7}], timeout: 60000}})
    .then(() => report('credential'), error => report(error.name));
function report(outcome) {
    location.href = '%s?outcome=' + outcome + '&ms=' + Math.round(performance.now() - started);
}
</script>""" % REDIRECT.encode()


def outcome_of(reply):
    """(the error's name, the milliseconds waited) from an "ok" reply's redirect URL."""
    query = urllib.parse.parse_qs(urllib.parse.urlsplit(reply["result"]["redirect_url"]).query)
    return query["outcome"][0], int(query["ms"][0])


class Passkeys(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.desk = cls.enterClassContext(desktop.Openbox())
        cls.pages = cls.enterClassContext(pageserver.PageServer({
            "/passkey": PAGE, "/register": CREATE_PAGE}))

    def setUp(self):
        self.helper = self.enterContext(helperproc.Helper(env=self.desk.helper_env()))

    def url(self, path, **query):
        # A passkey belongs to a domain: the page is on "localhost", never on an address.
        return "http://localhost:%d%s?%s" % (self.pages.port, path, urllib.parse.urlencode(query))

    def navigate(self, request_id, url, **extra):
        self.helper.send({"jsonrpc": "2.0", "id": request_id, "method": "navigate",
                          "params": dict(url=url, title=TITLE, redirect_uri=REDIRECT, **extra)})

    def wait_prompt(self):
        """The prompt's window once openbox made it active with the input focus."""
        def look():
            found = self.desk.find(PROMPT)
            if len(found) != 1:
                return None
            return found[0] if self.desk.focused_window() == found[0] else None

        window = testenv.wait_until(look, REPLY_TIMEOUT, 0.1)
        if window is None:
            raise AssertionError("no %r prompt with the focus" % PROMPT)
        return window

    def wait_no_prompt(self):
        self.assertTrue(testenv.wait_until(lambda: not self.desk.find(PROMPT), 10),
                        "the %r prompt stayed" % PROMPT)

    def test_escape_declines_at_once(self):
        cases = [
            ("sign-in with a key", "/passkey", {"timeout": 60000}),
            ("sign-in with no timeout of the page's", "/passkey", {}),
            ("registering a key", "/register", {}),
        ]
        for request_id, (name, path, query) in enumerate(cases, 1):
            with self.subTest(name):
                self.navigate(request_id, self.url(path, **query))
                self.wait_prompt()
                self.desk.xdotool("key", "Escape")
                reply = self.helper.reply(REPLY_TIMEOUT)
                outcome, waited = outcome_of(reply)
                self.assertEqual(outcome, "NotAllowedError")
                testenv.figure("%s: NotAllowedError %d ms after the request, Escape "
                                  "pressed once the prompt had the focus" % (name, waited))
                # Far from the page's timeout (or the engine's default): Escape ended it.
                self.assertLess(waited, 20000)
                self.wait_no_prompt()

    def test_the_pages_timeout_ends_the_request(self):
        self.navigate(1, self.url("/passkey", timeout=4000))
        self.wait_prompt()
        outcome, waited = outcome_of(self.helper.reply(REPLY_TIMEOUT))
        self.assertEqual(outcome, "NotAllowedError")
        testenv.figure("page timeout 4000 ms: NotAllowedError after %d ms" % waited)
        # No later than the page's timeout, give or take the page's own timer.
        self.assertGreaterEqual(waited, 3900)
        self.assertLess(waited, 4000 + 1500)
        self.wait_no_prompt()

    def test_the_end_of_a_sign_in_takes_the_prompt_away(self):
        display = self.enterContext(xwindow.Display(self.desk.display))

        def limit():
            pass  # the sign-in's 3 s limit ends it

        def person_closes_the_sign_in_window():
            display.request_close(self.desk.find(TITLE)[0])

        cases = [
            ("the limit", limit, "timeout", 3000),
            ("the person's close", person_closes_the_sign_in_window, "user_cancelled", 60000),
        ]
        for request_id, (name, end, message, limit_ms) in enumerate(cases, 1):
            with self.subTest(name):
                self.navigate(request_id, self.url("/passkey", timeout=60000),
                              timeout_ms=limit_ms)
                self.wait_prompt()
                end()
                self.assertEqual(self.helper.reply_raw(REPLY_TIMEOUT),
                                 error_raw(request_id, message))
                self.wait_no_prompt()

        # The next sign-in asks afresh, with a prompt of its own that still declines.
        self.navigate(10, self.url("/passkey", timeout=60000))
        self.wait_prompt()
        self.desk.xdotool("key", "Escape")
        self.assertEqual(outcome_of(self.helper.reply(REPLY_TIMEOUT))[0], "NotAllowedError")
        self.wait_no_prompt()


if __name__ == "__main__":
    unittest.main()
