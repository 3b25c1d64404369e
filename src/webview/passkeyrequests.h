// Passkey and security-key requests of a sign-in's pages (WebAuthn): a request never hangs,
// and the person always sees that a key is asked for and can decline.
//
// A script replaces navigator.credentials.get and .create in every frame with calls that give
// the page's request an abort signal of the helper's own. It ends the request with
// NotAllowedError once the page's timeout has passed (or the engine's default when the page
// sets none), or at once when the person declines, whatever the engine does meanwhile; and it
// tells the helper through the "tavisk-dialog" scheme when a request starts ("passkey-wait",
// whose answer is held until the person declines or the request ends) and when it ends
// ("passkey-end"). Where the engine reports the steps of a request itself (Qt 6.7 and later),
// the prompt follows them too: choosing an account, the PIN, the touch, the failures.
#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWebEngineScript>

struct PasskeyStep;
class PasskeyPrompt;
class QWebEnginePage;
class QWebEngineUrlRequestJob;
class SignInScope;

// The script, for every frame of every sign-in page.
QWebEngineScript passkeyScript();

// True for the paths of the "tavisk-dialog" scheme that the script's requests use.
bool isPasskeyPath(const QString &path);

class PasskeyRequests;

// The passkey side of the whole run: hands the script's requests and the engine's steps to the
// PasskeyRequests of the sign-in in flight, made with its prompt on first use. Made once by
// start-up, and outlives every page. GUI thread only.
class SignInPasskeys
{
public:
    explicit SignInPasskeys(SignInScope *signIn);
    SignInPasskeys(const SignInPasskeys &) = delete;
    SignInPasskeys &operator=(const SignInPasskeys &) = delete;

    // A request of the script on the "tavisk-dialog" scheme; a page of no sign-in has its
    // request answered at once, and keeps only its timeout.
    void requestStarted(QWebEngineUrlRequestJob *job);
    // Follows the steps the engine reports for `page`'s passkey requests, where it reports them
    // (Qt 6.7 and later; nothing before).
    void followEngineSteps(QWebEnginePage *page);

private:
    // The sign-in's, made with its prompt on first use; the sign-in must be open.
    PasskeyRequests *current();

    SignInScope *const signIn;
    QPointer<PasskeyRequests> requests; // gone with its prompt at the end of the sign-in
};

// The passkey requests of one sign-in and their prompt: the requests the script waits on (their
// held answers) and the engine's report of the steps, if any. Lives on the GUI thread; a child
// of its prompt, which the sign-in adopts, so both go with it.
class PasskeyRequests : public QObject
{
    Q_OBJECT

public:
    explicit PasskeyRequests(PasskeyPrompt *prompt);
    ~PasskeyRequests() override;

    // A request of the script started; `job`'s answer is held.
    void waitStarted(QWebEngineUrlRequestJob *job, const QString &site);
    // The script's request `id` ended.
    void waitEnded(const QString &id);
    // The engine reports a step of a request; a default step (Waiting) once it has none.
    void showEngineStep(const PasskeyStep &step);

Q_SIGNALS:
    // The person declined; the engine's request, if it reported one, is to be cancelled.
    void declined();
    void accountChosen(const QString &account);
    void pinEntered(const QString &pin);
    void retryRequested();

private:
    void decline();
    void update();

    struct Wait {
        QString id;
        QString site;
        QPointer<QWebEngineUrlRequestJob> job;
    };
    PasskeyPrompt *const prompt;
    QList<Wait> waits; // oldest first
    bool engineStepShown = false;
};
