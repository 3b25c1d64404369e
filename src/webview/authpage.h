// The page of a sign-in, and the policies it applies to what the web content asks for.
#pragma once

#include <QWebEngineClientCertificateSelection>
#include <QWebEnginePage>

struct CredentialsChallenge;
struct HelperState;
class QAuthenticator;
class QWebEngineNavigationRequest;
class SignInPasskeys;
class SignInScope;

// What every page of the run is handed at its construction. Each outlives every page.
struct PageServices {
    HelperState *state = nullptr;
    SignInScope *signIn = nullptr;      // where the page's prompts go
    SignInPasskeys *passkeys = nullptr; // follows the page's passkey requests
};

// One page of one sign-in: the sign-in's main page or a popup it opened. A page lives no longer
// than its sign-in, so nothing of an earlier sign-in (its history, its scripts, its dialogs) can
// reach a later one; the profile, and with it cookies and storage, is shared by all sign-ins of
// a run.
//
// Every navigation the page is about to make is offered to redirect recognition. The page logs
// nothing: a page's console may hold a live authorisation code. JavaScript dialogs are answered
// through PageDialogs without a nested event loop, permission requests are denied, and a render
// process that dies ends the sign-in at once. Lives on the GUI thread.
class AuthPage : public QWebEnginePage
{
    Q_OBJECT

public:
    AuthPage(const PageServices &services, QWebEngineProfile *profile, QObject *parent);
    ~AuthPage() override;

    // From now on, each finished load prints "[tavisk] loaded <url>" on standard output, with
    // " (failed)" after a failed one: the line the sign-in's main page gives its watchers.
    void printLoadLines();
    // Stops the page for good: no more signals reach the sign-in, no script runs and nothing
    // loads. The caller deletes the page afterwards.
    void retire();
    // Retires the page and deletes it, taking it from its parent first: at once, or, while the
    // page waits for the answer of its credentials prompt inside the engine's call, once that
    // call has returned; deleting it before would pull the page from under the call.
    void discard();
    bool isWaitingForCredentials() const { return waitingForCredentials; }

Q_SIGNALS:
    // The page asked for a window of its own (window.open, a link with a target): `popup` is a
    // fresh page, not yet shown, whose parent is this page's parent.
    void popupCreated(AuthPage *popup);

protected:
    QWebEnginePage *createWindow(WebWindowType type) override;
    void javaScriptAlert(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptConfirm(const QUrl &securityOrigin, const QString &msg) override;
    bool javaScriptPrompt(const QUrl &securityOrigin, const QString &msg,
                          const QString &defaultValue, QString *result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                  int lineNumber, const QString &sourceID) override;

private Q_SLOTS:
    void onNavigationRequested(QWebEngineNavigationRequest &request);
    void onSelectClientCertificate(QWebEngineClientCertificateSelection selection);
    void onAuthenticationRequired(const QUrl &requestUrl, QAuthenticator *authenticator);
    void onProxyAuthenticationRequired(const QUrl &requestUrl, QAuthenticator *authenticator,
                                       const QString &proxyHost);
    void onRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status,
                                   int exitCode);

private:
    void askForCredentials(CredentialsChallenge challenge, QAuthenticator *authenticator);
    void denyPermissionRequests();
    // The window a prompt about `reason` (signin/silentsignin.h) sits on: the one that shows
    // this page. Null when no sign-in is open, the sign-in is silent (it has then ended) or no
    // window shows the page, and there is nobody to ask.
    QWidget *promptParent(const char *reason) const;

    const PageServices services;
    // The challenge last answered in the load in flight; the same one again means the answer
    // was refused.
    QString answeredChallenge;
    bool waitingForCredentials = false;
    bool discardedWhileWaiting = false;
};
