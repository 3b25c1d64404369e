"""What the GNOME (mutter) and KDE (KWin) desktops of the process tests share: a private session
bus, a runtime folder, the compositor's Xwayland found from its command line, client processes,
and a person's keys as Linux input key codes, the form both compositors take them in.

Both compositors run as root here (the helper then runs with the engine's sandbox off, as in
the other process tests under X). Every wait has a bound that fails; every process started
here is ended when its context manager exits.
"""

import os
import shutil
import socket
import struct
import subprocess
import tempfile

import desktop
import helperproc
import proctree
import testenv

POLL_SECONDS = 0.05
X_SOCKETS = "/tmp/.X11-unix"

# A session bus of the test's own: no service folders, so nothing is started on demand and
# only the compositor and the test are on it.
_BUS_CONFIG = """\
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir={folder}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def available(*programs):
    """None when every program is installed, else why a test cannot run."""
    missing = [p for p in programs if shutil.which(p) is None]
    return "not installed: %s" % ", ".join(missing) if missing else None


class Session:
    """A runtime folder, a private session bus and the compositor's clients; the compositors
    build on it. Subclasses start the compositor in _start() and set wayland_display,
    x_display and x_authority."""

    name = "compositor"

    def __init__(self, start_timeout=30):
        self.start_timeout = start_timeout
        self.runtime_dir = None
        self.bus_address = None
        self.wayland_display = None
        self.x_display = None
        self.x_authority = None
        self.xwayland_pid = None
        self.process = None
        self._bus = None
        self._log = None
        self._clients = []

    def __enter__(self):
        try:
            self.runtime_dir = tempfile.mkdtemp(prefix="tavisk-%s-" % self.name)
            testenv.remove_at_exit(self.runtime_dir)
            os.chmod(self.runtime_dir, 0o700)
            if not os.path.isdir(X_SOCKETS):
                os.mkdir(X_SOCKETS)
                os.chmod(X_SOCKETS, 0o1777)
            self._start_bus()
            self._log = open(os.path.join(self.runtime_dir, self.name + ".log"), "wb")
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        raise NotImplementedError

    def _start_bus(self):
        config = os.path.join(self.runtime_dir, "bus.conf")
        with open(config, "w") as f:
            f.write(_BUS_CONFIG.format(folder=self.runtime_dir))
        self._bus = subprocess.Popen(
            ["dbus-daemon", "--config-file=" + config, "--nofork", "--print-address=1"],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            start_new_session=True)
        line = testenv.wait_until(lambda: self._bus.stdout.readline(), self.start_timeout)
        if not line:
            raise AssertionError("dbus-daemon announced no address")
        self.bus_address = line.decode().strip()

    def _stop_compositor(self):
        desktop._stop(self.process)

    def __exit__(self, *exc):
        for process in self._clients:
            desktop._stop(process)
        self._clients = []
        if self.process is not None:
            self._stop_compositor()
            self.process = None
        if self._bus is not None:
            desktop._stop(self._bus)
            self._bus.stdout.close()
            self._bus = None
        if self._log is not None:
            self._log.close()
            self._log = None
        return False

    def log_path(self):
        return os.path.join(self.runtime_dir, self.name + ".log")

    # Lines of the compositor's log that say nothing about why a test failed (the KWin
    # facts script prints one per query, hundreds in a long wait); starts of lines.
    log_noise = ()

    def log_tail(self, size=3000):
        """The start and the end of the compositor's log, without its noise lines: the start
        tells how the compositor and its Xwayland came up, the end what went wrong; the
        clients started here write their errors into it too."""
        try:
            with open(self.log_path(), "rb") as f:
                lines = f.read().decode("utf-8", "replace").splitlines(keepends=True)
        except OSError:
            return ""
        noise = [line for line in lines if line.startswith(self.log_noise)]
        text = "".join(line for line in lines if not line.startswith(self.log_noise))
        if noise:
            text += "[%d lines like %r left out]\n" % (len(noise), noise[-1].strip()[:60])
        if len(text) <= size:
            return text
        return "%s\n[…]\n%s" % (text[:size // 2], text[-size // 2:])

    def wait(self, predicate, timeout, what):
        """predicate's first true value; AssertionError with the compositor's log after timeout
        or when the compositor has ended."""
        def look():
            if self.process is not None and self.process.poll() is not None:
                raise AssertionError("%s exited with %r: %s"
                                     % (self.name, self.process.returncode, self.log_tail()))
            return predicate()

        value = testenv.wait_until(look, timeout, POLL_SECONDS)
        if not value:
            raise AssertionError("%s within %.1f s; %s%s log: %s"
                                 % (what, timeout, self.x_state(), self.name, self.log_tail()))
        return value

    def x_state(self):
        """Who serves the X display the clients are given, when there is one: the
        compositor's Xwayland processes now (a restarted one has another pid than at start)
        and who listens on the display's two sockets."""
        if self.x_display is None or self.process is None:
            return ""
        xwayland = self.xwayland_pids()
        path = os.path.join(X_SOCKETS, "X" + self.x_display.lstrip(":"))
        listeners = {}
        for name, address in (("abstract", "\0" + path), ("file", path)):
            pid = listener_pid(address)
            listeners[name] = None if pid is None else "%d %s" % (pid, _cmdline(pid)[:60])
        return ("X display %s (started as pid %s): Xwayland now %r, listening %r; "
                % (self.x_display, self.xwayland_pid, xwayland, listeners))

    def xwayland_pids(self):
        """The compositor's Xwayland processes now, by pid."""
        return [p for p in sorted(proctree.descendants(self.process.pid))
                if _cmdline(p).split(" ")[0].endswith("Xwayland")]

    def find_xwayland(self):
        """(display, authority file) of the Xwayland the compositor started, once it takes
        X clients with that authority; None before. The display number and the -auth file
        are on its command line.

        An X client tries the display's abstract socket first, then the file in X_SOCKETS;
        another X server (a desktop or Xvfb of another test run on this machine) may hold
        either under the same number, and our clients would silently end up there. So both
        must be this compositor's, else AssertionError."""
        ours = proctree.descendants(self.process.pid) | {self.process.pid}
        for pid in ours - {self.process.pid}:
            try:
                with open("/proc/%d/cmdline" % pid, "rb") as f:
                    argv = [a.decode() for a in f.read().split(b"\0")]
            except OSError:
                continue
            if not argv or not argv[0].endswith("Xwayland") or len(argv) < 2:
                continue
            display = argv[1]
            authority = argv[argv.index("-auth") + 1] if "-auth" in argv else None
            path = os.path.join(X_SOCKETS, "X" + display.lstrip(":"))
            if not os.path.exists(path):
                return None
            for address in ("\0" + path, path):
                owner = listener_pid(address)
                if owner is not None and owner not in ours:
                    raise AssertionError(
                        "X display %s (%r) is not %s's Xwayland (pid %d) but pid %d: %s"
                        % (display, address, self.name, pid, owner, _cmdline(owner)))
            env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "DISPLAY": display}
            if authority is not None:
                env["XAUTHORITY"] = authority
            done = subprocess.run(["xdpyinfo"], env=env, stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=10)
            if done.returncode != 0:
                return None
            self.xwayland_pid = pid
            return display, authority
        return None

    # -- clients -----------------------------------------------------------------------------

    def env(self, platform="wayland"):
        """A client's environment: native Wayland ("wayland") or Xwayland ("xcb")."""
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime_dir,
               "XDG_RUNTIME_DIR": self.runtime_dir, "LANG": "C.UTF-8",
               "DBUS_SESSION_BUS_ADDRESS": self.bus_address,
               "WAYLAND_DISPLAY": self.wayland_display,
               # GTK would look for an accessibility bus, which this session has not.
               "NO_AT_BRIDGE": "1"}
        if self.x_display is not None:
            env["DISPLAY"] = self.x_display
        if self.x_authority is not None:
            env["XAUTHORITY"] = self.x_authority
        if platform == "xcb":
            # An X client: GTK and Qt would otherwise take the Wayland socket.
            del env["WAYLAND_DISPLAY"]
            env["GDK_BACKEND"] = "x11"
        if platform is not None:
            env["QT_QPA_PLATFORM"] = platform
        return env

    def helper(self, platform="wayland", **kwargs):
        """A helperproc.Helper in this session; as root, with the engine's sandbox off."""
        env = testenv.base_env()
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "XAUTHORITY", "DBUS_SESSION_BUS_ADDRESS"):
            env.pop(name, None)
        session_env = self.env(platform)
        del session_env["XDG_RUNTIME_DIR"], session_env["HOME"]
        env.update(session_env)
        if platform == "wayland":
            # The helper's Wayland connection is in the compositor's runtime folder.
            env["WAYLAND_DISPLAY"] = os.path.join(self.runtime_dir, self.wayland_display)
        return helperproc.Helper(env=env, **kwargs)

    def start(self, argv, platform="wayland", stdout=subprocess.DEVNULL):
        """Starts a client that runs until stopped or the session ends."""
        process = subprocess.Popen(argv, env=self.env(platform), stdin=subprocess.DEVNULL,
                                   stdout=stdout, stderr=self._log, start_new_session=True)
        self._clients.append(process)
        return process

    def stop(self, process):
        desktop._stop(process)
        if process in self._clients:
            self._clients.remove(process)


