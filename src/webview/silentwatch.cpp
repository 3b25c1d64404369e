#include "webview/silentwatch.h"

#include "signin/silentsignin.h"

#include <QTimer>
#include <QWebEngineLoadingInfo>
#include <QWebEngineNavigationRequest>
#include <QWebEnginePage>

namespace {

// net::ERR_ABORTED: a load that another navigation replaced, or that was refused because it
// reached the redirect URI; neither is a failure of the provider.
constexpr int kAborted = -3;

std::string errorName(const QWebEngineLoadingInfo &info)
{
    const QString text = info.errorString();
    return text.isEmpty() ? "error " + std::to_string(info.errorCode()) : text.toStdString();
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
                                 endSilentSignInOnLoadFailure(*state, errorName(info));
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
