#include "foundation/json_coding.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>
#include <limits>

namespace vantrel {

DecodingError::DecodingError(const QString& detail)
    : Error(QStringLiteral("The data couldn’t be read because it isn’t in the correct format."), detail)
{
}

QString DecodingError::typeName() const
{
    return QStringLiteral("DecodingError");
}

EncodingError::EncodingError(const QString& detail)
    : Error(QStringLiteral("The data couldn’t be written because it isn’t in the correct format."), detail)
{
}

QString EncodingError::typeName() const
{
    return QStringLiteral("EncodingError");
}

QString JsonCoding<QString>::decode(const QJsonValue& json)
{
    if (!json.isString())
        throw DecodingError(QStringLiteral("Expected a string."));
    return json.toString();
}

bool JsonCoding<bool>::decode(const QJsonValue& json)
{
    if (!json.isBool())
        throw DecodingError(QStringLiteral("Expected a Boolean."));
    return json.toBool();
}

int JsonCoding<int>::decode(const QJsonValue& json)
{
    const double number = json.toDouble(std::numeric_limits<double>::quiet_NaN());
    if (!json.isDouble() || std::trunc(number) != number || number < std::numeric_limits<int>::min()
        || number > std::numeric_limits<int>::max())
        throw DecodingError(QStringLiteral("Expected a whole number."));
    return static_cast<int>(number);
}

QByteArray jsonText(const QJsonValue& value)
{
    if (value.isObject())
        return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
    if (value.isArray())
        return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    // QJsonDocument holds only objects and arrays: write a one-element array and unwrap it.
    const QByteArray wrapped =
        QJsonDocument(QJsonArray{value.isUndefined() ? QJsonValue() : value}).toJson(QJsonDocument::Compact);
    return wrapped.mid(1, wrapped.size() - 2);
}

QJsonValue parseJsonText(const QByteArray& text)
{
    QJsonParseError error{};
    const QByteArray trimmed = text.trimmed();
    if (trimmed.startsWith('{') || trimmed.startsWith('[')) {
        const auto document = QJsonDocument::fromJson(trimmed, &error);
        if (error.error != QJsonParseError::NoError)
            throw DecodingError(error.errorString());
        return document.isObject() ? QJsonValue(document.object()) : QJsonValue(document.array());
    }
    const auto document = QJsonDocument::fromJson('[' + trimmed + ']', &error);
    if (trimmed.isEmpty() || error.error != QJsonParseError::NoError || document.array().size() != 1)
        throw DecodingError(error.error != QJsonParseError::NoError ? error.errorString()
                                                                    : QStringLiteral("Expected one JSON value."));
    return document.array().at(0);
}

} // namespace vantrel
