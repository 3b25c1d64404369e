// The sign-in window as the xdg-foreign child of the client's Wayland toplevel.
#pragma once

#include "webview/parentlink.h"

#include <memory>

// Built only where the Wayland client code and Qt's native interface are
// (TAVISK_HAVE_WAYLAND_FOREIGN). Under Qt's Wayland platform, imports a Wayland parent's handle
// and sets it as the parent of the window's toplevel.
std::unique_ptr<ParentLink> waylandParentLink();
