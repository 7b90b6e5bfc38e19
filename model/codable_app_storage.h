#pragma once

#include "model/key_value_storage.h"

#include <memory>
#include <utility>

namespace vantrel {

// One setting stored as JSON under one key. It does not notify: its owner decides when to
// read and write.
template<JsonCodable Value>
class CodableAppStorage {
public:
    // Writes the default under `key` when the store has nothing there; an existing entry is
    // left as it is, even one that does not decode.
    CodableAppStorage(Value defaultValue, QString key, std::shared_ptr<KeyValueStorage> store)
        : m_key(std::move(key)),
          m_defaultValue(std::move(defaultValue)),
          m_store(std::move(store))
    {
        if (!m_store->object(m_key).isValid())
            m_store->setCodableValue(std::optional<Value>(m_defaultValue), m_key);
    }

    // The stored value, or the default when the store has nothing usable.
    Value value() const { return m_store->template codableValue<Value>(m_key).value_or(m_defaultValue); }
    void setValue(const Value& value) { m_store->setCodableValue(std::optional<Value>(value), m_key); }

    const QString& key() const { return m_key; }
    const Value& defaultValue() const { return m_defaultValue; }
    const std::shared_ptr<KeyValueStorage>& store() const { return m_store; }

private:
    QString m_key;
    Value m_defaultValue;
    std::shared_ptr<KeyValueStorage> m_store;
};

} // namespace vantrel
