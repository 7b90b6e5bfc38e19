// Chooses DEBUG ▸ Test crash of an alpha build's menu bar: the process is to end in an abort.

#include "app/debug_menu.h"

#include <QAction>
#include <QApplication>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const vantrel::AppInfo alpha(QStringLiteral("Vantrel"), QIcon(), QStringLiteral("1.0α"), QStringLiteral("1"),
                                 QStringLiteral("app.vantrel"), QStringLiteral("vantrel"));
    QMainWindow window;
    QMenu* debug = vantrel::makeDebugMenu(alpha, &window);
    if (!debug)
        return 2;
    window.menuBar()->addMenu(debug);
    auto* crash = debug->findChild<QAction*>(QStringLiteral("testCrashAction"));
    if (!crash)
        return 3;
    crash->trigger();
    return 0; // not reached
}
