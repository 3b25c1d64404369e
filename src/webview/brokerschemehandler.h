// The handler of the custom scheme in which a redirect URI may stand.
#pragma once

#include <QByteArray>
#include <QWebEngineUrlSchemeHandler>

struct HelperState;

// Never serves content: offers each request's URL to redirect recognition, then aborts it.
// Called by the engine on the GUI thread.
class BrokerSchemeHandler : public QWebEngineUrlSchemeHandler
{
public:
    explicit BrokerSchemeHandler(HelperState *state);
    ~BrokerSchemeHandler() override;

    void requestStarted(QWebEngineUrlRequestJob *job) override;

    static QByteArray schemeName() { return QByteArrayLiteral("ms-appx-web"); }

private:
    HelperState *const state;
};
