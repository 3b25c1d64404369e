#include "signin/loadfailure.h"

#include "signin/helperstate.h"

#include <mutex>

namespace {

// Chromium's network error codes (net/base/net_error_list.h) that name a proxy.
bool isProxyError(int netError)
{
    switch (netError) {
    case -111: // TUNNEL_CONNECTION_FAILED: the proxy refused the CONNECT
    case -115: // PROXY_AUTH_UNSUPPORTED
    case -120: // SOCKS_CONNECTION_FAILED
    case -121: // SOCKS_CONNECTION_HOST_UNREACHABLE
    case -127: // PROXY_AUTH_REQUESTED: its sign-in was cancelled
    case -130: // PROXY_CONNECTION_FAILED: the proxy is down or refuses connections
    case -131: // MANDATORY_PROXY_CONFIGURATION_FAILED: the PAC script failed
    case -136: // PROXY_CERTIFICATE_INVALID
    case -327: // PAC_SCRIPT_FAILED
    case -336: // NO_SUPPORTED_PROXIES
    case -364: // PROXY_AUTH_REQUESTED_WITH_NO_CONNECTION
    case -366: // PROXY_HTTP_1_1_REQUIRED
    case -367: // PAC_SCRIPT_TERMINATED
        return true;
    default:
        return false;
    }
}

// Errors of the server's certificate outside the certificate range.
bool isServerCertificateError(int netError)
{
    return netError == -150  // SSL_PINNED_KEY_NOT_IN_CERT_CHAIN
        || netError == -156  // SSL_SERVER_CERT_CHANGED
        || netError == -167; // SSL_SERVER_CERT_BAD_FORMAT
}

} // namespace

std::optional<LoadFailureKind> loadFailureKind(int netError)
{
    // -200 to -299: the certificate range, of which ERR_CERT_END (-219) is the current end.
    if (netError <= -200 && netError >= -299)
        return LoadFailureKind::Certificate;
    if (isServerCertificateError(netError))
        return LoadFailureKind::Certificate;
    if (isProxyError(netError))
        return LoadFailureKind::Proxy;
    // -100 to -199: the connection, TLS included; -800 to -899: name resolution.
    if ((netError <= -100 && netError >= -199) || (netError <= -800 && netError >= -899))
        return LoadFailureKind::Network;
    switch (netError) {
    case -7:   // TIMED_OUT
    case -15:  // SOCKET_NOT_CONNECTED: how the engine sometimes reports a server that refused
               // the handshake after the person presented no client certificate
    case -21:  // NETWORK_CHANGED
    case -324: // EMPTY_RESPONSE: the server closed the connection without an answer
        return LoadFailureKind::Network;
    default:
        // ABORTED (-3) is the helper's own refusal of the redirect, or a navigation that
        // replaced this one; BLOCKED_* are the engine's or the site's policies; the rest of the
        // HTTP range is the site's answer, which the page shows. None is the network's fault.
        return std::nullopt;
    }
}

std::string netErrorName(const std::string &errorText, int netError)
{
    static const std::string kPrefix = "net::";
    std::string name
        = errorText.rfind(kPrefix, 0) == 0 ? errorText.substr(kPrefix.size()) : errorText;
    const bool named = name.rfind("ERR_", 0) == 0 && name.size() > 4
        && name.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") == std::string::npos;
    return named ? name : std::to_string(netError);
}

const char *loadFailureMessage(LoadFailureKind kind)
{
    switch (kind) {
    case LoadFailureKind::Certificate:
        return "certificate_error";
    case LoadFailureKind::Proxy:
        return "proxy_error";
    case LoadFailureKind::Network:
        break;
    }
    return "network_error";
}

bool endSignInWithLoadFailure(HelperState &state, const LoadFailure &failure)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.activeWait == nullptr)
        return false;
    state.completeNavigation(false, std::string(), loadFailureMessage(failure.kind), std::nullopt,
                             FailureData{{"error", failure.error}, {"host", failure.host}});
    return true;
}
