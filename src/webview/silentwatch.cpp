#include "webview/silentwatch.h"

#include "signin/loadfailure.h"
#include "signin/silentsignin.h"

#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNavigationRequest>
#include <QWebEnginePage>

namespace {

// net::ERR_ABORTED: a load that another navigation replaced, or that was refused because it
// reached the redirect URI; neither is a failure of the provider.
constexpr int kAborted = -3;

// Ends the silent sign-in whose main frame failed to load: a failure of the network, the proxy
// or the certificate with the same reply a shown sign-in gets, any other with
// "interaction_required".
void endOnLoadFailure(HelperState &state, const QWebEngineLoadingInfo &info)
{
    const std::string error = netErrorName(info.errorString().toStdString(), info.errorCode());
    if (const std::optional<LoadFailureKind> kind = loadFailureKind(info.errorCode()))
        endSignInWithLoadFailure(state, LoadFailure{*kind, info.url().host().toStdString(), error});
    else
        endSilentSignInOnLoadFailure(state, error);
}

} // namespace

void watchSilentSignIn(HelperState *state, QWebEnginePage *page)
{
    auto *idle = new QTimer(page);
    idle->setSingleShot(true);
    idle->setInterval(kSilentIdleMs);
    QObject::connect(idle, &QTimer::timeout, page, [state] { endSilentSignIn(*state, "idle"); });
    QObject::connect(page, &QWebEnginePage::navigationRequested, idle,
                     [idle](QWebEngineNavigationRequest &request) {
                         if (request.isMainFrame())
                             idle->stop();
                     });
    QObject::connect(page, &QWebEnginePage::loadingChanged, idle,
                     [state, idle](const QWebEngineLoadingInfo &info) {
                         switch (info.status()) {
                         case QWebEngineLoadingInfo::LoadStartedStatus:
                             idle->stop();
                             break;
                         case QWebEngineLoadingInfo::LoadFailedStatus:
                             if (info.errorCode() != kAborted) {
                                 endOnLoadFailure(*state, info);
                                 break;
                             }
                             idle->start();
                             break;
                         case QWebEngineLoadingInfo::LoadSucceededStatus:
                         case QWebEngineLoadingInfo::LoadStoppedStatus:
                             idle->start();
                             break;
                         }
                     });
}
