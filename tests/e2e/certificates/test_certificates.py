"""Certificate sign-in: a provider that asks for a TLS client certificate, and the chooser.

The provider (tlsprovider) requires a certificate from a test CA and puts the subject of the
one presented into its redirect; the engine finds the certificates in a private NSS database
made here (testpki) at $HOME/.pki/nssdb. Two users, Alice and Bob; the chooser lists them by
name, whatever the engine's order (Qt 6.4's puts the one that expires last, Bob's, first).
The person answers the chooser with the keyboard (xdotool under Xvfb, to the chooser once it
holds the X input focus) or closes it as a window manager's close button does.

The engine keeps a connection on which a certificate was presented, and remembers the choice,
for the rest of the process: every sign-in here that must ask again uses a provider of its own
(a new port). A smart card reaches the engine through the same NSS database, but needs a card;
only the software path is tested here.
"""

import os
import subprocess
import tempfile
import unittest

import helperproc
import testenv
import xvfb
import testpki
from signinfixture import REPLY_TIMEOUT, error_raw, failure_raw, ok_raw
import tlsprovider
import xwindow

CHOOSER = "Choose a certificate"
SIGN_IN = "Certificate sign-in"
ALICE, BOB = "Alice Example", "Bob Example"
NO_CERTIFICATE = "PEER_DID_NOT_RETURN_A_CERTIFICATE"
PIN = "2468 1357"
CARD_PIN = "731904"

xserver = xvfb.SharedXServer()

_pki = None
_home = None  # its NSS database has no password
_pin_home = None  # its NSS database has the password PIN, as a smart card has a PIN
_card_home = None  # its NSS database reaches a software token through p11-kit, as for a card
_card_env = {}  # what the helper needs to find that token
_temp = None
_display = None


def setUpModule():
    global _pki, _home, _pin_home, _card_home, _temp, _display
    _temp = tempfile.TemporaryDirectory(prefix="tavisk-pki-")
    _pki = testpki.TestPki(_temp.name, [(ALICE, 200), (BOB, 400)])
    _home = os.path.join(_temp.name, "home")
    db = _pki.make_nss_db(_home)
    assert testpki.TestPki.nss_nicknames(db) == [testpki.TestPki.CA_NAME, ALICE, BOB]
    _pin_home = os.path.join(_temp.name, "pin-home")
    _pki.make_nss_db(_pin_home, password=PIN)
    _card_home = os.path.join(_temp.name, "card-home")
    _card_env.update(_pki.make_token_db(_card_home, os.path.join(_temp.name, "card"),
                                        _pki.users[0], CARD_PIN))
    xserver.start()
    # Held for the whole module: Xvfb resets when its last client leaves, and refuses the
    # connections that arrive meanwhile.
    _display = xwindow.Display(xserver.display)


def tearDownModule():
    _display.close()
    xserver.stop()
    _temp.cleanup()


