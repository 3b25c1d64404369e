"""Start the real helper with real pipes and talk to it as the client does.

Standard library only. Every wait here has a bound and fails with AssertionError instead of
hanging; every process started here is killed when its context manager exits.
"""

import json
import os
import queue
import select
import signal
import subprocess
import threading
import time

from proctree import descendants, group_members, is_running, peak_rss_kib
from testenv import base_env, binary_path, wait_until

_READ_CHUNK = 65536
_POLL_SECONDS = 0.05
_EOF = object()


class PipeReader:
    """Reads one descriptor on a thread until EOF or stop(), handing out whole lines.

    The thread polls with a short select() so that stop() can end it promptly; only then is
    the descriptor closed, so a close really leaves the pipe without a reader."""

    def __init__(self, fd, name):
        self.fd = fd
        self.lines = queue.Queue()  # raw lines with their b"\n", then _EOF
        self.all_lines = []
        self.partial = b""
        self.eof = threading.Event()
        self._stop = threading.Event()
        self._lock = threading.Lock()
        self._changed = threading.Condition(self._lock)
        self._thread = threading.Thread(target=self._run, name=name, daemon=True)
        self._thread.start()

    def _run(self):
        while not self._stop.is_set():
            ready, _, _ = select.select([self.fd], [], [], _POLL_SECONDS)
            if not ready:
                continue
            try:
                data = os.read(self.fd, _READ_CHUNK)
            except OSError:
                data = b""
            if not data:
                with self._lock:
                    self.eof.set()
                    self._changed.notify_all()
                self.lines.put(_EOF)
                return
            with self._lock:
                self.partial += data
                while b"\n" in self.partial:
                    line, self.partial = self.partial.split(b"\n", 1)
                    self.all_lines.append(line + b"\n")
                    self.lines.put(line + b"\n")
                self._changed.notify_all()

    def wait_for(self, predicate, timeout):
        """Waits until predicate(list of raw lines) is true; returns it, or None on timeout."""
        deadline = time.monotonic() + timeout
        with self._lock:
            while True:
                value = predicate(list(self.all_lines))
                if value or self.eof.is_set():
                    return value or None
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self._changed.wait(min(left, _POLL_SECONDS * 4))

    def close(self):
        self._stop.set()
        self._thread.join(timeout=5)
        if self.fd is not None:
            os.close(self.fd)
            self.fd = None


