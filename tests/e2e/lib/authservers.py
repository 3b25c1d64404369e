"""Loopback servers that ask for HTTP authentication, for the credentials prompt's tests.

Each records every request it saw, with the credentials it carried, so that a test can count
what reached the server. A request that passes gets a 302 to the test's redirect URI with the
user name in the query; one that does not gets the challenge and the server's own page."""

import base64
import hashlib
import http.server
import os
import re
import threading
import urllib.parse

import pageserver
import testenv
import ntlm

REFUSAL_PAGE = b"<html><head><title>Refused here</title></head><body>corp refuses</body></html>"


class Seen:
    """One request as the server saw it: the path (or absolute URL, at a proxy) and the user
    name its credentials named (None: none sent; "" an empty one), and whether they passed."""

    def __init__(self, target, user, passed):
        self.target, self.user, self.passed = target, user, passed

    def __repr__(self):
        return "Seen(%r, %r, %r)" % (self.target, self.user, self.passed)


def _md5(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()


def _digest_fields(header):
    return {k: v1 or v2 for k, v1, v2 in re.findall(r'(\w+)=(?:"([^"]*)"|([^,\s]*))', header)}


class CountingServer:
    """A loopback HTTP server that keeps, in ._seen under ._lock, what each request showed;
    subclasses answer GETs in _answer(handler). Use it as a context manager."""

    def __init__(self, thread_name, keep_alive=False):
        self._lock = threading.Lock()
        self._seen = []
        self._thread_name = thread_name
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                server._answer(self)

            def log_message(self, *args):
                pass

        if keep_alive:
            # One connection serves request after request, as a connection-based scheme needs.
            Handler.protocol_version = "HTTP/1.1"

        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._httpd.daemon_threads = True
        self.port = self._httpd.server_address[1]
        self._thread = None

    def __enter__(self):
        self._thread = pageserver.ServingThread(self._httpd, self._thread_name)
        return self

    def __exit__(self, *exc):
        self._thread.stop()
        return False

    def seen(self):
        with self._lock:
            return list(self._seen)


class AuthServer(CountingServer):
    """scheme "Basic", "Digest" (MD5, qop=auth) or "NTLM" (version 2 responses) at 127.0.0.1;
    as a proxy (proxy=True) it answers absolute URLs for any host with 407 until the proxy
    credentials pass, and then serves the page itself as the origin would.

    NTLM takes two requests on one connection for one answer: the first names nobody and gets
    the server's challenge, the second answers it. Only the second is counted, so that each
    scheme counts one request per answer."""

    def __init__(self, scheme, realm, user, password, redirect_uri, proxy=False):
        self.scheme, self.realm, self.user, self.password = scheme, realm, user, password
        self.redirect_uri, self.proxy = redirect_uri, proxy
        self.nonce = os.urandom(8).hex()
        super().__init__("auth-server", keep_alive=scheme == "NTLM")

    def url(self, path="/portal"):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def wait_seen(self, count, timeout=20):
        if not testenv.wait_until(lambda: len(self.seen()) >= count, timeout):
            raise AssertionError("the server saw %r, not %d requests" % (self.seen(), count))
        return self.seen()

    def redirect_for(self, user):
        return "%s?user=%s" % (self.redirect_uri, urllib.parse.quote(user))

    # -- the server's side ----------------------------------------------------------------

    def _check(self, header, method, target, connection):
        """(user named or None, passed)"""
        if not header:
            return None, False
        kind, _, rest = header.partition(" ")
        if kind.lower() != self.scheme.lower():
            return None, False
        if self.scheme == "NTLM":
            token = ntlm.read_header(header)
            challenge = getattr(connection, "ntlm_challenge", None)
            if token is None or ntlm.message_type(token) != ntlm.AUTHENTICATE or challenge is None:
                return None, False
            return ntlm.check_authenticate(token, challenge, self.user, self.password)
        if self.scheme == "Basic":
            try:
                user, _, password = base64.b64decode(rest).decode("utf-8").partition(":")
            except ValueError:
                return None, False
            return user, (user, password) == (self.user, self.password)
        fields = _digest_fields(rest)
        user = fields.get("username", "")
        ha1 = _md5("%s:%s:%s" % (user if user == self.user else "", self.realm,
                                  self.password if user == self.user else ""))
        ha2 = _md5("%s:%s" % (method, fields.get("uri", "")))
        expected = _md5(":".join([ha1, fields.get("nonce", ""), fields.get("nc", ""),
                                  fields.get("cnonce", ""), fields.get("qop", ""), ha2]))
        passed = (user == self.user and fields.get("nonce") == self.nonce
                  and fields.get("response") == expected and fields.get("uri") == target)
        return user, passed

    def _challenge(self):
        if self.scheme == "NTLM":
            return "NTLM"
        if self.scheme == "Basic":
            return 'Basic realm="%s"' % self.realm
        return 'Digest realm="%s", qop="auth", nonce="%s", algorithm=MD5' % (self.realm,
                                                                             self.nonce)

    def _answer(self, handler):
        if handler.path.endswith("/favicon.ico"):
            # The engine asks for the icon of the page it shows, and never with credentials;
            # it is not counted.
            handler.send_response(404)
            handler.send_header("Content-Length", "0")
            handler.end_headers()
            return
        if self.proxy:
            header = handler.headers.get("Proxy-Authorization")
        else:
            header = handler.headers.get("Authorization")
        if self._answered_ntlm_negotiate(handler, header):
            return
        user, passed = self._check(header, handler.command, handler.path, handler)
        with self._lock:
            self._seen.append(Seen(handler.path, user, passed))
        if passed:
            handler.send_response(302)
            handler.send_header("Location", self.redirect_for(user))
            handler.send_header("Content-Length", "0")
        else:
            handler.send_response(407 if self.proxy else 401)
            handler.send_header("Proxy-Authenticate" if self.proxy else "WWW-Authenticate",
                                self._challenge())
            handler.send_header("Content-Type", "text/html; charset=utf-8")
            handler.send_header("Content-Length", str(len(REFUSAL_PAGE)))
        handler.send_header("Cache-Control", "no-store")
        handler.end_headers()
        if not passed:
            handler.wfile.write(REFUSAL_PAGE)

    def _answered_ntlm_negotiate(self, handler, header):
        """Answers an NTLM negotiate message with a challenge kept for its connection."""
        token = ntlm.read_header(header) if self.scheme == "NTLM" else None
        if token is None or ntlm.message_type(token) != ntlm.NEGOTIATE:
            return False
        handler.ntlm_challenge = ntlm.new_challenge()
        message = base64.b64encode(ntlm.challenge_message(handler.ntlm_challenge)).decode()
        handler.send_response(407 if self.proxy else 401)
        handler.send_header("Proxy-Authenticate" if self.proxy else "WWW-Authenticate",
                            "NTLM " + message)
        handler.send_header("Content-Length", "0")
        handler.end_headers()
        return True
