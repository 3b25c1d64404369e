// JavaScript dialogs (alert, confirm, prompt) that never block the GUI thread.
//
// The engine's own dialog hooks must return the person's answer before they return, which needs
// a nested event loop inside one of the engine's tasks: while it runs, the engine does no other
// work, so a dialog nobody answers stalls every later sign-in and aborts the helper when it
// quits. Instead, a script replaces the page's alert, confirm and prompt with a synchronous
// request to the "tavisk-dialog" scheme. That blocks only the page's own renderer; the request
// shows a non-modal dialog on the sign-in window and is answered when the person answers it, or
// as dismissed when the sign-in ends. The scheme also carries the passkey script's requests
// (webview/passkeyrequests.h).
#pragma once

#include <QByteArray>
#include <QWebEngineScript>
#include <QWebEngineUrlSchemeHandler>

class SignInPasskeys;
class SignInScope;

// The script, for every frame of every sign-in page, that routes the dialogs to the scheme.
QWebEngineScript pageDialogsScript();

// Serves the "tavisk-dialog" scheme: each request is one dialog of the sign-in in flight,
// answered as dismissed at once when no sign-in is open. Called by the engine on the GUI thread.
class PageDialogsHandler : public QWebEngineUrlSchemeHandler
{
public:
    // Both outlive the handler.
    PageDialogsHandler(SignInScope *signIn, SignInPasskeys *passkeys);
    ~PageDialogsHandler() override;

    void requestStarted(QWebEngineUrlRequestJob *job) override;

    static QByteArray schemeName() { return QByteArrayLiteral("tavisk-dialog"); }

private:
    SignInScope *const signIn;
    SignInPasskeys *const passkeys;
};
