#pragma once

#include <QColor>
#include <QIcon>
#include <QStringList>

#include <optional>

namespace vantrel::design {

// The symbols of the views by their symbol names ("lock.fill", "chevron.left", ...). Each name
// maps to icons of the breeze-dark icon theme, read from the installed theme through
// QIcon::fromTheme; a symbol the theme draws only in colour, or not at all, is one of our
// own monochrome drawings. Use it on the interface thread. A tint recolours every drawn
// pixel of the symbol, keeping its antialiasing, so symbols take the colour of the text
// beside them.
class IconProvider final {
public:
    IconProvider() = delete;

    // A null icon for a name that is not a known symbol.
    static QIcon icon(const QString& symbolName, std::optional<QColor> tint = {});
    static bool hasIcon(const QString& symbolName);
    static QStringList knownSymbols();

    // Puts the application on the breeze-dark icon theme (breeze behind it), adding the
    // system's icon folders to the theme search path. icon() does this on its first use;
    // applyDarkTheme() does it at start.
    static void installIconTheme();
};

} // namespace vantrel::design
