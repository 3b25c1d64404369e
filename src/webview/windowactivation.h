// Giving the sign-in window the keyboard, with an xdg-activation token when the client passed
// one on.
#pragma once

#include <string>

class QWidget;

// Runs on the GUI thread: the token for the sign-in about to be shown. The request's own token
// wins; otherwise the XDG_ACTIVATION_TOKEN the helper was started with serves the first sign-in
// only. That variable is taken out of the environment on the first call, so call this before
// the first show: Qt 6.4's Wayland platform spends it on the first activation request, which
// would otherwise reach the compositor before the window is mapped and be wasted.
std::string signInActivationToken(const std::string &requestToken);

// Runs on the GUI thread, right after window was shown: asks the window system to activate it.
// Without a token that happens at once. With one, the request (carrying the token through
// XDG_ACTIVATION_TOKEN, the only way into Qt 6.4's Wayland platform) goes out once the window
// has painted its first frame: a compositor acts on a token only for a window it has mapped,
// and spends it either way. A later call, or cancelActivation, drops a token not yet used.
void activateShownWindow(QWidget *window, const std::string &token);

// Runs on the GUI thread when the window is hidden: a pending token stays unused.
void cancelActivation(QWidget *window);
