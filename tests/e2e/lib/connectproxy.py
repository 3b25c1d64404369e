"""A loopback company proxy: the only way to a host name that nothing else resolves.

It tunnels a CONNECT to one of the host names it knows to that host's loopback port, as a
company proxy reaches an internal sign-in server, and answers any other CONNECT or proxied
request with 502. Asked directly (GET /name.pac), it serves the PAC scripts it was given, so a
PAC address can point at it. It records every CONNECT target it was asked for, known or not.
"""

import http.server
import select
import socket
import threading

import pageserver

# How long a tunnel may stay idle before the proxy closes it; longer than any test's wait.
_TUNNEL_IDLE_SECONDS = 60


class ConnectProxy:
    """The proxy on a free loopback port, in a thread; use it as a context manager.

    hosts maps a host name to the loopback port its CONNECTs go to; pac_scripts maps a path
    ("/proxy.pac") to the script served there. .address is "127.0.0.1:PORT"."""

    def __init__(self, hosts=None, pac_scripts=None):
        self._hosts = dict(hosts or {})
        self._pac_scripts = dict(pac_scripts or {})
        self._lock = threading.Lock()
        self._connects = []
        self._pac_fetches = 0
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_CONNECT(self):
                proxy._tunnel(self)

            def do_GET(self):
                proxy._get(self)

            def log_message(self, *args):
                pass

        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._httpd.daemon_threads = True
        self.port = self._httpd.server_address[1]
        self.address = "127.0.0.1:%d" % self.port
        self._thread = None

    def __enter__(self):
        self._thread = pageserver.ServingThread(self._httpd, "connect-proxy")
        return self

    def __exit__(self, *exc):
        self._thread.stop()
        return False

    def serve_pac(self, script, path="/proxy.pac"):
        """Serves script at path from now on; returns its URL."""
        with self._lock:
            self._pac_scripts[path] = script
        return "http://%s%s" % (self.address, path)

    def forget(self):
        """Forgets the CONNECTs and PAC fetches seen so far."""
        with self._lock:
            self._connects = []
            self._pac_fetches = 0

    def connects(self):
        """Every CONNECT target asked for so far ("host:port"), in order."""
        with self._lock:
            return list(self._connects)

    def pac_fetches(self):
        with self._lock:
            return self._pac_fetches

    # -- the proxy's side -------------------------------------------------------------------

    def _refuse(self, handler):
        handler.send_response(502)
        handler.send_header("Content-Length", "0")
        handler.send_header("Connection", "close")
        handler.end_headers()

    def _get(self, handler):
        with self._lock:
            script = self._pac_scripts.get(handler.path)
            if script is not None:
                self._pac_fetches += 1
        if script is None:
            self._refuse(handler)
            return
        body = script.encode("utf-8")
        handler.send_response(200)
        handler.send_header("Content-Type", "application/x-ns-proxy-autoconfig")
        handler.send_header("Content-Length", str(len(body)))
        handler.send_header("Cache-Control", "no-store")
        handler.end_headers()
        handler.wfile.write(body)

    def _tunnel(self, handler):
        with self._lock:
            self._connects.append(handler.path)
        host = handler.path.rsplit(":", 1)[0]
        port = self._hosts.get(host)
        if port is None:
            self._refuse(handler)
            return
        try:
            upstream = socket.create_connection(("127.0.0.1", port), timeout=5)
        except OSError:
            self._refuse(handler)
            return
        handler.send_response(200, "Connection established")
        handler.end_headers()
        handler.wfile.flush()
        client = handler.connection
        try:
            _relay(client, upstream)
        finally:
            upstream.close()
            handler.close_connection = True


def _relay(a, b):
    """Copies bytes both ways until one side closes or the tunnel idles too long."""
    peers = {a: b, b: a}
    while True:
        ready, _, _ = select.select(list(peers), [], [], _TUNNEL_IDLE_SECONDS)
        if not ready:
            return
        for source in ready:
            try:
                data = source.recv(65536)
            except OSError:
                return
            if not data:
                return
            try:
                peers[source].sendall(data)
            except OSError:
                return
