"""What a sign-in page cannot do, in a real Qt WebEngine under Xvfb: reach a server whose
certificate is not trusted for it, leave the web for local files or the engine's own pages, save
a download, leave anything behind for the next run, or take over the window. Every test ends with
the checks of SignInFixture.assert_clean: the redirect URI never fetched, no code on standard
output or error or in any file, exit status 0."""

import os
import tempfile
import time
import unittest
import urllib.parse

import browser
import testenv
import provider as idp
import tlsserver
from signinfixture import (APP_REDIRECT, LOADED, SignInFixture, error_raw,
                           failure_raw, ok_raw)

# Folders under XDG_CACHE_HOME where Mesa and Qt keep compiled shaders while a page renders.
SHADER_CACHES = ("mesa_shader_cache" + os.sep, "qtshadercache-")

# How long a test watches for something that must not happen once its cause has been seen.
QUIET_SECONDS = 0.8


def script_page(script, body="", title="Guards"):
    return ("<!DOCTYPE html><html><head><meta charset='utf-8'><title>%s</title></head>"
            "<body><h1>%s</h1>%s<script>%s</script></body></html>" % (title, title, body, script))


def js(text):
    return "'" + text.replace("\\", "\\\\").replace("'", "\\'") + "'"


def loaded_lines(helper):
    return [line[len("[tavisk] loaded "):] for line in helper.stdout_lines
            if LOADED.match(line)]


