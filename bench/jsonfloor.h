// The JSON floor's work per request, shared by tavisk-bench-jsonecho and the in-process
// comparison of tavisk-bench-channelcost: each complete line parsed with QJsonDocument::fromJson
// and each request object answered with a compact hello reply, one write each.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <string>

// Answers every complete line of `pending` through `write(const char *, std::size_t)` and leaves
// the unfinished tail in `pending`. False as soon as `write` fails.
template<typename Write> bool answerJsonLines(std::string &pending, Write &&write)
{
    static const QJsonObject hello{
        {QStringLiteral("protocol_version"), QJsonValue(1)},
        {QStringLiteral("helper"), QStringLiteral("corvane-tavisk/1.0")}};
    std::size_t start = 0;
    std::size_t newline;
    bool ok = true;
    while (ok && (newline = pending.find('\n', start)) != std::string::npos) {
        const QJsonDocument request = QJsonDocument::fromJson(QByteArray::fromRawData(
            pending.data() + start, static_cast<qsizetype>(newline - start)));
        start = newline + 1;
        if (!request.isObject())
            continue;
        QJsonObject reply;
        reply.insert(QStringLiteral("jsonrpc"), QStringLiteral("2.0"));
        reply.insert(QStringLiteral("id"), request.object().value(QStringLiteral("id")));
        reply.insert(QStringLiteral("result"), hello);
        QByteArray line = QJsonDocument(reply).toJson(QJsonDocument::Compact);
        line.append('\n');
        ok = write(line.constData(), static_cast<std::size_t>(line.size()));
    }
    pending.erase(0, start);
    return ok;
}
