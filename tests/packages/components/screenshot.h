#pragma once

#include "packages/components/animated_binding.h"

#include <QDir>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <vector>

// Keeps a picture of a component under the build folder for a person to look at.
inline bool saveScreenshot(const QPixmap& pixmap, const QString& name)
{
    const QString folder = QStringLiteral(VANTREL_SCREENSHOT_DIR);
    return QDir().mkpath(folder) && pixmap.save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

// Paints `window` with a dark background, as the components are shown in the application.
inline void darkWindow(QWidget& window)
{
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(0x1f, 0x1f, 0x23));
    palette.setColor(QPalette::Text, QColor(0xf0, 0xf0, 0xf2));
    window.setPalette(palette);
}

// A bound value that records every write.
struct Recorded {
    QString value;
    std::vector<QString> written;
    vantrel::Binding<QString> binding()
    {
        return {[this] { return value; },
                [this](const QString& next) {
                    written.push_back(next);
                    value = next;
                }};
    }
};
