"""A private MIT Kerberos realm for process tests, and a small SPNEGO server.

Everything lives in one temporary folder: krb5.conf (KRB5_CONFIG), kdc.conf (KRB5_KDC_PROFILE),
the database, the keytabs and the person's ticket cache (KRB5CCNAME). The KDC (Debian's
krb5-kdc) listens on a free loopback port; clients use TCP. The person's principal gets a random
key in a keytab, so kinit needs no password typed; the server's is HTTP/localhost, the name
the engine asks a ticket for when the page's host is localhost. The SPNEGO server uses
python3-gssapi with the server keytab and puts the principal it authenticated into its
redirect."""

import base64
import os
import socket
import subprocess
import urllib.parse

import authservers
import testenv

REALM = "TAVISK.TEST"
PERSON = "alice"
SERVICE = "HTTP/localhost"


def _run(args, env, **kwargs):
    done = subprocess.run(args, env=env, capture_output=True, timeout=30, **kwargs)
    if done.returncode != 0:
        raise AssertionError("%s failed: %s" % (args[0], (done.stdout + done.stderr).decode()))
    return done


class Realm:
    """Use as a context manager: .env holds the variables a Kerberos program of the realm
    needs (the person's ticket cache once kinit() ran)."""

    def __init__(self, folder):
        self.folder = folder
        self.port = testenv.free_tcp_port()
        self.kdc = None
        path = lambda name: os.path.join(folder, name)  # noqa: E731
        self.server_keytab = path("http.keytab")
        self.person_keytab = path("person.keytab")
        self.env = dict(os.environ, KRB5_CONFIG=path("krb5.conf"),
                        KRB5_KDC_PROFILE=path("kdc.conf"),
                        KRB5CCNAME="FILE:" + path("ccache"))
        self.env.pop("KRB5_KTNAME", None)
        with open(path("krb5.conf"), "w") as f:
            f.write("[libdefaults]\n default_realm = %s\n dns_lookup_kdc = false\n"
                    " dns_lookup_realm = false\n rdns = false\n"
                    " dns_canonicalize_hostname = false\n udp_preference_limit = 1\n"
                    "[realms]\n %s = {\n  kdc = 127.0.0.1:%d\n }\n"
                    "[domain_realm]\n localhost = %s\n" % (REALM, REALM, self.port, REALM))
        with open(path("kdc.conf"), "w") as f:
            # UDP on the same loopback port: the default would be port 88 of every address.
            listen = "127.0.0.1:%d" % self.port
            f.write("[kdcdefaults]\n kdc_listen = %s\n kdc_tcp_listen = %s\n"
                    "[realms]\n %s = {\n  database_name = %s\n  key_stash_file = %s\n"
                    "  acl_file = %s\n  kdc_listen = %s\n  kdc_tcp_listen = %s\n }\n"
                    "[logging]\n kdc = FILE:%s\n"
                    % (listen, listen, REALM, path("principal"), path("stash"),
                       path("kadm5.acl"), listen, listen, path("kdc.log")))

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        _run(["kdb5_util", "-r", REALM, "create", "-s", "-P", os.urandom(12).hex()], self.env)
        for query in ("addprinc -randkey %s" % PERSON, "addprinc -randkey %s" % SERVICE,
                      "ktadd -k %s %s" % (self.server_keytab, SERVICE),
                      "ktadd -k %s %s" % (self.person_keytab, PERSON)):
            _run(["kadmin.local", "-r", REALM, "-q", query], self.env)
        self.kdc = subprocess.Popen(["krb5kdc", "-n", "-r", REALM], env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL, start_new_session=True)

        def listening():
            if self.kdc.poll() is not None:
                raise AssertionError("krb5kdc exited with %r" % self.kdc.returncode)
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                return False

        if not testenv.wait_until(listening, 15, 0.05):
            raise AssertionError("krb5kdc did not listen on %d" % self.port)

    def __exit__(self, *exc):
        if self.kdc is not None and self.kdc.poll() is None:
            self.kdc.kill()
            self.kdc.wait(timeout=10)
        return False

    def kinit(self):
        """The person's ticket, in the cache KRB5CCNAME names."""
        _run(["kinit", "-k", "-t", self.person_keytab, PERSON], self.env)

    def kdestroy(self):
        subprocess.run(["kdestroy"], env=self.env, capture_output=True, timeout=30)


class SpnegoServer(authservers.CountingServer):
    """http://localhost:PORT/portal: 401 with "WWW-Authenticate: Negotiate" (and Basic when
    basic_password is given) until a Negotiate token is accepted (or the person's name and
    that password in Basic), then a 302 to redirect_uri with the principal (or the name) as
    ?user=. .seen lists, per request, the scheme its Authorization named (None for none)."""

    def __init__(self, realm, redirect_uri, basic_password=None):
        # The GSSAPI library reads these from the environment of this process.
        os.environ["KRB5_CONFIG"] = realm.env["KRB5_CONFIG"]
        os.environ["KRB5_KTNAME"] = realm.server_keytab
        import gssapi  # (Debian's python3-gssapi)
        self._gssapi = gssapi
        self.redirect_uri, self.basic_password = redirect_uri, basic_password
        super().__init__("spnego-server")

    def url(self):
        return "http://localhost:%d/portal" % self.port

    def redirect_for(self, principal):
        return "%s?user=%s" % (self.redirect_uri, urllib.parse.quote(principal))

    def _principal(self, header):
        kind, _, token = (header or "").partition(" ")
        if kind == "Basic" and self.basic_password is not None:
            try:
                name = base64.b64decode(token).decode("utf-8")
            except ValueError:
                return None
            return PERSON if name == "%s:%s" % (PERSON, self.basic_password) else None
        if kind != "Negotiate":
            return None
        try:
            context = self._gssapi.SecurityContext(
                creds=self._gssapi.Credentials(usage="accept"), usage="accept")
            context.step(base64.b64decode(token))
        except (self._gssapi.exceptions.GSSError, ValueError):
            return None
        return str(context.initiator_name) if context.complete else None

    def _answer(self, handler):
        if handler.path.endswith("/favicon.ico"):
            handler.send_response(404)
            handler.send_header("Content-Length", "0")
            handler.end_headers()
            return
        header = handler.headers.get("Authorization")
        principal = self._principal(header)
        with self._lock:
            self._seen.append(header.partition(" ")[0] if header else None)
        if principal is not None:
            handler.send_response(302)
            handler.send_header("Location", self.redirect_for(principal))
            handler.send_header("Content-Length", "0")
            handler.end_headers()
            return
        body = b"<html><head><title>Not signed in</title></head><body>no</body></html>"
        handler.send_response(401)
        handler.send_header("WWW-Authenticate", "Negotiate")
        if self.basic_password is not None:
            handler.send_header("WWW-Authenticate", 'Basic realm="corp"')
        handler.send_header("Content-Type", "text/html; charset=utf-8")
        handler.send_header("Content-Length", str(len(body)))
        handler.end_headers()
        handler.wfile.write(body)
