"""What every process test needs around the helper: where the binary under test is, the Qt it
runs on, the helper's environment, free loopback ports, bounded waits and reported figures.

Standard library only. Temporary folders made here are removed when the tests' process ends.
"""

import atexit
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

_temp_dirs = []


@atexit.register
def _remove_temp_dirs():
    for path in _temp_dirs:
        shutil.rmtree(path, ignore_errors=True)


def remove_at_exit(path):
    """Removes the folder path, with everything in it, when the tests' process ends."""
    _temp_dirs.append(path)


def qt_version():
    """The (major, minor) of the Qt the tests run on, from qtpaths6 (qt6-base-dev-tools)."""
    out = subprocess.run(["qtpaths6", "--qt-version"], capture_output=True, text=True,
                         timeout=10, check=True).stdout.strip()
    return tuple(int(part) for part in out.split(".")[:2])


def binary_path():
    """The helper binary under test, from TAVISK_BINARY (CTest sets it)."""
    path = os.environ.get("TAVISK_BINARY")
    if not path:
        raise AssertionError("TAVISK_BINARY is not set")
    if not os.access(path, os.X_OK):
        raise AssertionError("TAVISK_BINARY is not an executable: %s" % path)
    return path


def base_env(display=None, offscreen=False):
    """The environment for a helper run: the engine's sandbox off (we run as root), a private
    runtime folder, the engine's start-up chatter silenced, and either an X display or the
    offscreen platform."""
    env = dict(os.environ)
    env["QTWEBENGINE_DISABLE_SANDBOX"] = "1"
    runtime_dir = tempfile.mkdtemp(prefix="tavisk-xdg-")
    os.chmod(runtime_dir, 0o700)
    remove_at_exit(runtime_dir)
    env["XDG_RUNTIME_DIR"] = runtime_dir
    env["QT_LOGGING_RULES"] = "qt.webenginecontext.info=false"
    if display is not None:
        env["DISPLAY"] = display
        env.pop("QT_QPA_PLATFORM", None)
    if offscreen or display is None:
        env["QT_QPA_PLATFORM"] = "offscreen"
    return env


def free_tcp_port():
    """A loopback port that was free a moment ago."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(predicate, timeout, interval=0.02):
    """Polls predicate until it returns a true value (returned) or timeout passes (None)."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


def figure(text):
    """Reports a measured figure in the test's log (`ctest -V` shows it)."""
    sys.stderr.write("FIGURE: %s\n" % text)
