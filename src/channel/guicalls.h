// The work the command thread hands to the GUI thread. Each call only posts and returns at
// once; what it posts runs later on the GUI thread, in the order posted. The command thread
// never waits for it and never touches a widget.
#pragma once

#include "signin/parenthandle.h"

#include <QString>
#include <QUrl>

#include <functional>
#include <string>

struct HelperState;

// What one sign-in shows: the captures of openSignInWindow.
struct SignInPage {
    QString title;
    QUrl url;
    std::string userAgent; // empty: the engine's default user agent
    // An xdg-activation token from the program the person is using, which lets a Wayland
    // compositor that prevents focus stealing raise this window; empty: none was given.
    std::string activationToken;
    // The client's window this sign-in's window belongs to; System::None: none, or none usable.
    ParentHandle parent;
    // The kept session the sign-in runs in, claimed by this helper, and its folder; both empty:
    // the run's own profile, which keeps nothing on disk.
    std::string session;
    std::string sessionFolder;
    // Nothing is shown: no window is mapped, raised or focused.
    bool silent = false;
};

struct GuiCalls {
    std::function<void(HelperState *, const SignInPage &)> postOpenSignInWindow;
    std::function<void(HelperState *)> postHideSignInWindow;
    std::function<void(HelperState *)> postQuitApplication; // the command thread's last act
};
