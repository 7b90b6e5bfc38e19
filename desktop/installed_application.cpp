// The JSON form of an installed application, as version records keep it.

#include "desktop/installed_application.h"

#include "foundation/json_coding.h"

#include <QJsonObject>

namespace vantrel {

QJsonValue InstalledApplication::toJson() const
{
    return QJsonObject{
        {QStringLiteral("name"), name},
        {QStringLiteral("version"), JsonCoding<std::optional<QString>>::encode(version)},
        {QStringLiteral("desktopEntryId"), desktopEntryId},
    };
}

InstalledApplication InstalledApplication::fromJson(const QJsonValue& json)
{
    if (!json.isObject())
        throw DecodingError(QStringLiteral("Expected an installed application object."));
    const QJsonObject object = json.toObject();
    return {
        JsonCoding<QString>::decode(object.value(QStringLiteral("name"))),
        JsonCoding<std::optional<QString>>::decode(object.value(QStringLiteral("version"))),
        JsonCoding<QString>::decode(object.value(QStringLiteral("desktopEntryId"))),
    };
}

} // namespace vantrel
