#include "webview/passkeyrequests.h"

#include "webview/dialogscheme.h"
#include "webview/passkeyprompt.h"
#include "webview/promptparts.h"
#include "webview/signinscope.h"

#include <QUrlQuery>
#include <QWebEnginePage>
#include <QWebEngineUrlRequestJob>

#include <utility>
#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)
#include <QWebEngineWebAuthUxRequest>
#endif

namespace {

// The page's own abort signal still aborts its request, with the AbortError it expects; an
// abort of the helper's (the timeout, the person's "no") reads as the engine's own refusal.
// The wait request's answer is "decline" when the person declined, anything else otherwise.
// Conditional requests (passkeys offered in a form's autofill) wait for the person by design,
// show nothing and are left alone.
const char kScriptTemplate[] = R"JS(
(function () {
    'use strict';
    var credentials = navigator.credentials;
    if (!credentials || typeof AbortController !== 'function')
        return;
    var defaultTimeout = %DEFAULT_TIMEOUT%;
    var count = 0;
    function tell(path, id, onAnswer) {
        try {
            var request = new XMLHttpRequest();
            request.open('GET', 'tavisk-dialog:' + path + '?id=' + id, true);
            if (onAnswer)
                request.onload = function () { onAnswer(request.responseText); };
            request.send();
        } catch (e) {
        }
    }
    function wrap(name) {
        var original = credentials[name];
        if (typeof original !== 'function')
            return;
        credentials[name] = function (options) {
            if (!options || !options.publicKey || options.mediation === 'conditional'
                || (options.signal && options.signal.aborted))
                return original.apply(this, arguments);
            var own = new AbortController();
            var pageSignal = options.signal;
            if (pageSignal)
                pageSignal.addEventListener('abort', function () { own.abort(); });
            var id = Math.random().toString(36).slice(2) + '-' + (++count);
            var timeout = Number(options.publicKey.timeout);
            var timer = setTimeout(function () { own.abort(); },
                                   timeout > 0 ? timeout : defaultTimeout);
            tell('passkey-wait', id, function (answer) {
                if (answer === 'decline')
                    own.abort();
            });
            function end() {
                clearTimeout(timer);
                tell('passkey-end', id);
            }
            function refusal(error) {
                if (error && error.name === 'AbortError' && !(pageSignal && pageSignal.aborted))
                    return new DOMException('The operation either timed out or was not allowed.',
                                            'NotAllowedError');
                return error;
            }
            var copy = Object.assign({}, options, { signal: own.signal });
            var pending;
            try {
                pending = original.call(this, copy);
            } catch (error) {
                end();
                throw error;
            }
            return pending.then(function (credential) {
                end();
                return credential;
            }, function (error) {
                end();
                throw refusal(error);
            });
        };
    }
    wrap('get');
    wrap('create');
})();
)JS";

// The limit for a request whose page sets none: five minutes, longer than a sign-in's default
// limit. Not the engine's own figure: Qt 6.4's engine had not ended such a request after 200 s.
constexpr int kDefaultTimeoutMs = 300000;

QString requestId(const QWebEngineUrlRequestJob *job)
{
    return QUrlQuery(job->requestUrl()).queryItemValue(QStringLiteral("id"), QUrl::FullyDecoded);
}

} // namespace

QWebEngineScript passkeyScript()
{
    QString source = QString::fromUtf8(kScriptTemplate);
    source.replace(QStringLiteral("%DEFAULT_TIMEOUT%"), QString::number(kDefaultTimeoutMs));
    return everyFrameScript(QStringLiteral("tavisk-passkeys"), source);
}

bool isPasskeyPath(const QString &path)
{
    return path == QLatin1String("passkey-wait") || path == QLatin1String("passkey-end");
}

SignInPasskeys::SignInPasskeys(SignInScope *signIn)
    : signIn(signIn)
{ }

void SignInPasskeys::requestStarted(QWebEngineUrlRequestJob *job)
{
    const bool waitStarts = job->requestUrl().path() == QLatin1String("passkey-wait");
    if (!signIn->isOpen() || (waitStarts && !signIn->mayAsk("passkey"))) {
        // A page of no sign-in, or of a silent one: its request keeps only its timeout.
        answerWithText(job, QByteArray());
        return;
    }
    if (waitStarts) {
        current()->waitStarted(job, askingSite(job));
    } else {
        current()->waitEnded(requestId(job));
        answerWithText(job, QByteArray());
    }
}

