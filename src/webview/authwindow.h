// The one sign-in window and the two calls through which the command thread drives it.
#pragma once

#include "webview/parentwindow.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>

struct HelperState;
struct SignInPage;
class AuthPage;
class LoadingView;
class OriginStrip;
class QWebEngineProfile;
class QWebEngineView;

// A top-level frame, titled as the client asks, holding the browser view of the sign-in in
// flight, under an origin strip that names the page's site, and behind a loading view until the
// sign-in's first page paints. Each sign-in gets a fresh page; the widgets a sign-in opens
// besides (its popups, its page's dialogs) belong to it and close when it ends. The user's close
// ends the sign-in in flight as "user_cancelled". Ctrl+plus, Ctrl+minus and Ctrl+0 zoom the page;
// the zoom stays for the later sign-ins of the run. Lives on the GUI thread; owned by
// HelperState::window and deleted only by quitApplication.
class AuthWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit AuthWindow(HelperState *state);
    ~AuthWindow() override;

    // Titles, sizes, shows and activates the window (with the sign-in's activation token, if
    // any, and as a child of the sign-in's parent window, if any) and loads the page of a new
    // sign-in.
    void beginSignIn(const SignInPage &page);
    // Hides the window and drops everything of the sign-in that ends: its page with its history,
    // its popups and dialogs, its native window. A fresh page waits for the next sign-in.
    void endSignIn();
    // True between beginSignIn and endSignIn.
    bool isSignInOpen() const { return signInOpen; }
    // True when the sign-in in flight may ask the person about `reason` (signin/silentsignin.h):
    // it is open and not silent. A silent one ends here with "interaction_required".
    bool mayAsk(const char *reason);
    // Makes `widget` part of the sign-in in flight: endSignIn closes it.
    void adoptSignInWidget(QWidget *widget);

protected:
    void closeEvent(QCloseEvent *event) override;

private Q_SLOTS:
    void onLoadFinished(bool ok);
    void onPopupCreated(AuthPage *popup);

private:
    AuthPage *newPage(QWebEngineProfile *profile, QObject *parent);
    // The fresh page of a sign-in that runs in `profile`: the one waiting, or one in its place.
    void usePageOf(QWebEngineProfile *profile);
    // Zooms the page one step in (+1) or out (-1), or back to 100% (0).
    void zoomPage(int direction);
    // Deletes the popups, dialogs and choosers of the sign-in; each unanswered one answers as
    // dismissed.
    void dropSignInWidgets();

    HelperState *const state;
    OriginStrip *const strip;
    QWebEngineView *const view;
    LoadingView *const loadingView;
    AuthPage *page = nullptr;
    // The person's zoom, kept from one sign-in's page to the next.
    qreal zoomFactor = 1.0;
    bool signInOpen = false;
    QList<QPointer<QWidget>> signInWidgets;
    ParentWindow parent; // the client's window of the sign-in in flight
};

// Runs on the GUI thread: creates the window on first use, then begins a sign-in in it.
void openSignInWindow(HelperState *state, const SignInPage &page);

// Runs on the GUI thread: ends the sign-in in the window, if there is one; the window serves the
// next sign-in, in a new native window.
void hideSignInWindow(HelperState *state);
