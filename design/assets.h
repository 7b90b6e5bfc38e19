#pragma once

#include <QPixmap>
#include <QSize>
#include <QString>
#include <QStringList>

namespace vantrel::design {

// The application's own artwork, looked up by the names the views use ("VantrelWordmark",
// "AppIcon", the onboarding pictures). Each picture is a vector drawing with a natural size,
// in points, that is drawn sharp at any size.
class Assets final {
public:
    Assets() = delete;

    static QStringList names();
    static bool contains(const QString& name);
    // An empty size for an unknown name.
    static QSize naturalSize(const QString& name);
    // The picture drawn at `size` (its natural size when empty) for a screen of the given
    // pixel ratio, with transparent surroundings; a null pixmap for an unknown name.
    static QPixmap pixmap(const QString& name, QSize size = {}, qreal devicePixelRatio = 1.0);
};

// Registers the design system's compiled-in resources; safe to call any number of times.
void ensureDesignResources();

} // namespace vantrel::design
