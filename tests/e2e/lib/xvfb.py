"""Xvfb on a free display number, for one test or shared by every test of a module. Every wait
has a bound that fails; the server is stopped when its context manager exits."""

import os
import subprocess

from testenv import wait_until


def _lock_owner(display_number):
    try:
        with open("/tmp/.X%d-lock" % display_number) as f:
            return int(f.read().strip() or "0")
    except (OSError, ValueError):
        return None


class XServer:
    """An Xvfb server on a free display number; .display is ":N"."""

    def __init__(self, first_display=90, attempts=50, start_timeout=15):
        self.display = None
        self.process = None
        self._first = first_display
        self._attempts = attempts
        self._start_timeout = start_timeout

    def __enter__(self):
        for number in range(self._first, self._first + self._attempts):
            socket_path = "/tmp/.X11-unix/X%d" % number
            if os.path.exists(socket_path) or os.path.exists("/tmp/.X%d-lock" % number):
                continue
            process = subprocess.Popen(
                # -noreset: the server would otherwise reset whenever its last client goes and
                # refuse the connections that arrive meanwhile.
                ["Xvfb", ":%d" % number, "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
                 "-noreset"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
            # Another server may take the number between our check and its start; ours then
            # exits at once and we try the next number. The lock file names the owner.
            started = wait_until(
                lambda: process.poll() is not None
                or (os.path.exists(socket_path) and _lock_owner(number) == process.pid),
                self._start_timeout)
            if started and process.poll() is None:
                self.process = process
                self.display = ":%d" % number
                return self
            self._stop(process)
        raise AssertionError("could not start Xvfb on any display from :%d" % self._first)

    def __exit__(self, *exc):
        if self.process is not None:
            self._stop(self.process)
            self.process = None
        return False

    @staticmethod
    def _stop(process):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait(timeout=5)


class SharedXServer:
    """One Xvfb for every test of a module: `xserver = xvfb.SharedXServer()` at module
    level, then `setUpModule = xserver.start` and `tearDownModule = xserver.stop`."""

    def __init__(self):
        self._server = None

    def start(self):
        self._server = XServer().__enter__()

    def stop(self):
        if self._server is not None:
            self._server.__exit__(None, None, None)
            self._server = None

    @property
    def display(self):
        return self._server.display
