"""The proxy a person's desktop names: GNOME's settings, KDE's kioslaverc, the environment.

The provider is an HTTPS server on loopback with a certificate for signin.corp.invalid, a name
that never resolves: only the company proxy (connectproxy) knows it and tunnels CONNECTs for it
to the provider. A sign-in therefore ends "ok" only when the engine went through that proxy,
and the proxy saw the CONNECT. A second proxy that knows no host stands for a stale setting: a
case where a setting of lower rank names it shows that the higher one won.

GNOME's settings come from GLib's keyfile backend (GSETTINGS_BACKEND=keyfile) in a private
XDG_CONFIG_HOME, KDE's from kioslaverc there; each case starts a fresh helper in a fresh home
on a private Xvfb."""

import os
import tempfile
import unittest

import connectproxy
import helperproc
import testenv
import xvfb
import tlsserver
from signinfixture import APP_REDIRECT, failure_raw, ok_raw, request

HOST = "signin.corp.invalid"
SIGN_IN_URL = "https://%s/authorize" % HOST
REDIRECT_URL = APP_REDIRECT + "?code=through-the-proxy"
# The provider ends the sign-in at once, as one that knows the person already would.
PROVIDER_PAGE = ("<!DOCTYPE html><title>Company sign-in</title>"
                 "<script>location.href = %r;</script>" % REDIRECT_URL)
SIGN_IN_LIMIT_MS = 20000

# Everything in the test's own environment that could name a proxy or a desktop.
PROXY_AND_DESKTOP_VARIABLES = [
    "http_proxy", "https_proxy", "all_proxy", "no_proxy", "auto_proxy", "ftp_proxy",
    "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY", "SOCKS_SERVER",
    "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION", "KDE_SESSION_VERSION", "KDE_FULL_SESSION",
    "KDEHOME", "GNOME_DESKTOP_SESSION_ID", "GSETTINGS_BACKEND", "XDG_CONFIG_DIRS",
    "QTWEBENGINE_CHROMIUM_FLAGS",
]


def gnome_keyfile(mode, https=None, autoconfig_url=None):
    """GLib's keyfile backend's file for org.gnome.system.proxy."""
    text = "[system/proxy]\nmode='%s'\n" % mode
    if autoconfig_url is not None:
        text += "autoconfig-url='%s'\n" % autoconfig_url
    if https is not None:
        host, port = https.rsplit(":", 1)
        text += "\n[system/proxy/https]\nhost='%s'\nport=%s\n" % (host, port)
    return {"glib-2.0/settings/keyfile": text}


def kioslaverc(proxy_type, https=None, script=None):
    """KDE's kioslaverc: ProxyType 1 manual, 2 a PAC address, 3 WPAD."""
    text = "[Proxy Settings]\nProxyType=%d\n" % proxy_type
    if https is not None:
        # KDE writes a proxy's port after a space.
        text += "httpsProxy=http://%s\n" % https.replace(":", " ")
    if script is not None:
        text += "Proxy Config Script=%s\n" % script
    return {"kioslaverc": text}


GNOME = {"XDG_CURRENT_DESKTOP": "GNOME"}


def kde(version):
    return {"XDG_CURRENT_DESKTOP": "KDE", "KDE_SESSION_VERSION": str(version)}


