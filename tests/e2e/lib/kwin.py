"""KDE's compositor for the process tests: kwin_wayland on a virtual output with Xwayland, started
by the test in its own runtime folder with a private session bus.

A person's hands are KWin's fake-input Wayland interface (keys and pointer go through KWin's
own input path, shortcuts included); what KWin knows about its windows (which is active, which
is full-screen, which is transient for which, their stacking) is read by a KWin script loaded
over D-Bus, whose print() lines KWin writes to its log.
"""

import itertools
import json
import os
import socket
import struct
import subprocess

import compositor
import desktop

# fake-input requests (org_kde_kwin_fake_input, KWin's protocol XML)
_FAKE_AUTHENTICATE, _FAKE_POINTER_MOTION, _FAKE_BUTTON = 0, 1, 2
_FAKE_POINTER_MOTION_ABSOLUTE, _FAKE_KEYBOARD_KEY = 9, 10

# Reports each window as one JSON line tagged with the query's token. KWin 5 names windows
# "clients"; KWin 6 has workspace.windowList() and workspace.stackingOrder.
_FACTS_SCRIPT = """\
var windows = workspace.windowList ? workspace.windowList() : workspace.clientList();
var active = workspace.activeWindow !== undefined ? workspace.activeWindow
                                                  : workspace.activeClient;
var order = workspace.stackingOrder;
print("%(token)s " + JSON.stringify(windows.map(function (w) {
    var frame = w.frameGeometry, client = w.clientGeometry || w.bufferGeometry;
    return {caption: w.caption, active: w === active, fullScreen: w.fullScreen,
            frame: [frame.x, frame.y, frame.width, frame.height],
            client: [client.x, client.y, client.width, client.height],
            normal: w.normalWindow, transientFor: w.transientFor ? w.transientFor.caption : null,
            stacking: order ? order.indexOf(w) : w.stackingOrder};
})));
"""


def available():
    return compositor.available("kwin_wayland", "dbus-daemon")


