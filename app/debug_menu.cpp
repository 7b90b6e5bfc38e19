#include "app/debug_menu.h"

#include "desktop/user_identity.h"
#include "model/strings.h"

#include <QAction>
#include <QMenu>

#include <cstdlib>

namespace vantrel {

QMenu* makeDebugMenu(const AppInfo& appInfo, QWidget* parent)
{
    if (appInfo.releaseType() != AppInfo::ReleaseType::alpha)
        return nullptr;
    auto* menu = new QMenu(Strings::debugMenuTitle(), parent);
    menu->setObjectName(QStringLiteral("debugMenu"));
    QAction* crash = menu->addAction(Strings::testCrashActionTitle());
    crash->setObjectName(QStringLiteral("testCrashAction"));
    QObject::connect(crash, &QAction::triggered, [] { crashForTesting(); });
    return menu;
}

QString testCrashMessage()
{
    return QStringLiteral("Developer test crash by ") + UserIdentity::current().userName;
}

void crashForTesting()
{
    // The login name is data: it never reaches the format.
    qFatal("%s", qPrintable(testCrashMessage()));
    std::abort(); // qFatal does not return; this keeps [[noreturn]] honest for the compiler.
}

} // namespace vantrel
