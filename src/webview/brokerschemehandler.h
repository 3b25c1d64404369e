// The handler of the custom scheme in which a redirect URI may stand.
#pragma once

#include <QByteArray>
#include <QWebEngineUrlSchemeHandler>

struct HelperState;

// Never serves content: offers each request's URL to redirect recognition, with the form a
// provider posted to it where the engine hands the form over (Qt 6.7 and later), then aborts it.
// Called by the engine on the GUI thread.
class BrokerSchemeHandler : public QWebEngineUrlSchemeHandler
{
public:
    explicit BrokerSchemeHandler(HelperState *state);
    ~BrokerSchemeHandler() override;

    void requestStarted(QWebEngineUrlRequestJob *job) override;

    static QByteArray schemeName() { return QByteArrayLiteral("ms-appx-web"); }
    // True where the engine hands a request's body to the handler (Qt 6.7 and later), so that
    // a form posted to the scheme (response_mode=form_post) can be read here.
    static constexpr bool readsPostedForms() { return QT_VERSION >= QT_VERSION_CHECK(6, 7, 0); }

private:
    HelperState *const state;
};
