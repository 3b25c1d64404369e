"""The system's certificate authorities, and sign-ins whose page cannot be loaded.

A company's authority is installed as Debian says (/usr/local/share/ca-certificates, then
update-ca-certificates) into a copy of /etc/ssl, and the helper runs in a mount namespace of
its own (unshare -m) with that copy mounted over /etc/ssl: the machine's trust store is never
touched, and the test shows that it was not. The person's own NSS database (~/.pki/nssdb)
trusts another authority; it must go on being honoured, and stay byte for byte as it was.

Each failed load is answered at once with its word and data, and the window shows why until
the person closes it or the next sign-in begins; the view is read as a screen reader reads it
(accessibility/screenreader.py, openbox on Xvfb, AT-SPI).
"""

import glob
import hashlib
import json
import os
import shutil
import subprocess
import tempfile
import unittest

import helperproc
import testenv
import screenreader
import tlsserver
from signinfixture import failure_raw, line, loaded, ok_raw, request

REPLY_TIMEOUT = 30
# Far beyond any wait here: a reply that came at the time limit would fail the test.
LIMIT_MS = 120000
TITLE = "Company sign-in"
MACHINE_BUNDLE = "/etc/ssl/certs/ca-certificates.crt"
# Names under .invalid never resolve (the engine is told so, not the machine's resolver).
RESOLVER_RULES = "--host-resolver-rules=MAP *.invalid ~NOTFOUND"

desk = screenreader.Desktop()
_temp = None
_store = None  # the copy of /etc/ssl that holds the company's authority
_home = None  # the person's HOME, whose NSS database trusts the person's own authority
_certs = {}  # name: (certificate file, key file)
_machine_bundle_hash = None
_unshare = None  # how to start a process in a mount namespace of its own


def _sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def _nssdb_hashes():
    return {os.path.basename(p): _sha256(p)
            for p in sorted(glob.glob(os.path.join(_home, ".pki", "nssdb", "*")))}


