#!/usr/bin/python3
"""A demo identity provider for corvane-tavisk, on the loopback interface only.

GET /authorize?redirect_uri=URI&state=S shows a sign-in page: user name, password and a Sign in
button (and Cancel). Posting it is answered by a 302 redirect to URI with "code" and "state"
added to its query, which is where the helper catches the sign-in; Cancel redirects with
"error=access_denied&error_subcode=cancel" instead. Any user name and password are accepted.

With --auto-submit the page fills itself in and submits itself after a moment, for runs with no
person at the display; it sends what the browser runs on along (navigator.platform, and the
processor from the client hints), which the log line of the sign-in shows.

When it is ready it prints the address of its sign-in page, one line on standard output, and
then serves until it is stopped. It logs one line per request on standard error.
Standard library only.
"""

import argparse
import html
import http.server
import secrets
import sys
import urllib.parse

PAGE = """<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Demo provider: sign in</title>
<style>
  body {{ font-family: sans-serif; background: #eef1f5; margin: 0; }}
  main {{ max-width: 22em; margin: 4em auto; background: #fff; padding: 2em;
          border-radius: 8px; box-shadow: 0 2px 8px rgba(0, 0, 0, .15); }}
  h1 {{ font-size: 1.3em; margin-top: 0; }}
  label {{ display: block; margin: 1em 0 .3em; }}
  input[type=text], input[type=password] {{ width: 100%; box-sizing: border-box;
          padding: .5em; font-size: 1em; }}
  .buttons {{ margin-top: 1.5em; display: flex; gap: .5em; }}
  button {{ padding: .5em 1.2em; font-size: 1em; }}
  .note {{ color: #555; font-size: .9em; }}
  .problem {{ color: #b00; }}
</style>
</head>
<body>
<main>
<h1>Sign in to the demo provider</h1>
<p class="note">Any user name and password will do.</p>
{problem}
<form id="signin" method="post" action="/authorize">
  <input type="hidden" name="redirect_uri" value="{redirect_uri}">
  <input type="hidden" name="state" value="{state}">
  <input type="hidden" name="platform" id="platform">
  <label for="user">User name</label>
  <input type="text" id="user" name="user" autocomplete="username" autofocus>
  <label for="password">Password</label>
  <input type="password" id="password" name="password" autocomplete="current-password">
  <div class="buttons">
    <button type="submit" id="submit" name="action" value="signin">Sign in</button>
    <button type="submit" id="cancel" name="action" value="cancel">Cancel</button>
  </div>
</form>
{auto}
</main>
</body>
</html>
"""

AUTO_SUBMIT = """<p class="note" id="auto">No one is at this display: this page fills itself in
and signs in by itself in a moment.</p>
<script>
// What the page runs on: navigator.platform, and the processor family and width from the user
// agent's client hints (the engine of Qt 6.8 reports "Linux x86_64" as the platform everywhere).
function submit(platform) {
  document.getElementById("platform").value = platform;
  document.getElementById("user").value = "demo";
  document.getElementById("password").value = "demo";
  document.getElementById("submit").click();
}
setTimeout(function () {
  var hints = navigator.userAgentData;
  if (!hints || !hints.getHighEntropyValues) {
    submit(navigator.platform);
    return;
  }
  hints.getHighEntropyValues(["architecture", "bitness"]).then(function (values) {
    // Qt 6.4's engine answers with empty values.
    submit(navigator.platform + (values.architecture
        ? ", " + values.architecture + " " + values.bitness + "-bit" : ""));
  }, function () { submit(navigator.platform); });
}, %d);
</script>
"""


def log(text):
    print("provider: " + text, file=sys.stderr, flush=True)


def with_query(uri, pairs):
    """uri with pairs appended to its query (before any fragment)."""
    base, hash_mark, fragment = uri.partition("#")
    separator = "&" if "?" in base else "?"
    return base + separator + urllib.parse.urlencode(pairs) + hash_mark + fragment


def make_handler(auto_submit_ms):
    class Handler(http.server.BaseHTTPRequestHandler):
        server_version = "DemoProvider/1.0"

        def send_page(self, status, body):
            data = body.encode("utf-8")
            self.send_response(status)
            self.send_header("Content-Type", "text/html; charset=utf-8")
            self.send_header("Content-Length", str(len(data)))
            self.send_header("Cache-Control", "no-store")
            self.end_headers()
            self.wfile.write(data)

        def sign_in_page(self, redirect_uri, state, problem=""):
            auto = AUTO_SUBMIT % auto_submit_ms if auto_submit_ms is not None else ""
            return PAGE.format(
                redirect_uri=html.escape(redirect_uri, quote=True),
                state=html.escape(state, quote=True),
                problem='<p class="problem">%s</p>' % html.escape(problem) if problem else "",
                auto=auto)

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            if url.path != "/authorize":
                self.send_page(404, "<!DOCTYPE html><title>Not found</title><p>Not found.</p>")
                return
            query = urllib.parse.parse_qs(url.query)
            redirect_uri = query.get("redirect_uri", [""])[0]
            state = query.get("state", [""])[0]
            if not redirect_uri:
                self.send_page(400, "<!DOCTYPE html><title>Bad request</title>"
                                    "<p>The request names no redirect_uri.</p>")
                return
            log("sign-in page shown")
            self.send_page(200, self.sign_in_page(redirect_uri, state))

        def do_POST(self):
            if urllib.parse.urlsplit(self.path).path != "/authorize":
                self.send_page(404, "<!DOCTYPE html><title>Not found</title><p>Not found.</p>")
                return
            length = int(self.headers.get("Content-Length") or 0)
            form = urllib.parse.parse_qs(self.rfile.read(length).decode("utf-8", "replace"))
            field = lambda name: form.get(name, [""])[0]
            redirect_uri, state = field("redirect_uri"), field("state")
            if not redirect_uri:
                self.send_page(400, "<!DOCTYPE html><title>Bad request</title>"
                                    "<p>The form names no redirect_uri.</p>")
                return
            if field("action") == "cancel":
                log("the user cancelled; redirecting with an error")
                location = with_query(redirect_uri, [("error", "access_denied"),
                                                     ("error_subcode", "cancel"),
                                                     ("state", state)])
            elif not field("user"):
                self.send_page(200, self.sign_in_page(redirect_uri, state,
                                                      "Enter a user name."))
                return
            else:
                # The page that signed in by itself says what it ran on (the cross-built
                # packages' check looks for the emulated renderer's "arm 64-bit").
                on = " (page on %s)" % field("platform") if field("platform") else ""
                log("signed in %r%s; redirecting with a code" % (field("user"), on))
                location = with_query(redirect_uri, [("code", secrets.token_urlsafe(12)),
                                                     ("state", state)])
            self.send_response(302)
            self.send_header("Location", location)
            self.send_header("Content-Length", "0")
            self.end_headers()

        def log_message(self, *args):
            pass  # one line per event is logged by the handlers themselves

    return Handler


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--port", type=int, default=0,
                        help="TCP port on 127.0.0.1 (default: any free one)")
    parser.add_argument("--auto-submit", action="store_true",
                        help="the page fills itself in and submits itself after a moment")
    parser.add_argument("--auto-submit-delay-ms", type=int, default=1500, metavar="MS",
                        help="how long the page waits before it submits itself (default 1500)")
    args = parser.parse_args()

    delay = args.auto_submit_delay_ms if args.auto_submit else None
    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), make_handler(delay))
    server.daemon_threads = True
    print("http://127.0.0.1:%d/authorize" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
