#include "webview/brokerschemehandler.h"

#include "signin/redirect.h"

#include <QUrl>
#include <QWebEngineUrlRequestJob>

BrokerSchemeHandler::BrokerSchemeHandler(HelperState *state)
    : QWebEngineUrlSchemeHandler(nullptr)
    , state(state)
{ }

BrokerSchemeHandler::~BrokerSchemeHandler() = default;

void BrokerSchemeHandler::requestStarted(QWebEngineUrlRequestJob *job)
{
    tryCompleteRedirect(*state, job->requestUrl().toString().toStdString());
    job->fail(QWebEngineUrlRequestJob::RequestAborted);
}
