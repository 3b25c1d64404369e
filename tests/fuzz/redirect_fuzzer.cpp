// Offers arbitrary URLs to redirect recognition while a sign-in is in flight, against arbitrary
// redirect URIs. The input is the redirect URI, a NUL byte and the URL; an input without a NUL
// is a URL against "app://auth/done".
//
// Whatever the bytes, recognition either completes the wait exactly once and consistently (a
// success carries the URL as offered and no message, a failure no URL) and withdraws it, or
// leaves everything untouched. The query splitter's pieces put back together reproduce the text.
// Any violation traps, which libFuzzer reports as a crash with the input that caused it.

#include "signin/helperstate.h"
#include "signin/redirect.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

[[noreturn]] void violation(const char *what)
{
    std::fprintf(stderr, "redirect fuzzer: %s\n", what);
    std::fflush(stderr);
    __builtin_trap();
}

void check(bool holds, const char *what)
{
    if (!holds)
        violation(what);
}

// Cutting at a one-character delimiter and joining with it gives the text back, less the one
// trailing delimiter whose empty piece the splitter drops; no piece holds the delimiter.
void checkSplit(const std::string &text, char delimiter)
{
    const std::vector<std::string> pieces = splitByPattern(text, std::string(1, delimiter));
    check(!pieces.empty(), "the splitter gave no piece");
    std::string joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        check(pieces[i].find(delimiter) == std::string::npos, "a piece holds the delimiter");
        if (i > 0)
            joined += delimiter;
        joined += pieces[i];
    }
    const bool dropsLast = !text.empty() && text.back() == delimiter;
    const std::string expected = dropsLast ? text.substr(0, text.size() - 1) : text;
    check(joined == expected, "the pieces do not put the text back together");
    const auto delimiters
        = static_cast<std::size_t>(std::count(text.begin(), text.end(), delimiter));
    check(pieces.size() == delimiters + 1 - (dropsLast ? 1 : 0),
          "the splitter gave a wrong number of pieces");
}

// True when `url` begins with `prefix` letter for letter, ASCII case ignored. When the prefix
// holds no "%", decoding cannot change those bytes of the URL, so such a URL must match.
bool beginsVerbatim(const std::string &url, const std::string &prefix)
{
    if (url.size() < prefix.size() || prefix.find('%') != std::string::npos)
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const auto a = static_cast<unsigned char>(url[i]);
        const auto b = static_cast<unsigned char>(prefix[i]);
        if (std::tolower(a) != std::tolower(b))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string redirectUri
        = nul == std::string::npos ? std::string("app://auth/done") : input.substr(0, nul);
    const std::string url = nul == std::string::npos ? input : input.substr(nul + 1);

    HelperState state;
    NavigationWait wait;
    state.activeWait = &wait;
    state.redirectUri = redirectUri;

    const bool completed = tryCompleteRedirect(state, url);

    check(state.redirectUri == redirectUri, "recognition changed the redirect URI");
    if (completed) {
        check(!redirectUri.empty(), "an empty redirect URI completed a sign-in");
        check(wait.done, "a true answer left the wait open");
        check(state.activeWait == nullptr, "a completed wait is still published");
        if (wait.success)
            check(wait.redirectUrl == url && wait.message.empty(),
                  "a success does not carry exactly the URL as offered");
        else
            check(wait.redirectUrl.empty(), "a failure carries a redirect URL");
        check(!tryCompleteRedirect(state, url), "a second offer completed the wait again");
    } else {
        check(!wait.done && !wait.success && wait.redirectUrl.empty() && wait.message.empty(),
              "a false answer touched the wait");
        check(state.activeWait == &wait, "a false answer withdrew the wait");
        check(!(!redirectUri.empty() && beginsVerbatim(url, redirectUri)),
              "a URL that begins with the redirect URI was not recognised");
    }

    checkSplit(url, '&');
    checkSplit(url, '=');
    return 0;
}
