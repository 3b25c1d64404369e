"""Real desktops for the process tests: sway (Wayland, optionally with XWayland) and openbox on
Xvfb, each started by the test, plus the tools a person's hands are replaced with.

sway refuses to run as root, and the web engine runs with its sandbox only when not root, so
when the tests run as root the compositor, the helper and every tool that talks to the
compositor run as the unprivileged user "nobody" (`Popen(user=, group=)`), in a private runtime
folder owned by it. Nothing is added to the system's users. Every wait has a bound that fails;
every process started here is killed when its context manager exits.
"""

import json
import os
import pwd
import shutil
import signal
import socket
import struct
import subprocess
import tempfile
import time

import helperproc
import proctree
import testenv

_POLL_SECONDS = 0.05
_X_SOCKETS = "/tmp/.X11-unix"


# ---------------------------------------------------------------------------------------------
# Who runs the desktop


class Account:
    """The user the desktop and its clients run as: "nobody" when we are root, else ourselves.
    .popen_args() gives the subprocess arguments that switch to it."""

    def __init__(self):
        if os.geteuid() == 0:
            entry = pwd.getpwnam("nobody")
            self.uid, self.gid = entry.pw_uid, entry.pw_gid
            self.switch = True
        else:
            self.uid, self.gid = os.geteuid(), os.getegid()
            self.switch = False

    def popen_args(self):
        if not self.switch:
            return {}
        return {"user": self.uid, "group": self.gid, "extra_groups": []}

    def reachable_binary(self, path=None):
        """A built program (by default the helper, TAVISK_BINARY) as this account can run it:
        the program itself, or a copy in a folder of the account's when the build lies where it
        cannot look (under /root, say)."""
        path = path or testenv.binary_path()
        if not self.switch:
            return path
        probe = subprocess.run(["test", "-x", path], **self.popen_args())
        if probe.returncode == 0:
            return path
        copy = os.path.join(self.private_dir("tavisk-bin-"), os.path.basename(path))
        shutil.copy2(path, copy)
        os.chmod(copy, 0o755)
        return copy

    def private_dir(self, prefix):
        """A fresh 0700 folder owned by the account, removed when the tests end."""
        path = tempfile.mkdtemp(prefix=prefix)
        testenv.remove_at_exit(path)
        os.chmod(path, 0o700)
        if self.switch:
            os.chown(path, self.uid, self.gid)
        return path


def _stop(process, timeout=5):
    """Ends a process started in its own session, with everything in its process group: sway
    leaves a forked copy of itself waiting for XWayland, which outlives it unless killed."""
    if process is None:
        return
    for sig in (signal.SIGTERM, signal.SIGKILL):
        try:
            os.killpg(process.pid, sig)
        except ProcessLookupError:
            break
        try:
            process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            continue
        if not testenv.wait_until(lambda: not proctree.group_members(process.pid),
                                     0.5 if sig == signal.SIGTERM else timeout):
            continue
        break
    if proctree.group_members(process.pid):
        raise AssertionError("process group %d outlived SIGKILL" % process.pid)


def _wait(predicate, timeout, what):
    value = testenv.wait_until(predicate, timeout, _POLL_SECONDS)
    if not value:
        raise AssertionError("%s within %.1f s" % (what, timeout))
    return value


# ---------------------------------------------------------------------------------------------
# sway


_SWAY_CONFIG = """\
output HEADLESS-1 mode 1280x800 scale {scale}
xwayland {xwayland}
default_border normal
# A valid xdg-activation token gives a window the keyboard (sway would only mark it urgent).
focus_on_window_activation focus
# A person's close: the key binding every sway user has for it.
bindsym Mod4+Shift+q kill
{extra}
"""