class KWin(compositor.Session):
    """kwin_wayland --virtual with Xwayland; use it as a context manager.

    focus_stealing_prevention: KWin's level (0 none … 4 extreme), written to its kwinrc; None
    keeps KWin's default (1, low)."""

    name = "kwin"
    log_noise = ("js: tavisk-facts-",)

    def __init__(self, focus_stealing_prevention=None, width=1280, height=1024, **kwargs):
        super().__init__(**kwargs)
        self.focus_stealing_prevention = focus_stealing_prevention
        self.size = (width, height)
        self._input = None
        self._tokens = itertools.count(1)

    def _start(self):
        config = os.path.join(self.runtime_dir, ".config")
        os.mkdir(config)
        with open(os.path.join(config, "kwinrc"), "w") as f:
            if self.focus_stealing_prevention is not None:
                f.write("[Windows]\nFocusStealingPreventionLevel=%d\n"
                        % self.focus_stealing_prevention)
        # No key repeat: a test's key release can reach a client late on a loaded machine,
        # and the client would then repeat the key.
        with open(os.path.join(config, "kcminputrc"), "w") as f:
            f.write("[Keyboard]\nKeyRepeat=nothing\n")
        self.wayland_display = "wayland-kwin"
        env = self.env(platform=None)
        del env["WAYLAND_DISPLAY"]
        env.update(
            XDG_CONFIG_HOME=config,
            # kwin_wayland carries a file capability (cap_sys_resource) that a container's
            # bounding set may lack, and then cannot be executed directly; started through the
            # dynamic loader it runs without it.
            KWIN_FORCE_OWN_QPA="1",
            # Compositing with QPainter: no GL for a screen nobody looks at.
            KWIN_COMPOSE="Q",
            # The test's own programs (the fake-input client is python3) may use KWin's
            # privileged interfaces without a desktop file naming them.
            KWIN_WAYLAND_NO_PERMISSION_CHECKS="1",
            # Let the facts script's print() reach the log.
            QT_LOGGING_RULES="kwin_scripting=true")
        width, height = self.size
        self.process = subprocess.Popen(
            ["/lib64/ld-linux-x86-64.so.2", "/usr/bin/kwin_wayland", "--virtual",
             "--width", str(width), "--height", str(height), "--xwayland",
             "--socket", self.wayland_display, "--no-lockscreen", "--no-kactivities"],
            env=env, stdin=subprocess.DEVNULL, stdout=self._log, stderr=subprocess.STDOUT,
            start_new_session=True)
        found = self.wait(self._xwayland, self.start_timeout, "KWin started no Xwayland")
        self.x_display, self.x_authority = found
        self.wait(self._scripting_ready, self.start_timeout, "KWin's scripting not on the bus")
        self._input = _FakeInput(os.path.join(self.runtime_dir, self.wayland_display))

    def _xwayland(self):
        """find_xwayland, after waking an Xwayland that KWin starts only for its first X
        client: KWin 5.27 starts Xwayland with itself, KWin 6 listens on the X display's
        sockets and starts Xwayland when a client connects there, as a person's first X
        program does. Until then there is no Xwayland whose command line names the display."""
        found = self.find_xwayland()
        if found or self.xwayland_pids():
            return found
        display = self._listened_x_display()
        if display is not None:
            # Any X client will do; xdpyinfo waits until the Xwayland it woke answers. One that
            # does not answer is retried until the start's own bound, which then shows the log.
            try:
                subprocess.run(["xdpyinfo"], env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"),
                                                  "DISPLAY": display},
                               stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
            except subprocess.TimeoutExpired:
                pass
        return None

    def _listened_x_display(self):
        """The X display (":N") whose socket file KWin itself listens on, or None."""
        try:
            names = os.listdir(compositor.X_SOCKETS)
        except OSError:
            return None
        for name in sorted(names):
            path = os.path.join(compositor.X_SOCKETS, name)
            if name.startswith("X") and compositor.listener_pid(path) == self.process.pid:
                return ":" + name[1:]
        return None

    def _scripting_ready(self):
        done = subprocess.run(
            ["dbus-send", "--bus=" + self.bus_address, "--print-reply",
             "--dest=org.kde.KWin", "/Scripting", "org.freedesktop.DBus.Peer.Ping"],
            capture_output=True, timeout=10)
        return done.returncode == 0

    def __exit__(self, *exc):
        if self._input is not None:
            self._input.close()
            self._input = None
        return super().__exit__(*exc)

    # -- a person's hands --------------------------------------------------------------------

    def type(self, *parts):
        """Types parts (see compositor.key_events) through KWin's input path."""
        self._input.keys(compositor.key_events(*parts))

    def press(self, modifiers, key):
        self.type(("press", modifiers, key))

    def click(self, at=None):
        """A left click at the point at, (x, y) on the screen, or where the pointer is."""
        self._input.click(at)

    # -- what KWin knows ---------------------------------------------------------------------

    def _dbus(self, path, interface, method, *args):
        argv = ["dbus-send", "--bus=" + self.bus_address, "--print-reply=literal",
                "--dest=org.kde.KWin", path, "%s.%s" % (interface, method)]
        done = subprocess.run(argv + list(args), capture_output=True, text=True, timeout=10)
        if done.returncode != 0:
            raise AssertionError("%s.%s failed: %s" % (interface, method, done.stderr))
        return done.stdout.strip()

    def windows(self):
        """Every window KWin manages, as dicts: caption, active, fullScreen, normal, frame
        and client ([x, y, width, height] with and without the title bar),
        transientFor (the parent's caption or None) and stacking (higher is above)."""
        token = "tavisk-facts-%d" % next(self._tokens)
        path = os.path.join(self.runtime_dir, token + ".js")
        with open(path, "w") as f:
            f.write(_FACTS_SCRIPT % {"token": token})
        script_id = int(self._dbus("/Scripting", "org.kde.kwin.Scripting", "loadScript",
                                   "string:" + path, "string:" + token).split()[-1])
        # KWin 5 puts a loaded script at /<id>, KWin 6 at /Scripting/Script<id>.
        try:
            self._dbus("/Scripting/Script%d" % script_id, "org.kde.kwin.Script", "run")
        except AssertionError:
            self._dbus("/%d" % script_id, "org.kde.kwin.Script", "run")
        marker = ("js: %s " % token).encode()

        def report():
            with open(self.log_path(), "rb") as f:
                for line in f:
                    if line.startswith(marker):
                        return line[len(marker):]
            return None

        line = self.wait(report, 10, "the facts script printed nothing")
        self._dbus("/Scripting", "org.kde.kwin.Scripting", "unloadScript", "string:" + token)
        os.unlink(path)
        return json.loads(line)

    def find(self, title):
        return [w for w in self.windows() if w["caption"] == title]

    def wait_for_window(self, title, timeout=20, active=None):
        """The one window titled title (and active or not, when asked)."""
        def look():
            found = self.find(title)
            if len(found) == 1 and (active is None or found[0]["active"] == active):
                return found[0]
            return None

        return self.wait(look, timeout, "no window titled %r (active: %r)" % (title, active))

    def wait_gone(self, title, timeout=10):
        self.wait(lambda: not self.find(title), timeout, "window %r still there" % title)


