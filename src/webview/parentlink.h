// The part of ParentWindow that speaks one window system's language.
#pragma once

#include "signin/parenthandle.h"

#include <Qt>

class QWidget;

// The link of the sign-in window to a parent of one window system, for the whole run. A parent
// of another window system, or one this one cannot use, leaves the window on its own. GUI
// thread only; owned by ParentWindow.
class ParentLink
{
public:
    virtual ~ParentLink() = default;

    // Before `window` is shown, sized already. True when the window is now a child of `parent`
    // (and placed over it); false leaves it a window of its own.
    virtual bool prepare(QWidget *window, const ParentHandle &parent) = 0;
    // Right after show(), before the window's first frame reaches the window system.
    virtual void attachShown(QWidget *window, const ParentHandle &parent) = 0;
    // The sign-in ended and the window is hidden, its native window still there: drops the link.
    virtual void release(QWidget *window) = 0;
};

// Top-level window types are set while the window has no native window (before its first show,
// or after endSignIn destroyed it), where a change only takes effect at the next show.
void setTopLevelType(QWidget *window, Qt::WindowType type);
