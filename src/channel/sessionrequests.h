// The kept sessions as the channel sees them: the "session" of a navigate request, and the
// forget method. Command thread only.
#pragma once

#include <QJsonObject>

#include <cstdint>
#include <string>

struct HelperState;

// The session a navigate request names in "session", claimed for this helper; `name` stays
// empty when it names none. False after writing the error reply: "invalid_session_name",
// "session_in_use" (another helper uses it) or "session_unavailable" (it cannot be kept).
bool claimRequestedSession(HelperState &state, std::int64_t id, const QJsonObject &params,
                           std::string *name);

// forget: deletes the stored data of the session named in "session" and then replies with a
// null result, also when there was nothing to delete; or replies "invalid_session_name",
// "session_in_use" (this helper or another one uses it) or "session_unavailable".
void handleForget(HelperState &state, std::int64_t id, const QJsonObject &params);
