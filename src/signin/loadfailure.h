// Why the page of a sign-in could not be loaded, in the words a client switches on.
#pragma once

#include <optional>
#include <string>

struct HelperState;

// What stopped the page: a kind of failure the person cannot mend in the window.
enum class LoadFailureKind {
    Certificate, // the site's certificate is not trusted, has expired, or names another host
    Proxy,       // the proxy refused, could not be reached, or its sign-in was cancelled
    Network,     // the site refused or did not answer, its name did not resolve, TLS failed
};

// A failed load of a sign-in's page.
struct LoadFailure {
    LoadFailureKind kind = LoadFailureKind::Network;
    std::string host;  // the host of the page that failed
    std::string error; // the engine's name of the error, as "ERR_CERT_AUTHORITY_INVALID"
};

// The kind of failure that the engine's network error `netError` (a negative net error code)
// is, or none when it is no failure of the sign-in: a load the helper or a newer navigation
// aborted, a page the engine or the site blocked, an HTTP status, or no error at all.
std::optional<LoadFailureKind> loadFailureKind(int netError);

// The engine's name of the network error `netError`, from the engine's error text for it
// ("net::ERR_CONNECTION_REFUSED"), or the code in decimal when the text names none.
std::string netErrorName(const std::string &errorText, int netError);

// The message of the error reply: "certificate_error", "proxy_error" or "network_error".
const char *loadFailureMessage(LoadFailureKind kind);

// Ends the sign-in in flight with the error reply for `failure`, its host and error name in the
// reply's data. Returns false, and does nothing, when no sign-in is in flight. Takes
// HelperState::mutex. Every way of showing a sign-in, with a window or none, ends it so.
bool endSignInWithLoadFailure(HelperState &state, const LoadFailure &failure);
