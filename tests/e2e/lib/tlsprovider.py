"""A loopback HTTPS identity provider that signs people in by their client certificate.

It requires a client certificate issued by the test CA on every connection (Python ssl,
CERT_REQUIRED), as a provider's certificate sign-in host does. A connection that presents one
is answered by a redirect to the redirect URI carrying the certificate's subject name and a
fresh code, so a test can tell which certificate the person presented; one that presents none
is refused in the TLS handshake, and the browser shows its error page. Every handshake is
recorded with the subject presented (None for none). (tlsserver's TlsServer serves one page
to any client; this one speaks HTTP and asks for the client's certificate.)
"""

import http.server
import secrets
import ssl
import threading
import time
import urllib.parse

import pageserver

CALLBACK_PATH = "/cb"

# How long a connection may take to finish its handshake: the browser holds it open while the
# person chooses, so this is longer than any test's wait.
_HANDSHAKE_SECONDS = 120


class Handshake:
    """One connection's handshake: .subject is the presented certificate's common name, or
    None when none was presented; .error is the refusal's text, or None."""

    def __init__(self, subject, error):
        self.subject, self.error = subject, error
        self.time = time.monotonic()

    def __repr__(self):
        return "Handshake(subject=%r, error=%r)" % (self.subject, self.error)


class TlsProvider:
    """The server on a free loopback port, in a thread; use it as a context manager. .origin
    is "https://127.0.0.1:PORT"; .callback is the redirect URI on it (never fetched)."""

    def __init__(self, pki):
        self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self._context.load_cert_chain(pki.server_pem, pki.server_key)
        self._context.load_verify_locations(pki.ca_pem)
        self._context.verify_mode = ssl.CERT_REQUIRED
        self._lock = threading.Lock()
        self._changed = threading.Condition(self._lock)
        self._handshakes = []
        self._paths = []
        self.codes = []
        self._server = None
        self._thread = None
        self.origin = None
        self.callback = None

    def __enter__(self):
        provider = self

        class Server(http.server.ThreadingHTTPServer):
            daemon_threads = True

            def finish_request(self, request, client_address):
                # The handshake runs on the connection's own thread, so a connection that
                # waits for the person's choice holds up nobody else.
                request.settimeout(_HANDSHAKE_SECONDS)
                try:
                    connection = provider._context.wrap_socket(request, server_side=True)
                except (ssl.SSLError, OSError) as e:
                    provider._record(Handshake(None, str(e)))
                    return
                provider._record(Handshake(_common_name(connection.getpeercert()), None))
                try:
                    _Handler(connection, client_address, self, provider)
                finally:
                    connection.close()

        self._server = Server(("127.0.0.1", 0), _Handler)
        port = self._server.server_address[1]
        self.origin = "https://127.0.0.1:%d" % port
        self.callback = self.origin + CALLBACK_PATH
        self._thread = pageserver.ServingThread(self._server, "tls-provider")
        return self

    def __exit__(self, *exc):
        self._thread.stop()
        return False

    def sign_in_url(self, state):
        """The sign-in page; it redirects to the callback with the subject, a code and state."""
        return "%s/login?state=%s" % (self.origin, urllib.parse.quote(state, safe=""))

    def handshakes(self):
        with self._lock:
            return list(self._handshakes)

    def wait_for_handshake(self, predicate, timeout):
        """The first recorded handshake for which predicate is true; AssertionError after
        timeout."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                for handshake in self._handshakes:
                    if predicate(handshake):
                        return handshake
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("no such handshake within %.1f s; seen: %r"
                                         % (timeout, self._handshakes))
                self._changed.wait(left)

    def paths(self):
        """The path of every request the provider received, query included."""
        with self._lock:
            return list(self._paths)

    def _record_path(self, path):
        with self._lock:
            self._paths.append(path)

    def _record(self, handshake):
        with self._lock:
            self._handshakes.append(handshake)
            self._changed.notify_all()

    def _new_code(self):
        code = "cert-" + secrets.token_hex(8)
        with self._lock:
            self.codes.append(code)
        return code


class _Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def __init__(self, request, client_address, server, provider):
        self.provider = provider
        super().__init__(request, client_address, server)

    def log_message(self, *args):
        pass

    def do_GET(self):
        self.provider._record_path(self.path)
        url = urllib.parse.urlsplit(self.path)
        if url.path == "/login":
            state = urllib.parse.parse_qs(url.query).get("state", [""])[0]
            subject = _common_name(self.connection.getpeercert())
            location = "%s?subject=%s&code=%s&state=%s" % (
                self.provider.callback, urllib.parse.quote(subject or "", safe=""),
                self.provider._new_code(), urllib.parse.quote(state, safe=""))
            self.send_response(302)
            self.send_header("Location", location)
            body = b""
        else:
            self.send_response(404)
            body = b"<html><body>not found</body></html>"
        self.send_header("Content-Type", "text/html; charset=utf-8")
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(body)


def _common_name(peer):
    """The subject's common name of a certificate as ssl.getpeercert() gives it, or None."""
    for rdn in (peer or {}).get("subject", ()):
        for key, value in rdn:
            if key == "commonName":
                return value
    return None
