// Two editors, one day, one team bundle. The application runs as it does for a user, with its
// own settings, data and runtime folders, its single-instance listener and the real window, and
// is driven only through what it shows: clicks, keys, menu commands and the file dialogs. A
// second editor works on the same team bundle from a process of its own, and a later start of
// the real program hands the running one a link.

#include "acceptance/team_day.h"

#include "app/about_window_scene.h"
#include "app/application_entry.h"
#include "design/dark_theme.h"
#include "packages/components/app_info.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace vantrel;
using namespace vantrel::acceptance;

class AcceptanceTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void twoEditorsShareOneTeamBundleForADay()
    {
        DesktopOpener desktop(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/opened.txt"));
        TeamDay day(desktop);
        bool finished = false;
        // The scenario runs inside the application's own event loop; a failed step ends the loop.
        QTimer::singleShot(0, qApp, [&day, &finished] {
            finished = day.run();
            if (!finished)
                QCoreApplication::exit(1);
        });
        const int status = runApplication(*qApp, {});
        QVERIFY2(finished, qPrintable(QStringLiteral("the scenario stopped at: ") + day.stage()));
        // The last quit asked nothing and ended the application normally, keeping the team bundle
        // for the next start.
        QCOMPARE(status, 0);
        QFile settings(qEnvironmentVariable("XDG_CONFIG_HOME") + QStringLiteral("/Vantrel/Vantrel.ini"));
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QVERIFY(QString::fromUtf8(settings.readAll()).contains(QStringLiteral("Cutting Room.vantrelteam")));
    }
};

namespace {

// A user of our own: empty settings, our own runtime folder (so that no other test's instance
// answers), a name the window shows, and an application that opens projects and libraries.
bool prepareUser(const QString& home)
{
    for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"}) {
        const QString folder = home + QLatin1Char('/') + QLatin1String(name);
        if (!QDir().mkpath(folder))
            return false;
        QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        qputenv(name, QFile::encodeName(folder));
    }
    qputenv("VANTREL_USER_NAME", "ana");
    qputenv("VANTREL_FULL_NAME", "Ana Editor");
    qputenv("VANTREL_HOST_NAME", "host-ana");
    qunsetenv("VANTREL_UPDATE_FEED_URL");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // The user's application for projects and libraries notes what it was started on.
    const QString data = home + QStringLiteral("/XDG_DATA_HOME");
    const QString program = data + QStringLiteral("/cutter.sh");
    QFile script(program);
    if (!script.open(QIODevice::WriteOnly)
        || script.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened.txt\"\n") <= 0)
        return false;
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    QDir().mkpath(data + QStringLiteral("/applications"));
    QFile entry(data + QStringLiteral("/applications/cutter.desktop"));
    QFile defaults(home + QStringLiteral("/XDG_CONFIG_HOME/mimeapps.list"));
    return entry.open(QIODevice::WriteOnly)
           && entry.write("[Desktop Entry]\nType=Application\nName=Cutter\nExec=" + QFile::encodeName(program)
                          + " %f\nMimeType=application/x-kdenlive;inode/directory;\n")
                  > 0
           && defaults.open(QIODevice::WriteOnly)
           && defaults.write("[Default Applications]\napplication/x-kdenlive=cutter.desktop\n"
                             "inode/directory=cutter.desktop\n")
                  > 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QTemporaryDir home;
    if (!home.isValid() || !prepareUser(home.path()))
        return 2;
    QApplication application(argc, argv);
    const AppInfo& appInfo = AppInfo::shared();
    QApplication::setApplicationName(appInfo.name());
    QApplication::setOrganizationName(appInfo.name());
    QApplication::setApplicationVersion(appInfo.version());
    installAboutInformation(appInfo);
    design::applyDarkTheme(application);
    AcceptanceTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "acceptance_test.moc"