class CertificateSignInTest(unittest.TestCase):
    def setUp(self):
        self.display = _display
        self.providers = []
        self.helper = None

    def start_helper(self, home, extra_env=None):
        env = testenv.base_env(display=xserver.display)
        env.update(extra_env or {})
        scratch = self.enterContext(tempfile.TemporaryDirectory())
        # HOME holds the NSS database; everything else the engine might write goes elsewhere.
        env.update(HOME=home, TMPDIR=scratch, XDG_CONFIG_HOME=os.path.join(scratch, "config"),
                   XDG_CACHE_HOME=os.path.join(scratch, "cache"),
                   XDG_DATA_HOME=os.path.join(scratch, "data"))
        self.helper = self.enterContext(helperproc.Helper(env=env))

    def provider(self):
        provider = self.enterContext(tlsprovider.TlsProvider(_pki))
        self.providers.append(provider)
        return provider

    def navigate(self, request_id, provider, **extra):
        sign_in = provider.sign_in_url("st%d" % request_id)
        self.helper.send({"jsonrpc": "2.0", "id": request_id, "method": "navigate",
                          "params": dict(url=sign_in, title=SIGN_IN,
                                         redirect_uri=provider.callback, **extra)})
        return sign_in

    def redirect(self, provider, request_id, subject):
        code = provider.codes[-1]
        return "%s?subject=%s&code=%s&state=st%d" % (provider.callback, subject, code,
                                                     request_id)

    def wait_for_chooser(self):
        """The chooser's window, once shown and holding the X input focus; a click into its
        text (no button, no list row) gives it the focus if it does not have it yet."""
        window = self.display.wait_for_window(CHOOSER)
        env = dict(os.environ, DISPLAY=xserver.display)

        def focused():
            out = subprocess.run(["xdotool", "getwindowfocus"], env=env, timeout=10,
                                 capture_output=True, text=True).stdout.strip()
            return out.isdigit() and int(out) == window

        if not testenv.wait_until(focused, 2):
            subprocess.run(["xdotool", "mousemove", "--window", str(window), "30", "12",
                            "click", "1"], env=env, timeout=10, check=True)
            self.assertTrue(testenv.wait_until(focused, 5), "the chooser never got focus")
        return window

    def keys(self, *names):
        subprocess.run(["xdotool", "key", "--delay", "80"] + list(names), timeout=10,
                       env=dict(os.environ, DISPLAY=xserver.display), check=True)

    def type_text(self, text):
        subprocess.run(["xdotool", "type", "--delay", "40", text], timeout=20,
                       env=dict(os.environ, DISPLAY=xserver.display), check=True)

    def assert_no_chooser(self):
        """No chooser window is left, neither shown nor merely hidden."""
        gone = testenv.wait_until(lambda: not self.display.find(CHOOSER, viewable=False), 10)
        self.assertTrue(gone, self.display.top_levels())

    def assert_clean(self):
        """The redirect URI was never fetched, no code left the helper but in a reply, and
        the helper ends normally."""
        for provider in self.providers:
            self.assertNotIn(tlsprovider.CALLBACK_PATH,
                             [p.split("?")[0] for p in provider.paths()])
        self.helper.send({"jsonrpc": "2.0", "id": 99, "method": "exit"})
        self.assertEqual(self.helper.wait(), 0)
        output = "\n".join(self.helper.stdout_lines) + self.helper.stderr_text()
        self.assertNotIn(PIN, output)
        for provider in self.providers:
            for code in provider.codes:
                self.assertNotIn(code, output, "an authorisation code leaked")

    # -----------------------------------------------------------------------------------------

    def test_person_picks_a_certificate_with_the_keyboard(self):
        self.start_helper(_home)
        cases = [
            # name, keys, certificate presented
            ("Enter presents the first, selected from the start", ["Return"], ALICE),
            ("Down moves to the second", ["Down", "Return"], BOB),
            ("Up moves back to the first", ["Down", "Up", "Return"], ALICE),
        ]
        for request_id, (name, keys, subject) in enumerate(cases, 1):
            with self.subTest(name):
                provider = self.provider()
                self.navigate(request_id, provider)
                self.wait_for_chooser()
                # Asked, but nothing presented before the person's choice.
                self.assertEqual([h.subject for h in provider.handshakes() if h.subject], [])
                self.keys(*keys)
                self.assertEqual(self.helper.reply_raw(REPLY_TIMEOUT),
                                 ok_raw(request_id, self.redirect(provider, request_id,
                                                                  subject)))
                self.assertEqual([h.subject for h in provider.handshakes() if h.subject],
                                 [subject])
                self.assert_no_chooser()
        self.assert_clean()

    def test_no_certificate_then_the_providers_refusal(self):
        self.start_helper(_home)

        def escape(window):
            self.keys("Escape")

        def without(window):
            # Tab leaves the list for "Continue", then "Continue without a certificate".
            self.keys("Tab", "Tab", "space")

        def close(window):
            self.display.request_close(window)

        cases = [
            ("Escape", escape),
            ("the button", without),
            ("closing the chooser", close),
        ]
        for request_id, (name, answer) in enumerate(cases, 1):
            with self.subTest(name):
                provider = self.provider()
                sign_in = self.navigate(request_id, provider, timeout_ms=120000)
                answer(self.wait_for_chooser())
                provider.wait_for_handshake(lambda h: NO_CERTIFICATE in (h.error or ""), 15)
                # The person cannot mend the refusal in the window (the engine keeps the choice
                # for the site): the sign-in is answered at once, the window says why.
                # The engine names the refusal either way, run by run.
                self.assertIn(self.helper.reply_raw(REPLY_TIMEOUT),
                              [failure_raw(request_id, "network_error", "127.0.0.1", name)
                               for name in ("ERR_BAD_SSL_CLIENT_AUTH_CERT",
                                            "ERR_SOCKET_NOT_CONNECTED")])
                self.assertTrue(self.helper.wait_stdout(
                    lambda lines: "[tavisk] loaded %s (failed)" % sign_in in lines, 15),
                    self.helper.stdout_lines)
                self.assert_no_chooser()
                self.assertEqual([h.subject for h in provider.handshakes() if h.subject], [])
        self.assert_clean()

    def test_sign_in_that_ends_with_the_chooser_open_takes_it_away(self):
        self.start_helper(_home)
        def limit():
            pass  # the 5 s limit ends it

        def person_closes_the_sign_in_window():
            self.display.request_close(self.display.wait_for_window(SIGN_IN))

        cases = [
            ("the limit", limit, "timeout"),
            ("the person's close", person_closes_the_sign_in_window, "user_cancelled"),
        ]
        for request_id, (name, end, message) in enumerate(cases, 1):
            with self.subTest(name):
                provider = self.provider()
                self.navigate(request_id, provider, timeout_ms=5000)
                # Nobody types here, so the chooser needs no focus.
                self.display.wait_for_window(CHOOSER)
                end()
                self.assertEqual(self.helper.reply_raw(REPLY_TIMEOUT),
                                 error_raw(request_id, message))
                self.assert_no_chooser()
                # The chooser answered "none" as it went. The engine's connection then goes on
                # without a certificate, or is dropped with the page: give it a moment to show
                # either way (the first handshake is the one the engine broke off to ask), then
                # check that nothing was presented.
                testenv.wait_until(lambda: len(provider.handshakes()) >= 2, 5)
                self.assertEqual([h.subject for h in provider.handshakes() if h.subject], [])

        # The next sign-in asks afresh, with a chooser of its own.
        provider = self.provider()
        self.navigate(10, provider)
        self.wait_for_chooser()
        self.keys("Return")
        self.assertEqual(self.helper.reply_raw(REPLY_TIMEOUT),
                         ok_raw(10, self.redirect(provider, 10, ALICE)))
        self.assert_no_chooser()
        self.assert_clean()

    def test_key_behind_a_pin(self):
        # The engine lists the certificates of a locked database but cannot use their keys
        # until the chooser has opened it with the PIN the person types.
        self.start_helper(_pin_home)
        provider = self.provider()
        self.navigate(1, provider)
        self.wait_for_chooser()
        # Enter chooses Alice and asks for the PIN; a wrong one is refused and asked again.
        # Key events are handled in order, so each line follows the previous one's effect.
        self.keys("Return")
        self.type_text("1111")
        self.keys("Return")
        self.type_text(PIN)
        self.keys("Return")
        self.assertEqual(self.helper.reply_raw(REPLY_TIMEOUT),
                         ok_raw(1, self.redirect(provider, 1, ALICE)))
        self.assertEqual([h.subject for h in provider.handshakes() if h.subject], [ALICE])
        self.assert_no_chooser()

        # The database stays open for the rest of the process: the next choice needs no PIN.
        provider = self.provider()
        self.navigate(2, provider)
        self.wait_for_chooser()
        self.keys("Down", "Return")
        self.assertEqual(self.helper.reply_raw(REPLY_TIMEOUT),
                         ok_raw(2, self.redirect(provider, 2, BOB)))
        self.assert_no_chooser()
        self.assert_clean()

    def test_smart_card_through_p11_kit(self):
        # A software token stands in for the card: registered with modutil through p11-kit's
        # proxy, as a card's OpenSC module is, with Alice's key locked behind its PIN.
        self.start_helper(_card_home, _card_env)
        provider = self.provider()
        self.navigate(1, provider)
        self.wait_for_chooser()
        self.keys("Return")
        self.type_text(CARD_PIN)
        self.keys("Return")
        self.assertEqual(self.helper.reply_raw(REPLY_TIMEOUT),
                         ok_raw(1, self.redirect(provider, 1, ALICE)))
        self.assert_no_chooser()
        self.assertNotIn(CARD_PIN, "\n".join(self.helper.stdout_lines) + self.helper.stderr_text())
        self.assert_clean()


if __name__ == "__main__":
    unittest.main()
