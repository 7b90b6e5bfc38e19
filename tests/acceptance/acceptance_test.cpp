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
#include <QDesktopServices>
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
        DesktopOpener desktop;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "open");
        TeamDay day(desktop);
        bool finished = false;
        // The scenario runs inside the application's own event loop; a failed step ends the loop.
        QTimer::singleShot(0, qApp, [&day, &finished] {
            finished = day.run();
            if (!finished)
                QCoreApplication::exit(1);
        });
        const int status = runApplication(*qApp, {});
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
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

    const QString applications = home + QStringLiteral("/XDG_DATA_HOME/applications");
    QDir().mkpath(applications);
    QFile entry(applications + QStringLiteral("/cutter.desktop"));
    return entry.open(QIODevice::WriteOnly)
           && entry.write("[Desktop Entry]\nType=Application\nName=Cutter\nExec=true %f\n"
                          "MimeType=application/x-kdenlive;inode/directory;\n")
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
