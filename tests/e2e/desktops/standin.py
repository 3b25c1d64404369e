"""A stand-in for the client that starts the helper: a full-screen GTK 3 window, as a
remote-desktop client is while a person works in it. Run as a program; it reports on
standard output, one line each:

  handle <parent window string>   its window in the portal's parent-window form ("x11:<hex>",
                                  or "wayland:<handle>" exported through xdg-foreign), or
                                  "handle none" when the toolkit could not export one
  fullscreen                      the compositor made it full-screen
  focus in | focus out            the keyboard came or went
  clicked                         a mouse button went down in it
  key <name>                      a key reached it (a person's typing that went astray)

Usage: standin.py TITLE
"""

import ctypes
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402


def say(*words):
    print(*words, flush=True)


def _wayland_export(window):
    """Exports the window through xdg-foreign and reports the handle. GTK 3 has no
    introspection data for its Wayland calls, so gdk_wayland_window_export_handle is called
    through ctypes on the GdkWindow's C pointer."""
    gtk = ctypes.CDLL("libgtk-3.so.0")
    get_pointer = ctypes.pythonapi.PyCapsule_GetPointer
    get_pointer.restype = ctypes.c_void_p
    get_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
    pointer = get_pointer(window.__gpointer__, None)
    exported = ctypes.CFUNCTYPE(None, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_void_p)(
        lambda _window, handle, _data: say("handle", "wayland:" + handle.decode()))
    _wayland_export.keep = exported  # GTK calls it later
    export = gtk.gdk_wayland_window_export_handle
    export.restype = ctypes.c_int
    export.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p, ctypes.c_void_p]
    if not export(pointer, ctypes.cast(exported, ctypes.c_void_p), None, None):
        say("handle", "none")


def _report_handle(widget, _event):
    window = widget.get_window()
    name = type(window).__name__
    if "X11" in name:
        gi.require_version("GdkX11", "3.0")
        from gi.repository import GdkX11  # noqa: F401  (gives the window its X11 type)
        say("handle", "x11:%x" % window.get_xid())
    elif "Wayland" in name:
        _wayland_export(window)
    else:
        say("handle", "none")
    return False


def _report_state(_widget, event):
    if event.changed_mask & event.new_window_state & Gdk.WindowState.FULLSCREEN:
        say("fullscreen")
    return False


def main():
    title = sys.argv[1]
    window = Gtk.Window(title=title)
    window.add_events(Gdk.EventMask.BUTTON_PRESS_MASK | Gdk.EventMask.KEY_PRESS_MASK)
    window.connect("map-event", _report_handle)
    window.connect("window-state-event", _report_state)
    window.connect("focus-in-event", lambda *_: say("focus", "in"))
    window.connect("focus-out-event", lambda *_: say("focus", "out"))
    window.connect("button-press-event", lambda *_: say("clicked"))
    window.connect("key-press-event",
                   lambda _w, event: say("key", Gdk.keyval_name(event.keyval)))
    window.connect("destroy", Gtk.main_quit)
    window.fullscreen()
    window.show_all()
    Gtk.main()


if __name__ == "__main__":
    main()
