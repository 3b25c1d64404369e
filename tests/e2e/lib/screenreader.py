"""A desktop with a screen reader's plumbing, private to one test module, and the helper's
accessibility tree read through it as a screen reader reads it.

Runs openbox on Xvfb (lib/desktop.py), which gives windows a frame, real activation and
keyboard focus, then a private D-Bus session bus and the AT-SPI bus launcher on it (with the
session's "accessibility on, screen reader running" switches set, as a desktop does when a
screen reader starts). The tree is read with Debian's python3-pyatspi, which talks to the
accessibility bus found through this module's session bus; it is imported only once that bus
runs, on a desktop with the screen reader's switches on.
"""

import os
import signal
import subprocess
import time

import desktop
import proctree
import testenv

_POLL_SECONDS = 0.05
_START_TIMEOUT = 20

pyatspi = None  # the module, once Desktop.start has run


class Desktop:
    """The whole desktop; start() and stop() (setUpModule and tearDownModule). With
    screen_reader=False the accessibility bus runs with its switches off, as on a desktop where
    no screen reader has been started."""

    def __init__(self, screen_reader=True):
        self._switch = "1" if screen_reader else "0"
        self._openbox = None
        self._processes = []
        self.display = None
        self.bus_address = None

    def _spawn(self, argv, env, stdout=subprocess.DEVNULL):
        process = subprocess.Popen(argv, env=env, stdin=subprocess.DEVNULL, stdout=stdout,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        self._processes.append(process)
        return process

    def start(self):
        global pyatspi
        try:
            # openbox holds its connection from the start: Xvfb would otherwise start over
            # whenever its last client left, as the bus launcher does after its first look.
            self._openbox = desktop.Openbox().__enter__()
            self.display = self._openbox.display
            env = self._openbox.env()
            for name in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS"):
                env.pop(name, None)
            bus = self._spawn(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                              env, stdout=subprocess.PIPE)
            self.bus_address = _read_line(bus.stdout, _START_TIMEOUT).strip()
            if not self.bus_address:
                raise AssertionError("the session bus printed no address")
            env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
            self._spawn(["/usr/libexec/at-spi-bus-launcher", "--launch-immediately",
                         "--a11y=" + self._switch, "--screen-reader=" + self._switch], env)
            if self._switch == "1":
                # This process reads the tree through the same buses. The library keeps its
                # first connection to an accessibility bus for good: one such desktop a process.
                os.environ.update(DISPLAY=self.display, DBUS_SESSION_BUS_ADDRESS=self.bus_address)
                os.environ.pop("AT_SPI_BUS_ADDRESS", None)
                import pyatspi as module
                pyatspi = module
                if not testenv.wait_until(_registry_answers, _START_TIMEOUT, 0.2):
                    raise AssertionError("the accessibility registry did not answer")
        except BaseException:
            self.stop()
            raise

    def stop(self):
        # The bus launcher starts the accessibility bus, which starts the registry: end every
        # process below what we started too.
        pids = set()
        for process in self._processes:
            pids |= {process.pid} | proctree.descendants(process.pid) \
                | proctree.group_members(process.pid)
        for sig in (signal.SIGTERM, signal.SIGKILL):
            for pid in pids:
                try:
                    os.kill(pid, sig)
                except (ProcessLookupError, PermissionError):
                    pass
            if testenv.wait_until(lambda: not any(proctree.is_running(p) for p in pids),
                                     5):
                break
        for process in self._processes:
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                pass
            if process.stdout is not None:
                process.stdout.close()
        self._processes = []
        if self._openbox is not None:
            self._openbox.__exit__(None, None, None)
            self._openbox = None

    def helper_env(self, **extra):
        """The environment for a helper on this desktop: on its display and its session bus,
        as a program started from the desktop would be."""
        env = self._openbox.helper_env()
        env["DBUS_SESSION_BUS_ADDRESS"] = self.bus_address
        env.pop("AT_SPI_BUS_ADDRESS", None)
        env.pop("QTWEBENGINE_ENABLE_LINUX_ACCESSIBILITY", None)
        env.update(extra)
        return env

    def wait_for_keyboard(self, title, timeout=10):
        """Waits until the X input focus is on the window titled title, as a person waits to
        see the window focused before typing."""
        if not testenv.wait_until(
                lambda: self._openbox.focused_window() in self._openbox.find(title), timeout, 0.1):
            raise AssertionError("the window %r never got the keyboard (focus on %r)"
                                 % (title, self._openbox.focused_window()))

    def xdotool(self, *args):
        """Runs xdotool on this display: keys go through XTEST to the focused window, as a
        keyboard's would."""
        self._openbox.xdotool(*args)


def _read_line(stream, timeout):
    """One line from a pipe, or "" after timeout."""
    import select
    ready, _, _ = select.select([stream], [], [], timeout)
    return stream.readline().decode() if ready else ""


def _registry_answers():
    try:
        pyatspi.Registry.getDesktop(0).childCount
        return True
    except Exception:  # noqa: BLE001 - GLib errors while the buses come up
        return False


# ---------------------------------------------------------------------------------------------
# The tree


class Node:
    """One accessible object as a screen reader sees it at one moment."""

    def __init__(self, accessible, depth):
        self.accessible = accessible
        self.depth = depth
        self.role = accessible.getRole()  # a pyatspi.ROLE_... constant
        self.role_name = accessible.getRoleName()  # only for reading: it varies by release
        self.name = accessible.name
        states = accessible.getState()
        self.focused = states.contains(pyatspi.STATE_FOCUSED)
        self.active = states.contains(pyatspi.STATE_ACTIVE)

    def __repr__(self):
        flags = "".join(" " + f for f, on in (("FOCUSED", self.focused), ("ACTIVE", self.active))
                        if on)
        return "%s[%s] %r%s" % ("  " * self.depth, self.role_name, self.name, flags)

    def text(self):
        """The object's text through the Text interface (read-only in this engine)."""
        return self.accessible.queryText().getText(0, -1)

    def grab_focus(self):
        """Moves the focus here, as a screen reader does when its user moves to an object."""
        return self.accessible.queryComponent().grabFocus()


def application(pid, timeout=20):
    """The application on the accessibility bus whose process is pid."""
    def find():
        desktop = pyatspi.Registry.getDesktop(0)
        for index in range(desktop.childCount):
            app = desktop.getChildAtIndex(index)
            try:
                if app is not None and app.get_process_id() == pid:
                    return app
            except Exception:  # noqa: BLE001 - an application that went away meanwhile
                continue
        return None
    app = testenv.wait_until(find, timeout, 0.1)
    if app is None:
        raise AssertionError("process %d never appeared on the accessibility bus" % pid)
    return app


def tree(app, limit=400):
    """Every object below app, depth first, read afresh (nothing from the client's cache)."""
    app.clear_cache()
    nodes, todo = [], [(app, 0)]
    while todo and len(nodes) < limit:
        accessible, depth = todo.pop()
        try:
            node = Node(accessible, depth)
            children = [accessible.getChildAtIndex(i) for i in range(accessible.childCount)]
        except Exception:  # noqa: BLE001 - an object that went away while we read
            continue
        nodes.append(node)
        todo.extend((child, depth + 1) for child in reversed(children) if child is not None)
    return nodes


def wait_for_tree(app, predicate, timeout=20, what="the tree"):
    """Reads the tree until predicate(nodes) gives a true value, and returns that value. A
    predicate that fails on a tree still being built (an object not there yet, or gone while
    read) counts as false."""
    deadline = time.monotonic() + timeout
    while True:
        nodes = tree(app)
        failure = None
        try:
            value = predicate(nodes)
        except Exception as e:  # noqa: BLE001 - reported if it lasts
            value, failure = None, e
        if value:
            return value
        if time.monotonic() >= deadline:
            raise AssertionError("%s never showed within %.1f s (last: %r); the tree:\n%s"
                                 % (what, timeout, failure, "\n".join(map(repr, nodes))))
        time.sleep(_POLL_SECONDS * 4)


def find(nodes, role, name):
    """The first node of that role and name, or None."""
    for node in nodes:
        if node.role == role and node.name == name:
            return node
    return None
