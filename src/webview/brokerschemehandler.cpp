#include "webview/brokerschemehandler.h"

#include "signin/redirect.h"

#include <QIODevice>
#include <QMap>
#include <QUrl>
#include <QWebEngineUrlRequestJob>

namespace {

// The form a provider posted to the redirect URI (response_mode=form_post), when the request
// is such a POST (readsPostedForms()); before Qt 6.7 the redirect is reported with its URL
// alone.
std::optional<FormFields> postedForm(QWebEngineUrlRequestJob *job)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
    if (job->requestMethod() != QByteArrayLiteral("POST"))
        return std::nullopt;
    const QByteArray type = job->requestHeaders().value(QByteArrayLiteral("Content-Type"));
    if (!type.trimmed().toLower().startsWith("application/x-www-form-urlencoded"))
        return std::nullopt;
    QIODevice *body = job->requestBody();
    if (body == nullptr || !(body->isOpen() || body->open(QIODevice::ReadOnly)))
        return FormFields();
    return parseUrlEncodedForm(body->readAll());
#else
    Q_UNUSED(job);
    return std::nullopt;
#endif
}

} // namespace

BrokerSchemeHandler::BrokerSchemeHandler(HelperState *state)
    : QWebEngineUrlSchemeHandler(nullptr)
    , state(state)
{ }

BrokerSchemeHandler::~BrokerSchemeHandler() = default;

void BrokerSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    tryCompleteRedirect(*state, job->requestUrl().toString().toStdString(), postedForm(job));
    job->fail(QWebEngineUrlRequestJob::RequestAborted);
}
