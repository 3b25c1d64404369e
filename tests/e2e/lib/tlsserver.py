"""A loopback HTTPS server for tests of what the helper does with a server's certificate.

Certificates are made at test time with the openssl command: a self-signed one, or one issued
by a test authority (which a test may make trusted in the helper's private NSS database with
certutil). The server records every connection and every HTTP request line it receives, so a
test can show that a connection was attempted but nothing was ever requested.
"""

import os
import socket
import ssl
import subprocess
import threading
import time

_OPENSSL_TIMEOUT = 30


def _openssl(*args):
    subprocess.run(["openssl"] + list(args), check=True, timeout=_OPENSSL_TIMEOUT,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _names(names):
    """A subjectAltName value for names: IP addresses and DNS names."""
    parts = []
    for name in names:
        is_ip = name.replace(".", "").isdigit()
        parts.append(("IP:" if is_ip else "DNS:") + name)
    return ",".join(parts)


class Authority:
    """A test certificate authority in folder: .cert is its certificate file."""

    def __init__(self, folder, name="Tavisk Test Authority"):
        self.folder = folder
        self.cert = os.path.join(folder, "authority.pem")
        self.key = os.path.join(folder, "authority.key")
        _openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                 "-nodes", "-keyout", self.key, "-out", self.cert, "-days", "2",
                 "-subj", "/CN=" + name, "-addext", "basicConstraints=critical,CA:TRUE",
                 "-addext", "keyUsage=critical,keyCertSign,cRLSign")

    def issue(self, label, names, days=2):
        """(certificate file, key file) of a server certificate for names, issued by this
        authority, valid from now for days (a negative number: expired that long ago)."""
        key = os.path.join(self.folder, label + ".key")
        request = os.path.join(self.folder, label + ".csr")
        cert = os.path.join(self.folder, label + ".pem")
        extensions = os.path.join(self.folder, label + ".ext")
        with open(extensions, "w") as f:
            f.write("subjectAltName=%s\nextendedKeyUsage=serverAuth\n"
                    "basicConstraints=critical,CA:FALSE\n" % _names(names))
        _openssl("req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                 "-nodes", "-keyout", key, "-out", request, "-subj", "/CN=" + names[0])
        signing = ["x509", "-req", "-in", request, "-CA", self.cert, "-CAkey", self.key,
                   "-CAcreateserial", "-out", cert, "-extfile", extensions]
        if days >= 0:
            _openssl(*signing, "-days", str(days))
            return cert, key
        # OpenSSL 3.4 and later take the dates themselves and refuse a negative -days, which
        # OpenSSL 3.0 (Debian 12) takes as the way to a certificate that has already expired.
        now = time.time()
        since, until = (time.strftime("%Y%m%d%H%M%SZ", time.gmtime(now + d * 86400))
                        for d in (days - 1, days))
        try:
            _openssl(*signing, "-not_before", since, "-not_after", until)
        except subprocess.CalledProcessError:
            _openssl(*signing, "-days", str(days))
        return cert, key

    def trust_in(self, home):
        """Makes this authority trusted for servers in the NSS database under home, which the
        engine reads for a process whose HOME is home."""
        database = os.path.join(home, ".pki", "nssdb")
        os.makedirs(database, exist_ok=True)
        subprocess.run(["certutil", "-N", "-d", "sql:" + database, "--empty-password"],
                       check=True, timeout=_OPENSSL_TIMEOUT, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        subprocess.run(["certutil", "-A", "-d", "sql:" + database, "-n", "tavisk-test",
                        "-t", "C,,", "-i", self.cert], check=True, timeout=_OPENSSL_TIMEOUT,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                       stderr=subprocess.PIPE)


def self_signed(folder, label, names):
    """(certificate file, key file) of a self-signed server certificate for names."""
    key = os.path.join(folder, label + ".key")
    cert = os.path.join(folder, label + ".pem")
    _openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
             "-nodes", "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=" + names[0],
             "-addext", "subjectAltName=" + _names(names))
    return cert, key


class TlsServer:
    """Serves body (HTML text) over HTTPS on 127.0.0.1 with the given certificate, from a
    thread; use it as a context manager. .url(path) is the full URL; .connections counts the
    TCP connections accepted; .request_lines lists the HTTP request lines received."""

    def __init__(self, cert, key, body):
        self._context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        self._context.load_cert_chain(cert, key)
        self._body = body.encode("utf-8")
        self._lock = threading.Lock()
        self._changed = threading.Condition(self._lock)
        self.connections = 0
        self.request_lines = []
        self._listener = None
        self._thread = None
        self._stopping = threading.Event()
        self.port = None

    def url(self, path="/"):
        return "https://127.0.0.1:%d%s" % (self.port, path)

    def __enter__(self):
        self._listener = socket.create_server(("127.0.0.1", 0))
        self._listener.settimeout(0.05)
        self.port = self._listener.getsockname()[1]
        self._thread = threading.Thread(target=self._accept, name="tls-server", daemon=True)
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stopping.set()
        self._thread.join(timeout=5)
        self._listener.close()
        return False

    def wait_for_connections(self, count, timeout):
        """Waits until at least count connections have been accepted; AssertionError after
        timeout."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while self.connections < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("the TLS server saw %d connections within %.1f s, "
                                         "not %d" % (self.connections, timeout, count))
                self._changed.wait(left)

    def _accept(self):
        while not self._stopping.is_set():
            try:
                connection, _ = self._listener.accept()
            except socket.timeout:
                continue
            except OSError:
                return
            with self._lock:
                self.connections += 1
                self._changed.notify_all()
            threading.Thread(target=self._serve, args=(connection,), daemon=True).start()

    def _serve(self, connection):
        connection.settimeout(5)
        try:
            with self._context.wrap_socket(connection, server_side=True) as tls:
                data = b""
                while b"\r\n" not in data and len(data) < 8192:
                    chunk = tls.recv(4096)
                    if not chunk:
                        return
                    data += chunk
                with self._lock:
                    self.request_lines.append(data.split(b"\r\n", 1)[0].decode("latin-1"))
                    self._changed.notify_all()
                tls.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n"
                            b"Content-Length: %d\r\nConnection: close\r\n\r\n" % len(self._body)
                            + self._body)
        except (OSError, ssl.SSLError):
            pass  # the client refused the certificate, or went away
        finally:
            connection.close()
