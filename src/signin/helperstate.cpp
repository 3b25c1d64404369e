#include "signin/helperstate.h"

void HelperState::completeNavigation(bool success, const std::string &redirectUrl,
                                     const std::string &message,
                                     const std::optional<FormFields> &form, const ErrorData &data)
{
    if (activeWait == nullptr)
        return;
    NavigationWait &wait = *activeWait;
    {
        std::lock_guard<std::mutex> waitLock(wait.mutex);
        wait.done = true;
        wait.success = success;
        wait.redirectUrl = redirectUrl;
        wait.message = message;
        wait.form = form;
        wait.data = data;
    }
    // Notified while our caller still holds HelperState::mutex: the waiter cannot withdraw and
    // destroy the wait before this call is done with it.
    wait.condition.notify_all();
    activeWait = nullptr;
}
