#include "design/dark_theme.h"

#include "design/app_style.h"
#include "design/icon_provider.h"
#include "design/palette.h"

#include <QApplication>
#include <QPalette>

namespace vantrel::design {

void applyDarkTheme(QApplication& application)
{
    application.setStyle(new AppStyle);
    IconProvider::installIconTheme();

    // Everything comes from the design palettes, so that plain Qt widgets, our button
    // styles and the views' own colours sit on the same surfaces.
    const QColor window = neutral(7);
    const QColor base = style(16);
    const QColor alternateBase = neutral(6);
    const QColor button = style(9);
    const QColor text = neutral(0);
    const QColor dimText = style(4);
    const QColor accent = blue(kFilledBlue);

    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, alternateBase);
    palette.setColor(QPalette::ToolTipBase, style(9));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, style(3));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, neutral(9));
    palette.setColor(QPalette::Link, style(5));
    palette.setColor(QPalette::LinkVisited, style(5));
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, neutral(9));
    palette.setColor(QPalette::Light, style(11));
    palette.setColor(QPalette::Midlight, style(10));
    palette.setColor(QPalette::Mid, neutral(5));
    palette.setColor(QPalette::Dark, neutral(8));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, dimText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, button);
    palette.setColor(QPalette::Inactive, QPalette::Highlight, style(13));
    application.setPalette(palette);
}

} // namespace vantrel::design
