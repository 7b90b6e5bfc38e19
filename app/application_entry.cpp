#include "app/application_entry.h"

#include <QCoreApplication>
#include <QMainWindow>

namespace vantrel {

std::optional<QString> missingDisplayReason(const QProcessEnvironment& environment)
{
    const auto isSet = [&environment](const char* name) {
        return !environment.value(QLatin1String(name)).trimmed().isEmpty();
    };
    if (isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return std::nullopt;
    return QStringLiteral("Vantrel needs a graphical display, and none was found (neither DISPLAY nor WAYLAND_DISPLAY is set).");
}

QMainWindow* createMainWindow()
{
    auto* window = new QMainWindow();
    window->setObjectName(QStringLiteral("main"));
    window->setWindowTitle(QCoreApplication::applicationName());
    window->resize(1100, 700);
    return window;
}

} // namespace vantrel
