// The JSON the library reads and writes, on nlohmann-json (header-only: nothing of it reaches
// the library's clients, at build or at run time). Only its calls that cannot throw are used
// here, so that no exception of its own ever reaches the C API: the parse that reports failure
// as a discarded value, and the dump that replaces bytes which are no UTF-8 instead of throwing.
#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <string>
#include <string_view>

namespace taviskclient {

using Json = nlohmann::json;

// Nesting deeper than this is refused. The reader itself keeps its own stack, but comparing,
// copying and writing a document recurse.
inline constexpr std::size_t kMaxJsonDepth = 64;

// Reads one whole JSON text (one value with optional white space around it), strictly as
// RFC 8259 has it. False for anything else: a syntax error, invalid UTF-8, a lone surrogate
// escape, too deep a nesting, a number past a double's range; `value` is then null. Of duplicate
// members the later one wins.
bool parseJson(std::string_view text, Json &value);

// The member `key` of an object, or null for a missing member or a value that is no object.
const Json *jsonMember(const Json *object, std::string_view key);

// The text of a string value, or null for anything else.
const std::string *jsonString(const Json *value);

// Appends `text` as a JSON string literal with its quotes. `text` must be valid UTF-8 (bytes
// that are not are written as U+FFFD).
void appendJsonString(std::string &out, std::string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool isValidUtf8(std::string_view text);

} // namespace taviskclient
