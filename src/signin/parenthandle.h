// The client's window that a sign-in belongs to, as the client names it: the parent-window
// string of the desktop portals, "x11:<hexadecimal window id>" or "wayland:<handle>", the
// handle being one the client exported through xdg-foreign.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ParentHandle {
    enum class System {
        None,    // no parent: the window stands on its own
        X11,     // x11Window is set
        Wayland, // waylandHandle is set
    };
    System system = System::None;
    std::uint32_t x11Window = 0;
    std::string waylandHandle;
};

// The longest Wayland handle taken. Compositors hand out short ones (a UUID, 32 letters); the
// bound keeps a request well inside the Wayland protocol's 4 KiB message, beyond which the
// library would end the whole connection.
constexpr std::size_t kMaxWaylandHandleBytes = 1024;

// Reads a parent-window string. Anything that is not well-formed names no parent: an unknown
// prefix, an X window id that is zero, not hexadecimal or beyond the 29 bits X gives an id, a
// Wayland handle that is empty, too long, or holds anything but printable ASCII (space included).
ParentHandle parseParentHandle(const std::string &text);
