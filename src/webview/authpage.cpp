#include "webview/authpage.h"

#include "signin/helperstate.h"
#include "signin/redirect.h"
#include "webview/brokerschemehandler.h"
#include "webview/certificatechooser.h"
#include "webview/credentialsprompt.h"
#include "webview/pagedialogs.h"
#include "webview/passkeyrequests.h"
#include "webview/signinscope.h"

#include <QAuthenticator>
#include <QPointer>
#include <QWebEngineFileSystemAccessRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineNavigationRequest>
#include <QWebEngineRegisterProtocolHandlerRequest>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineView>

#include <cstdio>
#include <mutex>
#include <string>

namespace {

// The text the engine asks javaScriptConfirm about when a page's onbeforeunload handler wants to
// keep the person on the page.
const char kBeforeUnloadQuestion[]
    = "Are you sure you want to leave this page? Changes that you made may not be saved.";

// The message of the error reply that ends a sign-in whose page can no longer be shown.
const char kRenderProcessTerminated[] = "render_process_terminated";

} // namespace

AuthPage::AuthPage(const PageServices &services, QWebEngineProfile *profile, QObject *parent)
    : QWebEnginePage(profile, parent)
    , services(services)
{
    scripts().insert(pageDialogsScript());
    scripts().insert(passkeyScript());
    services.passkeys->followEngineSteps(this);
    // The navigation request is a reference that must be answered before the signal returns,
    // so the connection is direct: every signal here comes from the GUI thread.
    connect(this, &QWebEnginePage::navigationRequested, this, &AuthPage::onNavigationRequested);
    denyPermissionRequests();
    connect(this, &QWebEnginePage::renderProcessTerminated, this,
            &AuthPage::onRenderProcessTerminated);
    // A sign-in page has no business taking the screen or registering itself anywhere.
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::registerProtocolHandlerRequested, this,
            [](QWebEngineRegisterProtocolHandlerRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::fileSystemAccessRequested, this,
            [](QWebEngineFileSystemAccessRequest request) { request.reject(); });
    connect(this, &QWebEnginePage::selectClientCertificate, this,
            &AuthPage::onSelectClientCertificate);
    // The engine reads the answer when the signal returns, so the connections are direct.
    connect(this, &QWebEnginePage::authenticationRequired, this,
            &AuthPage::onAuthenticationRequired);
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            &AuthPage::onProxyAuthenticationRequired);
    connect(this, &QWebEnginePage::loadFinished, this, [this] { answeredChallenge.clear(); });
}

AuthPage::~AuthPage() = default;

void AuthPage::printLoadLines()
{
    connect(this, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        const std::string line
            = "[tavisk] loaded " + url().toString().toStdString() + (ok ? "" : " (failed)") + "\n";
        std::fwrite(line.data(), 1, line.size(), stdout);
        std::fflush(stdout);
        // A reader that went away must not silence every later line for good.
        std::clearerr(stdout);
    });
}

void AuthPage::retire()
{
    disconnect(this, &QWebEnginePage::renderProcessTerminated, this,
               &AuthPage::onRenderProcessTerminated);
    disconnect(this, &AuthPage::popupCreated, nullptr, nullptr);
    disconnect(this, &QWebEnginePage::loadFinished, nullptr, nullptr);
    triggerAction(QWebEnginePage::Stop);
}

void AuthPage::discard()
{
    retire();
    setParent(nullptr);
    if (waitingForCredentials)
        discardedWhileWaiting = true;
    else
        delete this;
}

QWebEnginePage *AuthPage::createWindow(WebWindowType type)
{
    Q_UNUSED(type);
    if (!services.signIn->mayAsk("popup"))
        return nullptr;
    auto *popup = new AuthPage(services, profile(), parent());
    Q_EMIT popupCreated(popup);
    return popup;
}

void AuthPage::onNavigationRequested(QWebEngineNavigationRequest &request)
{
    // A form posted straight to the custom scheme goes on to its handler, which reads the form
    // and ends the sign-in there; nothing loads from the scheme either way.
    if (request.navigationType() == QWebEngineNavigationRequest::FormSubmittedNavigation
        && BrokerSchemeHandler::readsPostedForms()
        && request.url().scheme().toUtf8() == BrokerSchemeHandler::schemeName())
        return;
    // Any other redirect that ends the sign-in is refused, and so is one that comes after its
    // sign-in has ended: the page at the redirect URI would receive a live authorisation code.
    if (recogniseRedirect(*services.state, request.url().toString().toStdString())
        != RedirectMatch::None)
        request.reject();
}

void AuthPage::onSelectClientCertificate(QWebEngineClientCertificateSelection selection)
{
    // A site gets a client certificate only by the person's choice, made in a chooser on top of
    // the window that shows this page; the chooser belongs to the sign-in and closes with it.
    QWidget *parent = promptParent("certificate");
    if (parent == nullptr) {
        selection.selectNone();
        return;
    }
    if (QWidget *chooser = certificateChooserFor(parent, selection))
        services.signIn->ask(chooser);
}

void AuthPage::onAuthenticationRequired(const QUrl &requestUrl, QAuthenticator *authenticator)
{
    askForCredentials(serverChallenge(requestUrl, authenticator->realm()), authenticator);
}