class Sway:
    """A headless sway with its own runtime folder; use it as a context manager.

    xwayland: "disable" or "force" (XWayland started at once, so DISPLAY is known). extra:
    further configuration lines. .env(...) is the environment for one of its clients."""

    def __init__(self, xwayland="disable", scale=1, extra="", start_timeout=20):
        self.account = Account()
        self.xwayland = xwayland
        self.scale = scale
        self.extra = extra
        self.start_timeout = start_timeout
        self.runtime_dir = None
        self.process = None
        self.wayland_display = None
        self.ipc_socket = None
        self.x_display = None
        self._clients = []
        self._binary = None

    def __enter__(self):
        self.runtime_dir = self.account.private_dir("tavisk-sway-")
        config = os.path.join(self.runtime_dir, "config")
        with open(config, "w") as f:
            f.write(_SWAY_CONFIG.format(scale=self.scale, xwayland=self.xwayland,
                                        extra=self.extra))
        os.chmod(config, 0o644)
        if self.xwayland != "disable" and os.geteuid() == 0 and not os.path.isdir(_X_SOCKETS):
            # X servers want this folder made by root; XWayland, run as nobody, would own it.
            os.mkdir(_X_SOCKETS)
            os.chmod(_X_SOCKETS, 0o1777)
        env = self._base_env()
        env.update(WLR_BACKENDS="headless", WLR_RENDERER="pixman", WLR_LIBINPUT_NO_DEVICES="1")
        self._log = open(os.path.join(self.runtime_dir, "sway.log"), "wb")
        self.process = subprocess.Popen(
            ["sway", "-c", config], env=env, stdin=subprocess.DEVNULL, stdout=self._log,
            stderr=subprocess.STDOUT, start_new_session=True, **self.account.popen_args())
        try:
            self._wait_ready()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _wait_ready(self):
        def sockets():
            if self.process.poll() is not None:
                raise AssertionError("sway exited with %r: %s"
                                     % (self.process.returncode, self.log_tail()))
            names = os.listdir(self.runtime_dir)
            wayland = [n for n in names if n.startswith("wayland-") and not n.endswith(".lock")]
            ipc = [n for n in names if n.startswith("sway-ipc.")]
            return (wayland[0], ipc[0]) if wayland and ipc else None

        wayland, ipc = _wait(sockets, self.start_timeout, "sway made no sockets")
        self.wayland_display = wayland
        self.ipc_socket = os.path.join(self.runtime_dir, ipc)
        _wait(lambda: self._ipc_answers(), self.start_timeout, "sway's IPC did not answer")
        if self.xwayland == "force":
            # sway tells its XWayland display only to the clients it starts itself, so read it
            # from the command line of the XWayland it started, once its socket exists.
            self.x_display = _wait(self._xwayland_display, self.start_timeout,
                                   "XWayland did not start")

    def _ipc_answers(self):
        try:
            return self.msg("-t", "get_version") is not None
        except AssertionError:
            return False

    def _xwayland_display(self):
        # wlroots 0.18 (Debian 13) starts XWayland through a double fork: it is then no
        # descendant of sway, but still in sway's process group.
        started = proctree.descendants(self.process.pid) | proctree.group_members(
            self.process.pid)
        for process_pid in started:
            try:
                with open("/proc/%d/cmdline" % process_pid, "rb") as f:
                    argv = f.read().split(b"\0")
            except OSError:
                continue
            if argv and argv[0].endswith(b"Xwayland") and len(argv) > 1:
                display = argv[1].decode()
                number = display.lstrip(":")
                if os.path.exists(os.path.join(_X_SOCKETS, "X" + number)):
                    return display
        return None

    def __exit__(self, *exc):
        for process in self._clients:
            _stop(process)
        self._clients = []
        _stop(self.process)
        self.process = None
        if getattr(self, "_log", None) is not None:
            self._log.close()
            self._log = None
        return False

    def log_tail(self, size=3000):
        try:
            with open(os.path.join(self.runtime_dir, "sway.log"), "rb") as f:
                return f.read().decode("utf-8", "replace")[-size:]
        except OSError:
            return ""

    # -- environments ------------------------------------------------------------------------

    def _base_env(self):
        return {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.runtime_dir,
                "XDG_RUNTIME_DIR": self.runtime_dir, "LANG": "C.UTF-8"}

    def env(self, platform="wayland"):
        """A client's environment: native Wayland ("wayland") or XWayland ("xcb")."""
        env = self._base_env()
        env["SWAYSOCK"] = self.ipc_socket
        env["WAYLAND_DISPLAY"] = self.wayland_display
        if self.x_display is not None:
            env["DISPLAY"] = self.x_display
        if platform is not None:
            env["QT_QPA_PLATFORM"] = platform
        return env

    def helper_env(self, platform="wayland"):
        """The helper's environment under this compositor: the engine's chatter silenced and
        its sandbox left on, as the helper never runs as root here (the sandbox needs
        unprivileged user namespaces, which Debian 12 allows)."""
        env = self.env(platform)
        env["QT_LOGGING_RULES"] = "qt.webenginecontext.info=false"
        home = self.account.private_dir("tavisk-home-")
        env.update(HOME=home, TMPDIR=home)
        return env

    def helper(self, platform="wayland", **kwargs):
        """A helperproc.Helper that runs as the desktop's user in this session."""
        if self._binary is None:
            self._binary = self.account.reachable_binary()
        return helperproc.Helper(env=self.helper_env(platform), user=self.account,
                                 binary=self._binary, **kwargs)

    # -- tools -------------------------------------------------------------------------------

    def run(self, argv, timeout=15, platform="wayland"):
        """Runs a client tool to its end as the desktop's user; returns its standard output."""
        try:
            done = subprocess.run(argv, env=self.env(platform), stdin=subprocess.DEVNULL,
                                  capture_output=True, timeout=timeout,
                                  **self.account.popen_args())
        except subprocess.TimeoutExpired:
            raise AssertionError("%r did not end within %.1f s" % (argv, timeout)) from None
        if done.returncode != 0:
            raise AssertionError("%r failed with %d: %s"
                                 % (argv, done.returncode, done.stderr.decode("utf-8", "replace")))
        return done.stdout

    def start(self, argv, platform="wayland", stdout=subprocess.DEVNULL):
        """Starts a client that runs until the session ends (a terminal, say)."""
        process = subprocess.Popen(argv, env=self.env(platform), stdin=subprocess.DEVNULL,
                                   stdout=stdout, stderr=subprocess.DEVNULL,
                                   start_new_session=True, **self.account.popen_args())
        self._clients.append(process)
        return process

    def stop(self, process):
        _stop(process)
        if process in self._clients:
            self._clients.remove(process)

    def msg(self, *args):
        """swaymsg's answer, parsed from JSON."""
        return json.loads(self.run(["swaymsg", "-s", self.ipc_socket, "-r"] + list(args)))

    def command(self, text):
        """Runs a sway command; AssertionError unless every part of it succeeded."""
        results = self.msg(text)
        if not all(r.get("success") for r in results):
            raise AssertionError("sway command %r failed: %r" % (text, results))

    def windows(self):
        """Every window in the tree, tiled or floating, as sway's JSON nodes."""
        found, todo = [], [self.msg("-t", "get_tree")]
        while todo:
            node = todo.pop()
            children = node.get("nodes", []) + node.get("floating_nodes", [])
            if node.get("type") in ("con", "floating_con") and not children:
                found.append(node)
            todo.extend(children)
        return found

    def find(self, title):
        return [w for w in self.windows() if w.get("name") == title]

    def wait_for_window(self, title, timeout=20, focused=None):
        """The one window titled title (and focused or not, when asked); AssertionError
        after timeout."""
        def look():
            matches = self.find(title)
            if len(matches) != 1:
                return None
            if focused is not None and matches[0].get("focused") != focused:
                return None
            return matches[0]

        window = testenv.wait_until(look, timeout, _POLL_SECONDS)
        if window is None:
            raise AssertionError("no window titled %r (focused: %r) within %.1f s; windows: %r"
                                 % (title, focused, timeout,
                                    [(w.get("name"), w.get("focused")) for w in self.windows()]))
        return window

    def wait_gone(self, title, timeout=10):
        _wait(lambda: not self.find(title), timeout, "window %r still there" % title)

    def focused(self):
        for window in self.windows():
            if window.get("focused"):
                return window
        return None

    def type(self, *parts):
        """Types as a person would through a new virtual keyboard: each part is text, or
        ("key", name) for one named key. The first key waits 300 ms, as the keyboard's first
        keys are lost while the compositor sets it up."""
        argv = ["wtype", "-s", "300"]
        for part in parts:
            if isinstance(part, tuple):
                argv += ["-k", part[1]]
            else:
                argv += ["--", part] if part.startswith("-") else [part]
        self.run(argv)

    def press(self, modifiers, key):
        """A keyboard shortcut such as press(["logo", "shift"], "q")."""
        argv = ["wtype", "-s", "300"]
        for m in modifiers:
            argv += ["-M", m]
        argv += ["-k", key]
        for m in reversed(modifiers):
            argv += ["-m", m]
        self.run(argv)

    def screenshot(self, path):
        """The output as a PNG file, taken by grim; returns its (width, height)."""
        self.run(["grim", "-t", "png", path])
        with open(path, "rb") as f:
            header = f.read(24)
        if header[:8] != b"\x89PNG\r\n\x1a\n":
            raise AssertionError("grim wrote no PNG")
        return struct.unpack(">II", header[16:24])

    def activation_token(self, app_id="corvane-tavisk-tests"):
        """A fresh xdg-activation token from the compositor, as a launcher gets one. sway hands
        each program it starts a token bound to its seat, and sway 1.10 (Debian 13) raises a
        mapped window only for a token with a seat; a plain client cannot ask for one (the seat
        needs the serial of an input event the client received). sway 1.7 (Debian 12) hands
        none to its programs, but honours a token asked for over the protocol without a seat."""
        token = self._launch_token()
        if token:
            return token
        return wayland_activation_token(os.path.join(self.runtime_dir, self.wayland_display),
                                        app_id)

    def _launch_token(self):
        """The XDG_ACTIVATION_TOKEN a program started by sway's exec finds, or ""."""
        script = os.path.join(self.runtime_dir, "print-token")
        if not os.path.exists(script):
            with open(script, "w") as f:
                f.write('#!/bin/sh\nprintf %s "${XDG_ACTIVATION_TOKEN:-}" >"$1.part"\n'
                        'mv "$1.part" "$1"\n')
            os.chmod(script, 0o755)
        self._tokens_asked = getattr(self, "_tokens_asked", 0) + 1
        out = os.path.join(self.runtime_dir, "token-%d" % self._tokens_asked)
        self.command("exec %s %s" % (script, out))
        _wait(lambda: os.path.exists(out), 10, "sway's exec wrote no token file")
        with open(out) as f:
            token = f.read()
        os.unlink(out)
        return token


