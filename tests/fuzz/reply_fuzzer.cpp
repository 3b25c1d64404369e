// Feeds arbitrary bytes through the client library's reply reader, in pieces of the sizes the
// first byte picks, as the reply channel would deliver them, and holds what comes out to a few
// properties: no line handed out is longer than the bound and a longer one stops the reader;
// every document read back is valid UTF-8 throughout and survives being written and read again
// unchanged; a navigate outcome carries text only when it is a sign-in or an error.
//
// Any violation traps, which libFuzzer reports as a crash with the input that caused it.

#include "json.h"
#include "replyreader.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

using namespace taviskclient;

namespace {

// Small enough that inputs of the fuzzer's size reach it.
constexpr std::size_t kMaxLine = 1024;

[[noreturn]] void violation(const char *what)
{
    std::fprintf(stderr, "reply fuzzer: %s\n", what);
    std::fflush(stderr);
    __builtin_trap();
}

void check(bool holds, const char *what)
{
    if (!holds)
        violation(what);
}

void checkLine(const std::string &line)
{
    check(line.size() <= kMaxLine, "a line longer than the bound was handed out");
    check(line.find('\n') == std::string::npos, "a line holds a newline");
    const Reply reply = readReply(line);
    if (reply.kind != Reply::Kind::NotAReply) {
        check(reply.document.is_object(), "a reply that is no object");
        // Replacing and ignoring bytes that are no UTF-8 write the same only when there are none.
        const std::string written
            = reply.document.dump(-1, ' ', false, Json::error_handler_t::replace);
        check(written == reply.document.dump(-1, ' ', false, Json::error_handler_t::ignore),
              "a string read is not UTF-8");
        Json again;
        check(parseJson(written, again), "a document written back does not read");
        check(again == reply.document, "a document changed on the way round");
    }
    const NavigateOutcome outcome = navigateOutcomeOf(reply);
    check(outcome.kind != NavigateOutcome::Kind::Malformed || outcome.text.empty(),
          "a malformed reply carries text");
    check(isValidUtf8(outcome.text), "an outcome's text is not UTF-8");
    protocolVersionOf(reply);
    check(isValidUtf8(helperNameOf(reply)), "a helper name is not UTF-8");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte sets the piece size: 1 to 256 bytes.
    const std::size_t piece = std::size_t{data[0]} + 1;
    const char *bytes = reinterpret_cast<const char *>(data + 1);
    const std::size_t length = size - 1;

    LineBuffer buffer(kMaxLine);
    std::size_t tail = 0; // bytes since the last newline, counted independently
    std::string line;
    for (std::size_t at = 0; at < length; at += piece) {
        const std::size_t count = std::min(piece, length - at);
        bool tooLong = false;
        for (std::size_t i = at; i < at + count; ++i) {
            tail = bytes[i] == '\n' ? 0 : tail + 1;
            tooLong = tooLong || tail > kMaxLine;
        }
        const bool accepted = buffer.append(bytes + at, count);
        check(accepted != tooLong, "the line bound was applied wrongly");
        if (!accepted) {
            check(!buffer.append("\n", 1), "an overflowed reader took more");
            return 0;
        }
        while (buffer.takeLine(line))
            checkLine(line);
    }
    return 0;
}
