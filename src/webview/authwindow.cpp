#include "webview/authwindow.h"

#include "channel/guicalls.h"
#include "signin/helperstate.h"
#include "signin/redirect.h"

#include <QCloseEvent>
#include <QWebEngineNavigationRequest>
#include <QWebEnginePage>
#include <QWebEngineProfile>

#include <cstdio>
#include <mutex>

AuthWindow::AuthWindow(HelperState *state)
    : QWebEngineView(static_cast<QWidget *>(nullptr))
    , state(state)
{
    // Both signals come from the GUI thread, so the slots run inside the emission; the
    // navigation request is a reference that must be answered before the signal returns.
    connect(page(), &QWebEnginePage::navigationRequested, this, &AuthWindow::onNavigationRequested);
    connect(this, &QWebEngineView::loadFinished, this, &AuthWindow::onLoadFinished);
}

AuthWindow::~AuthWindow() = default;

void AuthWindow::onNavigationRequested(QWebEngineNavigationRequest &request)
{
    // A redirect that ends the sign-in is refused, and so is one that comes after its sign-in
    // has ended: the page at the redirect URI would receive a live authorisation code.
    if (recogniseRedirect(*state, request.url().toString().toStdString()) != RedirectMatch::None)
        request.reject();
}

void AuthWindow::onLoadFinished(bool ok)
{
    const std::string line
        = "[tavisk] loaded " + url().toString().toStdString() + (ok ? "" : " (failed)") + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    // A reader that went away must not silence every later line for good.
    std::clearerr(stdout);
}

void AuthWindow::closeEvent(QCloseEvent *event)
{
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        state->completeNavigation(false, std::string(), "user_cancelled");
    }
    QWebEngineView::closeEvent(event);
}

void openSignInWindow(HelperState *state, const SignInPage &page)
{
    if (state->window == nullptr)
        state->window = new AuthWindow(state);
    AuthWindow *window = state->window;
    window->setWindowTitle(page.title);
    window->resize(800, 600);
    window->show();
    window->raise();
    window->activateWindow();
    // Set on every sign-in, so that one request's user agent never carries over to the next.
    const std::string &userAgent
        = page.userAgent.empty() ? state->defaultUserAgent : page.userAgent;
    QWebEngineProfile::defaultProfile()->setHttpUserAgent(QString::fromStdString(userAgent));
    window->setUrl(page.url);
}

void hideSignInWindow(HelperState *state)
{
    if (state->window != nullptr)
        state->window->hide();
}
