#include "model/key_value_storage.h"

#include <QSettings>

namespace vantrel {

namespace {

bool isData(const QVariant& value)
{
    return value.typeId() == QMetaType::QByteArray;
}
bool isString(const QVariant& value)
{
    return value.typeId() == QMetaType::QString;
}

} // namespace

KeyValueStorage::~KeyValueStorage() = default;

UserDefaultsStorage::UserDefaultsStorage()
    : m_settings(std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Vantrel"),
                                             QStringLiteral("Vantrel")))
{
}

UserDefaultsStorage::UserDefaultsStorage(const QString& filePath)
    : m_settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{
}

UserDefaultsStorage::~UserDefaultsStorage() = default;

std::optional<QString> UserDefaultsStorage::string(const QString& key) const
{
    const QVariant value = m_settings->value(key);
    return isString(value) ? std::optional(value.toString()) : std::nullopt;
}

QVariant UserDefaultsStorage::object(const QString& key) const
{
    return m_settings->value(key);
}

void UserDefaultsStorage::set(const QVariant& value, const QString& key)
{
    if (value.isValid())
        m_settings->setValue(key, value);
    else
        m_settings->remove(key);
}

void UserDefaultsStorage::removeObject(const QString& key)
{
    m_settings->remove(key);
}

void UserDefaultsStorage::sync()
{
    m_settings->sync();
}

std::optional<QByteArray> UserDefaultsStorage::data(const QString& key) const
{
    const QVariant value = m_settings->value(key);
    return isData(value) ? std::optional(value.toByteArray()) : std::nullopt;
}

void UserDefaultsStorage::setData(const QByteArray& data, const QString& key)
{
    m_settings->setValue(key, data);
}

void UserDefaultsStorage::encodingFailed(const QString& key)
{
    m_settings->remove(key);
}

std::optional<QString> KeyValueStoragePreview::string(const QString& key) const
{
    const QVariant value = storage.value(key);
    return isString(value) ? std::optional(value.toString()) : std::nullopt;
}

QVariant KeyValueStoragePreview::object(const QString& key) const
{
    return storage.value(key);
}

void KeyValueStoragePreview::set(const QVariant& value, const QString& key)
{
    if (value.isValid())
        storage.insert(key, value);
    else
        storage.remove(key);
}

void KeyValueStoragePreview::removeObject(const QString& key)
{
    storage.remove(key);
}

std::optional<QByteArray> KeyValueStoragePreview::data(const QString& key) const
{
    const QVariant value = storage.value(key);
    return isData(value) ? std::optional(value.toByteArray()) : std::nullopt;
}

void KeyValueStoragePreview::setData(const QByteArray& data, const QString& key)
{
    storage.insert(key, data);
}

void KeyValueStoragePreview::encodingFailed(const QString&) {}

} // namespace vantrel
