"""The client library's examples, built against the shared library as a client would build
them: a blocking C program and a Qt program that runs the sign-in from its event loop. Each
finds the helper as the library does when given no path: beside the program, else on PATH."""

import os
import shutil
import subprocess
import tempfile
import unittest

import pageserver
import proctree
import testenv
import xvfb

HERE = os.path.dirname(os.path.abspath(__file__))
FAKE_HELPER = os.path.join(HERE, "..", "client", "fakehelper.py")
SOURCE_DIR = os.path.join(HERE, "..", "..", "..")
REDIRECT_URI = "http://127.0.0.1:9/done"
RUN_TIMEOUT = 60


def example(name):
    path = os.environ.get(name)
    if not path or not os.access(path, os.X_OK):
        raise AssertionError("%s is not set to an executable: %r" % (name, path))
    return path


def run(program, url, env):
    """Runs an example to its end: (status, stdout, stderr); nothing it started may outlive it."""
    process = subprocess.Popen([program, url, REDIRECT_URI], env=env, stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               start_new_session=True)
    try:
        out, err = process.communicate(timeout=RUN_TIMEOUT)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, 9)
        process.communicate()
        raise AssertionError("%s did not finish within %d s" % (program, RUN_TIMEOUT))
    leftovers = testenv.wait_until(
        lambda: not proctree.group_members(process.pid), 5) is None
    if leftovers:
        os.killpg(process.pid, 9)
    if leftovers:
        raise AssertionError("the helper or its engine outlived %s" % program)
    return process.returncode, out.decode(), err.decode()


class RealHelperTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.xserver = xvfb.XServer().__enter__()
        cls.addClassCleanup(cls.xserver.__exit__, None, None, None)
        cls.pages = pageserver.PageServer({
            "/signin": ("redirect", REDIRECT_URI + "?code=c%2F1&state=s"),
            "/refuse": ("redirect", REDIRECT_URI + "?error=access_denied&error_subcode=cancel"),
            # A sign-in that lasts at least 400 ms whatever the helper's speed, so that a
            # running event loop shows in the example's heartbeat.
            "/slow": b"<!DOCTYPE html><p>Signing in...</p><script>setTimeout(function () {"
                     b" location.href = '/signin'; }, 400);</script>",
        }).__enter__()
        cls.addClassCleanup(cls.pages.__exit__, None, None, None)
        cls.env = testenv.base_env(display=cls.xserver.display)
        # The examples sit in the build tree with no helper beside them: PATH finds it.
        cls.env["PATH"] = os.path.dirname(testenv.binary_path()) + ":" + cls.env["PATH"]

    def test_qt_example_signs_in_while_its_event_loop_runs(self):
        status, out, err = run(example("TAVISK_EXAMPLE_QT"), self.pages.url("/slow"),
                               self.env)
        self.assertEqual((status, out), (0, REDIRECT_URI + "?code=c%2F1&state=s\n"), err)
        # Its 50 ms heartbeat kept beating while the helper started and the page loaded.
        turns = int(err.rsplit("event loop turns during the sign-in: ", 1)[1].split()[0])
        self.assertGreaterEqual(turns, 3, err)

    def test_c_example_reports_the_providers_error(self):
        status, out, err = run(example("TAVISK_EXAMPLE_C"), self.pages.url("/refuse"), self.env)
        self.assertEqual((status, out), (2, ""), err)
        # The helper shares the example's standard error, and its "[tavisk] loaded" line for
        # the refused page may come before or after the example's message.
        own = [line for line in err.splitlines() if not line.startswith("[tavisk] ")]
        self.assertEqual(own[-1:], ["access_denied: cancel"], err)

    def test_c_example_signs_in(self):
        status, out, err = run(example("TAVISK_EXAMPLE_C"), self.pages.url("/signin"), self.env)
        self.assertEqual((status, out), (0, REDIRECT_URI + "?code=c%2F1&state=s\n"), err)


class DocumentedExampleTest(unittest.TestCase):
    def test_the_documents_show_the_example_that_is_tested(self):
        with open(os.path.join(SOURCE_DIR, "clientlib", "examples", "signin.c")) as f:
            source = f.read()
        code = source[source.index("*/\n") + 3:]
        for document in ["README.md", os.path.join("docs", "client-library.md")]:
            with self.subTest(document):
                with open(os.path.join(SOURCE_DIR, document)) as f:
                    text = f.read()
                block = text[text.index("```c\n") + 5:]
                self.assertEqual(block[:block.index("```")], code)


class DyingHelperTest(unittest.TestCase):
    def test_qt_example_reports_the_helpers_death(self):
        folder = tempfile.mkdtemp(prefix="tavisk-examples-")
        self.addCleanup(shutil.rmtree, folder, True)
        os.symlink(os.path.abspath(FAKE_HELPER), os.path.join(folder, "corvane-tavisk"))
        env = dict(os.environ, PATH=folder + ":/usr/bin:/bin",
                   FAKE_HELPER_MODE="killed-on-navigate")
        status, out, err = run(example("TAVISK_EXAMPLE_QT"), "http://127.0.0.1:9/", env)
        self.assertEqual((status, out), (3, ""), err)
        self.assertIn("helper ended: the helper ended before it answered navigate "
                      "(killed by signal 9 (Killed))\n", err)


if __name__ == "__main__":
    unittest.main()
