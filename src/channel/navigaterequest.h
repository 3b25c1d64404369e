// The navigate request: one interactive sign-in from request to reply.
#pragma once

#include <QJsonObject>

#include <cstdint>

struct GuiCalls;
struct HelperState;

// The time limit of a request that names none, or names one that converts to 0.
constexpr std::uint32_t kDefaultTimeoutMs = 180000;

// "timeout_ms" as the request's time limit in milliseconds: a number truncated toward zero and
// kept to its low 32 bits; 180000 for anything else and for 0.
std::uint32_t navigateTimeoutMs(const QJsonObject &params);

// Runs on the command thread and returns after writing exactly one reply: "ok" with the
// redirect URL, or an error with "navigate_already_in_progress", "timeout", "user_cancelled",
// "interaction_required" (a silent sign-in that needs a person), an error of the "session" it
// names (sessionrequests.h) or the identity provider's text.
void handleNavigate(HelperState &state, const GuiCalls &gui, std::int64_t id,
                    const QJsonObject &params);
