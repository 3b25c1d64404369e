// The one sign-in window and the two calls through which the command thread drives it.
#pragma once

#include "webview/authpage.h"
#include "webview/pagezoom.h"
#include "webview/parentwindow.h"
#include "webview/windowactivation.h"

#include <QMainWindow>
#include <QTimer>

#include <functional>

struct SignInPage;
class LoadFailureView;
class LoadingView;
class PageFrame;
class QWebEngineLoadingInfo;
class QWebEngineProfile;
class QWebEngineView;

// A top-level frame, titled as the client asks, holding the browser view of the sign-in in
// flight, under an origin strip that names the page's site, and behind a loading view until the
// sign-in's first page paints. A page that cannot be loaded for a reason of the network ends its
// sign-in at once and leaves a failure view up until the person closes the window or the next
// sign-in begins. A silent sign-in runs its page in the hidden window and never shows it; its
// page ends it wherever a person would be needed (silentwatch.h, SignInScope::mayAsk). Each
// sign-in's page runs in the web profile of its kept session, or the run's own. Each sign-in
// gets a fresh page; the widgets a sign-in opens besides (its popups, its page's prompts) belong
// to its SignInScope and close when it ends.
// The user's close ends the sign-in in flight as "user_cancelled". Ctrl+plus, Ctrl+minus and
// Ctrl+0 zoom the page; the zoom stays for the later sign-ins of the run. Lives on the GUI
// thread; owned by HelperState::window and deleted only by quitApplication, once its warm-up
// has settled.
class AuthWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit AuthWindow(const PageServices &services);
    ~AuthWindow() override;

    // Titles, sizes, shows and activates the window (with the sign-in's activation token, if
    // any, and as a child of the sign-in's parent window, if any) and loads the page of a new
    // sign-in. A silent sign-in's page loads in the hidden window.
    void beginSignIn(const SignInPage &page);
    // Hides the window, unless it shows why the sign-in failed, and drops everything of the
    // sign-in that ends: its page with its history, its popups and prompts, its native window.
    // A fresh page waits for the next sign-in.
    void endSignIn();
    // Has the waiting page load an empty document in the run's profile, so that the engine
    // starts the render process that the first sign-in then navigates in, before it is asked.
    // Unless a sign-in begins within kWarmPageIdleMs, the page goes again with its process: a
    // helper that is never asked then holds no more dirty memory than one that never warmed
    // (the engine code that the warm-up read in stays mapped, as between two sign-ins).
    void warmUp();
    // Calls `then` from the event loop once no render process is on its way: soon, or, while
    // the warm-up's empty document still loads, once it has loaded (kWarmUpSettleMs at most).
    // Torn down while it still launches that process, the engine can crash on its way out.
    void afterWarmUpSettles(const std::function<void()> &then);

protected:
    void closeEvent(QCloseEvent *event) override;

private Q_SLOTS:
    void onLoadingChanged(const QWebEngineLoadingInfo &info);
    void onPopupCreated(AuthPage *popup);

private:
    AuthPage *newPage(QWebEngineProfile *profile);
    // Puts a fresh page of `profile` in place of the current one, which goes.
    void replacePage(QWebEngineProfile *profile);
    // The fresh page of a sign-in that runs in `profile`: the one waiting, or one in its place.
    void usePageOf(QWebEngineProfile *profile);
    // Calls `watchLoad`, which connects to the page's signals, turns on the page's load lines,
    // then loads `url` in the page: at once, or, while the page still loads its warm-up
    // document, once that has loaded and if the sign-in is still open with this page.
    void loadOnceWarm(const QUrl &url, const std::function<void()> &watchLoad);

    const PageServices services;
    QWebEngineView *const view;
    LoadingView *const loadingView;
    LoadFailureView *const failureView;
    PageFrame *const frame;
    AuthPage *page = nullptr;
    PageZoom zoom; // the person's, kept from one sign-in's page to the next
    WindowActivation activation;
    ParentWindow parent; // the client's window of the sign-in in flight
    bool silent = false; // the sign-in in flight shows nothing
    QTimer warmPageIdle; // drops the warm page of a helper that is not asked
    // What the page holds of the warm-up: nothing, its empty document loading, or loaded.
    enum class Warmth { None, Loading, Loaded } warmth = Warmth::None;
};

// How long a warm page waits for the first sign-in: a client that prepares its request takes
// well under a second; one that keeps a helper ready for later pays a cold start then.
constexpr int kWarmPageIdleMs = 10000;
// How long a helper told to exit right after it started waits for its warm page at most; the
// empty document loads in well under a second.
constexpr int kWarmUpSettleMs = 3000;

// Runs on the GUI thread: creates the window on first use, then begins a sign-in in it.
void openSignInWindow(const PageServices &services, const SignInPage &page);

// Runs on the GUI thread: creates the window, unshown, and warms its page for the first
// sign-in (AuthWindow::warmUp). Posted at start-up, ahead of every call of the command thread.
void warmSignInWindow(const PageServices &services);

// Runs on the GUI thread: ends the sign-in in the window, if there is one; the window serves the
// next sign-in, in a new native window.
void hideSignInWindow(HelperState *state);
