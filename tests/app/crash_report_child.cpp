// An alpha build's start, with crash reporting as the root model sets it up, that chooses
// DEBUG ▸ Test crash: the process is to end in an abort that leaves a crash report.
//
//   crash_report_child <scratch folder>

#include "app/debug_menu.h"
#include "app/vantrel_model.h"
#include "desktop/system_services.h"

#include <QAction>
#include <QApplication>
#include <QMenu>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    if (argc != 2)
        return 2;
    const QString scratch = QString::fromLocal8Bit(argv[1]);
    const vantrel::AppInfo alpha(QStringLiteral("Vantrel"), QIcon(), QStringLiteral("1.0α"), QStringLiteral("12"),
                                 QStringLiteral("app.vantrel"), QStringLiteral("vantrel"));
    vantrel::VantrelModel model(
        alpha,
        std::make_shared<vantrel::AppUpdater>(
            std::make_unique<vantrel::updates::UpdateController>(vantrel::updates::UpdateController::Settings{})),
        std::make_shared<vantrel::KeyValueStoragePreview>(),
        std::make_shared<vantrel::SystemFileManager>(scratch + QStringLiteral("/data"),
                                                     scratch + QStringLiteral("/cache"),
                                                     scratch + QStringLiteral("/downloads")),
        std::make_shared<vantrel::RecordingWorkspace>(), {});
    if (!model.crashReporter()->client().isStarted())
        return 3;
    QMenu* debug = vantrel::makeDebugMenu(alpha, nullptr);
    auto* crash = debug ? debug->findChild<QAction*>(QStringLiteral("testCrashAction")) : nullptr;
    if (!crash)
        return 4;
    crash->trigger();
    return 0; // not reached
}
