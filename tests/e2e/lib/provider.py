"""A loopback identity provider for the sign-in tests.

Serves a sign-in page with a user-name field, a password field and the buttons "Sign in" and
"Cancel", plus pages that a test configures to end a sign-in in a particular way (a server
redirect, a script navigation, an image, a frame, a page that never redirects, a page that
redirects late). Every request is recorded with its path and its User-Agent and Accept-Language
headers, so a test can show that the redirect URI was never fetched and what the engine sent.

Authorisation codes and the targets of the configured pages live on the server only: the URL
of a page the browser shows never holds a code, so a code that turns up on the helper's
standard output or error can only have leaked from the helper.
"""

import html
import http.server
import itertools
import secrets
import threading
import time
import urllib.parse

import pageserver

# The path of the redirect URI this server offers; nothing may ever fetch it.
CALLBACK_PATH = "/cb"

# Kinds of configured page.
REDIRECT_302 = "redirect-302"  # the server answers 302 with the target as Location
SCRIPT = "script"  # the page sets location.href to the target once loaded
IMAGE = "image"  # the page holds <img src=target>
IFRAME = "iframe"  # the page holds <iframe src=target>
NEVER = "never"  # a page that never leaves
LATE = "late"  # the page sends a beacon after a delay, then sets location.href to the target
CUSTOM = "custom"  # the page is the given HTML, sent with the given extra headers after delay_ms

_SIGN_IN_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Provider sign-in</title>
<style>
  body {{ font: 16px sans-serif; margin: 40px; }}
  input, button {{ display: block; font-size: 18px; margin: 12px 0; width: 300px; height: 36px; }}
</style></head>
<body>
<h1>Sign in</h1>
<form method="post" action="/login">
  <input type="hidden" name="session" value="{session}">
  <label>User name <input id="username" name="username" type="text" autocomplete="off"{autofocus}></label>
  <label>Password <input id="password" name="password" type="password"></label>
  <button id="signin" type="submit" name="action" value="signin">Sign in</button>
  <button id="cancel" type="submit" name="action" value="cancel">Cancel</button>
</form>{ready_script}
</body></html>
"""

# With autofocus: tells the server, once, when what a person would wait for is there: the page
# has painted and the caret is in the user name field of a page that has the keyboard.
_READY_SCRIPT = """
<script>
  var ready = setInterval(function () {{
    if (!document.hasFocus() || document.activeElement.id !== "username") return;
    clearInterval(ready);
    requestAnimationFrame(function () {{ requestAnimationFrame(function () {{
      fetch("/beacon/ready-{session}", {{cache: "no-store"}});
    }}); }});
  }}, 20);
</script>"""

# The sign-in page as a provider that cares for keyboard and screen-reader users writes it: the
# user-name field has the focus when the page opens and "Cancel" is a link. The page reports
# where its focus is (document.hasFocus(), the focused element's id, whether it matches
# :focus-visible) to /focus/<session> when it opens and on every change of focus, so a test can
# see what the person sees without asking the engine.
_ACCESSIBLE_SIGN_IN_PAGE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Provider sign-in</title>
<style>
  body {{ font: 16px sans-serif; margin: 40px; }}
  input, button {{ display: block; font-size: 18px; margin: 12px 0; width: 300px; height: 36px; }}
</style></head>
<body>
<h1>Sign in</h1>
<form method="post" action="/login">
  <input type="hidden" name="session" value="{session}">
  <label>User name <input id="username" name="username" type="text" autocomplete="off"
    autofocus></label>
  <label>Password <input id="password" name="password" type="password"></label>
  <button id="signin" type="submit" name="action" value="signin">Sign in</button>
</form>
<p><a id="cancel" href="/cancel?session={session}">Cancel</a></p>
<script>
  var reports = 0;
  function report() {{
    var active = document.activeElement;
    var query = "n=" + (++reports) + "&has=" + (document.hasFocus() ? 1 : 0)
        + "&active=" + encodeURIComponent(active && active.id ? active.id : "")
        + "&visible=" + (active && active.matches(":focus-visible") ? 1 : 0);
    fetch("/focus/{session}?" + query, {{cache: "no-store"}});
  }}
  window.addEventListener("focus", report);
  window.addEventListener("blur", report);
  document.addEventListener("focusin", report);
  window.addEventListener("load", report);
</script>
</body></html>
"""

