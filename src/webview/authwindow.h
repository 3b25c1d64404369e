// The one sign-in window and the two calls through which the command thread drives it.
#pragma once

#include <QWebEngineView>

struct HelperState;
struct SignInPage;
class QWebEngineNavigationRequest;

// A top-level browser window. Every navigation its page is about to make is offered to redirect
// recognition; the user's close ends the sign-in in flight as "user_cancelled". Lives on the GUI
// thread; owned by HelperState::window and deleted only by quitApplication.
class AuthWindow : public QWebEngineView
{
    Q_OBJECT

public:
    explicit AuthWindow(HelperState *state);
    ~AuthWindow() override;

protected:
    void closeEvent(QCloseEvent *event) override;

private Q_SLOTS:
    void onNavigationRequested(QWebEngineNavigationRequest &request);
    void onLoadFinished(bool ok);

private:
    HelperState *const state;
};

// Runs on the GUI thread: creates the window on first use, then titles it, sizes it to 800 by
// 600, shows and raises it, sets the profile's user agent and loads the page.
void openSignInWindow(HelperState *state, const SignInPage &page);

// Runs on the GUI thread: hides the window if there is one; it serves the next sign-in.
void hideSignInWindow(HelperState *state);
