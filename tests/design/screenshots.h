#pragma once

#include "design/palette.h"

#include <QDir>
#include <QImage>
#include <QString>
#include <QWidget>

// Saves a picture of `widget` as <build>/screenshots/design_<name>.png for a reviewer.
inline bool saveScreenshot(QWidget& widget, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    return folder.mkpath(QStringLiteral("."))
           && widget.grab().save(folder.filePath(QStringLiteral("design_%1.png").arg(name)));
}

// Paints `sheet` with the window background.
inline void darkSheet(QWidget& sheet)
{
    sheet.setAutoFillBackground(true);
    QPalette palette = sheet.palette();
    palette.setColor(QPalette::Window, vantrel::design::neutral(7));
    palette.setColor(QPalette::WindowText, vantrel::design::neutral(2));
    sheet.setPalette(palette);
}

// The share of the image's pixels that are drawn at all.
inline double coverage(const QImage& image)
{
    qsizetype drawn = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            drawn += qAlpha(image.pixel(x, y)) > 0;
    return double(drawn) / double(image.width() * image.height());
}
