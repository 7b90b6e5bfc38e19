#pragma once

#include <QDir>
#include <QString>
#include <QWidget>

// Saves a picture of `widget` as <build>/screenshots/design_<name>.png for a reviewer.
inline bool saveScreenshot(QWidget& widget, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    if (!folder.mkpath(QStringLiteral(".")))
        return false;
    return widget.grab().save(folder.filePath(QStringLiteral("design_%1.png").arg(name)));
}