PasskeyRequests *SignInPasskeys::current()
{
    if (requests.isNull()) {
        // Adopted, not asked yet: the prompt comes forward once a request waits on it.
        auto *prompt = new PasskeyPrompt(signIn->window());
        signIn->adopt(prompt);
        requests = new PasskeyRequests(prompt);
    }
    return requests;
}

PasskeyRequests::PasskeyRequests(PasskeyPrompt *prompt)
    : QObject(prompt)
    , prompt(prompt)
{
    connect(prompt, &PasskeyPrompt::declined, this, &PasskeyRequests::decline);
    connect(prompt, &PasskeyPrompt::accountChosen, this, &PasskeyRequests::accountChosen);
    connect(prompt, &PasskeyPrompt::pinEntered, this, &PasskeyRequests::pinEntered);
    connect(prompt, &PasskeyPrompt::retryRequested, this, &PasskeyRequests::retryRequested);
}

PasskeyRequests::~PasskeyRequests()
{
    // The sign-in ended: what still waits is declined, as the person's close would.
    for (const Wait &wait : std::as_const(waits))
        answerWithText(wait.job, QByteArrayLiteral("decline"));
}

void PasskeyRequests::waitStarted(QWebEngineUrlRequestJob *job, const QString &site)
{
    waits.append({requestId(job), site, job});
    update();
}

void PasskeyRequests::waitEnded(const QString &id)
{
    for (auto it = waits.begin(); it != waits.end(); ++it) {
        if (it->id == id) {
            answerWithText(it->job, QByteArray());
            waits.erase(it);
            break;
        }
    }
    update();
}

void PasskeyRequests::showEngineStep(const PasskeyStep &step)
{
    engineStepShown = step.kind != PasskeyStep::Kind::Waiting;
    if (engineStepShown)
        prompt->showStep(step);
    update();
}

void PasskeyRequests::decline()
{
    const QList<Wait> declined = std::exchange(waits, {});
    engineStepShown = false;
    for (const Wait &wait : declined)
        answerWithText(wait.job, QByteArrayLiteral("decline"));
    Q_EMIT this->declined();
    update();
}

void PasskeyRequests::update()
{
    if (!engineStepShown) {
        if (waits.isEmpty()) {
            prompt->hide();
            return;
        }
        PasskeyStep waiting;
        waiting.site = waits.constLast().site;
        prompt->showStep(waiting);
    }
    if (!prompt->isVisible())
        bringForward(prompt);
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 7, 0)

