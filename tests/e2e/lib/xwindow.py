"""The helper's top-level window as the X server sees it, and closing it as a window manager's
close button does.

Qt may destroy and recreate a top-level's native window shortly after show(), so a window is
looked up by title until the same X window has been found on consecutive looks. Needs Debian's
python3-xlib.
"""

import time

from Xlib import X, Xatom, display as xdisplay, error as xerror
from Xlib.protocol import event as xevent

_POLL_SECONDS = 0.05


class Display:
    """A connection to the X server at name (":N"); use it as a context manager."""

    def __init__(self, name):
        self._display = xdisplay.Display(name)
        self._root = self._display.screen().root
        self._utf8 = self._display.intern_atom("UTF8_STRING")
        self._net_wm_name = self._display.intern_atom("_NET_WM_NAME")
        self._wm_protocols = self._display.intern_atom("WM_PROTOCOLS")
        self._wm_delete = self._display.intern_atom("WM_DELETE_WINDOW")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False

    def close(self):
        if self._display is not None:
            self._display.close()
            self._display = None

    # -- looking windows up ------------------------------------------------------------------

    def _title(self, window):
        prop = window.get_full_property(self._net_wm_name, self._utf8)
        if prop is not None and prop.value:
            value = prop.value
            return value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value)
        prop = window.get_full_property(Xatom.WM_NAME, X.AnyPropertyType)
        if prop is not None and prop.value:
            value = prop.value
            return value.decode("latin-1") if isinstance(value, bytes) else str(value)
        return None

    def top_levels(self):
        """[(window id, title)] for every child of the root window that has a title; without
        a window manager these are the clients' top-level windows."""
        found = []
        for window in self._root.query_tree().children:
            try:
                title = self._title(window)
            except xerror.XError:
                continue  # destroyed while we looked
            if title is not None:
                found.append((window.id, title))
        return found

    def find(self, title, viewable=True):
        """Ids of the top-levels titled title (only viewable ones when viewable is true)."""
        ids = []
        for window_id, window_title in self.top_levels():
            if window_title != title:
                continue
            if viewable and self.map_state(window_id) != X.IsViewable:
                continue
            ids.append(window_id)
        return ids

    def wait_for_window(self, title, timeout=20, settle=0.3):
        """The id of the one viewable top-level titled title, once the same window has been
        found on looks at least settle seconds apart; AssertionError after timeout."""
        deadline = time.monotonic() + timeout
        candidate, since = None, None
        while True:
            ids = self.find(title)
            now = time.monotonic()
            if len(ids) == 1:
                if ids[0] != candidate:
                    candidate, since = ids[0], now
                elif now - since >= settle:
                    return candidate
            else:
                candidate = None
            if now >= deadline:
                raise AssertionError("no settled viewable window titled %r within %.1f s "
                                     "(top-levels: %r)" % (title, timeout, self.top_levels()))
            time.sleep(_POLL_SECONDS)

    # -- one window --------------------------------------------------------------------------

    def _window(self, window_id):
        return self._display.create_resource_object("window", window_id)

    def map_state(self, window_id):
        """X.IsUnmapped, X.IsUnviewable or X.IsViewable; None when the window is gone."""
        try:
            return self._window(window_id).get_attributes().map_state
        except xerror.XError:
            return None

    def geometry(self, window_id):
        """(width, height) of the window."""
        g = self._window(window_id).get_geometry()
        return g.width, g.height

    def position(self, window_id):
        """(x, y) of the window's top-left corner on the screen."""
        window = self._window(window_id)
        origin = window.translate_coords(self._root, 0, 0)
        return -origin.x, -origin.y

    def wait_map_state(self, window_id, states, timeout=10):
        """Waits until the window's map state is one of states (None counts as gone)."""
        deadline = time.monotonic() + timeout
        while True:
            state = self.map_state(window_id)
            if state in states:
                return state
            if time.monotonic() >= deadline:
                raise AssertionError("window 0x%x stayed in map state %r for %.1f s"
                                     % (window_id, state, timeout))
            time.sleep(_POLL_SECONDS)

    def resize(self, window_id, width, height):
        """Resizes the window as a user dragging its border would (no window manager runs, so
        the request takes effect at once)."""
        self._window(window_id).configure(width=width, height=height)
        self._display.sync()

    def request_close(self, window_id):
        """Asks the window to close the way a window manager's close button does: a
        WM_PROTOCOLS ClientMessage naming WM_DELETE_WINDOW. (Destroying the X window instead
        would bypass the toolkit's close handling altogether.)"""
        window = self._window(window_id)
        message = xevent.ClientMessage(
            window=window, client_type=self._wm_protocols,
            data=(32, [self._wm_delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(message, event_mask=X.NoEventMask)
        self._display.sync()
