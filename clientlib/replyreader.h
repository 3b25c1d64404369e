// Reading the helper's reply channel: splitting the bytes into lines, with a bound on a line's
// length, and reading what each line says. Kept apart from the process handling so that tests
// and the fuzzer feed it bytes directly.
#pragma once

#include "json.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace taviskclient {

// Collects reply bytes and hands out whole lines. A line (without its newline) longer than the
// limit is an error that stays: the channel can no longer be trusted to be in step.
class LineBuffer
{
public:
    explicit LineBuffer(std::size_t maxLineBytes)
        : m_maxLineBytes(maxLineBytes)
    { }

    // Adds bytes; false once a line has grown past the limit.
    bool append(const char *data, std::size_t size);

    // Takes the next whole line, without its newline. False when no whole line is there yet.
    bool takeLine(std::string &line);

    bool overflowed() const { return m_overflowed; }
    // Bytes received but not yet handed out as lines.
    std::size_t pendingBytes() const { return m_pending.size() - m_start; }
    void clear();

private:
    std::size_t m_maxLineBytes;
    std::string m_pending;
    std::size_t m_start = 0;                       // where the next line begins
    std::size_t m_lastNewline = std::string::npos; // in m_pending
    std::size_t m_tailBytes = 0;                   // the unfinished line's length so far
    bool m_overflowed = false;
};

// What one reply line says about the request it answers.
struct Reply {
    enum class Kind {
        NotAReply, // not a JSON object, or its "id" is no number
        Result,    // has a "result" member
        Error,     // has an "error" member and no "result"
        Neither,   // an object with an id but neither member
    };
    Kind kind = Kind::NotAReply;
    double id = 0;
    Json document;
};

Reply readReply(std::string_view line);

// The hello answer's protocol version, or -1 when it names none.
std::int64_t protocolVersionOf(const Reply &reply);

// The hello answer's helper name ("corvane-tavisk/1.0"), or "" when it names none.
std::string helperNameOf(const Reply &reply);

// How a navigate reply ended the sign-in.
struct NavigateOutcome {
    enum class Kind {
        SignedIn,  // text is the redirect URL
        Failed,    // text is the error message; failureHost and failureError its data
        Malformed, // neither a result with status "ok" and a URL, nor an error with a message
    };
    Kind kind = Kind::Malformed;
    std::string text;
    // SignedIn: the fields of the form the provider posted to the redirect URI, when the reply
    // carries one ("form"), by name; members that are no string are left out.
    std::vector<std::pair<std::string, std::string>> form;
    // Failed: the error's "data" members "host" and "error" (a failed load's host and the
    // engine's error name), or "" when it has none.
    std::string failureHost;
    std::string failureError;
};

NavigateOutcome navigateOutcomeOf(const Reply &reply);

} // namespace taviskclient
