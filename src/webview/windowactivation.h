// Giving the sign-in window the keyboard, with an xdg-activation token when the client passed
// one on.
#pragma once

#include <QObject>

#include <string>

class QWidget;

// Runs on the GUI thread: the token for the sign-in about to be shown. The request's own token
// wins; otherwise the XDG_ACTIVATION_TOKEN the helper was started with serves the first sign-in
// only. That variable is taken out of the environment on the first call, so call this before
// the first show: Qt 6.4's Wayland platform spends it on the first activation request, which
// would otherwise reach the compositor before the window is mapped and be wasted.
std::string signInActivationToken(const std::string &requestToken);

// Giving one window the keyboard when it is shown. Without a token that happens at once. With
// one, the request (carrying the token through XDG_ACTIVATION_TOKEN, the only way into Qt 6.4's
// Wayland platform) goes out once the window has painted its first frame: a compositor acts on
// a token only for a window it has mapped, and spends it either way. The expose is answered by
// painting and committing the first frame within the same event, so the request posted from
// there reaches the compositor after the window was mapped. The watch is on the whole
// application, only while a token is pending, so that it sees the expose of whichever QWindow
// the widget has by then. A QObject for that watch. GUI thread only; a member of the window.
class WindowActivation : public QObject
{
public:
    explicit WindowActivation(QWidget *window);

    // Right after the window was shown: asks the window system to activate it. A later call, or
    // cancel(), drops a token not yet used.
    void activateShown(const std::string &token);
    // When the window is hidden: a pending token stays unused.
    void cancel();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setToken(const std::string &text);
    void postIfExposed();
    void activate(const std::string &posted);

    QWidget *const window;
    std::string token; // empty: nothing pending
};
