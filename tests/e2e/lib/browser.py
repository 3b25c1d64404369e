"""Drives the helper's page as a person would, through the engine's DevTools endpoint.

The helper must run with QTWEBENGINE_REMOTE_DEBUGGING=127.0.0.1:PORT in its environment
(helperproc.Helper(devtools_port=PORT) sets it). Mouse and keyboard input goes through
Input.dispatchMouseEvent and Input.dispatchKeyEvent, the same path as real input; Runtime.evaluate
only finds elements and confirms that the input arrived. Input sent to a document that has just
been loaded can be dropped until it has painted, so every action is confirmed and retried, a
bounded number of times.

Needs Debian's python3-websocket.
"""

import json
import time
import urllib.request

import websocket

_POLL_SECONDS = 0.05


class DevToolsError(AssertionError):
    pass


def page_targets(port):
    """The page targets the endpoint lists now (empty when it does not answer yet)."""
    try:
        with urllib.request.urlopen("http://127.0.0.1:%d/json" % port, timeout=2) as answer:
            targets = json.load(answer)
    except (OSError, ValueError):
        return []
    return [t for t in targets if t.get("type") == "page" and t.get("webSocketDebuggerUrl")]


def wait_for_page(port, url_prefix, timeout=20):
    """The DevTools target of the page whose URL begins with url_prefix."""
    deadline = time.monotonic() + timeout
    while True:
        for target in page_targets(port):
            if target.get("url", "").startswith(url_prefix):
                return target
        if time.monotonic() >= deadline:
            raise DevToolsError("no page at %s on DevTools port %d within %.1f s (targets: %r)"
                                % (url_prefix, port, timeout, page_targets(port)))
        time.sleep(_POLL_SECONDS * 2)


