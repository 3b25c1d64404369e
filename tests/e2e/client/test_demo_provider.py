"""The bundled demo provider: its sign-in page and its answers, and the whole demo sign-in
(provider, client and the real helper under Xvfb, the page submitting itself) as
scripts/demo.sh runs it."""

import http.client
import os
import select
import subprocess
import unittest
import urllib.parse

import testenv
import xvfb
from test_client import Run

HERE = os.path.dirname(os.path.abspath(__file__))
PROVIDER = os.path.join(HERE, "..", "..", "..", "tools", "demo", "demo_provider.py")
REDIRECT_URI = "ms-appx-web://demo.example/signed-in"


class Provider:
    """The demo provider on a free port; .authorize is the address it printed."""

    def __init__(self, *args):
        self.process = subprocess.Popen(
            ["/usr/bin/python3", PROVIDER] + list(args), stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)
        # It prints its address only once it is listening; a bounded wait for that line.
        ready = testenv.wait_until(
            lambda: self.process.poll() is not None or self._readable(), 15)
        self.authorize = self.process.stdout.readline().decode().strip() if ready else ""
        if not self.authorize.startswith("http://127.0.0.1:"):
            self.stop()
            raise AssertionError("the demo provider did not start: %r" % self.authorize)
        url = urllib.parse.urlsplit(self.authorize)
        self.port, self.path = url.port, url.path

    def _readable(self):
        return bool(select.select([self.process.stdout], [], [], 0)[0])

    def stop(self):
        self.process.kill()
        self.process.wait(timeout=10)
        self.process.stdout.close()

    def request(self, method, path, body=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=10)
        headers = {"Content-Type": "application/x-www-form-urlencoded"} if body else {}
        connection.request(method, path, body=body, headers=headers)
        response = connection.getresponse()
        result = response.status, response.getheader("Location"), response.read().decode()
        connection.close()
        return result


class ProviderAnswersTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.provider = Provider()
        cls.addClassCleanup(cls.provider.stop)

    def post(self, **fields):
        return self.provider.request("POST", self.provider.path,
                                     urllib.parse.urlencode(fields))

    def test_sign_in_page(self):
        query = urllib.parse.urlencode({"redirect_uri": REDIRECT_URI, "state": "s\"<1>"})
        status, _, page = self.provider.request("GET", self.provider.path + "?" + query)
        self.assertEqual(status, 200)
        for part in ['id="user"', 'id="password"', ">Sign in<", 'value="s&quot;&lt;1&gt;"']:
            self.assertIn(part, page)
        self.assertNotIn("<script>", page, "it submits itself only with --auto-submit")

    def test_answers(self):
        cases = {
            "signed in": (dict(redirect_uri=REDIRECT_URI, state="st", user="u", password="p",
                               action="signin"), 302, {"code", "state"}),
            "cancelled": (dict(redirect_uri=REDIRECT_URI + "?keep=1", state="st",
                               action="cancel"),
                          302, {"keep", "error", "error_subcode", "state"}),
            "no user name": (dict(redirect_uri=REDIRECT_URI, state="st", action="signin"), 200,
                             None),
            "no redirect URI": (dict(state="st", user="u", action="signin"), 400, None),
        }
        for name, (fields, expected_status, keys) in cases.items():
            with self.subTest(name):
                status, location, _ = self.post(**fields)
                self.assertEqual(status, expected_status)
                if keys is None:
                    self.assertIsNone(location)
                    continue
                self.assertTrue(location.startswith(fields["redirect_uri"]), location)
                query = urllib.parse.parse_qs(urllib.parse.urlsplit(location).query)
                self.assertEqual(set(query), keys)
                self.assertEqual(query["state"], ["st"])
                if "error" in query:
                    self.assertEqual((query["error"], query["error_subcode"]),
                                     (["access_denied"], ["cancel"]))


class DemoSignInTest(unittest.TestCase):
    def test_page_that_submits_itself_signs_in_through_the_client(self):
        provider = Provider("--auto-submit", "--auto-submit-delay-ms", "300")
        self.addCleanup(provider.stop)
        with xvfb.XServer() as xserver:
            url = provider.authorize + "?" + urllib.parse.urlencode(
                {"redirect_uri": REDIRECT_URI, "state": "demo-state"})
            run = Run(["--helper", testenv.binary_path(), "--url", url,
                       "--redirect-uri", REDIRECT_URI, "--timeout-ms", "60000"],
                      env=testenv.base_env(display=xserver.display))
        self.assertEqual(run.status, 0, run)
        self.assertRegex(run.stdout,
                         r"^ms-appx-web://demo\.example/signed-in\?code=[\w-]+&state=demo-state\n$")
        self.assertFalse(run.leftovers)


if __name__ == "__main__":
    unittest.main()