void AuthPage::onProxyAuthenticationRequired(const QUrl &requestUrl, QAuthenticator *authenticator,
                                             const QString &proxyHost)
{
    Q_UNUSED(requestUrl);
    askForCredentials(proxyChallenge(services.state->proxy, proxyHost, authenticator->realm()),
                      authenticator);
}

void AuthPage::askForCredentials(CredentialsChallenge challenge, QAuthenticator *authenticator)
{
    // Left as it comes, the authenticator holds the realm and reads as an answer with an empty
    // user name and password, which the engine sends, and sends again each time it is refused.
    // Only the person's answer is sent; with nobody to ask, the challenge is cancelled.
    QWidget *parent = promptParent("credentials");
    if (parent == nullptr) {
        *authenticator = QAuthenticator();
        return;
    }
    const QString key = challenge.key();
    challenge.lastRefused = key == answeredChallenge;
    auto *prompt = new CredentialsPrompt(challenge, parent);
    services.signIn->ask(prompt);
    // The wait runs events: the helper may quit, and take this page with it, meanwhile.
    const QPointer<AuthPage> alive(this);
    waitingForCredentials = true;
    answerChallenge(prompt, authenticator);
    if (alive.isNull())
        return;
    waitingForCredentials = false;
    if (discardedWhileWaiting) {
        // Posted from here, the deletion runs once the engine's call has returned to the event
        // loop that made it. Posted from inside the prompt's wait, the wait itself could have
        // run it, with the call still on the stack.
        *authenticator = QAuthenticator();
        deleteLater();
        return;
    }
    answeredChallenge = authenticator->isNull() ? QString() : key;
}

QWidget *AuthPage::promptParent(const char *reason) const
{
    QWebEngineView *view = QWebEngineView::forPage(this);
    // Asked first: a silent sign-in ends whether or not a window shows the page.
    return services.signIn->mayAsk(reason) && view != nullptr ? view->window() : nullptr;
}

void AuthPage::denyPermissionRequests()
{
    // Left unanswered, a request stays pending and the page waits on it forever; a sign-in
    // needs no camera, location or notification, so every request is denied without a prompt.
    // Qt 6.8 hands each request over as an object of its own and deprecates the older signal.
    // A silent sign-in that a page asks for a permission needs a person, and ends.
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    connect(this, &QWebEnginePage::permissionRequested, this,
            [this](QWebEnginePermission permission) {
                permission.deny();
                services.signIn->mayAsk("permission");
            });
#else
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl &securityOrigin, QWebEnginePage::Feature feature) {
                setFeaturePermission(securityOrigin, feature,
                                     QWebEnginePage::PermissionDeniedByUser);
                services.signIn->mayAsk("permission");
            });
#endif
}

void AuthPage::onRenderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status,
                                         int exitCode)
{
    // The one line a real failure of the engine gets on standard error, which the helper
    // otherwise keeps quiet.
    const char *how = status == QWebEnginePage::CrashedTerminationStatus ? "crashed"
        : status == QWebEnginePage::KilledTerminationStatus              ? "was killed"
                                                                         : "ended";
    std::fprintf(stderr, "corvane-tavisk: the page's render process %s (exit status %d)\n", how,
                 exitCode);
    std::fflush(stderr);
    // The page is gone and the window would stay blank until the time limit: end the sign-in
    // now. Does nothing when the sign-in has already ended.
    std::lock_guard<std::mutex> lock(services.state->mutex);
    services.state->completeNavigation(false, std::string(), kRenderProcessTerminated);
}

// The page's dialogs normally reach PageDialogs through the script that pageDialogsScript()
// installs. The engine still calls these for what that script does not cover (a frame it did
// not reach, the question of an onbeforeunload handler). Each answers at once, as a dismissed
// dialog would be, because the engine waits for the answer inside one of its own tasks and a
// nested event loop there stalls every other sign-in.
void AuthPage::javaScriptAlert(const QUrl &securityOrigin, const QString &msg)
{
    Q_UNUSED(securityOrigin);
    Q_UNUSED(msg);
}

bool AuthPage::javaScriptConfirm(const QUrl &securityOrigin, const QString &msg)
{
    Q_UNUSED(securityOrigin);
    // Leaving is what a sign-in is for: a page that wants to keep the person must not hold up
    // the navigation that carries the redirect.
    return msg == QLatin1String(kBeforeUnloadQuestion);
}

bool AuthPage::javaScriptPrompt(const QUrl &securityOrigin, const QString &msg,
                                const QString &defaultValue, QString *result)
{
    Q_UNUSED(securityOrigin);
    Q_UNUSED(msg);
    Q_UNUSED(defaultValue);
    Q_UNUSED(result);
    return false;
}

void AuthPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString &message,
                                        int lineNumber, const QString &sourceID)
{
    // The default prints to standard error, and a page's messages (and the engine's own about
    // a blocked navigation) may hold the URL with its code.
    Q_UNUSED(level);
    Q_UNUSED(message);
    Q_UNUSED(lineNumber);
    Q_UNUSED(sourceID);
}
