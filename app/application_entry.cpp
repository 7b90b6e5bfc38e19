#include "app/application_entry.h"

#include "app/about_window_scene.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "packages/components/app_info.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

namespace vantrel {

std::optional<QString> missingDisplayReason(const QProcessEnvironment& environment)
{
    const auto isSet = [&environment](const char* name) {
        return !environment.value(QLatin1String(name)).trimmed().isEmpty();
    };
    if (isSet("QT_QPA_PLATFORM") || isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"))
        return std::nullopt;
    return QStringLiteral(
        "Vantrel needs a graphical display, and none was found (neither DISPLAY nor WAYLAND_DISPLAY is set).");
}

QMainWindow* createMainWindow()
{
    auto* window = new QMainWindow();
    window->setObjectName(QStringLiteral("main"));
    window->setWindowTitle(QCoreApplication::applicationName());
    window->resize(1100, 700);

    const AppInfo& appInfo = AppInfo::shared();
    QMenu* help = window->menuBar()->addMenu(Strings::helpMenuTitle());
    QAction* about = help->addAction(formatText(Strings::aboutActionTitle(), {appInfo.name()}));
    about->setMenuRole(QAction::AboutRole);
    QObject::connect(about, &QAction::triggered, window, [window, &appInfo] {
        showAboutWindow(window, appInfo, [](const QUrl& url) { QDesktopServices::openUrl(url); });
    });
    return window;
}

} // namespace vantrel
