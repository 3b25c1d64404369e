#include "channel/envelope.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QVariant>

#include <cmath>

bool truncatedInteger(const QJsonValue &value, std::int64_t &out)
{
    out = 0;
    if (!value.isDouble())
        return false;
    const QVariant number = value.toVariant();
    if (number.typeId() == QMetaType::LongLong) {
        out = number.toLongLong();
        return true;
    }
    const double d = value.toDouble();
    // [-2^63, 2^63): every double in it truncates to a representable integer.
    constexpr double kTwoTo63 = 9223372036854775808.0;
    if (!std::isfinite(d) || d < -kTwoTo63 || d >= kTwoTo63)
        return false;
    out = static_cast<std::int64_t>(std::trunc(d));
    return true;
}

std::string stringMember(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString().toStdString() : std::string();
}

bool parseRequest(const std::string &line, RequestEnvelope &envelope)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return false;
    const QJsonObject request = document.object();
    truncatedInteger(request.value(QStringLiteral("id")), envelope.id);
    envelope.method = stringMember(request, QStringLiteral("method"));
    const QJsonValue params = request.value(QStringLiteral("params"));
    envelope.params = params.isObject() ? params.toObject() : QJsonObject();
    return true;
}
