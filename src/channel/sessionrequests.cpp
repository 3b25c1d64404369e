#include "channel/sessionrequests.h"

#include "channel/replies.h"
#include "signin/helperstate.h"
#include "signin/sessionname.h"
#include "signin/sessionstore.h"

#include <QJsonValue>

namespace {

const char kInvalidName[] = "invalid_session_name";
const char kInUse[] = "session_in_use";
const char kUnavailable[] = "session_unavailable";

// The session name in `params`: false when "session" is there but is no valid name.
bool requestedName(const QJsonObject &params, std::string *name)
{
    const QJsonValue value = params.value(QStringLiteral("session"));
    if (value.isUndefined())
        return true;
    *name = value.isString() ? value.toString().toStdString() : std::string();
    return isValidSessionName(*name);
}

} // namespace

bool claimRequestedSession(HelperState &state, std::int64_t id, const QJsonObject &params,
                           std::string *name)
{
    name->clear();
    if (!requestedName(params, name)) {
        name->clear();
        replyError(id, kInvalidName);
        return false;
    }
    if (name->empty())
        return true;
    const SessionRegistry::Claim claim = state.sessions != nullptr
        ? state.sessions->claim(*name)
        : SessionRegistry::Claim::Unavailable;
    if (claim == SessionRegistry::Claim::Claimed)
        return true;
    name->clear();
    replyError(id, claim == SessionRegistry::Claim::InUse ? kInUse : kUnavailable);
    return false;
}

void handleForget(HelperState &state, std::int64_t id, const QJsonObject &params)
{
    std::string name;
    if (!params.contains(QStringLiteral("session")) || !requestedName(params, &name)) {
        replyError(id, kInvalidName);
        return;
    }
    const SessionRegistry::Forget outcome = state.sessions != nullptr
        ? state.sessions->forget(name)
        : SessionRegistry::Forget::Unavailable;
    if (outcome == SessionRegistry::Forget::Forgotten)
        replyResult(id, QJsonValue(QJsonValue::Null));
    else
        replyError(id, outcome == SessionRegistry::Forget::InUse ? kInUse : kUnavailable);
}
