// The record of an application installed on this computer, as versions and items keep it.

#pragma once

#include <QJsonValue>
#include <QString>

#include <optional>

namespace vantrel {

// A creative application found installed on this computer.
struct InstalledApplication {
    QString name;
    // Known only when the desktop entry records it (key X-Vantrel-Version).
    std::optional<QString> version;
    // The freedesktop desktop file id, e.g. "org.kde.kdenlive.desktop".
    QString desktopEntryId;

    QJsonValue toJson() const;
    static InstalledApplication fromJson(const QJsonValue& json);

    friend bool operator==(const InstalledApplication&, const InstalledApplication&) = default;
};

} // namespace vantrel
