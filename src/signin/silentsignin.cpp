#include "signin/silentsignin.h"

#include "signin/helperstate.h"

#include <mutex>

namespace {

bool endIfSilent(HelperState &state, const FailureData &data)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.silent)
        return false;
    state.completeNavigation(false, std::string(), kInteractionRequired, std::nullopt, data);
    return true;
}

} // namespace

bool endSilentSignIn(HelperState &state, const char *reason)
{
    return endIfSilent(state, FailureData{{"reason", reason}});
}

void endSilentSignInOnLoadFailure(HelperState &state, const std::string &error)
{
    endIfSilent(state, FailureData{{"reason", "load_failed"}, {"error", error}});
}
