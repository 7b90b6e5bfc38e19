#include "design/dark_theme.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

namespace vantrel::design {

void applyDarkTheme(QApplication& application)
{
    application.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    const QColor window(0x1f, 0x1f, 0x22);
    const QColor base(0x17, 0x17, 0x19);
    const QColor alternateBase(0x26, 0x26, 0x2a);
    const QColor button(0x2c, 0x2c, 0x31);
    const QColor text(0xec, 0xec, 0xef);
    const QColor dimText(0x8a, 0x8a, 0x92);
    const QColor accent(0x3d, 0x8b, 0xfd);

    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, alternateBase);
    palette.setColor(QPalette::ToolTipBase, button);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, dimText);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Link, accent);
    palette.setColor(QPalette::Highlight, accent);
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Light, button.lighter(130));
    palette.setColor(QPalette::Midlight, button.lighter(115));
    palette.setColor(QPalette::Mid, button.darker(120));
    palette.setColor(QPalette::Dark, base.darker(130));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, dimText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, button);
    application.setPalette(palette);
}

} // namespace vantrel::design
