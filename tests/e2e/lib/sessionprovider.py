"""A loopback identity provider that remembers who signed in, by cookie, as real ones do.

GET /authorize?redirect_uri=...&state=... sends a visitor whose cookie names a live session
straight on to redirect_uri?code=...&state=... (a 302, or with how="script" a page whose script
replaces its location); anyone else gets a sign-in page with a user-name field, a "Keep me
signed in" box and a "Sign in" button (with &auto=NAME, a script fills in NAME, ticks the box
and submits at once: a person, for benchmarks). POST /login starts a session: its cookie is persistent
(Max-Age) when the box was ticked, a session cookie otherwise; then it sends the browser on to
the redirect URI. GET /logout is the end-session address: it ends the session the cookie names
and sends the browser to post_logout_redirect_uri. Every request is recorded with the cookie it
carried. The redirect URI itself is never served."""

import html
import http.server
import json
import secrets
import threading
import time
import urllib.parse

import pageserver

COOKIE = "sid"
REMEMBER_SECONDS = 3600

_SIGN_IN_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Sessions provider</title></head>
<body><h1>Sign in</h1>
<form method="post" action="/login">
  <input type="hidden" name="redirect_uri" value="{redirect_uri}">
  <input type="hidden" name="state" value="{state}">
  <label>User name <input id="username" name="username" type="text"></label>
  <label><input id="remember" name="remember" type="checkbox" value="1"> Keep me signed in</label>
  <button id="signin" type="submit">Sign in</button>
</form>{auto}</body></html>
"""

_AUTO_SUBMIT = """<script>
  document.getElementById("username").value = {name};
  document.getElementById("remember").checked = true;
  document.forms[0].submit();
</script>"""

_SCRIPT_REDIRECT = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Signing you in</title></head>
<body><script>location.replace({target});</script></body></html>
"""


class SessionProvider:
    """Use as a context manager. .authorize_url(redirect_uri, state) is the sign-in's first
    page; .sessions maps each live session id to its user name; .requests lists
    (method, path, cookie header, time.monotonic() when it came) of every request."""

    def __init__(self, how="302"):
        self.how = how
        self.sessions = {}
        self.requests = []
        self.codes = []
        self._lock = threading.Lock()
        owner = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def do_GET(self):
                owner._serve(self, "GET")

            def do_POST(self):
                owner._serve(self, "POST")

        self._httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._httpd.daemon_threads = True
        self.port = self._httpd.server_address[1]
        self._serving = None

    def __enter__(self):
        self._serving = pageserver.ServingThread(self._httpd, "session-provider")
        return self

    def __exit__(self, *exc):
        self._serving.stop()
        return False

    def url(self, path):
        return "http://127.0.0.1:%d%s" % (self.port, path)

    def authorize_url(self, redirect_uri, state="s1", auto=None):
        params = {"redirect_uri": redirect_uri, "state": state}
        if auto is not None:
            params["auto"] = auto
        return self.url("/authorize?" + urllib.parse.urlencode(params))

    def logout_url(self, post_logout_redirect_uri):
        return self.url("/logout?" + urllib.parse.urlencode(
            {"post_logout_redirect_uri": post_logout_redirect_uri}))

    def cookies_seen(self, path_prefix):
        """The Cookie headers of the requests to paths beginning with path_prefix."""
        with self._lock:
            return [cookie for _, path, cookie, _ in self.requests
                    if path.startswith(path_prefix)]

    def last_request_time(self, path_prefix):
        """When the last request to a path beginning with path_prefix came, or None."""
        with self._lock:
            times = [when for _, path, _, when in self.requests if path.startswith(path_prefix)]
        return times[-1] if times else None

    # -- serving -----------------------------------------------------------------------------

    def _session_of(self, handler):
        cookies = handler.headers.get("Cookie", "")
        for part in cookies.split(";"):
            name, _, value = part.strip().partition("=")
            if name == COOKIE and value in self.sessions:
                return value
        return None

    def _code_redirect(self, redirect_uri, state):
        code = "code-" + secrets.token_hex(8)
        self.codes.append(code)
        return redirect_uri + "?" + urllib.parse.urlencode({"code": code, "state": state})

    def _serve(self, handler, method):
        path, _, query = handler.path.partition("?")
        with self._lock:
            self.requests.append((method, handler.path, handler.headers.get("Cookie", ""),
                                  time.monotonic()))
        params = dict(urllib.parse.parse_qsl(query))
        if method == "POST":
            length = int(handler.headers.get("Content-Length", "0"))
            params.update(urllib.parse.parse_qsl(handler.rfile.read(length).decode()))
        with self._lock:
            session = self._session_of(handler)
            if method == "GET" and path == "/authorize":
                if session is None:
                    auto = params.get("auto")
                    return self._send(handler, 200, _SIGN_IN_PAGE.format(
                        redirect_uri=html.escape(params.get("redirect_uri", "")),
                        state=html.escape(params.get("state", "")),
                        auto=_AUTO_SUBMIT.format(name=json.dumps(auto)) if auto else ""))
                target = self._code_redirect(params["redirect_uri"], params.get("state", ""))
                if self.how == "script":
                    return self._send(handler, 200, _SCRIPT_REDIRECT.format(
                        target=json.dumps(target)))
                return self._send(handler, 302, "", [("Location", target)])
            if method == "POST" and path == "/login":
                session = secrets.token_hex(16)
                self.sessions[session] = params.get("username", "")
                cookie = "%s=%s; Path=/; HttpOnly; SameSite=Lax" % (COOKIE, session)
                if params.get("remember") == "1":
                    cookie += "; Max-Age=%d" % REMEMBER_SECONDS
                target = self._code_redirect(params["redirect_uri"], params.get("state", ""))
                return self._send(handler, 302, "", [("Location", target),
                                                     ("Set-Cookie", cookie)])
            if method == "GET" and path == "/logout":
                self.sessions.pop(session, None)
                return self._send(handler, 302, "", [
                    ("Location", params["post_logout_redirect_uri"]),
                    ("Set-Cookie", "%s=; Path=/; Max-Age=0" % COOKIE)])
        return self._send(handler, 404, "not found")

    @staticmethod
    def _send(handler, status, text, headers=()):
        body = text.encode("utf-8")
        handler.send_response(status)
        for name, value in headers:
            handler.send_header(name, value)
        handler.send_header("Content-Type", "text/html; charset=utf-8")
        handler.send_header("Content-Length", str(len(body)))
        handler.send_header("Cache-Control", "no-store")
        handler.end_headers()
        handler.wfile.write(body)

