#include "model/item_selection.h"

#include <QJsonObject>

namespace vantrel {

QString ItemSelection::stringValue(CodingKeys key)
{
    switch (key) {
    case CodingKeys::collection:
        return QStringLiteral("collection");
    case CodingKeys::document:
        return QStringLiteral("document");
    case CodingKeys::event:
        return QStringLiteral("event");
    }
    Q_UNREACHABLE();
}

std::optional<ItemSelection::CodingKeys> ItemSelection::codingKey(QStringView stringValue)
{
    for (const auto key : {CodingKeys::collection, CodingKeys::document, CodingKeys::event}) {
        if (stringValue == ItemSelection::stringValue(key))
            return key;
    }
    return std::nullopt;
}

QJsonValue ItemSelection::toJson() const
{
    QJsonObject object{{stringValue(CodingKeys::collection), collection.toJson()}};
    if (document)
        object.insert(stringValue(CodingKeys::document), document->toJson());
    if (event)
        object.insert(stringValue(CodingKeys::event), event->toJson());
    return object;
}

ItemSelection ItemSelection::fromJson(const QJsonValue& json)
{
    if (!json.isObject())
        throw DecodingError(QStringLiteral("A selection is a JSON object."));
    const QJsonObject object = json.toObject();
    const auto collection = object.value(stringValue(CodingKeys::collection));
    if (collection.isUndefined() || collection.isNull())
        throw DecodingError(QStringLiteral("A selection names a collection."));
    using OptionalId = std::optional<IdFor<VersionBundle>>;
    return ItemSelection{
        IdFor<VersionBundle>::fromJson(collection),
        JsonCoding<OptionalId>::decode(object.value(stringValue(CodingKeys::document))),
        JsonCoding<OptionalId>::decode(object.value(stringValue(CodingKeys::event))),
    };
}

std::optional<ItemSelection> ItemSelection::fromPath(QStringView path)
{
    const auto parts = path.split(u'/', Qt::SkipEmptyParts);
    if (parts.isEmpty())
        return std::nullopt;
    const auto collection = IdFor<VersionBundle>::fromString(parts[0]);
    if (!collection)
        return std::nullopt;
    const auto idAt = [&parts](qsizetype index) -> std::optional<IdFor<VersionBundle>> {
        return index < parts.size() ? IdFor<VersionBundle>::fromString(parts[index]) : std::nullopt;
    };
    return ItemSelection{*collection, idAt(1), idAt(2)};
}

} // namespace vantrel
