#pragma once

#include "foundation/error.h"

#include <QByteArray>
#include <QJsonValue>

#include <concepts>
#include <optional>

namespace vantrel {

// Raised when stored JSON does not hold the value it should.
class DecodingError : public Error {
public:
    explicit DecodingError(const QString& detail);

protected:
    QString typeName() const override;
};

// Raised when a value cannot be written as JSON.
class EncodingError : public Error {
public:
    explicit EncodingError(const QString& detail);

protected:
    QString typeName() const override;
};

// How a type is written to and read from JSON. Specialise it, or give the type
//     QJsonValue toJson() const;   static T fromJson(const QJsonValue&);  (throws DecodingError)
template<typename T>
struct JsonCoding {
    static QJsonValue encode(const T& value) { return value.toJson(); }
    static T decode(const QJsonValue& json) { return T::fromJson(json); }
};

template<typename T>
concept JsonCodable = requires(const T& value, const QJsonValue& json)
{
    {
        JsonCoding<T>::encode(value)
        } -> std::convertible_to<QJsonValue>;
    {
        JsonCoding<T>::decode(json)
        } -> std::convertible_to<T>;
};

// An absent value is the JSON literal null.
template<typename T>
struct JsonCoding<std::optional<T>> {
    static QJsonValue encode(const std::optional<T>& value)
    {
        return value ? JsonCoding<T>::encode(*value) : QJsonValue(QJsonValue::Null);
    }
    static std::optional<T> decode(const QJsonValue& json)
    {
        if (json.isNull() || json.isUndefined())
            return std::nullopt;
        return JsonCoding<T>::decode(json);
    }
};

template<>
struct JsonCoding<QString> {
    static QJsonValue encode(const QString& value) { return value; }
    static QString decode(const QJsonValue& json);
};

template<>
struct JsonCoding<bool> {
    static QJsonValue encode(bool value) { return value; }
    static bool decode(const QJsonValue& json);
};

template<>
struct JsonCoding<int> {
    static QJsonValue encode(int value) { return value; }
    static int decode(const QJsonValue& json);
};

// Compact UTF-8 JSON text of any JSON value, scalars included ("null", "true", "\"text\"").
QByteArray jsonText(const QJsonValue& value);
// Parses JSON text holding any JSON value; throws DecodingError when it is not JSON.
QJsonValue parseJsonText(const QByteArray& text);

template<JsonCodable T>
QByteArray encodeJson(const T& value)
{
    return jsonText(JsonCoding<T>::encode(value));
}

template<JsonCodable T>
T decodeJson(const QByteArray& text)
{
    return JsonCoding<T>::decode(parseJsonText(text));
}

} // namespace vantrel
