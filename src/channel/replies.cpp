#include "channel/replies.h"

#include <QJsonDocument>

platform::HANDLE cmdInHandle = nullptr;
platform::HANDLE cmdOutHandle = nullptr;

void writeMessage(const QJsonObject &message)
{
    QByteArray line = QJsonDocument(message).toJson(QJsonDocument::Compact);
    line.append('\n');
    qsizetype written = 0;
    while (written < line.size()) {
        platform::DWORD count = 0;
        const qsizetype rest = line.size() - written;
        const platform::DWORD ask
            = rest > 0x7fffffff ? platform::DWORD{0x7fffffff} : static_cast<platform::DWORD>(rest);
        if (!platform::WriteFile(cmdOutHandle, line.constData() + written, ask, &count, nullptr))
            return;
        if (count == 0)
            return;
        written += count;
    }
}

void replyResult(std::int64_t id, const QJsonValue &result)
{
    QJsonObject reply;
    reply.insert(QStringLiteral("jsonrpc"), QStringLiteral("2.0"));
    reply.insert(QStringLiteral("id"), QJsonValue(static_cast<double>(id)));
    reply.insert(QStringLiteral("result"), result);
    writeMessage(reply);
}

void replyError(std::int64_t id, const std::string &message, const QJsonObject &data)
{
    QJsonObject error;
    error.insert(QStringLiteral("code"), QJsonValue(1));
    error.insert(QStringLiteral("message"), QString::fromStdString(message));
    if (!data.isEmpty())
        error.insert(QStringLiteral("data"), data);
    QJsonObject reply;
    reply.insert(QStringLiteral("jsonrpc"), QStringLiteral("2.0"));
    reply.insert(QStringLiteral("id"), QJsonValue(static_cast<double>(id)));
    reply.insert(QStringLiteral("error"), error);
    writeMessage(reply);
}