class _FakeInput:
    """A Wayland connection bound to org_kde_kwin_fake_input, spoken on the wire (the
    protocol is a dozen requests; a generated client would need KDE's protocol package)."""

    def __init__(self, socket_path, timeout=10):
        self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self._socket.settimeout(timeout)
        self._socket.connect(socket_path)
        self._buffer = b""
        self._next_id = 2
        self._registry = self._new_id()
        self._send(1, 1, struct.pack("<I", self._registry))  # wl_display.get_registry
        found = self._roundtrip()
        if "org_kde_kwin_fake_input" not in found:
            raise AssertionError("KWin offers no org_kde_kwin_fake_input: %r" % sorted(found))
        name, version = found["org_kde_kwin_fake_input"]
        if version < 4:
            raise AssertionError("KWin's fake input has no keyboard (version %d)" % version)
        self._fake = self._new_id()
        self._send(self._registry, 0, struct.pack("<I", name)
                   + desktop._wl_string("org_kde_kwin_fake_input")
                   + struct.pack("<II", 4, self._fake))  # wl_registry.bind
        self._send(self._fake, _FAKE_AUTHENTICATE, desktop._wl_string("corvane-tavisk tests")
                   + desktop._wl_string("a person's hands in the process tests"))
        self._roundtrip()

    def _new_id(self):
        self._next_id += 1
        return self._next_id - 1

    def _send(self, object_id, opcode, payload=b""):
        self._socket.sendall(desktop._wl_message(object_id, opcode, payload))

    def _roundtrip(self):
        """Waits until KWin has handled every request sent so far; returns the globals
        announced meanwhile as {interface: (name, version)}."""
        callback = self._new_id()
        self._send(1, 0, struct.pack("<I", callback))  # wl_display.sync
        found = {}
        while True:
            while len(self._buffer) < 8 or \
                    len(self._buffer) < struct.unpack_from("<I", self._buffer, 4)[0] >> 16:
                data = self._socket.recv(4096)
                if not data:
                    raise AssertionError("KWin closed the fake-input connection")
                self._buffer += data
            sender, word = struct.unpack_from("<II", self._buffer)
            size, opcode = word >> 16, word & 0xFFFF
            payload, self._buffer = self._buffer[8:size], self._buffer[size:]
            if sender == 1 and opcode == 0:
                message, _ = desktop._wl_read_string(payload, 8)
                raise AssertionError("Wayland protocol error: %s" % message)
            if sender == self._registry and opcode == 0:
                (name,) = struct.unpack_from("<I", payload)
                interface, offset = desktop._wl_read_string(payload, 4)
                (version,) = struct.unpack_from("<I", payload, offset)
                found[interface] = (name, version)
            elif sender == callback and opcode == 0:
                return found

    def keys(self, events):
        for code, pressed in events:
            self._send(self._fake, _FAKE_KEYBOARD_KEY, struct.pack("<II", code, int(pressed)))
            self._roundtrip()

    def click(self, at=None):
        if at is None:
            # A small move first, so that KWin picks the window under the pointer.
            self._send(self._fake, _FAKE_POINTER_MOTION, struct.pack("<ii", 256, 256))
        else:
            self._send(self._fake, _FAKE_POINTER_MOTION_ABSOLUTE,
                       struct.pack("<ii", int(at[0] * 256), int(at[1] * 256)))
        for pressed in (1, 0):
            self._send(self._fake, _FAKE_BUTTON, struct.pack("<II", compositor.BTN_LEFT,
                                                             pressed))
        self._roundtrip()

    def close(self):
        self._socket.close()
