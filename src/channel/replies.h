// Writing replies on the out-channel. The command thread is the only writer, so messages are
// never sent concurrently and nothing here takes a lock.
#pragma once

#include "platform/handles.h"

#include <QJsonObject>
#include <QJsonValue>

#include <cstdint>
#include <string>

// The channel handles, written once at start-up before the command thread exists and closed
// only after it has been joined.
extern platform::HANDLE cmdInHandle;
extern platform::HANDLE cmdOutHandle;

// Writes `message` as one compact JSON line. A failed or zero-byte write gives up the rest of
// the line silently; the next message starts from its own first byte.
void writeMessage(const QJsonObject &message);

// {"id":id,"jsonrpc":"2.0","result":result}
void replyResult(std::int64_t id, const QJsonValue &result);

// {"error":{"code":1,"message":message},"id":id,"jsonrpc":"2.0"}, with "data" in the error
// object when `data` is not empty.
void replyError(std::int64_t id, const std::string &message,
                const QJsonObject &data = QJsonObject());
