#include "channel/navigaterequest.h"

#include "channel/envelope.h"
#include "channel/guicalls.h"
#include "channel/replies.h"
#include "channel/sessionrequests.h"
#include "signin/helperstate.h"
#include "signin/sessionstore.h"

#include <chrono>
#include <mutex>
#include <string>

std::uint32_t navigateTimeoutMs(const QJsonObject &params)
{
    const QJsonValue value = params.value(QStringLiteral("timeout_ms"));
    if (!value.isDouble())
        return kDefaultTimeoutMs;
    std::int64_t truncated = 0;
    truncatedInteger(value, truncated); // out of range leaves 0, the default
    const auto count = static_cast<std::uint32_t>(static_cast<std::uint64_t>(truncated));
    return count == 0 ? kDefaultTimeoutMs : count;
}

void handleNavigate(HelperState &state, const GuiCalls &gui, std::int64_t id,
                    const QJsonObject &params)
{
    const std::string title = stringMember(params, QStringLiteral("title"));
    const std::string url = stringMember(params, QStringLiteral("url"));
    const std::string redirectUri = stringMember(params, QStringLiteral("redirect_uri"));
    const std::string userAgent = stringMember(params, QStringLiteral("user_agent"));
    const std::string activationToken = stringMember(params, QStringLiteral("activation_token"));
    const std::uint32_t timeoutMs = navigateTimeoutMs(params);
    // A parent that cannot be read is no parent: the sign-in goes on as a window of its own.
    const ParentHandle parent
        = parseParentHandle(stringMember(params, QStringLiteral("parent_window")));
    const bool silent = params.value(QStringLiteral("silent")).toBool();
    std::string session;
    if (!claimRequestedSession(state, id, params, &session))
        return;

    NavigationWait wait;
    bool admitted = false;
    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.activeWait == nullptr) {
            state.activeWait = &wait;
            state.redirectUri = redirectUri;
            state.silent = silent;
            admitted = true;
        }
    }
    // Answered only after the unlock: a write that blocks on a full out-channel must not hold
    // up the GUI thread's completers, which take HelperState::mutex.
    if (!admitted) {
        replyError(id, "navigate_already_in_progress");
        return;
    }

    SignInPage page;
    page.title = QString::fromStdString(title);
    page.url = QUrl(QString::fromStdString(url), QUrl::TolerantMode);
    page.userAgent = userAgent;
    page.activationToken = activationToken;
    page.parent = parent;
    if (!session.empty()) {
        page.sessionFolder = sessionFolder(state.sessions->dataFolder(), session);
        page.session = std::move(session);
    }
    page.silent = silent;
    gui.postOpenSignInWindow(&state, page);

    {
        std::unique_lock<std::mutex> waitLock(wait.mutex);
        // The limit runs from the moment the window was asked for, on the monotonic clock, so
        // a change of the wall clock never ends a sign-in early.
        const auto deadline
            = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        wait.condition.wait_until(waitLock, deadline, [&wait] { return wait.done; });
    }

    {
        std::lock_guard<std::mutex> lock(state.mutex);
        if (state.activeWait == &wait)
            state.activeWait = nullptr;
    }
    gui.postHideSignInWindow(&state);

    // The wait is withdrawn: no completer can reach it any more, so its fields are final. A
    // completion that came between the deadline and the withdrawal counts: its redirect has
    // already been refused, and answering "timeout" would throw away the authorisation code.
    if (!wait.done) {
        replyError(id, "timeout");
    } else if (wait.success) {
        QJsonObject result;
        result.insert(QStringLiteral("status"), QStringLiteral("ok"));
        result.insert(QStringLiteral("redirect_url"), QString::fromStdString(wait.redirectUrl));
        if (wait.form.has_value()) {
            // A name sent twice keeps its last value, as most form readers do.
            QJsonObject form;
            for (const auto &[name, value] : *wait.form)
                form.insert(QString::fromStdString(name), QString::fromStdString(value));
            result.insert(QStringLiteral("form"), form);
        }
        replyResult(id, result);
    } else {
        replyError(id, wait.message.empty() ? std::string("user_cancelled") : wait.message,
                   wait.data);
    }
}
