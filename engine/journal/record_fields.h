#pragma once

#include "engine/journal/json_scan.h"

#include <QByteArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QPair>
#include <QString>

#include <initializer_list>

namespace vantrel {

// What one change of a journal record carries besides its bundle and kind: the change's members
// as the JSON text they were read from (or written as), decoded only when asked for. The changes
// of one record share the record's bytes, so a team's history costs about what its journal
// holds. The members "bundle" and "kind" are the change's address, never one of its fields.
class RecordFields {
public:
    RecordFields() = default;
    // The members of `object` (implicit, so that fields are written as plain objects); "bundle"
    // and "kind" in it are not fields, as they are not once written.
    RecordFields(const QJsonObject& object);
    RecordFields(std::initializer_list<QPair<QString, QJsonValue>> members);
    // The object at `offset` in `text`, `size` bytes long, which the caller found to be exactly
    // one valid JSON object. `text` is shared, not copied.
    static RecordFields fromCheckedObject(const QByteArray& text, qsizetype offset, qsizetype size);

    // The value of `key`, as QJsonObject::value() gives it (undefined when missing; the last
    // one when the text repeats a key).
    QJsonValue value(QLatin1StringView key) const;
    QJsonValue value(const QString& key) const;
    // The string value of `key`; empty when it is missing or is no string.
    QString string(QLatin1StringView key) const;
    bool isEmpty() const { return members().isEmpty(); }

    QJsonObject toObject() const;
    operator QJsonObject() const { return toObject(); }

    // The JSON text of the members, with the change's address when it was read from a record.
    QByteArrayView text() const { return QByteArrayView(m_text).sliced(m_offset, m_size); }
    // Every member but the address, in the order written.
    json_scan::Members members() const;

    friend bool operator==(const RecordFields& a, const RecordFields& b) { return a.toObject() == b.toObject(); }

private:
    static bool isAddress(const json_scan::Member& member);

    QByteArray m_text = QByteArrayLiteral("{}");
    // A team's history holds hundreds of thousands of these; a record is far smaller than 2 GiB.
    qint32 m_offset = 0;
    qint32 m_size = 2;
};

} // namespace vantrel
