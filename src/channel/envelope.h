// Reading a request line into its JSON-RPC envelope.
#pragma once

#include <QJsonObject>

#include <cstdint>
#include <string>

struct RequestEnvelope {
    std::int64_t id = 0; // "id" truncated toward zero; 0 when absent, not a number or out of range
    std::string method;  // "method" as UTF-8; empty when absent or not a string
    QJsonObject params;  // "params"; empty when absent or not an object
};

// False when the line is not a JSON object; such a line gets no reply.
bool parseRequest(const std::string &line, RequestEnvelope &envelope);

// The member `key` of `object` as UTF-8 when it is a JSON string, otherwise empty.
std::string stringMember(const QJsonObject &object, const QString &key);

// A JSON number truncated toward zero to a signed 64-bit integer. Integers Qt kept exactly are
// taken as they are. False for a value that is not a number or lies outside the 64-bit range
// (for example 1e300 or 2^63); `out` is then 0.
bool truncatedInteger(const QJsonValue &value, std::int64_t &out);