namespace {

using UxRequest = QWebEngineWebAuthUxRequest;

QString pinProblemText(UxRequest::PinEntryError error)
{
    switch (error) {
    case UxRequest::PinEntryError::NoError:
        return QString();
    case UxRequest::PinEntryError::InternalUvLocked:
        return PasskeyPrompt::tr("The key's own check (a fingerprint) is locked: enter the PIN.");
    case UxRequest::PinEntryError::WrongPin:
        return PasskeyPrompt::tr("That PIN was wrong.");
    case UxRequest::PinEntryError::TooShort:
        return PasskeyPrompt::tr("That PIN is too short.");
    case UxRequest::PinEntryError::InvalidCharacters:
        return PasskeyPrompt::tr("That PIN holds characters the key does not take.");
    case UxRequest::PinEntryError::SameAsCurrentPin:
        return PasskeyPrompt::tr("The new PIN must differ from the current one.");
    }
    return QString();
}

QString failureText(UxRequest::RequestFailureReason reason)
{
    switch (reason) {
    case UxRequest::RequestFailureReason::Timeout:
        return PasskeyPrompt::tr("The time for the request ran out.");
    case UxRequest::RequestFailureReason::KeyNotRegistered:
        return PasskeyPrompt::tr("This security key is not registered with the site.");
    case UxRequest::RequestFailureReason::KeyAlreadyRegistered:
        return PasskeyPrompt::tr("This security key is already registered with the site.");
    case UxRequest::RequestFailureReason::SoftPinBlock:
        return PasskeyPrompt::tr("Too many wrong PINs: remove the key, insert it again and retry.");
    case UxRequest::RequestFailureReason::HardPinBlock:
        return PasskeyPrompt::tr("The key is locked after too many wrong PINs; it has to be "
                                 "reset.");
    case UxRequest::RequestFailureReason::AuthenticatorRemovedDuringPinEntry:
        return PasskeyPrompt::tr("The key was removed while its PIN was asked for.");
    case UxRequest::RequestFailureReason::AuthenticatorMissingResidentKeys:
        return PasskeyPrompt::tr("This key cannot store a passkey for the site.");
    case UxRequest::RequestFailureReason::AuthenticatorMissingUserVerification:
        return PasskeyPrompt::tr("This key has no PIN or fingerprint check, which the site "
                                 "requires.");
    case UxRequest::RequestFailureReason::AuthenticatorMissingLargeBlob:
        return PasskeyPrompt::tr("This key cannot store the data the site asks for.");
    case UxRequest::RequestFailureReason::NoCommonAlgorithms:
        return PasskeyPrompt::tr("This key does not support what the site requires.");
    case UxRequest::RequestFailureReason::StorageFull:
        return PasskeyPrompt::tr("This key has no room for another passkey.");
    case UxRequest::RequestFailureReason::UserConsentDenied:
    case UxRequest::RequestFailureReason::WinUserCancelled:
        return PasskeyPrompt::tr("The request was declined on the key.");
    }
    return QString();
}

// The step to show for the engine's request in `state`; Waiting for the states that show none
// (not started, cancelled, completed).
PasskeyStep stepOf(const UxRequest &request, UxRequest::WebAuthUxState state)
{
    PasskeyStep step;
    step.site = request.relyingPartyId();
    switch (state) {
    case UxRequest::WebAuthUxState::SelectAccount:
        step.kind = PasskeyStep::Kind::ChooseAccount;
        step.accounts = request.userNames();
        break;
    case UxRequest::WebAuthUxState::CollectPin: {
        const QWebEngineWebAuthPinRequest pin = request.pinRequest();
        step.kind = PasskeyStep::Kind::EnterPin;
        step.newPin = pin.reason != UxRequest::PinEntryReason::Challenge;
        step.attemptsLeft
            = pin.reason == UxRequest::PinEntryReason::Challenge ? pin.remainingAttempts : -1;
        step.minPinLength = pin.minPinLength;
        step.problem = pinProblemText(pin.error);
        break;
    }
    case UxRequest::WebAuthUxState::FinishTokenCollection:
        step.kind = PasskeyStep::Kind::TouchKey;
        break;
    case UxRequest::WebAuthUxState::RequestFailed:
        step.kind = PasskeyStep::Kind::Failed;
        step.problem = failureText(request.requestFailureReason());
        break;
    case UxRequest::WebAuthUxState::NotStarted:
    case UxRequest::WebAuthUxState::Cancelled:
    case UxRequest::WebAuthUxState::Completed:
        break;
    }
    return step;
}

} // namespace

void SignInPasskeys::followEngineSteps(QWebEnginePage *page)
{
    QObject::connect(page, &QWebEnginePage::webAuthUxRequested, page, [this](UxRequest *request) {
        if (!signIn->mayAsk("passkey")) {
            request->cancel();
            return;
        }
        PasskeyRequests *requests = current();
        // Each connection ends with the request (the engine deletes it) or with the prompt.
        QObject::connect(requests, &PasskeyRequests::declined, request, &UxRequest::cancel);
        QObject::connect(requests, &PasskeyRequests::accountChosen, request,
                         &UxRequest::setSelectedAccount);
        QObject::connect(requests, &PasskeyRequests::pinEntered, request, &UxRequest::setPin);
        QObject::connect(requests, &PasskeyRequests::retryRequested, request, &UxRequest::retry);
        const auto show = [requests, request](UxRequest::WebAuthUxState uxState) {
            requests->showEngineStep(stepOf(*request, uxState));
            if (uxState == UxRequest::WebAuthUxState::Cancelled
                || uxState == UxRequest::WebAuthUxState::Completed)
                QObject::disconnect(requests, nullptr, request, nullptr);
        };
        QObject::connect(request, &UxRequest::stateChanged, requests, show);
        show(request->state());
    });
}

#else

void SignInPasskeys::followEngineSteps(QWebEnginePage *page)
{
    // Qt 6.4 reports no steps: the engine settles a request at its timeout by itself, and the
    // script's wait is all the prompt shows.
    Q_UNUSED(page);
}

#endif