class Helper:
    """The helper as a child process with two fresh pipes as its channels.

    args, when given, replaces the whole argument list after argv[0]; "{in}" and "{out}" in
    it are replaced by the child's in-channel and out-channel descriptors. argv0 replaces the
    program name the child sees. stdout_pipe=True collects standard output; False sends it to
    /dev/null; an int is used as the child's standard output descriptor as it is. user, when
    given, is an account whose popen_args() switch the child to it (desktop.Account): the
    pipes are still made here, and the child inherits its two ends as any client's would.
    binary, when given, is run in place of TAVISK_BINARY (a copy the user can reach)."""

    def __init__(self, args=None, env=None, devtools_port=None, stdout_pipe=True, argv0=None,
                 pass_fds=(), user=None, binary=None):
        self.env = dict(env) if env is not None else base_env(offscreen=True)
        if devtools_port is not None:
            self.env["QTWEBENGINE_REMOTE_DEBUGGING"] = "127.0.0.1:%d" % devtools_port
        self.devtools_port = devtools_port
        self._args = args
        self._argv0 = argv0
        self._stdout_pipe = stdout_pipe
        self._extra_fds = tuple(pass_fds)
        self._user_args = user.popen_args() if user is not None else {}
        self._binary = binary
        self.process = None
        self.pid = None
        self.last_raw = None
        self.child_in_fd = None
        self.child_out_fd = None
        self._in_w = None
        self._replies = None
        self._stdout = None
        self._stderr = None
        self._send_lock = threading.Lock()

    # -- life cycle --------------------------------------------------------------------------

    def start(self):
        in_r, self._in_w = os.pipe()
        out_r, out_w = os.pipe()
        self.child_in_fd, self.child_out_fd = in_r, out_w
        if self._args is None:
            args = ["--cmdInFd=%d" % in_r, "--cmdOutFd=%d" % out_w]
        else:
            args = [a.replace("{in}", str(in_r)).replace("{out}", str(out_w))
                    for a in self._args]
        binary = self._binary or binary_path()
        if self._stdout_pipe is True:
            stdout = subprocess.PIPE
        elif self._stdout_pipe is False:
            stdout = subprocess.DEVNULL
        else:
            stdout = self._stdout_pipe
        try:
            self.process = subprocess.Popen(
                [self._argv0 if self._argv0 is not None else binary] + args,
                executable=binary, env=self.env, stdin=subprocess.DEVNULL, stdout=stdout,
                stderr=subprocess.PIPE, pass_fds=(in_r, out_w) + self._extra_fds,
                start_new_session=True, **self._user_args)
        finally:
            # The child holds its own copies; ours would keep the pipes from ever ending.
            os.close(in_r)
            os.close(out_w)
        self.pid = self.process.pid
        self._replies = PipeReader(out_r, "cmdOut-reader")
        if self.process.stdout is not None:
            self._stdout = PipeReader(os.dup(self.process.stdout.fileno()), "stdout-reader")
            self.process.stdout.close()
        self._stderr = PipeReader(os.dup(self.process.stderr.fileno()), "stderr-reader")
        self.process.stderr.close()
        return self

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.kill_all()
        return False

    def kill_all(self):
        """Kills the whole process group if anything of it still runs, reaps, closes ours."""
        if self.process is None:
            return
        try:
            os.killpg(self.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            pass
        wait_until(lambda: not group_members(self.pid), 5)
        self.close_input()
        for reader in (self._replies, self._stdout, self._stderr):
            if reader is not None and reader.fd is not None:
                reader.close()

    # -- the in-channel ----------------------------------------------------------------------

    @staticmethod
    def encode(obj_or_bytes):
        if isinstance(obj_or_bytes, (bytes, bytearray)):
            return bytes(obj_or_bytes)
        return json.dumps(obj_or_bytes, separators=(",", ":")).encode("utf-8") + b"\n"

    def send(self, obj_or_bytes):
        """Writes one request (a dict, as compact JSON and a newline) or raw bytes as they are.
        Blocks until everything is in the pipe; use send_in_background for large inputs."""
        data = self.encode(obj_or_bytes)
        with self._send_lock:
            if self._in_w is None:
                raise AssertionError("the in-channel is already closed")
            view = memoryview(data)
            while view:
                written = os.write(self._in_w, view)
                view = view[written:]

    def send_in_background(self, chunks, close_after=False):
        """Writes an iterable of byte chunks from a thread, so a large input can never
        deadlock against the test. Returns the thread; .error holds an exception, if any."""
        def run():
            try:
                for chunk in chunks:
                    self.send(chunk)
                if close_after:
                    self.close_input()
            except BaseException as e:  # reported through the thread object
                thread.error = e

        thread = threading.Thread(target=run, name="cmdIn-writer", daemon=True)
        thread.error = None
        thread.start()
        return thread

    def close_input(self):
        """Closes the client's write end of the in-channel: the helper sees end of input."""
        with self._send_lock:
            if self._in_w is not None:
                os.close(self._in_w)
                self._in_w = None

    # -- the out-channel ---------------------------------------------------------------------

    def reply_raw(self, timeout=30):
        """The next reply line as raw bytes, newline included."""
        try:
            item = self._replies.lines.get(timeout=timeout)
        except queue.Empty:
            raise AssertionError("no reply within %.1f s (stderr: %r)"
                                 % (timeout, self.stderr_text()[-2000:])) from None
        if item is _EOF:
            self._replies.lines.put(_EOF)  # later calls see the end too
            raise AssertionError("the out-channel ended instead of a reply (exit status %r, "
                                 "stderr: %r)" % (self.process.poll(), self.stderr_text()[-2000:]))
        self.last_raw = item
        return item

    def reply(self, timeout=30):
        """The next reply line parsed as a JSON object; its raw bytes stay in .last_raw."""
        raw = self.reply_raw(timeout)
        try:
            value = json.loads(raw)
        except ValueError:
            raise AssertionError("reply is not JSON: %r" % raw[:500]) from None
        if not isinstance(value, dict):
            raise AssertionError("reply is not a JSON object: %r" % raw[:500])
        return value

    def close_reply_reader(self):
        """Closes the client's read end of the out-channel; the helper's writes then fail."""
        self._replies.close()

    def out_at_eof(self, timeout):
        """True when the client's read of the out-channel reaches end of file within timeout
        (unread replies before it are kept for reply())."""
        return self._replies.eof.wait(timeout)

    # -- standard output and error -----------------------------------------------------------

    @property
    def stdout_lines(self):
        """Standard output so far, as decoded lines without their newlines."""
        if self._stdout is None:
            return []
        return [l.decode("utf-8", "replace").rstrip("\n") for l in self._stdout.all_lines]

    def wait_stdout(self, predicate, timeout):
        """Waits until predicate(stdout_lines) is true; returns its value (None on timeout)."""
        if self._stdout is None:
            raise AssertionError("standard output is not collected")
        decode = lambda raw: [l.decode("utf-8", "replace").rstrip("\n") for l in raw]
        return self._stdout.wait_for(lambda raw: predicate(decode(raw)), timeout)

    def stderr_text(self):
        if self._stderr is None:
            return ""
        with self._stderr._lock:
            data = b"".join(self._stderr.all_lines) + self._stderr.partial
        return data.decode("utf-8", "replace")

    def wait_stderr_eof(self, timeout=10):
        return self._stderr.eof.wait(timeout)

    # -- the process -------------------------------------------------------------------------

    def wait(self, timeout=15):
        """The exit status (negative: killed by that signal), failing after timeout."""
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the helper did not exit within %.1f s" % timeout) from None

    def tree(self):
        """The helper and every living process below it or in its process group."""
        members = group_members(self.pid) | descendants(self.pid)
        if is_running(self.pid):
            members.add(self.pid)
        return members

    def peak_rss_kib(self):
        return peak_rss_kib(self.pid)
