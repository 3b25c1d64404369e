"""A loopback web server on a thread: fixed pages for a sign-in, and the thread that serves any
socketserver until stopped."""

import http.server
import threading


class ServingThread:
    """Runs a socketserver's serve_forever in a daemon thread; stop() shuts the server down,
    closes its socket and joins the thread."""

    def __init__(self, server, name):
        self.server = server
        self._thread = threading.Thread(target=server.serve_forever,
                                        kwargs={"poll_interval": 0.05}, name=name, daemon=True)
        self._thread.start()

    def stop(self):
        self.server.shutdown()
        self.server.server_close()
        self._thread.join(timeout=5)


class PageServer:
    """A tiny HTTP server on 127.0.0.1 serving fixed pages from a thread.

    routes maps a path (query ignored) to the HTML body as bytes, or to ("redirect", location)
    for a 302. Other paths get 404. .url(path) is the full URL; .requests lists the paths
    asked for, query included."""

    def __init__(self, routes):
        self.routes = dict(routes)
        self.requests = []
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                server.requests.append(self.path)
                route = server.routes.get(self.path.split("?", 1)[0])
                if isinstance(route, tuple) and route[0] == "redirect":
                    self.send_response(302)
                    self.send_header("Location", route[1])
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                if route is None:
                    self.send_response(404)
                    body = b"<html><body>not found</body></html>"
                else:
                    self.send_response(200)
                    body = route
                self.send_header("Content-Type", "text/html; charset=utf-8")
                self.send_header("Content-Length", str(len(body)))
                self.send_header("Cache-Control", "no-store")
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._httpd.daemon_threads = True
        self.port = self._httpd.server_address[1]
        self._thread = None

    def url(self, path="/"):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def __enter__(self):
        self._thread = ServingThread(self._httpd, "page-server")
        return self

    def __exit__(self, *exc):
        self._thread.stop()
        return False
