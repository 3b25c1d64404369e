"""Software rendering by default: the demo page looks the same as on the GL path, no GL driver
is loaded, a person types into it with a real X keyboard and the sign-in ends at the custom
scheme; a rendering choice made by the environment or by the engine's switches on the command
line is kept.

What ran is read from the programs themselves: Qt Quick names the scene graph backend it loads
(QSG_INFO=1), and the engine reports its GPU feature status over DevTools."""

import json
import os
import select
import subprocess
import time
import unittest
import urllib.parse
import urllib.request

from Xlib import X, display as xdisplay

import browser
import helperproc
import testenv
import xvfb
import xwindow

HERE = os.path.dirname(os.path.abspath(__file__))
PROVIDER = os.path.join(HERE, "..", "..", "..", "tools", "demo", "demo_provider.py")
REDIRECT_URI = "ms-appx-web://demo.example/signed-in"
TITLE = "Rendering"
SOFTWARE_BACKEND_LINE = "Loading backend software"
BACKGROUND = (0xee, 0xf1, 0xf5)  # the demo page's background colour

xserver = xvfb.SharedXServer()
setUpModule = xserver.start
tearDownModule = xserver.stop


class DemoProvider:
    """tools/demo/demo_provider.py on a free port; .authorize is the address it printed."""

    def __init__(self):
        self.process = subprocess.Popen(
            ["/usr/bin/python3", PROVIDER], stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL, start_new_session=True)
        ready = select.select([self.process.stdout], [], [], 15)[0]
        self.authorize = self.process.stdout.readline().decode().strip() if ready else ""
        if not self.authorize.startswith("http://127.0.0.1:"):
            self.stop()
            raise AssertionError("the demo provider did not start: %r" % self.authorize)

    def sign_in_url(self):
        return self.authorize + "?" + urllib.parse.urlencode(
            {"redirect_uri": REDIRECT_URI, "state": "rendering"})

    def stop(self):
        self.process.kill()
        self.process.wait(timeout=10)
        self.process.stdout.close()


def engine_switches(port):
    """The engine's command line as the engine itself reports it (the switches Qt built from
    ours and its own choices, such as --use-gl), from the DevTools endpoint's browser target."""
    with urllib.request.urlopen("http://127.0.0.1:%d/json/version" % port, timeout=5) as f:
        target = json.load(f)
    with browser.Page(target) as session:
        return session.call("SystemInfo.getInfo")["commandLine"].split()


def maps_gl_driver(pid):
    """True when the process has a Mesa GL driver mapped (GLX's vendor library or a DRI
    driver): the xcb platform loads one for OpenGL, with LLVM behind it."""
    with open("/proc/%d/maps" % pid) as f:
        return any("libGLX_mesa" in line or "_dri.so" in line for line in f)


def maps_vulkan_driver(pid):
    """True when the process has a Vulkan driver mapped, or LLVM, which Mesa's bring: Qt 6.8's
    engine asks Vulkan for the GPU's vendor as it starts, and the loader opens every driver
    installed, none of which ever unloads."""
    with open("/proc/%d/maps" % pid) as f:
        return any("libvulkan_" in line or "libLLVM" in line for line in f)


def capture(display_name, window_id):
    """(width, height, rows): the window's pixels as 32-bit rows, read from the X server."""
    connection = xdisplay.Display(display_name)
    try:
        window = connection.create_resource_object("window", window_id)
        geometry = window.get_geometry()
        image = window.get_image(0, 0, geometry.width, geometry.height, X.ZPixmap, 0xFFFFFFFF)
        data = image.data if isinstance(image.data, bytes) else image.data.encode("latin-1")
    finally:
        connection.close()
    stride = len(data) // geometry.height
    rows = [data[y * stride:y * stride + geometry.width * 4] for y in range(geometry.height)]
    return geometry.width, geometry.height, rows