class PageGuardTest(SignInFixture):
    def file_holding(self, marker):
        """Paths of the files in the helper's private folders that hold marker."""
        found = []
        for path in self.files_written():
            try:
                with open(path, "rb") as f:
                    if marker.encode() in f.read():
                        found.append(path)
            except OSError:
                pass  # gone meanwhile
        return found

    def test_a_server_without_a_trusted_certificate_is_never_asked(self):
        folder = self.enterContext(tempfile.TemporaryDirectory())
        authority = tlsserver.Authority(folder)
        self.make_private_folders()
        authority.trust_in(self.private_dirs[1])
        port = testenv.free_tcp_port()
        helper = self.start_helper(devtools_port=port, same_folders=True)

        # The authority is trusted: a page it vouches for loads, so the refusals below are the
        # certificates' doing.
        code = self.provider.new_code("tls")
        leaving = script_page("location.href = %s;" % js(APP_REDIRECT + "?code=" + code))
        with tlsserver.TlsServer(*authority.issue("right", ["127.0.0.1"]), leaving) as server:
            self.navigate(helper, 1, server.url("/start"), "Trusted", redirect_uri=APP_REDIRECT)
            self.assert_reply(helper, ok_raw(1, APP_REDIRECT + "?code=" + code))
            self.assertIn("GET /start HTTP/1.1", server.request_lines)

        cases = (
            ("self-signed", tlsserver.self_signed(folder, "self", ["127.0.0.1"]),
             "ERR_CERT_AUTHORITY_INVALID"),
            ("issued for another host", authority.issue("wrong", ["wrong.example"]),
             "ERR_CERT_COMMON_NAME_INVALID"),
        )
        for request_id, (label, (cert, key), error) in enumerate(cases, start=2):
            with self.subTest(label), tlsserver.TlsServer(cert, key, leaving) as server:
                self.navigate(helper, request_id, server.url("/start"), "Untrusted",
                              redirect_uri=APP_REDIRECT, timeout_ms=120000)
                # Answered at once; the page goes with its sign-in, so nothing is left on which
                # a person could follow a link, type the engine's bypass word or reload.
                self.assert_reply(helper, failure_raw(request_id, "certificate_error",
                                                      "127.0.0.1", error))
                self.assertGreaterEqual(server.connections, 1)
                self.assertTrue(testenv.wait_until(lambda: not any(
                    server.url() in t.get("url", "") for t in browser.page_targets(port)), 10),
                    browser.page_targets(port))
                self.assertEqual(server.request_lines, [], "a page was requested")
        self.assert_clean(helper)

    def test_local_files_and_engine_pages_stay_out_of_reach(self):
        port = testenv.free_tcp_port()
        helper = self.start_helper(devtools_port=port)
        folder = self.enterContext(tempfile.TemporaryDirectory())
        secret = self.provider.new_code("local")
        # The page looks for the secret in two halves, so that its own script never holds it.
        halves = js(secret[:8]) + " + " + js(secret[8:])
        local = os.path.join(folder, "local.html")
        with open(local, "w") as f:
            f.write("<html><body>%s</body></html>" % secret)
        hidden = self.provider.page(idp.CUSTOM, html_text="<p>%s</p>" % secret)
        targets = (
            ("file:", "file://" + local),
            ("view-source:", "view-source:" + hidden),
            ("chrome:", "chrome://version/"),
            ("data:", "data:text/html,<title>Data</title><p>%s</p>" % secret),
        )
        request_id = 0
        for scheme, target in targets:
            request_id += 1
            with self.subTest(scheme=scheme, way="script"):
                # The page asks for the target, then reports where it still is and what it
                # shows; had the navigation gone ahead, its script would be gone and nothing
                # would report.
                code = self.provider.new_code("stayed")
                attempt = self.provider.page(idp.CUSTOM, html_text=script_page(
                    "location.href = %s; setTimeout(function () { location.href = %s"
                    " + location.protocol + '&shown='"
                    " + (document.body.innerText.indexOf(%s) < 0 ? 'none' : 'secret');"
                    " }, 600);" % (js(target), js(APP_REDIRECT + "?code=" + code + "&at="),
                                   halves)))
                self.navigate(helper, request_id, attempt, "Local", redirect_uri=APP_REDIRECT,
                              timeout_ms=8000)
                self.assert_reply(helper, ok_raw(request_id, "%s?code=%s&at=http:&shown=none"
                                                 % (APP_REDIRECT, code)), timeout=20)
            request_id += 1
            with self.subTest(scheme=scheme, way="302"):
                # The provider's answer redirects there: the engine shows its error page,
                # never the target.
                start = self.provider.page(idp.REDIRECT_302, target)
                self.navigate(helper, request_id, start, "Redirected", timeout_ms=20000)
                self.assertTrue(helper.wait_stdout(
                    lambda lines: any(start in line for line in lines), 20))
                with browser.Page(browser.wait_for_page(port, ""), url_prefix="") as page:
                    page.wait_for("document.readyState === 'complete'")
                    self.assertFalse(page.evaluate("location.href").startswith(scheme))
                    self.assertFalse(page.evaluate(
                        "document.documentElement.innerText.indexOf(%s) >= 0" % halves))
                self.display.request_close(self.display.wait_for_window("Redirected"))
                self.assert_reply(helper, error_raw(request_id, "user_cancelled"))
        for url in loaded_lines(helper):
            self.assertTrue(url.startswith(self.provider.origin), url)
        hidden_path = urllib.parse.urlsplit(hidden).path
        self.assertNotIn(hidden_path, self.provider.paths())
        self.assert_clean(helper)  # the secret nowhere in the output or in any file

    def test_downloads_write_nothing(self):
        port = testenv.free_tcp_port()
        helper = self.start_helper(devtools_port=port)
        marker = self.provider.new_code("download")
        attachment = [("Content-Disposition", 'attachment; filename="notes.txt"')]
        saved = self.provider.page(idp.CUSTOM, html_text=marker, headers=attachment)
        served = self.provider.page(idp.CUSTOM, html_text=marker, headers=attachment)
        page_url = self.provider.page(idp.CUSTOM, html_text=script_page(
            "", body="<p><a id='save' download='notes.txt' href='%s'>Save the notes</a></p>"
            % saved))
        self.navigate(helper, 1, page_url, "Downloads", timeout_ms=30000)
        with browser.Page.open(port, page_url) as page:
            page.wait_ready("#save")
            before = set(self.files_written())
            page.click("#save")
            self.provider.wait_for_request(urllib.parse.urlsplit(saved).path, 10)
            # A response the server marks as an attachment, as the page's own navigation.
            page.evaluate("location.href = %s; true" % js(served))
            self.provider.wait_for_request(urllib.parse.urlsplit(served).path, 10)
            time.sleep(QUIET_SECONDS)
            page.wait_for("location.href === %s" % js(page_url))
        self.assertEqual(self.file_holding(marker), [])
        new = sorted(set(self.files_written()) - before)
        # The only files that may appear meanwhile are the graphics stack's shader caches.
        cache = os.path.join(self.private_dirs[1], "cache") + os.sep
        self.assertEqual([p for p in new if not p.startswith(cache)
                          or not p[len(cache):].startswith(SHADER_CACHES)], [])
        self.display.request_close(self.display.wait_for_window("Downloads"))
        self.assert_reply(helper, error_raw(1, "user_cancelled"))
        self.assert_clean(helper)

    def test_nothing_persists_from_one_run_to_the_next(self):
        # Markers are provider codes: assert_clean then also shows that none reached a file.
        cookie, script_cookie, stored, indexed = (self.provider.new_code(label) for label in
                                                 ("cookie", "jscookie", "local", "indexed"))
        storing = self.provider.page(
            idp.CUSTOM, headers=[("Set-Cookie", "server=%s; Max-Age=86400; Path=/" % cookie)],
            html_text=script_page(
                "document.cookie = 'script=%s; max-age=86400; path=/';"
                "localStorage.setItem('stored', %s);"
                "var open = indexedDB.open('guards', 1);"
                "open.onupgradeneeded = function () { open.result.createObjectStore('kept'); };"
                "open.onsuccess = function () {"
                " var tx = open.result.transaction('kept', 'readwrite');"
                " tx.objectStore('kept').put(%s, 'value');"
                " tx.oncomplete = function () { location.href = %s; }; };"
                % (script_cookie, js(stored), js(indexed), js(APP_REDIRECT + "?stored=1"))))
        # What a page of the same origin sees, reported in its redirect URL.
        seeing = self.provider.page(idp.CUSTOM, html_text=script_page(
            "function report(idb) { location.href = %s + '?cookie=' +"
            " encodeURIComponent(document.cookie) + '&local=' + localStorage.getItem('stored')"
            " + '&idb=' + idb; }"
            "var open = indexedDB.open('guards');"
            "open.onupgradeneeded = function () { open.transaction.abort(); };"
            "open.onerror = function () { report('none'); };"
            "open.onsuccess = function () {"
            " var get = open.result.transaction('kept').objectStore('kept').get('value');"
            " get.onsuccess = function () { report(get.result); }; };" % js(APP_REDIRECT)))

        helper = self.start_helper()
        self.navigate(helper, 1, storing, "Storing", redirect_uri=APP_REDIRECT)
        self.assert_reply(helper, ok_raw(1, APP_REDIRECT + "?stored=1"))
        # Within the run the page's state is there: the report can see it.
        self.navigate(helper, 2, seeing, "Seeing", redirect_uri=APP_REDIRECT)
        self.assert_reply(helper, ok_raw(2, "%s?cookie=%s&local=%s&idb=%s" % (
            APP_REDIRECT, "server%%3D%s%%3B script%%3D%s" % (cookie, script_cookie), stored,
            indexed)))
        self.assert_clean(helper)

        # A new run in the same home and runtime folders starts with none of it.
        helper = self.start_helper(same_folders=True)
        self.navigate(helper, 1, seeing, "Seeing again", redirect_uri=APP_REDIRECT)
        self.assert_reply(helper, ok_raw(1, APP_REDIRECT + "?cookie=&local=null&idb=none"))
        self.assert_clean(helper)

    def test_a_page_cannot_take_over_the_window(self):
        port = testenv.free_tcp_port()
        helper = self.start_helper(devtools_port=port)
        grabbing = (
            "document.title = 'Renamed by the page';"
            "window.resizeTo(300, 200); window.moveTo(400, 300);"
            "window.resizeBy(150, 150); window.moveBy(50, 50);")
        page_url = self.provider.page(idp.CUSTOM, html_text=script_page(
            grabbing + "fetch('{beacon}');"
            "document.getElementById('full').addEventListener('click', function () {"
            + grabbing + "document.documentElement.requestFullscreen().then("
            " function () { window.outcome = 'fullscreen'; },"
            " function () { window.outcome = 'refused'; }); });",
            body="<button id='full' style='width: 300px; height: 60px'>Full screen</button>"))
        self.navigate(helper, 1, page_url, "Window guards", timeout_ms=30000)
        window = self.display.wait_for_window("Window guards")
        position = self.display.position(window)
        self.assertNotIn(position, ((400, 300), (450, 350)), "the page moved the window")
        self.provider.wait_for_request(self.provider.beacon_path(page_url), 20)
        with browser.Page.open(port, page_url) as page:
            page.click("#full")
            # With a person's click behind it the page asks again, for full screen too.
            self.assertEqual(page.wait_for("window.outcome"), "refused")
            self.assertEqual(page.evaluate("document.title"), "Renamed by the page")
            self.assertIsNone(page.evaluate("document.fullscreenElement"))
            deadline = time.monotonic() + QUIET_SECONDS
            while time.monotonic() < deadline:
                self.assertEqual(self.display.find("Window guards"), [window])
                self.assertEqual(self.display.geometry(window), (800, 600))
                self.assertEqual(self.display.position(window), position)
                time.sleep(0.1)
        self.display.request_close(window)
        self.assert_reply(helper, error_raw(1, "user_cancelled"))
        self.assert_clean(helper)


if __name__ == "__main__":
    unittest.main()