# ---------------------------------------------------------------------------------------------
# A minimal Wayland client: enough of the wire protocol to ask for an xdg-activation token.


def _wl_string(text):
    data = text.encode() + b"\0"
    return struct.pack("<I", len(data)) + data + b"\0" * (-len(data) % 4)


def _wl_message(object_id, opcode, payload=b""):
    return struct.pack("<II", object_id, ((8 + len(payload)) << 16) | opcode) + payload


def _wl_read_string(payload, offset):
    (length,) = struct.unpack_from("<I", payload, offset)
    text = payload[offset + 4:offset + 4 + length - 1].decode()
    return text, offset + 4 + length + (-length % 4)


def wayland_activation_token(socket_path, app_id, timeout=10):
    """Asks the compositor at socket_path for an xdg_activation_v1 token (no seat, serial or
    surface, as a program started from a launcher would) and returns its text."""
    display, registry, callback, activation, token = 1, 2, 3, 4, 5
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.settimeout(timeout)
        s.connect(socket_path)
        s.sendall(_wl_message(display, 1, struct.pack("<I", registry))  # get_registry
                  + _wl_message(display, 0, struct.pack("<I", callback)))  # sync
        buffer = b""
        globals_seen = {}
        bound = False
        while True:
            while len(buffer) < 8 or len(buffer) < (struct.unpack_from("<I", buffer, 4)[0] >> 16):
                data = s.recv(4096)
                if not data:
                    raise AssertionError("the compositor closed the connection")
                buffer += data
            sender, word = struct.unpack_from("<II", buffer)
            size, opcode = word >> 16, word & 0xFFFF
            payload, buffer = buffer[8:size], buffer[size:]
            if sender == display and opcode == 0:
                message, _ = _wl_read_string(payload, 8)
                raise AssertionError("Wayland protocol error: %s" % message)
            if sender == registry and opcode == 0:
                (name,) = struct.unpack_from("<I", payload)
                interface, offset = _wl_read_string(payload, 4)
                globals_seen[interface] = name
            elif sender == callback and opcode == 0 and not bound:
                name = globals_seen.get("xdg_activation_v1")
                if name is None:
                    raise AssertionError("the compositor offers no xdg_activation_v1")
                s.sendall(
                    _wl_message(registry, 0, struct.pack("<I", name)
                                + _wl_string("xdg_activation_v1")
                                + struct.pack("<II", 1, activation))  # bind
                    + _wl_message(activation, 1, struct.pack("<I", token))  # get_activation_token
                    + _wl_message(token, 1, _wl_string(app_id))  # set_app_id
                    + _wl_message(token, 3))  # commit
                bound = True
            elif sender == token and opcode == 0:
                text, _ = _wl_read_string(payload, 0)
                return text