class Page:
    """A DevTools session with one page; use it as a context manager."""

    def __init__(self, target, timeout=10, url_prefix=""):
        self.target = target
        self.url_prefix = url_prefix  # the document the actions are meant for
        self._timeout = timeout
        self._ids = iter(range(1, 1 << 30))
        self._ws = websocket.create_connection(target["webSocketDebuggerUrl"],
                                               timeout=timeout, suppress_origin=True)

    @classmethod
    def open(cls, port, url_prefix, timeout=20):
        """A session with the page at url_prefix. The target may already be listed under
        that URL while the previous document is still shown; the actions wait for the right
        one."""
        return cls(wait_for_page(port, url_prefix, timeout), url_prefix=url_prefix)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        if self._ws is not None:
            self._ws.close()
            self._ws = None

    # -- the protocol ------------------------------------------------------------------------

    def call(self, method, **params):
        """Sends one command and returns its result; events that come meanwhile are dropped."""
        message_id = next(self._ids)
        self._ws.send(json.dumps({"id": message_id, "method": method, "params": params}))
        deadline = time.monotonic() + self._timeout
        while True:
            self._ws.settimeout(max(0.01, deadline - time.monotonic()))
            try:
                answer = json.loads(self._ws.recv())
            except websocket.WebSocketTimeoutException:
                raise DevToolsError("no answer to %s within %.1f s"
                                    % (method, self._timeout)) from None
            if answer.get("id") != message_id:
                continue
            if "error" in answer:
                raise DevToolsError("%s failed: %r" % (method, answer["error"]))
            return answer.get("result", {})

    def evaluate(self, expression):
        """The value of a JavaScript expression in the page (JSON-serialisable values only)."""
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        if "exceptionDetails" in result:
            raise DevToolsError("%s threw: %r" % (expression, result["exceptionDetails"]))
        return result.get("result", {}).get("value")

    def wait_for(self, expression, timeout=10):
        """Polls an expression until its value is true; returns it."""
        deadline = time.monotonic() + timeout
        while True:
            try:
                value = self.evaluate(expression)
            except DevToolsError:
                value = None  # the document may be between two loads
            if value:
                return value
            if time.monotonic() >= deadline:
                raise DevToolsError("%s did not become true within %.1f s" % (expression, timeout))
            time.sleep(_POLL_SECONDS)

    # -- a person's input --------------------------------------------------------------------

    def wait_ready(self, selector, timeout=10):
        """Waits until the intended document has loaded, holds selector and has painted a
        frame. A document replaced meanwhile ("Execution context was destroyed") is waited
        for again."""
        deadline = time.monotonic() + timeout
        condition = ("location.href.startsWith(%s) && document.readyState === 'complete'"
                     " && !!document.querySelector(%s)"
                     % (json.dumps(self.url_prefix), json.dumps(selector)))
        while True:
            try:
                self.wait_for(condition, max(0.1, deadline - time.monotonic()))
                # A frame painted after the load: input before it may be dropped.
                self.call("Runtime.evaluate", awaitPromise=True, expression=(
                    "new Promise(function (r) { requestAnimationFrame(function () {"
                    " requestAnimationFrame(function () { r(true); }); }); })"))
                return
            except DevToolsError:
                if time.monotonic() >= deadline:
                    raise
                time.sleep(_POLL_SECONDS)

    def centre(self, selector):
        """The centre of an element in the viewport's CSS pixels."""
        box = self.evaluate(
            "(function () { var e = document.querySelector(%s); if (!e) return null;"
            " e.scrollIntoView({block: 'center'}); var r = e.getBoundingClientRect();"
            " return [r.left + r.width / 2, r.top + r.height / 2, r.width, r.height]; })()"
            % json.dumps(selector))
        if not box or box[2] <= 0 or box[3] <= 0:
            raise DevToolsError("%s has no box on the page (%r)" % (selector, box))
        return box[0], box[1]

    def _watch_presses(self, selector):
        """Counts mousedown events that reach the element from now on."""
        self.evaluate(
            "(function () { var e = document.querySelector(%s); e.__e2ePresses = 0;"
            " if (!e.__e2eWatched) { e.__e2eWatched = true;"
            " e.addEventListener('mousedown', function () { e.__e2ePresses++; }, true); } })()"
            % json.dumps(selector))

    def _presses(self, selector):
        return self.evaluate("document.querySelector(%s).__e2ePresses" % json.dumps(selector))

    def _mouse(self, kind, x, y):
        self.call("Input.dispatchMouseEvent", type=kind, x=x, y=y, button="left",
                  buttons=1 if kind == "mousePressed" else 0, clickCount=1)

    def click(self, selector, attempts=10, confirm_timeout=1.0):
        """Presses the left button over the element's centre, confirms the press reached the
        element, then releases it. The release is what activates a button, so a button that
        navigates away is activated once only."""
        for _ in range(attempts):
            self.wait_ready(selector)
            try:
                self._watch_presses(selector)
                x, y = self.centre(selector)
                self._mouse("mouseMoved", x, y)
                self._mouse("mousePressed", x, y)
                deadline = time.monotonic() + confirm_timeout
                while not self._presses(selector) and time.monotonic() < deadline:
                    time.sleep(_POLL_SECONDS)
                if self._presses(selector):
                    self._mouse("mouseReleased", x, y)
                    return
            except DevToolsError:
                pass  # the document changed under us; start over
            # The press was dropped; let the button go before the next try.
            self._mouse("mouseReleased", 0, 0)
            time.sleep(0.2)
        raise DevToolsError("no press on %s arrived in %d attempts" % (selector, attempts))

    def type_text(self, text):
        """Types text into whatever has the focus, one key press per character."""
        for ch in text:
            self.call("Input.dispatchKeyEvent", type="keyDown", text=ch, unmodifiedText=ch,
                      key=ch)
            self.call("Input.dispatchKeyEvent", type="keyUp", key=ch)

    def fill(self, selector, text, attempts=5):
        """Clicks into a field and types text, then confirms the field holds exactly text."""
        for _ in range(attempts):
            self.click(selector)
            if not self.evaluate("document.activeElement === document.querySelector(%s)"
                                 % json.dumps(selector)):
                continue
            self.type_text(text)
            value = self.evaluate("document.querySelector(%s).value" % json.dumps(selector))
            if value == text:
                return
            # Some keys were dropped: empty the field the way a person would, and start over.
            self.evaluate("document.querySelector(%s).select()" % json.dumps(selector))
            self.call("Input.dispatchKeyEvent", type="keyDown", key="Backspace",
                      code="Backspace", windowsVirtualKeyCode=8)
            self.call("Input.dispatchKeyEvent", type="keyUp", key="Backspace",
                      code="Backspace", windowsVirtualKeyCode=8)
        raise DevToolsError("could not type into %s in %d attempts" % (selector, attempts))
