#pragma once

#include <QDir>
#include <QPixmap>
#include <QString>

// Keeps a picture of a component under the build folder for a person to look at.
inline bool saveScreenshot(const QPixmap& pixmap, const QString& name)
{
    const QString folder = QStringLiteral(VANTREL_SCREENSHOT_DIR);
    return QDir().mkpath(folder) && pixmap.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}
