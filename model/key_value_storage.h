#pragma once

#include "foundation/json_coding.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVariant>

#include <memory>
#include <optional>

class QSettings;

namespace vantrel {

// Persistent settings: plain values by key, and values stored as JSON. Reading never fails:
// what is missing or unreadable comes back absent. Used from the interface thread only.
class KeyValueStorage {
public:
    virtual ~KeyValueStorage();

    // The value stored under `key` as JSON; absent when there is none, when the entry is not
    // JSON data, or when it does not decode as T (a stored null reads as absent too).
    template<JsonCodable T>
    std::optional<T> codableValue(const QString& key) const
    {
        const auto stored = data(key);
        if (!stored)
            return std::nullopt;
        try {
            return decodeJson<std::optional<T>>(*stored);
        } catch (const DecodingError&) {
            return std::nullopt;
        }
    }

    // Stores `value` as JSON text; an absent value is stored as the JSON literal null, not
    // removed. When the value cannot be encoded, encodingFailed() decides what happens.
    template<JsonCodable T>
    void setCodableValue(const std::optional<T>& value, const QString& key)
    {
        QByteArray encoded;
        try {
            encoded = encodeJson(value);
        } catch (const EncodingError&) {
            encodingFailed(key);
            return;
        }
        setData(encoded, key);
    }

    // The string stored under `key`; absent when missing or not a string.
    virtual std::optional<QString> string(const QString& key) const = 0;
    // Whatever is stored under `key`; an invalid QVariant when nothing is.
    virtual QVariant object(const QString& key) const = 0;
    // Stores `value` under `key`; an invalid (absent) value removes the key.
    virtual void set(const QVariant& value, const QString& key) = 0;
    virtual void removeObject(const QString& key) = 0;

protected:
    // Raw JSON data under `key`; absent when missing or not data.
    virtual std::optional<QByteArray> data(const QString& key) const = 0;
    virtual void setData(const QByteArray& data, const QString& key) = 0;
    virtual void encodingFailed(const QString& key) = 0;
};

// The application's persistent store: the user's settings file (INI format), which keeps raw
// data and strings apart. Numbers and Booleans read back as their text.
class UserDefaultsStorage final : public KeyValueStorage {
public:
    // The standard settings of the application for this user.
    UserDefaultsStorage();
    // The settings kept in the INI file at `filePath`.
    explicit UserDefaultsStorage(const QString& filePath);
    ~UserDefaultsStorage() override;

    std::optional<QString> string(const QString& key) const override;
    QVariant object(const QString& key) const override;
    void set(const QVariant& value, const QString& key) override;
    void removeObject(const QString& key) override;

    // Writes pending changes to disk now (they are otherwise written on the store's own schedule).
    void sync();

protected:
    std::optional<QByteArray> data(const QString& key) const override;
    void setData(const QByteArray& data, const QString& key) override;
    // A value that cannot be encoded removes the key.
    void encodingFailed(const QString& key) override;

private:
    std::unique_ptr<QSettings> m_settings;
};

// An in-memory store, for previews and tests.
class KeyValueStoragePreview final : public KeyValueStorage {
public:
    QHash<QString, QVariant> storage;

    std::optional<QString> string(const QString& key) const override;
    QVariant object(const QString& key) const override;
    void set(const QVariant& value, const QString& key) override;
    void removeObject(const QString& key) override;

protected:
    std::optional<QByteArray> data(const QString& key) const override;
    void setData(const QByteArray& data, const QString& key) override;
    // A value that cannot be encoded leaves the entry as it was.
    void encodingFailed(const QString& key) override;
};

} // namespace vantrel
