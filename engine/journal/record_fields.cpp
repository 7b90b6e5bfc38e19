#include "engine/journal/record_fields.h"

#include <QJsonDocument>

#include <limits>

namespace vantrel {

RecordFields::RecordFields(const QJsonObject& object)
    : m_text(QJsonDocument(object).toJson(QJsonDocument::Compact)),
      m_size(qint32(m_text.size()))
{
    Q_ASSERT(m_text.size() <= std::numeric_limits<qint32>::max());
}

RecordFields::RecordFields(std::initializer_list<QPair<QString, QJsonValue>> members)
    : RecordFields(QJsonObject(members))
{
}

RecordFields RecordFields::fromCheckedObject(const QByteArray& text, qsizetype offset, qsizetype size)
{
    Q_ASSERT(offset >= 0 && size >= 2 && offset + size <= text.size());
    Q_ASSERT(offset + size <= std::numeric_limits<qint32>::max());
    RecordFields fields;
    fields.m_text = text;
    fields.m_offset = qint32(offset);
    fields.m_size = qint32(size);
    return fields;
}

bool RecordFields::isAddress(const json_scan::Member& member)
{
    return member.is(QLatin1StringView("bundle")) || member.is(QLatin1StringView("kind"));
}

json_scan::Members RecordFields::members() const
{
    json_scan::Members all;
    json_scan::objectMembers(text(), all);
    json_scan::Members kept;
    for (const auto& member : all) {
        if (!isAddress(member))
            kept.append(member);
    }
    return kept;
}

QJsonValue RecordFields::value(QLatin1StringView key) const
{
    if (key == QLatin1StringView("bundle") || key == QLatin1StringView("kind"))
        return QJsonValue(QJsonValue::Undefined);
    json_scan::Members all;
    json_scan::objectMembers(text(), all);
    for (auto it = all.crbegin(); it != all.crend(); ++it) {
        if (it->is(key))
            return json_scan::jsonValue(it->value);
    }
    return QJsonValue(QJsonValue::Undefined);
}

QJsonValue RecordFields::value(const QString& key) const
{
    const QByteArray latin = key.toLatin1();
    return value(QLatin1StringView(latin));
}

QString RecordFields::string(QLatin1StringView key) const
{
    return value(key).toString();
}

QJsonObject RecordFields::toObject() const
{
    QJsonObject object = QJsonDocument::fromJson(text().toByteArray()).object();
    object.remove(QStringLiteral("bundle"));
    object.remove(QStringLiteral("kind"));
    return object;
}

} // namespace vantrel