class DesktopProxy(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.xserver = cls.enterClassContext(xvfb.XServer())
        cls.folder = cls.enterClassContext(tempfile.TemporaryDirectory(prefix="tavisk-proxy-"))
        cls.authority = tlsserver.Authority(cls.folder, "Corp Test Authority")
        cert, key = cls.authority.issue("provider", [HOST])
        cls.provider = cls.enterClassContext(tlsserver.TlsServer(cert, key, PROVIDER_PAGE))

    def setUp(self):
        self.proxy = self.enterContext(connectproxy.ConnectProxy(
            hosts={HOST: self.provider.port}))
        # A proxy that knows no host: where a setting that should lose points.
        self.stale = self.enterContext(connectproxy.ConnectProxy())
        self.proxy_pac, self.stale_pac = (self.serve_pac(p) for p in (self.proxy, self.stale))
        # WPAD: the engine asks the host "wpad" for /wpad.dat; the company's name server
        # (here the engine's own host rules) sends it to the proxy.
        self.serve_pac(self.proxy, "/wpad.dat")
        self.wpad_dns = "--host-resolver-rules=MAP wpad %s" % self.proxy.address

    @staticmethod
    def serve_pac(proxy, path="/proxy.pac"):
        """A PAC address on proxy itself whose script sends HOST to proxy, the rest direct."""
        return proxy.serve_pac('function FindProxyForURL(url, host) {\n'
                               '  if (host == "%s") return "PROXY %s";\n'
                               '  return "DIRECT";\n'
                               '}\n' % (HOST, proxy.address), path)

    def start_helper(self, env=None, files=None, engine_args=()):
        """A helper in a fresh home that trusts the test authority, with the given desktop
        files (paths under XDG_CONFIG_HOME), environment entries and engine switches."""
        home = self.enterContext(tempfile.TemporaryDirectory(prefix="tavisk-home-"))
        self.authority.trust_in(home)
        helper_env = testenv.base_env(display=self.xserver.display)
        for name in PROXY_AND_DESKTOP_VARIABLES:
            helper_env.pop(name, None)
        config = os.path.join(home, ".config")
        helper_env.update(HOME=home, TMPDIR=home, XDG_CONFIG_HOME=config,
                          XDG_CACHE_HOME=os.path.join(home, ".cache"),
                          XDG_DATA_HOME=os.path.join(home, ".local", "share"),
                          # Nothing of the machine's own: no dconf, no /etc/xdg/kioslaverc.
                          GSETTINGS_BACKEND="keyfile",
                          XDG_CONFIG_DIRS=os.path.join(home, "xdg"))
        helper_env.update(env or {})
        for path, text in (files or {}).items():
            full = os.path.join(config, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w") as f:
                f.write(text)
        args = None
        if engine_args:
            args = ["--cmdInFd={in}", "--cmdOutFd={out}", "--webEngineArgs"] + list(engine_args)
        return self.enterContext(helperproc.Helper(args=args, env=helper_env))

    def sign_in(self, helper, request_id=1, limit_ms=SIGN_IN_LIMIT_MS):
        helper.send(request(request_id, "navigate", url=SIGN_IN_URL, title="Company sign-in",
                            redirect_uri=APP_REDIRECT, timeout_ms=limit_ms))
        return helper.reply_raw(limit_ms / 1000 + 15)

    def test_the_sign_in_goes_through_the_proxy_its_settings_name(self):
        proxy, stale = "http://" + self.proxy.address, "http://" + self.stale.address
        cases = [
            # name, environment, files under XDG_CONFIG_HOME, engine switches
            ("https_proxy", {"https_proxy": proxy}, {}, ()),
            ("auto_proxy", {"auto_proxy": self.proxy_pac}, {}, ()),
            ("GNOME manual", GNOME, gnome_keyfile("manual", https=self.proxy.address), ()),
            ("GNOME automatic with a PAC address", GNOME,
             gnome_keyfile("auto", autoconfig_url=self.proxy_pac), ()),
            ("KDE 5 manual", kde(5), kioslaverc(1, https=self.proxy.address), ()),
            ("KDE 5 PAC", kde(5), kioslaverc(2, script=self.proxy_pac), ()),
            ("KDE 6 manual", kde(6), kioslaverc(1, https=self.proxy.address), ()),
            ("KDE 6 PAC", kde(6), kioslaverc(2, script=self.proxy_pac), ()),
            ("GNOME automatic without an address (WPAD)", GNOME, gnome_keyfile("auto"),
             [self.wpad_dns]),
            ("KDE 6 WPAD", kde(6), kioslaverc(3), [self.wpad_dns]),
            # What ranks higher wins: the desktop over the environment, the command line over
            # the desktop.
            ("GNOME over https_proxy", dict(GNOME, https_proxy=stale),
             gnome_keyfile("manual", https=self.proxy.address), ()),
            ("KDE 6 over https_proxy", dict(kde(6), https_proxy=stale),
             kioslaverc(2, script=self.proxy_pac), ()),
            ("--proxy-server over GNOME", GNOME,
             gnome_keyfile("auto", autoconfig_url=self.stale_pac), ["--proxy-server=" + proxy]),
            ("--proxy-pac-url over KDE 6", kde(6), kioslaverc(1, https=self.stale.address),
             ["--proxy-pac-url=" + self.proxy_pac]),
        ]
        for name, env, files, engine_args in cases:
            with self.subTest(name):
                self.proxy.forget()
                self.stale.forget()
                helper = self.start_helper(env=env, files=files, engine_args=engine_args)
                self.assertEqual(self.sign_in(helper), ok_raw(1, REDIRECT_URL))
                self.assertIn(HOST + ":443", self.proxy.connects())
                self.assertEqual((self.stale.connects(), self.stale.pac_fetches()), ([], 0))
                helper.send(request(99, "exit"))
                self.assertEqual(helper.wait(), 0)

    def test_without_a_proxy_the_host_is_out_of_reach(self):
        # What makes the cases above mean something: the name resolves nowhere but at the
        # proxy, so a sign-in that ignored the settings would never end "ok". A desktop whose
        # settings say "no proxy" is obeyed over the environment, as browsers do there. The name
        # that resolves nowhere is answered at once, naming the failure.
        cases = [
            ("no settings at all", {}, {}),
            ("GNOME says none", dict(GNOME, https_proxy="http://" + self.stale.address),
             gnome_keyfile("none")),
            ("KDE 6 says none", dict(kde(6), https_proxy="http://" + self.stale.address),
             kioslaverc(0)),
        ]
        for request_id, (name, env, files) in enumerate(cases, 1):
            with self.subTest(name):
                helper = self.start_helper(env=env, files=files)
                # A machine with no route at all (a private network namespace) says so
                # before it asks for the name.
                self.assertIn(self.sign_in(helper, request_id, limit_ms=4000),
                              [failure_raw(request_id, "network_error", HOST, name)
                               for name in ("ERR_NAME_NOT_RESOLVED",
                                            "ERR_INTERNET_DISCONNECTED")])
                self.assertEqual(self.proxy.connects() + self.stale.connects(), [])


if __name__ == "__main__":
    unittest.main()
