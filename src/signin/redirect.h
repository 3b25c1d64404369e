// Recognising the redirect that ends a sign-in.
#pragma once

#include "signin/formpost.h"

#include <optional>
#include <string>
#include <vector>

struct HelperState;

// What a URL is to the sign-in.
enum class RedirectMatch {
    None,      // not a redirect of the sign-in: let it load
    Completed, // it reached the redirect URI of the request in flight, which it has just ended
    Stale,     // it reached the last request's redirect URI after that request had ended
};

// Tests `url` against the redirect URI of the navigate request in flight and, on a match,
// completes that request with success and the URL, or with the provider's "error" text. When no
// request is in flight it only reports whether the URL still reaches the last redirect URI, so
// that a late redirect can be refused too: its page carries a live authorisation code.
// Takes HelperState::mutex itself; the caller must not hold it.
// A successful completion carries `form`, the form posted to the URL, when there is one.
RedirectMatch recogniseRedirect(HelperState &state, const std::string &url,
                                const std::optional<FormFields> &form = std::nullopt);

// True when `url` completed the request in flight (recogniseRedirect gave Completed).
bool tryCompleteRedirect(HelperState &state, const std::string &url,
                         const std::optional<FormFields> &form = std::nullopt);

// Cuts `text` at every match of the ECMAScript regular expression `pattern`, as
// std::sregex_token_iterator with submatch -1 does: an empty piece after the last match is
// dropped, and a text with no match is one piece, even when empty.
std::vector<std::string> splitByPattern(const std::string &text, const std::string &pattern);
