// Making the sign-in window a child of the client's window: transient for it on X11, its
// xdg-foreign child on Wayland, so that the window system places it over the client, keeps it
// above, and lets it take the keyboard as the client's own dialog.
#pragma once

#include "signin/parenthandle.h"

#include <memory>

class ParentLink;
class QWidget;

// The link of one sign-in window to the parent of the sign-in in flight. GUI thread only; owned
// by the sign-in window, and destroyed before the application object (it holds Wayland objects).
// A parent of the other window system, an X window that no longer exists, a handle the
// compositor does not know or no xdg-foreign importer at all: the window stays on its own, as
// without a parent. Nothing here writes a reply or stops a sign-in.
class ParentWindow
{
public:
    ParentWindow();
    ~ParentWindow();
    ParentWindow(const ParentWindow &) = delete;
    ParentWindow &operator=(const ParentWindow &) = delete;

    // Before `window` is shown for a sign-in, sized already: on X11 makes it a dialog transient
    // for the parent window and places it centred over it. Remembers a Wayland parent for
    // attachShown.
    void prepare(QWidget *window, const ParentHandle &parent);
    // Right after show(): on Wayland imports the handle and sets it as the parent of the
    // window's toplevel, before the window's first frame reaches the compositor.
    void attachShown(QWidget *window);
    // When the sign-in ends and the window is hidden, before its native window goes: drops the
    // link, so that the next sign-in has only the parent it names.
    void release(QWidget *window);

private:
    ParentHandle pending;             // the parent prepare() was given
    std::unique_ptr<ParentLink> link; // the platform's; null where this build has none for it
};
