// The end of a silent sign-in, the moment a person would be needed.
#pragma once

#include <string>

struct HelperState;

// The message of the error reply that ends a silent sign-in which needs a person.
constexpr char kInteractionRequired[] = "interaction_required";

// Called wherever a page asks for a person's answer: `reason` names what was asked ("dialog",
// "credentials", "certificate", "passkey", "permission", "popup") or "idle" for a page that
// stopped without going anywhere. True when the latest sign-in is silent: the sign-in in flight,
// if any, has then ended with "interaction_required" and {"reason": reason} as the reply's data,
// and the caller declines what was asked without showing anything. False when a person may be
// asked. Takes HelperState::mutex.
bool endSilentSignIn(HelperState &state, const char *reason);

// Called when the main frame of a silent sign-in failed to load for a reason that is no
// network, proxy or certificate failure (those end it through endSignInWithLoadFailure), with
// the engine's name of the error (e.g. "ERR_BLOCKED_BY_RESPONSE"): the sign-in ends at once with
// "interaction_required" and {"reason": "load_failed", "error": error}. Takes HelperState::mutex.
void endSilentSignInOnLoadFailure(HelperState &state, const std::string &error);