_PLAIN_PAGE = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>{title}</title></head>
<body><p>{title}</p>{body}</body></html>
"""


class Request:
    """One request as the server saw it."""

    def __init__(self, method, path, user_agent, form=None, accept_language=None):
        self.method = method
        self.path = path  # path and query, as in the request line
        self.user_agent = user_agent
        self.accept_language = accept_language
        self.form = form or {}
        self.time = time.monotonic()

    def __repr__(self):
        return "Request(%s %s)" % (self.method, self.path)


class Provider:
    """The server, started on a free loopback port in a thread; use it as a context manager.

    .origin is "http://127.0.0.1:PORT"; .callback is the http redirect URI on this server."""

    def __init__(self):
        self._lock = threading.Lock()
        self._changed = threading.Condition(self._lock)
        self._requests = []
        self._pages = {}
        self._sessions = {}
        self._counter = itertools.count(1)
        self.codes = []  # every authorisation code this provider has handed out
        self.users = {"alice.example": "correct horse 42"}
        self._server = None
        self._thread = None
        self.origin = None
        self.callback = None

    # -- life cycle --------------------------------------------------------------------------

    def __enter__(self):
        provider = self

        class Handler(_Handler):
            owner = provider

        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        port = self._server.server_address[1]
        self.origin = "http://127.0.0.1:%d" % port
        self.callback = self.origin + CALLBACK_PATH
        self._thread = pageserver.ServingThread(self._server, "provider")
        return self

    def __exit__(self, *exc):
        self._thread.stop()
        return False

    # -- what a test sets up -----------------------------------------------------------------

    def new_code(self, label="code"):
        """A fresh authorisation code, remembered so a test can look for leaks of it. It
        holds no characters that a URL would escape."""
        code = "%s-%s" % (label, secrets.token_hex(8))
        with self._lock:
            self.codes.append(code)
        return code

    def sign_in_url(self, redirect_uri, state, code_suffix="", autofocus=False,
                    accessible=False):
        """Opens a sign-in session and returns the URL of its sign-in page. A correct user
        name and password end it with a 302 to redirect_uri?code=<code><code_suffix>&state=..;
        "Cancel" ends it with a redirect carrying "error" and "error_subcode". The code is
        in .session_code(url). autofocus puts the caret in the user name field on load, as
        most providers do, so a person can type at once (see wait_ready). accessible=True
        serves instead the page with the focus in the user-name field, "Cancel" as a link and
        focus reports (see .focus_reports)."""
        session = "s%d" % next(self._counter)
        with self._lock:
            self._sessions[session] = {"redirect_uri": redirect_uri, "state": state,
                                       "code": None, "suffix": code_suffix,
                                       "autofocus": autofocus, "accessible": accessible}
        return "%s/login?session=%s" % (self.origin, session)

    def wait_ready(self, sign_in_url, timeout):
        """Waits until the autofocus sign-in page at sign_in_url has painted with the caret in
        its user name field and the keyboard on the page; AssertionError after timeout."""
        session = urllib.parse.parse_qs(urllib.parse.urlsplit(sign_in_url).query)["session"][0]
        return self.wait_for_request("/beacon/ready-" + session, timeout)

    def session_code(self, sign_in_url):
        """The code a sign-in session issued, or None if it has issued none."""
        session = urllib.parse.parse_qs(urllib.parse.urlsplit(sign_in_url).query)["session"][0]
        with self._lock:
            return self._sessions[session]["code"]

    def page(self, kind, target=None, delay_ms=0, html_text=None, headers=()):
        """Configures a page and returns its URL; the URL tells nothing of the target. A POST to
        the URL gets the same answer as a GET (a REDIRECT_302 page serves as a form's action).
        "{beacon}" in a CUSTOM page's html_text stands for this page's beacon path."""
        name = "p%d" % next(self._counter)
        with self._lock:
            self._pages[name] = {"kind": kind, "target": target, "delay_ms": delay_ms,
                                 "html": html_text, "headers": tuple(headers)}
        return "%s/page/%s" % (self.origin, name)

    def focus_reports(self, sign_in_url):
        """What an accessible sign-in page reported of its focus, in order: dicts with
        "has" (document.hasFocus()), "active" (the focused element's id) and "visible" (it
        matches :focus-visible); "has" and "visible" are bools."""
        session = urllib.parse.parse_qs(urllib.parse.urlsplit(sign_in_url).query)["session"][0]
        reports = []
        for r in self.requests_to("/focus/%s?" % session):
            query = urllib.parse.parse_qs(urllib.parse.urlsplit(r.path).query,
                                          keep_blank_values=True)
            reports.append((int(query["n"][0]),
                            {"has": query["has"][0] == "1", "active": query["active"][0],
                             "visible": query["visible"][0] == "1"}))
        # The page numbers its reports: the requests may overtake each other.
        return [report for _, report in sorted(reports, key=lambda item: item[0])]

    @staticmethod
    def beacon_path(page_url):
        """The path a LATE page requests when its timer fires, just before it redirects."""
        return "/beacon/" + page_url.rsplit("/", 1)[1]

    # -- what a test reads back --------------------------------------------------------------

    def requests(self):
        with self._lock:
            return list(self._requests)

    def paths(self):
        return [r.path for r in self.requests()]

    def requests_to(self, path_prefix):
        return [r for r in self.requests() if r.path.startswith(path_prefix)]

    def wait_for_request(self, path_prefix, timeout):
        """The first request whose path begins with path_prefix; AssertionError after timeout."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                for r in self._requests:
                    if r.path.startswith(path_prefix):
                        return r
                left = deadline - time.monotonic()
                if left <= 0:
                    raise AssertionError("the provider saw no request for %s within %.1f s; "
                                         "it saw %r" % (path_prefix, timeout, self._requests))
                self._changed.wait(left)

    # -- used by the handler -----------------------------------------------------------------

    def _record(self, request):
        with self._lock:
            self._requests.append(request)
            self._changed.notify_all()

    def _session(self, session):
        with self._lock:
            return self._sessions.get(session)

    def _issue_code(self, session):
        code = self.new_code("auth")
        with self._lock:
            self._sessions[session]["code"] = code
        return code

    def _page(self, name):
        with self._lock:
            return self._pages.get(name)


class _Handler(http.server.BaseHTTPRequestHandler):
    owner = None  # the Provider, set by a subclass
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    # -- answers -----------------------------------------------------------------------------

    def _send(self, status, body=b"", content_type="text/html; charset=utf-8", headers=()):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Cache-Control", "no-store")
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def _html(self, text):
        self._send(200, text.encode("utf-8"))

    def _redirect(self, location):
        self._send(302, headers=[("Location", location)])

    # -- requests ----------------------------------------------------------------------------

    def do_GET(self):
        self.owner._record(Request("GET", self.path, self.headers.get("User-Agent"),
                                   accept_language=self.headers.get("Accept-Language")))
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        if url.path == "/login":
            session = query.get("session", [""])[0]
            if self.owner._session(session) is None:
                self._send(404, b"no such session")
                return
            if self.owner._session(session)["accessible"]:
                self._html(_ACCESSIBLE_SIGN_IN_PAGE.format(session=html.escape(session)))
                return
            autofocus = self.owner._session(session)["autofocus"]
            ready = _READY_SCRIPT.format(session=html.escape(session)) if autofocus else ""
            self._html(_SIGN_IN_PAGE.format(session=html.escape(session),
                                            autofocus=" autofocus" if autofocus else "",
                                            ready_script=ready))
        elif url.path == "/cancel":
            session = self.owner._session(query.get("session", [""])[0])
            if session is None:
                self._send(404, b"no such session")
                return
            state = urllib.parse.quote(session["state"], safe="")
            self._redirect("%s?error=access_denied&error_subcode=cancel&state=%s"
                           % (session["redirect_uri"], state))
        elif url.path.startswith("/focus/"):
            self._send(204)
        elif url.path.startswith("/page/"):
            self._configured_page(url.path[len("/page/"):])
        elif url.path.startswith("/beacon/"):
            self._send(204)
        elif url.path == "/favicon.ico":
            self._send(404)
        else:
            # The redirect URI among them: a page that shows what it received, as a real
            # client's redirect page might. The tests require it is never fetched.
            self._html(_PLAIN_PAGE.format(title="Reached " + html.escape(url.path),
                                          body="<pre>%s</pre>" % html.escape(self.path)))

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length).decode("utf-8", "replace")
        form = {k: v[0] for k, v in urllib.parse.parse_qs(raw, keep_blank_values=True).items()}
        self.owner._record(Request("POST", self.path, self.headers.get("User-Agent"), form))
        path = urllib.parse.urlsplit(self.path).path
        if path.startswith("/page/"):
            self._configured_page(path[len("/page/"):])
            return
        if path != "/login":
            self._send(404)
            return
        session_id = form.get("session", "")
        session = self.owner._session(session_id)
        if session is None:
            self._send(404, b"no such session")
            return
        state = urllib.parse.quote(session["state"], safe="")
        if form.get("action") == "cancel":
            self._redirect("%s?error=access_denied&error_subcode=cancel&state=%s"
                           % (session["redirect_uri"], state))
            return
        if self.owner.users.get(form.get("username")) != form.get("password"):
            self._html(_PLAIN_PAGE.format(title="Wrong user name or password", body=""))
            return
        code = self.owner._issue_code(session_id)
        self._redirect("%s?code=%s%s&state=%s"
                       % (session["redirect_uri"], code, session["suffix"], state))

    def _configured_page(self, name):
        page = self.owner._page(name)
        if page is None:
            self._send(404)
            return
        kind, target = page["kind"], page["target"]
        if kind == REDIRECT_302:
            self._redirect(target)
        elif kind == SCRIPT:
            self._html(_PLAIN_PAGE.format(
                title="Leaving by script",
                body="<script>location.href = %s;</script>" % _js_string(target)))
        elif kind == IMAGE:
            self._html(_PLAIN_PAGE.format(
                title="An image", body='<img alt="" src="%s">' % html.escape(target)))
        elif kind == IFRAME:
            self._html(_PLAIN_PAGE.format(
                title="A frame", body='<iframe src="%s"></iframe>' % html.escape(target)))
        elif kind == NEVER:
            self._html(_PLAIN_PAGE.format(title="Nothing happens here", body=""))
        elif kind == LATE:
            # The beacon tells the test that the timer has fired; the navigation follows as
            # soon as the beacon has been answered.
            script = ("setTimeout(function () {"
                      " fetch(%s, {cache: 'no-store'}).finally(function () {"
                      " location.href = %s; }); }, %d);"
                      % (_js_string("/beacon/" + name), _js_string(target), page["delay_ms"]))
            self._html(_PLAIN_PAGE.format(title="Redirecting later",
                                          body="<script>%s</script>" % script))
        elif kind == CUSTOM:
            # A slow provider: the browser has nothing to show until the answer comes.
            time.sleep(page["delay_ms"] / 1000)
            text = page["html"].replace("{beacon}", "/beacon/" + name)
            self._send(200, text.encode("utf-8"), headers=page["headers"])
        else:
            self._send(500, b"unknown page kind")


def _js_string(text):
    """A JavaScript string literal for text that is safe inside a <script> element."""
    escaped = text.replace("\\", "\\\\").replace("'", "\\'").replace("<", "\\x3c")
    return "'" + escaped + "'"
