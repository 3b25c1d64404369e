"""GNOME's compositor for the process tests: mutter, headless with one virtual monitor and its
Xwayland, started by the test in its own runtime folder with a private session bus.

A person's hands are mutter's RemoteDesktop D-Bus session (keys and pointer through mutter's
own input path, its shortcuts included). mutter tells a client nothing about its Wayland
windows; on its Xwayland the X root's _NET_ACTIVE_WINDOW names the active X window.

mutter ends cleanly when the command it was given ends (it ignores SIGTERM for long, and
SIGINT leaves its X lock files behind), so the command is a sleep that the test ends.
"""

import os
import shutil
import subprocess

import dbus

import compositor
import desktop
import proctree

_BUS_NAME = "org.gnome.Mutter.RemoteDesktop"
_SYSTEM_SCHEMAS = "/usr/share/glib-2.0/schemas"
# The keyboard's settings and the enumerations they use.
_REPEAT_SCHEMAS = ("org.gnome.desktop.peripherals.gschema.xml", "org.gnome.desktop.enums.xml")
_SESSION = "org.gnome.Mutter.RemoteDesktop.Session"


def available():
    return compositor.available("mutter", "dbus-daemon")


class Mutter(compositor.Session):
    """mutter --headless --wayland with a 1280x1024 virtual monitor; a context manager."""

    name = "mutter"

    def __init__(self, size="1280x1024", **kwargs):
        super().__init__(**kwargs)
        self.size = size
        self._connection = None
        self._input = None
        self._sleep = None

    def _start(self):
        self.wayland_display = "wayland-mutter"
        env = self.env(platform=None)
        del env["WAYLAND_DISPLAY"]
        # Settings from their defaults, in memory: nothing read from or written to dconf.
        env["GSETTINGS_BACKEND"] = "memory"
        env["GSETTINGS_SCHEMA_DIR"] = self._schemas_without_key_repeat()
        self.process = subprocess.Popen(
            ["mutter", "--headless", "--wayland", "--virtual-monitor", self.size,
             "--wayland-display", self.wayland_display, "--", "sleep", "3600"],
            env=env, stdin=subprocess.DEVNULL, stdout=self._log, stderr=subprocess.STDOUT,
            start_new_session=True)
        self._sleep = self.wait(self._find_sleep, self.start_timeout, "mutter ran no command")
        # mutter hands its command the X display and authority of its Xwayland, which it
        # starts at once (mutter 43) or when the first X client connects (later versions).
        environ = self._environ(self._sleep)
        self.x_display, self.x_authority = environ.get("DISPLAY"), environ.get("XAUTHORITY")
        if self.x_display is None:
            raise AssertionError("mutter gave its command no X display: %s" % self.log_tail())
        self._connection = dbus.bus.BusConnection(self.bus_address)
        self.wait(lambda: self._connection.name_has_owner(_BUS_NAME), self.start_timeout,
                  "mutter's RemoteDesktop not on the bus")
        self._input = _Keyboard(self._connection)

    def _schemas_without_key_repeat(self):
        """A schema folder that turns key repeat off. A person's keys go down and up at once,
        but a test's key release can reach a client late on a loaded machine, and the client
        would then repeat the key."""
        folder = os.path.join(self.runtime_dir, "schemas")
        os.mkdir(folder)
        for name in _REPEAT_SCHEMAS:
            shutil.copy(os.path.join(_SYSTEM_SCHEMAS, name), folder)
        with open(os.path.join(folder, "90_tavisk-tests.gschema.override"), "w") as f:
            f.write("[org.gnome.desktop.peripherals.keyboard]\nrepeat=false\n")
        done = subprocess.run(["glib-compile-schemas", folder], capture_output=True, text=True,
                              timeout=30)
        if done.returncode != 0:
            raise AssertionError("glib-compile-schemas failed: %s" % done.stderr)
        return folder

    def _find_sleep(self):
        for pid in proctree.descendants(self.process.pid):
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    if f.read().split(b"\0")[0] == b"sleep":
                        return pid
            except OSError:
                continue
        return None

    @staticmethod
    def _environ(pid):
        with open("/proc/%d/environ" % pid, "rb") as f:
            pairs = [item.split(b"=", 1) for item in f.read().split(b"\0") if b"=" in item]
        return {key.decode(): value.decode() for key, value in pairs}

    def _stop_compositor(self):
        # An open RemoteDesktop session would keep mutter from ending.
        if self._input is not None:
            self._input.close()
            self._input = None
        if self._sleep is not None:
            try:
                os.kill(self._sleep, 15)
            except ProcessLookupError:
                pass
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                pass
        desktop._stop(self.process)
        if self._connection is not None:
            self._connection.close()
            self._connection = None

    # -- a person's hands --------------------------------------------------------------------

    def type(self, *parts):
        """Types parts (see compositor.key_events) through mutter's input path."""
        self._input.keys(compositor.key_events(*parts))

    def press(self, modifiers, key):
        self.type(("press", modifiers, key))

    def click(self):
        """A left click where the pointer is."""
        self._input.click()

    def active_x_window(self):
        """The X window id in _NET_ACTIVE_WINDOW of the Xwayland root, or None (0 when the
        active window is a Wayland one)."""
        done = subprocess.run(["xprop", "-root", "-notype", "_NET_ACTIVE_WINDOW"],
                              env=self.env("xcb"), capture_output=True, text=True, timeout=10)
        if done.returncode != 0 or "#" not in done.stdout:
            return None
        return int(done.stdout.split("#")[1].split(",")[0].strip(), 16)


class _Keyboard:
    """One RemoteDesktop session, started at once. Its first key can be lost while mutter
    sets up the virtual keyboard, so a harmless key is sent first and then every key waits
    for mutter's answer."""

    def __init__(self, connection):
        self._connection = connection
        manager = connection.get_object(_BUS_NAME, "/org/gnome/Mutter/RemoteDesktop")
        path = manager.CreateSession(dbus_interface="org.gnome.Mutter.RemoteDesktop")
        self._session = dbus.Interface(connection.get_object(_BUS_NAME, path), _SESSION)
        self._session.Start()
        self._started = True
        self.keys([(compositor.KEY_LEFTSHIFT, True), (compositor.KEY_LEFTSHIFT, False)])

    def keys(self, events):
        for code, pressed in events:
            self._session.NotifyKeyboardKeycode(dbus.UInt32(code), dbus.Boolean(pressed))

    def click(self):
        # A small move first, so that mutter picks the window under the pointer.
        self._session.NotifyPointerMotionRelative(dbus.Double(1), dbus.Double(1))
        for pressed in (True, False):
            self._session.NotifyPointerButton(dbus.Int32(compositor.BTN_LEFT),
                                              dbus.Boolean(pressed))

    def close(self):
        if self._started:
            self._started = False
            try:
                self._session.Stop()
            except dbus.DBusException:
                pass
