// Feeds arbitrary bytes through the client library's reply reader, in pieces of the sizes the
// first byte picks, as the reply channel would deliver them, and holds what comes out to a few
// properties: no line handed out is longer than the bound and a longer one stops the reader;
// every document read back is valid UTF-8 throughout and survives being written and read again
// unchanged; a navigate outcome carries text only when it is a sign-in or an error.
//
// Any violation traps, which libFuzzer reports as a crash with the input that caused it.

#include "json.h"
#include "replyreader.h"

#include <cmath>
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

// Writes a document back as JSON; false when it holds a number JSON cannot write (infinity).
bool write(const JsonValue &value, std::string &out)
{
    switch (value.type) {
    case JsonValue::Type::Null:
        out += "null";
        return true;
    case JsonValue::Type::Boolean:
        out += value.boolean ? "true" : "false";
        return true;
    case JsonValue::Type::Number: {
        if (!std::isfinite(value.number))
            return false;
        char text[40];
        std::snprintf(text, sizeof text, "%.17g", value.number);
        out += text;
        return true;
    }
    case JsonValue::Type::String:
        check(isValidUtf8(value.text), "a string read is not UTF-8");
        appendJsonString(out, value.text);
        return true;
    case JsonValue::Type::Array:
        out += '[';
        for (std::size_t i = 0; i < value.items.size(); ++i) {
            if (i > 0)
                out += ',';
            if (!write(value.items[i], out))
                return false;
        }
        out += ']';
        return true;
    case JsonValue::Type::Object:
        out += '{';
        for (std::size_t i = 0; i < value.members.size(); ++i) {
            if (i > 0)
                out += ',';
            check(isValidUtf8(value.members[i].key), "a key read is not UTF-8");
            appendJsonString(out, value.members[i].key);
            out += ':';
            if (!write(value.members[i].value, out))
                return false;
        }
        out += '}';
        return true;
    }
    return false;
}

bool same(const JsonValue &a, const JsonValue &b)
{
    if (a.type != b.type || a.boolean != b.boolean || a.text != b.text
        || a.items.size() != b.items.size() || a.members.size() != b.members.size())
        return false;
    if (a.type == JsonValue::Type::Number && a.number != b.number)
        return false;
    for (std::size_t i = 0; i < a.items.size(); ++i) {
        if (!same(a.items[i], b.items[i]))
            return false;
    }
    for (std::size_t i = 0; i < a.members.size(); ++i) {
        if (a.members[i].key != b.members[i].key || !same(a.members[i].value, b.members[i].value))
            return false;
    }
    return true;
}

void checkLine(const std::string &line)
{
    check(line.size() <= kMaxLine, "a line longer than the bound was handed out");
    check(line.find('\n') == std::string::npos, "a line holds a newline");
    const Reply reply = readReply(line);
    if (reply.kind != Reply::Kind::NotAReply) {
        check(reply.document.isObject(), "a reply that is no object");
        std::string written;
        if (write(reply.document, written)) {
            JsonValue again;
            check(parseJson(written, again), "a document written back does not read");
            check(same(reply.document, again), "a document changed on the way round");
        }
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