# ---------------------------------------------------------------------------------------------
# openbox on Xvfb


class Openbox:
    """Xvfb on a display it picks itself (-displayfd) with openbox managing it; use it as a
    context manager. .display is ":N"."""

    def __init__(self, size="1280x1024", start_timeout=20):
        self.size = size
        self.start_timeout = start_timeout
        self.display = None
        self.xvfb = None
        self.openbox = None
        self._clients = []

    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.__exit__(None, None, None)
            raise
        return self

    def _start(self):
        read_end, write_end = os.pipe()
        try:
            # -noreset: Xvfb starts over whenever its last client leaves, and a window manager
            # that arrives during such a reset finds no display and exits at once.
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", self.size + "x24",
                 "-nolisten", "tcp", "-noreset"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                pass_fds=(write_end,), start_new_session=True)
        finally:
            os.close(write_end)
        with os.fdopen(read_end, "rb") as announced:
            deadline = time.monotonic() + self.start_timeout
            number = b""
            while not number.endswith(b"\n"):
                if time.monotonic() > deadline:
                    raise AssertionError("Xvfb announced no display")
                chunk = announced.read(1)
                if not chunk:
                    raise AssertionError("Xvfb exited with %r" % self.xvfb.poll())
                number += chunk
        self.display = ":" + number.decode().strip()
        self.openbox = subprocess.Popen(
            ["openbox", "--sm-disable"], env=self.env(), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        # openbox is ready once it owns the window manager selection of screen 0.
        _wait(lambda: self._wm_running(), self.start_timeout, "openbox did not take the screen")

    def _wm_running(self):
        if self.openbox.poll() is not None:
            raise AssertionError("openbox exited with %r" % self.openbox.returncode)
        done = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env(),
                              capture_output=True, timeout=10)
        return b"window id" in done.stdout

    def __exit__(self, *exc):
        for process in self._clients:
            _stop(process)
        self._clients = []
        _stop(self.openbox)
        _stop(self.xvfb)
        return False

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def helper_env(self):
        env = testenv.base_env(display=self.display)
        env["QT_QPA_PLATFORM"] = "xcb"
        return env

    def helper(self, platform="xcb", **kwargs):
        """A helperproc.Helper on this display; platform is there to match the compositors'
        helper(): openbox has X clients only."""
        if platform != "xcb":
            raise AssertionError("openbox runs X clients only, not %r" % platform)
        return helperproc.Helper(env=self.helper_env(), **kwargs)

    def start(self, argv, stdout=subprocess.DEVNULL):
        """Starts a client that runs until stopped or the session ends."""
        process = subprocess.Popen(argv, env=self.env(), stdin=subprocess.DEVNULL,
                                   stdout=stdout, stderr=subprocess.DEVNULL,
                                   start_new_session=True)
        self._clients.append(process)
        return process

    def stop(self, process):
        _stop(process)
        if process in self._clients:
            self._clients.remove(process)

    def find(self, title):
        """Ids of the viewable windows titled exactly title."""
        done = subprocess.run(["xdotool", "search", "--onlyvisible", "--name",
                               "^%s$" % title], env=self.env(), capture_output=True, timeout=15)
        return [int(w) for w in done.stdout.split()]

    def xdotool(self, *args, timeout=15):
        try:
            done = subprocess.run(["xdotool"] + list(args), env=self.env(), capture_output=True,
                                  timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("xdotool %r did not end within %.1f s" % (args, timeout)) from None
        if done.returncode != 0:
            raise AssertionError("xdotool %r failed: %s" % (args, done.stderr.decode()))
        return done.stdout.decode()

    def active_window(self):
        """The id of the window openbox has made active, or None."""
        try:
            return int(self.xdotool("getactivewindow").strip())
        except AssertionError:
            return None

    def focused_window(self):
        """The X input focus, as xdotool reads it."""
        try:
            return int(self.xdotool("getwindowfocus", "-f").strip())
        except AssertionError:
            return None
