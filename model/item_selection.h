#pragma once

#include "engine/id_for.h"

#include <QJsonValue>
#include <QString>
#include <QStringView>

#include <optional>

namespace vantrel {

// The selection of a team window by identifiers only: a collection, optionally one of its
// documents, and optionally one of that document's events. It is what is stored between runs
// and what a "select" link names; the items are looked up again when it is restored.
struct ItemSelection {
    IdFor<VersionBundle> collection;
    std::optional<IdFor<VersionBundle>> document;
    std::optional<IdFor<VersionBundle>> event;

    // The members of the JSON form.
    enum class CodingKeys { collection, document, event };
    static QString stringValue(CodingKeys key);
    static std::optional<CodingKeys> codingKey(QStringView stringValue);
    // The keys have no integer form.
    static std::optional<int> intValue(CodingKeys) { return std::nullopt; }
    static std::optional<CodingKeys> codingKey(int) { return std::nullopt; }

    // {"collection": id[, "document": id][, "event": id]}; absent ids are left out, not null.
    QJsonValue toJson() const;
    // Needs "collection"; "document" and "event" may be missing or null; other members are
    // ignored. Throws DecodingError when a present id does not decode.
    static ItemSelection fromJson(const QJsonValue& json);

    // Reads the path of a "select" link: "/<collection>[/<document>[/<event>]]". Slashes at
    // either end and repeated slashes are ignored; parts after the third too. Absent when
    // there is no part or the first is not a UUID string; a later part that is not one
    // leaves its id absent without affecting the other.
    static std::optional<ItemSelection> fromPath(QStringView path);
};

} // namespace vantrel