def listener_pid(address):
    """The pid that made the listening Unix socket at address ("\\0…" for an abstract one),
    or None when nothing listens there."""
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as probe:
        probe.settimeout(5)
        try:
            probe.connect(address)
        except OSError:
            return None
        creds = probe.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i"))
        return struct.unpack("3i", creds)[0]


def _cmdline(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip()
    except OSError:
        return "(gone)"


# ---------------------------------------------------------------------------------------------
# A person's keys, as Linux input key codes (<linux/input-event-codes.h>, US layout)


KEY_ESC, KEY_TAB, KEY_ENTER, KEY_LEFTSHIFT, KEY_LEFTALT, KEY_F4 = 1, 15, 28, 42, 56, 62
BTN_LEFT = 0x110

_NAMED = {"Tab": KEY_TAB, "Return": KEY_ENTER, "Escape": KEY_ESC, "F4": KEY_F4,
          "alt": KEY_LEFTALT, "shift": KEY_LEFTSHIFT}
_ROWS = ((2, "1234567890-="), (16, "qwertyuiop[]"), (30, "asdfghjkl;'"), (44, "zxcvbnm,./"))
_SHIFTED = ((2, "!@#$%^&*()_+"), (16, "QWERTYUIOP{}"), (30, 'ASDFGHJKL:"'), (44, "ZXCVBNM<>?"))
_CHARS = {" ": (57, False)}
for _first, _row in _ROWS:
    _CHARS.update((c, (_first + i, False)) for i, c in enumerate(_row))
for _first, _row in _SHIFTED:
    _CHARS.update((c, (_first + i, True)) for i, c in enumerate(_row))


def key_events(*parts):
    """[(key code, pressed)] for parts: text, ("key", name) for one named key, or
    ("press", [modifiers], name) for a shortcut such as ("press", ["alt"], "F4")."""
    events = []

    def tap(code, modifiers=()):
        events.extend((m, True) for m in modifiers)
        events.extend(((code, True), (code, False)))
        events.extend((m, False) for m in reversed(modifiers))

    for part in parts:
        if isinstance(part, str):
            for char in part:
                code, shifted = _CHARS[char]
                tap(code, (KEY_LEFTSHIFT,) if shifted else ())
        elif part[0] == "key":
            tap(_NAMED[part[1]])
        else:
            tap(_NAMED[part[2]], [_NAMED[m] for m in part[1]])
    return events