def differing_pixels(a, b, tolerance=32):
    """How many pixels of two captures of one size differ by more than tolerance in a colour
    channel (small differences in blending between two paths are no difference to a person)."""
    count = 0
    for row_a, row_b in zip(a[2], b[2]):
        if row_a == row_b:
            continue
        for x in range(0, len(row_a), 4):
            if any(abs(row_a[x + c] - row_b[x + c]) > tolerance for c in range(3)):
                count += 1
    return count


def background_share(shot):
    """The share of pixels in the demo page's background colour (BGRX in memory)."""
    target = bytes((BACKGROUND[2], BACKGROUND[1], BACKGROUND[0]))
    total = hits = 0
    for row in shot[2][::8]:
        for x in range(0, len(row), 32):
            total += 1
            hits += row[x:x + 3] == target
    return hits / total if total else 0


def settled_capture(display_name, window_id, timeout=20):
    """A capture of the page once it is drawn and two captures 0.3 s apart agree (a caret may
    blink in between: a few pixels are allowed)."""
    deadline = time.monotonic() + timeout
    previous = None
    while True:
        shot = capture(display_name, window_id)
        pixels = shot[0] * shot[1]
        if (background_share(shot) > 0.3 and previous is not None
                and previous[:2] == shot[:2] and differing_pixels(previous, shot) < pixels // 500):
            return shot
        previous = shot
        if time.monotonic() >= deadline:
            raise AssertionError("the demo page did not settle on screen within %.0f s" % timeout)
        time.sleep(0.3)


def give_keyboard(window_id):
    """Sets the X input focus on the window, as a window manager does when it activates one."""
    connection = xdisplay.Display(xserver.display)
    try:
        connection.set_input_focus(window_id, X.RevertToParent, X.CurrentTime)
        connection.sync()
    finally:
        connection.close()


class RenderingTest(unittest.TestCase):
    def setUp(self):
        self.provider = DemoProvider()
        self.addCleanup(self.provider.stop)

    def start_helper(self, extra_env=None, extra_args=()):
        env = testenv.base_env(display=xserver.display)
        env["QSG_INFO"] = "1"
        env.update(extra_env or {})
        port = testenv.free_tcp_port()
        helper = helperproc.Helper(env=env, devtools_port=port,
                                   args=["--cmdInFd={in}", "--cmdOutFd={out}"] + list(extra_args))
        helper.start()
        self.addCleanup(helper.kill_all)
        helper.send({"jsonrpc": "2.0", "id": 1, "method": "navigate",
                     "params": {"url": self.provider.sign_in_url(), "redirect_uri": REDIRECT_URI,
                                "title": TITLE, "timeout_ms": 60000}})
        browser.wait_for_page(port, self.provider.authorize)
        with xwindow.Display(xserver.display) as windows:
            window_id = windows.wait_for_window(TITLE)
        return helper, port, window_id

    def focused_capture(self, port, window_id):
        """The page as it settles once its window has the keyboard (the field's focus ring
        drawn): both paths are captured in the same state."""
        give_keyboard(window_id)
        with browser.Page.open(port, self.provider.authorize) as page:
            page.wait_ready("#user")
            page.wait_for("document.hasFocus() && document.activeElement.id === 'user'")
        return settled_capture(xserver.display, window_id)

    def close_window(self, helper, window_id):
        """Closes the window as a window manager's close button does: the sign-in ends."""
        with xwindow.Display(xserver.display) as windows:
            windows.request_close(window_id)
        reply = helper.reply(timeout=20)
        self.assertEqual(reply.get("error", {}).get("message"), "user_cancelled", reply)

    def finish(self, helper):
        helper.send({"jsonrpc": "2.0", "id": 3, "method": "exit"})
        helper.close_input()
        self.assertEqual(helper.wait(20), 0, helper.stderr_text()[-2000:])

    def type_and_submit(self, helper, port, window_id):
        """Gives the window the keyboard as a window manager would, types a user name with
        XTEST keys (the page focuses the field itself) and presses Return."""
        with browser.Page.open(port, self.provider.authorize) as page:
            page.wait_ready("#user")
            for _ in range(5):
                give_keyboard(window_id)
                subprocess.run(["xdotool", "type", "--delay", "30", "demo"],
                               env=dict(os.environ, DISPLAY=xserver.display), check=True,
                               timeout=30)
                try:
                    page.wait_for("document.querySelector('#user').value === 'demo'", 3)
                    break
                except browser.DevToolsError:
                    pass  # keys dropped before the window had the keyboard: again
                page.evaluate("document.querySelector('#user').value = ''")
            else:
                self.fail("the keys never reached the page's field")
        subprocess.run(["xdotool", "key", "Return"], env=dict(os.environ, DISPLAY=xserver.display),
                       check=True, timeout=30)
        reply = helper.reply(timeout=30)
        self.assertRegex(reply.get("result", {}).get("redirect_url", ""),
                         r"^ms-appx-web://demo\.example/signed-in\?code=[\w-]+&state=rendering$",
                         reply)

    def test_demo_page_looks_the_same_in_software_and_a_person_signs_in(self):
        # The GL path, chosen the way a packager would: the helper must keep it.
        helper, port, window_id = self.start_helper({"QSG_RHI_BACKEND": "opengl"})
        gl_switches = engine_switches(port)
        self.assertTrue(maps_gl_driver(helper.pid))
        gl_shot = self.focused_capture(port, window_id)
        self.close_window(helper, window_id)
        self.finish(helper)
        self.assertNotIn(SOFTWARE_BACKEND_LINE, helper.stderr_text())
        self.assertNotIn("--disable-gpu", gl_switches)
        self.assertNotIn("--use-gl=disabled", gl_switches)

        helper, port, window_id = self.start_helper()
        switches = engine_switches(port)
        # Nothing draws with OpenGL or Vulkan, so no GL or Vulkan driver is loaded either.
        self.assertFalse(maps_gl_driver(helper.pid))
        self.assertFalse(maps_vulkan_driver(helper.pid))
        shot = self.focused_capture(port, window_id)
        self.assertIn(SOFTWARE_BACKEND_LINE, helper.stderr_text())
        # "--disable-gpu" reached the engine, which then turned its GL off.
        self.assertIn("--disable-gpu", switches)
        self.assertIn("--use-gl=disabled", switches)
        self.assertEqual(shot[:2], gl_shot[:2], "the window changed size")
        differing = differing_pixels(gl_shot, shot)
        testenv.figure("pixels differing between the GL and the software path: %d of %d"
                          % (differing, shot[0] * shot[1]))
        self.assertLess(differing, shot[0] * shot[1] // 500)
        self.type_and_submit(helper, port, window_id)
        self.finish(helper)

    def test_switches_in_the_flags_variable_keep_the_software_default(self):
        # The engine reads QTWEBENGINE_CHROMIUM_FLAGS alone once it is set (an administrator's
        # Kerberos allow-list, say): the helper's own switch goes there too.
        helper, port, window_id = self.start_helper(
            extra_env={"QTWEBENGINE_CHROMIUM_FLAGS": "--auth-server-allowlist=localhost"})
        switches = engine_switches(port)
        gl_driver = maps_gl_driver(helper.pid)
        self.close_window(helper, window_id)
        self.finish(helper)
        self.assertIn(SOFTWARE_BACKEND_LINE, helper.stderr_text())
        self.assertIn("--disable-gpu", switches)
        self.assertFalse(gl_driver)
        # In the spelling this engine reads, whichever that is.
        self.assertTrue({"--auth-server-allowlist=localhost",
                         "--auth-server-whitelist=localhost"} & set(switches), switches)

    def test_gpu_switch_on_the_command_line_is_kept(self):
        helper, port, window_id = self.start_helper(extra_args=["--webEngineArgs",
                                                                "--ignore-gpu-blocklist"])
        switches = engine_switches(port)
        self.close_window(helper, window_id)
        self.finish(helper)
        self.assertNotIn(SOFTWARE_BACKEND_LINE, helper.stderr_text())
        self.assertIn("--ignore-gpu-blocklist", switches)
        self.assertNotIn("--disable-gpu", switches)
        self.assertNotIn("--use-gl=disabled", switches)


if __name__ == "__main__":
    unittest.main()
