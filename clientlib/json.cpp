#include "json.h"

#include <charconv>
#include <cstdint>
#include <limits>

namespace taviskclient {

namespace {

// The length of the UTF-8 sequence at `text[at]`, or 0 when none starts there.
std::size_t utf8SequenceLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // overlong
        if (lead == 0xED)
            high = 0x9F; // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // overlong
        if (lead == 0xF4)
            high = 0x8F; // past U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    if (byte(at + 1) < low || byte(at + 1) > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF)
            return 0;
    }
    return length;
}

void appendUtf8(std::string &out, std::uint32_t codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

class Reader
{
public:
    explicit Reader(std::string_view text)
        : m_text(text)
    { }

    bool document(JsonValue &value)
    {
        skipSpace();
        if (!parseValue(value, 0))
            return false;
        skipSpace();
        return m_at == m_text.size();
    }

private:
    bool atEnd() const { return m_at >= m_text.size(); }
    char peek() const { return m_text[m_at]; }

    void skipSpace()
    {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++m_at;
    }

    bool literal(std::string_view word)
    {
        if (m_text.substr(m_at, word.size()) != word)
            return false;
        m_at += word.size();
        return true;
    }

    bool parseValue(JsonValue &value, std::size_t depth)
    {
        if (atEnd())
            return false;
        switch (peek()) {
        case '{':
            return parseObject(value, depth + 1);
        case '[':
            return parseArray(value, depth + 1);
        case '"':
            value.type = JsonValue::Type::String;
            return parseString(value.text);
        case 't':
            value.type = JsonValue::Type::Boolean;
            value.boolean = true;
            return literal("true");
        case 'f':
            value.type = JsonValue::Type::Boolean;
            return literal("false");
        case 'n':
            value.type = JsonValue::Type::Null;
            return literal("null");
        default:
            return parseNumber(value);
        }
    }

    // The members of an object or the items of an array, from just after the opening bracket
    // to just past `close`; `parseItem` reads one, with the white space before it skipped.
    template<typename ParseItem> bool parseItems(char close, ParseItem parseItem)
    {
        skipSpace();
        if (!atEnd() && peek() == close) {
            ++m_at;
            return true;
        }
        while (true) {
            skipSpace();
            if (!parseItem())
                return false;
            skipSpace();
            if (atEnd())
                return false;
            if (peek() == close) {
                ++m_at;
                return true;
            }
            if (peek() != ',')
                return false;
            ++m_at;
        }
    }

    bool parseObject(JsonValue &value, std::size_t depth)
    {
        if (depth > kMaxJsonDepth)
            return false;
        value.type = JsonValue::Type::Object;
        ++m_at; // '{'
        return parseItems('}', [&] {
            if (atEnd() || peek() != '"')
                return false;
            JsonMember member;
            if (!parseString(member.key))
                return false;
            skipSpace();
            if (atEnd() || peek() != ':')
                return false;
            ++m_at;
            skipSpace();
            if (!parseValue(member.value, depth))
                return false;
            value.members.push_back(std::move(member));
            return true;
        });
    }

    bool parseArray(JsonValue &value, std::size_t depth)
    {
        if (depth > kMaxJsonDepth)
            return false;
        value.type = JsonValue::Type::Array;
        ++m_at; // '['
        return parseItems(']', [&] {
            JsonValue item;
            if (!parseValue(item, depth))
                return false;
            value.items.push_back(std::move(item));
            return true;
        });
    }

    bool hexQuad(std::uint32_t &unit)
    {
        if (m_text.size() - m_at < 4)
            return false;
        unit = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = m_text[m_at++];
            unit <<= 4;
            if (c >= '0' && c <= '9')
                unit |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                unit |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                unit |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                return false;
        }
        return true;
    }

    bool parseString(std::string &out)
    {
        ++m_at; // '"'
        while (true) {
            if (atEnd())
                return false;
            const auto c = static_cast<unsigned char>(peek());
            if (c == '"') {
                ++m_at;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c != '\\') {
                const std::size_t length = utf8SequenceLength(m_text, m_at);
                if (length == 0)
                    return false;
                out.append(m_text.data() + m_at, length);
                m_at += length;
                continue;
            }
            ++m_at;
            if (atEnd())
                return false;
            const char escape = m_text[m_at++];
            switch (escape) {
            case '"':
            case '\\':
            case '/':
                out += escape;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                std::uint32_t unit = 0;
                if (!hexQuad(unit))
                    return false;
                if (unit >= 0xDC00 && unit <= 0xDFFF)
                    return false; // a low surrogate with no high one before it
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    std::uint32_t low = 0;
                    if (!literal("\\u") || !hexQuad(low) || low < 0xDC00 || low > 0xDFFF)
                        return false;
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                }
                appendUtf8(out, unit);
                break;
            }
            default:
                return false;
            }
        }
    }

    bool digits()
    {
        const std::size_t start = m_at;
        while (!atEnd() && peek() >= '0' && peek() <= '9')
            ++m_at;
        return m_at > start;
    }

    // RFC 8259's number grammar, then a conversion that does not depend on the locale.
    bool parseNumber(JsonValue &value)
    {
        const std::size_t start = m_at;
        if (!atEnd() && peek() == '-')
            ++m_at;
        if (atEnd())
            return false;
        if (peek() == '0') {
            ++m_at;
        } else if (!digits()) {
            return false;
        }
        if (!atEnd() && peek() == '.') {
            ++m_at;
            if (!digits())
                return false;
        }
        if (!atEnd() && (peek() == 'e' || peek() == 'E')) {
            ++m_at;
            if (!atEnd() && (peek() == '+' || peek() == '-'))
                ++m_at;
            if (!digits())
                return false;
        }
        value.type = JsonValue::Type::Number;
        const char *first = m_text.data() + start;
        const char *last = m_text.data() + m_at;
        const auto [end, error] = std::from_chars(first, last, value.number);
        if (error == std::errc::result_out_of_range) {
            // Too large gives infinity, too small zero: either way no id or version matches.
            const std::string_view token(first, static_cast<std::size_t>(last - first));
            const std::size_t exponent = token.find_first_of("eE");
            const bool tiny = exponent != std::string_view::npos && token[exponent + 1] == '-';
            value.number = tiny ? 0.0 : std::numeric_limits<double>::infinity();
            if (token.front() == '-')
                value.number = -value.number;
            return true;
        }
        return error == std::errc() && end == last;
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

} // namespace

const JsonValue *JsonValue::member(std::string_view key) const
{
    if (type != Type::Object)
        return nullptr;
    for (auto it = members.rbegin(); it != members.rend(); ++it) {
        if (it->key == key)
            return &it->value;
    }
    return nullptr;
}

bool parseJson(std::string_view text, JsonValue &value)
{
    value = JsonValue();
    return Reader(text).document(value);
}

void appendJsonString(std::string &out, std::string_view text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hex[byte >> 4];
                out += hex[byte & 0xF];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

bool isValidUtf8(std::string_view text)
{
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t length = utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

} // namespace taviskclient
