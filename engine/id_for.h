#pragma once

#include "foundation/json_coding.h"
#include "foundation/uuid_text.h"

#include <QHash>
#include <QString>
#include <QStringView>
#include <QUuid>

#include <optional>

namespace vantrel {

// The kinds of identified things, used only as tags of IdFor.
class VersionBundle;
class Versions;
class States;

// An identifier of one kind of thing: a UUID that cannot be mixed up with the id of another kind.
template<typename Tag>
class IdFor {
public:
    // A new, random id.
    static IdFor make() { return IdFor(QUuid::createUuid()); }
    explicit IdFor(const QUuid& uuid) : m_uuid(uuid) {}
    // The nil id, which names nothing (a placeholder until a real id is assigned).
    IdFor() = default;
    bool isNil() const { return m_uuid.isNull(); }

    // The id written as `text`; absent when `text` is not a UUID string.
    static std::optional<IdFor> fromString(QStringView text)
    {
        if (auto uuid = parseUuidString(text))
            return IdFor(*uuid);
        return std::nullopt;
    }

    const QUuid& uuid() const { return m_uuid; }
    QString toString() const { return uuidString(m_uuid); }

    QJsonValue toJson() const { return toString(); }
    static IdFor fromJson(const QJsonValue& json)
    {
        if (!json.isString())
            throw DecodingError(QStringLiteral("Expected an identifier string."));
        if (auto id = fromString(json.toString()))
            return *id;
        throw DecodingError(QStringLiteral("\"%1\" is not an identifier.").arg(json.toString()));
    }

    friend bool operator==(const IdFor&, const IdFor&) = default;
    friend bool operator<(const IdFor& a, const IdFor& b) { return a.m_uuid < b.m_uuid; }
    friend size_t qHash(const IdFor& id, size_t seed = 0) { return qHash(id.m_uuid, seed); }

private:
    QUuid m_uuid;
};

} // namespace vantrel

template<typename Tag>
struct std::hash<vantrel::IdFor<Tag>> {
    size_t operator()(const vantrel::IdFor<Tag>& id) const noexcept { return qHash(id.uuid()); }
};
