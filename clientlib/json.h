// The JSON the library reads and writes: a strict RFC 8259 reader for reply lines and the
// string escaping for request lines. The library links no JSON or Qt library of its clients'.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace taviskclient {

struct JsonMember;

struct JsonValue {
    enum class Type { Null, Boolean, Number, String, Array, Object };
    Type type = Type::Null;
    bool boolean = false;
    double number = 0; // out-of-range numbers are infinite
    std::string text;  // String: decoded UTF-8
    std::vector<JsonValue> items;
    std::vector<JsonMember> members; // in document order, duplicates kept

    // The last member called `key` of an object (the later duplicate wins, as in most
    // readers), or null for a missing member or a value that is no object.
    const JsonValue *member(std::string_view key) const;
    bool isString() const { return type == Type::String; }
    bool isNumber() const { return type == Type::Number; }
    bool isObject() const { return type == Type::Object; }
};

struct JsonMember {
    std::string key;
    JsonValue value;
};

// Nesting deeper than this is refused rather than followed, so no input runs the reader's
// recursion out of stack.
inline constexpr std::size_t kMaxJsonDepth = 64;

// Reads one whole JSON text (one value with optional white space around it). False for
// anything else: a syntax error, invalid UTF-8, a lone surrogate escape, too deep a nesting.
bool parseJson(std::string_view text, JsonValue &value);

// Appends `text` as a JSON string literal with its quotes. `text` must be valid UTF-8.
void appendJsonString(std::string &out, std::string_view text);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool isValidUtf8(std::string_view text);

} // namespace taviskclient