def _private_mounts():
    """unshare's arguments for a mount namespace whose mounts never reach the machine's. Inside
    a chroot the root is no mount point and its propagation cannot be changed; there the
    namespace the chroot runs in (scripts/chroot-run.sh makes a private one) already keeps
    them in."""
    private = ["unshare", "-m", "--propagation", "private"]
    works = subprocess.run(private + ["true"], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
    return private if works.returncode == 0 else ["unshare", "-m", "--propagation", "unchanged"]


def _install_the_debian_way(authority_pem):
    """Copies /etc/ssl and installs authority_pem into the copy with update-ca-certificates,
    in a mount namespace that sees the copy and a private /usr/local/share/ca-certificates."""
    store = os.path.join(_temp.name, "etc-ssl")
    shutil.copytree("/etc/ssl", store, symlinks=True)
    local = os.path.join(_temp.name, "local-ca")
    os.makedirs(local)
    shutil.copy(authority_pem, os.path.join(local, "tavisk-company.crt"))
    installed = subprocess.run(
        _unshare + ["sh", "-c", 'mount --bind "$0" /etc/ssl'
                    ' && mount --bind "$1" /usr/local/share/ca-certificates'
                    ' && update-ca-certificates', store, local],
        timeout=120, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if installed.returncode != 0:
        raise AssertionError("installing the authority failed: %s" % installed.stdout.decode())
    return store


def setUpModule():
    global _temp, _store, _home, _machine_bundle_hash, _unshare
    if os.geteuid() != 0:
        raise unittest.SkipTest("a mount namespace needs root")
    if not glob.glob("/usr/lib/*/pkcs11/p11-kit-trust.so"):
        raise unittest.SkipTest("p11-kit-trust.so (p11-kit-modules) is not installed")
    _machine_bundle_hash = _sha256(MACHINE_BUNDLE)
    _unshare = _private_mounts()
    _temp = tempfile.TemporaryDirectory(prefix="tavisk-trust-")
    company = tlsserver.Authority(_mkdir("company"), "Tavisk Company CA")
    _certs["company"] = company.issue("server", ["127.0.0.1"])
    _certs["expired"] = company.issue("expired", ["127.0.0.1"], days=-1)
    _certs["other name"] = company.issue("other", ["login.other.example"])
    own = tlsserver.Authority(_mkdir("own"), "Tavisk Personal CA")
    _certs["own"] = own.issue("server", ["127.0.0.1"])
    _home = _mkdir("home")
    own.trust_in(_home)
    _store = _install_the_debian_way(company.cert)
    with open(os.path.join(_store, "certs", "ca-certificates.crt")) as f:
        with open(company.cert) as ca:
            assert ca.read().strip() in f.read(), "update-ca-certificates left the CA out"
    desk.start()


def tearDownModule():
    desk.stop()
    if _temp is not None:
        _temp.cleanup()


def _mkdir(name):
    path = os.path.join(_temp.name, name)
    os.makedirs(path)
    return path


def redirecting_page(path):
    """A provider page that sends the browser on to path on its own origin at once."""
    return "<html><body><script>location.replace(%s)</script></body></html>" % json.dumps(path)


def showing_labels(nodes):
    role = screenreader.pyatspi.ROLE_LABEL
    showing = screenreader.pyatspi.STATE_SHOWING
    return [n.name for n in nodes if n.role == role and n.accessible.getState().contains(showing)]


class TrustAndFailuresTest(unittest.TestCase):
    def setUp(self):
        self.assertEqual(_sha256(MACHINE_BUNDLE), _machine_bundle_hash)
        self.nssdb_before = _nssdb_hashes()
        self.assertIn("cert9.db", self.nssdb_before)

    def tearDown(self):
        # Every helper of the test has ended by now (enterContext's exits run first).
        self.assertEqual(_nssdb_hashes(), self.nssdb_before, "the person's NSS database changed")
        self.assertEqual(_sha256(MACHINE_BUNDLE), _machine_bundle_hash,
                         "the machine's trust store changed")

    def start_helper(self, **env):
        environment = desk.helper_env(HOME=_home, **env)
        for name in ("LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG", "TAVISK_SYSTEM_TRUST",
                     "http_proxy", "https_proxy", "all_proxy", "no_proxy"):
            if name not in env:
                environment.pop(name, None)
        scratch = self.enterContext(tempfile.TemporaryDirectory())
        environment.update(TMPDIR=scratch, XDG_CONFIG_HOME=os.path.join(scratch, "config"),
                           XDG_CACHE_HOME=os.path.join(scratch, "cache"),
                           XDG_DATA_HOME=os.path.join(scratch, "data"))
        # The helper sees the copy of /etc/ssl in a mount namespace of its own; unshare and the
        # shell exec into it, so the helper keeps their process id.
        helper = self.enterContext(helperproc.Helper(
            env=environment, binary="/usr/bin/unshare",
            args=_unshare[1:] + [
                "/bin/sh", "-c", 'mount --bind "$0" /etc/ssl && exec "$@"', _store,
                testenv.binary_path(), "--cmdInFd={in}", "--cmdOutFd={out}",
                "--webEngineArgs", RESOLVER_RULES]))
        return helper, screenreader.application(helper.pid)

    def server(self, cert_name, body=None):
        cert, key = _certs[cert_name]
        return self.enterContext(tlsserver.TlsServer(cert, key, body or redirecting_page(
            "/cb?code=" + cert_name.replace(" ", "-"))))

    def navigate(self, helper, request_id, url, redirect_uri):
        helper.send(line(request(request_id, "navigate", url=url, title=TITLE,
                                 redirect_uri=redirect_uri, timeout_ms=LIMIT_MS)))

    def expect_failure_view(self, app, *texts):
        """Waits until the window shows labels holding each of texts."""
        def shown(nodes):
            labels = showing_labels(nodes)
            return all(any(text in label for label in labels) for text in texts)
        screenreader.wait_for_tree(app, shown, what="the failure view with %r" % (texts,))

    def test_system_and_personal_authorities_are_trusted_and_failures_say_why(self):
        helper, app = self.start_helper()
        # Signed in through the authority the system trusts, then through the one only the
        # person's database trusts.
        for request_id, name in enumerate(["company", "own"], 1):
            with self.subTest(name):
                server = self.server(name)
                self.navigate(helper, request_id, server.url("/"), server.url("/cb"))
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                                 ok_raw(request_id, server.url("/cb?code=" + name)))

        refused = testenv.free_tcp_port()
        cases = [
            # name, certificate (None: no server), URL (None: the server's), host, the reply's
            # word, the engine's error, words of the view's explanation
            ("expired", "expired", None, "127.0.0.1", "certificate_error",
             "ERR_CERT_DATE_INVALID", "has expired"),
            ("for another name", "other name", None, "127.0.0.1", "certificate_error",
             "ERR_CERT_COMMON_NAME_INVALID", "another name"),
            ("a port that refuses", None, "https://127.0.0.1:%d/" % refused, "127.0.0.1",
             "network_error", "ERR_CONNECTION_REFUSED", "refused the connection"),
            ("a name that does not resolve", None, "https://login.nowhere.invalid/",
             "login.nowhere.invalid", "network_error", "ERR_NAME_NOT_RESOLVED",
             "could not be found"),
        ]
        for request_id, (name, cert, url, host, word, error, words) in enumerate(cases, 3):
            with self.subTest(name):
                server = self.server(cert) if cert is not None else None
                url = url or server.url("/")
                self.navigate(helper, request_id, url, url + "cb")
                self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                                 failure_raw(request_id, word, host, error))
                self.expect_failure_view(app, host, words, error)
                self.assertTrue(helper.wait_stdout(lambda ls: loaded(url, True) in ls, 10),
                                helper.stdout_lines)
                if server is not None:
                    # Nothing of an untrusted page was ever asked for.
                    self.assertEqual(server.request_lines, [])

        # The person closes the view: nothing more is said, and the next sign-in goes ahead.
        desk.wait_for_keyboard(TITLE)
        desk.xdotool("key", "Return")
        screenreader.wait_for_tree(app, lambda nodes: not any(
            n.name == TITLE and n.accessible.getState().contains(
                screenreader.pyatspi.STATE_SHOWING) for n in nodes),
            what="the window closed")
        server = self.server("company")
        self.navigate(helper, 7, server.url("/"), server.url("/cb"))
        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                         ok_raw(7, server.url("/cb?code=company")))

    def test_the_administrator_can_leave_the_system_authorities_out(self):
        helper, app = self.start_helper(TAVISK_SYSTEM_TRUST="0")
        server = self.server("company")
        self.navigate(helper, 1, server.url("/"), server.url("/cb"))
        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                         failure_raw(1, "certificate_error", "127.0.0.1",
                                     "ERR_CERT_AUTHORITY_INVALID"))
        self.expect_failure_view(app, "127.0.0.1", "does not trust", "ERR_CERT_AUTHORITY_INVALID")
        self.assertEqual(server.request_lines, [])

    def test_a_proxy_that_refuses_in_german(self):
        # The engine sends no loopback name through a proxy: the provider's name is one it
        # would have to resolve, which the proxy does for it.
        closed = testenv.free_tcp_port()
        helper, app = self.start_helper(https_proxy="http://127.0.0.1:%d" % closed,
                                        LANG="de_DE.UTF-8")
        self.navigate(helper, 1, "https://login.company.example/", "https://app.example/cb")
        self.assertEqual(helper.reply_raw(REPLY_TIMEOUT),
                         failure_raw(1, "proxy_error", "login.company.example",
                                     "ERR_PROXY_CONNECTION_FAILED"))
        self.expect_failure_view(app, "login.company.example ist über den Proxy nicht erreichbar",
                                 "Proxy", "ERR_PROXY_CONNECTION_FAILED")


if __name__ == "__main__":
    unittest.main()
