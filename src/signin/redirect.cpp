#include "signin/redirect.h"

#include "platform/strings.h"
#include "signin/helperstate.h"

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <regex>

namespace {

struct FreeDeleter {
    void operator()(char *p) const { std::free(p); }
};

// The percent-decoded URL, up to the first NUL the decoding yields; empty when decoding fails.
std::string decodedCopy(const std::string &url)
{
    std::unique_ptr<char, FreeDeleter> decoded(
        platform::selvo_str_url_decode(url.data(), url.size()));
    return decoded ? std::string(decoded.get()) : std::string();
}

// Both sides are compared decoded: the engine may offer "%20" as a space while the client
// wrote the redirect URI escaped, and an exact echo of the redirect URI must still match.
bool beginsWithRedirectUri(const std::string &url, const std::string &redirectUri)
{
    const std::string decoded = decodedCopy(url);
    const std::string decodedRedirectUri = decodedCopy(redirectUri);
    if (decodedRedirectUri.empty() || decoded.size() < decodedRedirectUri.size())
        return false;
    return platform::_strnicmp(decoded.c_str(), decodedRedirectUri.c_str(),
                               decodedRedirectUri.size())
        == 0;
}

// Keys and values exactly as they stand in the URL; the first occurrence of a key wins.
std::map<std::string, std::string> queryParameters(const std::string &url)
{
    std::map<std::string, std::string> parameters;
    const std::size_t question = url.find('?');
    if (question == std::string::npos)
        return parameters;
    for (const std::string &piece : splitByPattern(url.substr(question + 1), "&")) {
        const std::vector<std::string> parts = splitByPattern(piece, "=");
        if (parts.size() == 2)
            parameters.emplace(parts[0], parts[1]);
    }
    return parameters;
}

} // namespace

std::vector<std::string> splitByPattern(const std::string &text, const std::string &pattern)
{
    const std::regex delimiter(pattern, std::regex::ECMAScript);
    return {std::sregex_token_iterator(text.begin(), text.end(), delimiter, -1),
            std::sregex_token_iterator()};
}

RedirectMatch recogniseRedirect(HelperState &state, const std::string &url,
                                const std::optional<FormFields> &form)
{
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.redirectUri.empty() || !beginsWithRedirectUri(url, state.redirectUri))
        return RedirectMatch::None;
    if (state.activeWait == nullptr)
        return RedirectMatch::Stale;

    const std::map<std::string, std::string> parameters = queryParameters(url);
    const auto error = parameters.find("error");
    if (error == parameters.end()) {
        state.completeNavigation(true, url, std::string(), form);
        return RedirectMatch::Completed;
    }
    std::string message = error->second;
    const auto subcode = parameters.find("error_subcode");
    if (subcode != parameters.end())
        message += ": " + subcode->second;
    state.completeNavigation(false, std::string(), message);
    return RedirectMatch::Completed;
}

bool tryCompleteRedirect(HelperState &state, const std::string &url,
                         const std::optional<FormFields> &form)
{
    return recogniseRedirect(state, url, form) == RedirectMatch::Completed;
}
