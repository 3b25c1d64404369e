// The floor of a line channel that speaks JSON the way the helper must: each line parsed with
// QJsonDocument::fromJson, and each object answered with a reply object serialised compactly,
// one write(2) per reply. The hello result is built once. No threads, no dispatch, no handles:
// what is left is the cost of Qt's JSON per request.
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <cerrno>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

bool writeAll(const char *data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

int main()
{
    const QJsonObject hello{{QStringLiteral("protocol_version"), QJsonValue(1)},
                            {QStringLiteral("helper"), QStringLiteral("corvane-tavisk/1.0")}};
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;
        pending.append(buffer, static_cast<std::size_t>(n));
        std::size_t start = 0;
        std::size_t newline;
        while ((newline = pending.find('\n', start)) != std::string::npos) {
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
            if (!writeAll(line.constData(), static_cast<std::size_t>(line.size())))
                return 0;
        }
        pending.erase(0, start);
    }
}
