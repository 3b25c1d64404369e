// The sign-in window as a transient of the client's X11 window.
#pragma once

#include "webview/parentlink.h"

#include <memory>

// Built only where the xcb headers are (TAVISK_HAVE_XCB). Under Qt's X11 platform, makes the
// window a dialog transient for an X11 parent that is shown and centres it over that parent.
std::unique_ptr<ParentLink> x11ParentLink();
