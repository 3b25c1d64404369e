// The state the command thread and the GUI thread share while a sign-in runs.
#pragma once

#include "engine/proxysettings.h"
#include "signin/formpost.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <string>

class AuthWindow;
class SessionProfiles;
class SessionRegistry;

// What a failure's error reply carries besides its message, in its "data" object: name to text.
using FailureData = std::map<std::string, std::string>;

// The wait of one navigate request: a local object of the command thread for that request.
// Every field but the mutex is guarded by `mutex`; once the wait has been withdrawn from
// HelperState::activeWait nobody else can reach it and the command thread reads it unlocked.
struct NavigationWait {
    std::mutex mutex;
    std::condition_variable condition; // notified, to all, by completeNavigation
    bool done = false;                 // the outcome below is final
    bool success = false;              // the sign-in reached the redirect URI without an error
    std::string redirectUrl;           // the URL that completed the wait, on success
    std::string message;               // the reason of a failure
    FailureData data;                  // on failure, the reply's "data"; empty: none
    std::optional<FormFields> form;    // on success, the form posted to the redirect URI, if any
};

// The one record both threads share, a local object of the entry point for the whole run.
// Lock order: HelperState::mutex first, then a NavigationWait's mutex.
struct HelperState {
    std::mutex mutex;
    // Guarded by `mutex`. The wait of the navigate request in flight; not owned.
    NavigationWait *activeWait = nullptr;
    // Guarded by `mutex`. The redirect URI of the most recently accepted navigate request; it
    // keeps its value after that request ends.
    std::string redirectUri;
    // Guarded by `mutex`. Whether the most recently accepted navigate request is silent: no
    // window is shown and nothing may ask the person. It keeps its value after that request
    // ends, so that what its page still asks for on the way out is never shown either.
    bool silent = false;
    // Command thread only, no lock. The kept sessions this helper may use; set once at start-up
    // before the command thread exists, owned by the entry point; null: none may be used.
    SessionRegistry *sessions = nullptr;
    // GUI thread only, no lock. The one sign-in window, owned here; deleted by quitApplication.
    AuthWindow *window = nullptr;
    // GUI thread only, no lock. The web profiles of the sign-ins; set once at start-up, owned
    // by the entry point.
    SessionProfiles *profiles = nullptr;
    // Written once at start-up before the command thread exists; read without a lock.
    std::string defaultUserAgent;
    // The proxies the engine was told of, for naming one that asks for a password. Written once
    // at start-up before the engine starts; read without a lock.
    ProxySettings proxy;

    // Ends the sign-in in flight exactly once: fills the active wait, wakes its waiter and
    // withdraws it. Does nothing when no wait is in flight. The caller holds `mutex`.
    void completeNavigation(bool success, const std::string &redirectUrl,
                            const std::string &message,
                            const std::optional<FormFields> &form = std::nullopt,
                            const FailureData &data = {});
};
