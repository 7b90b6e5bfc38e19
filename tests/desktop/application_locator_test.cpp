#include "desktop/application_locator.h"

#include <QDir>
#include <QTest>

using namespace vantrel;

class ApplicationLocatorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void standardFoldersFollowTheXdgVariables()
    {
        const QByteArray home = qgetenv("XDG_DATA_HOME");
        const QByteArray dirs = qgetenv("XDG_DATA_DIRS");
        qputenv("XDG_DATA_HOME", "/data/home");
        qputenv("XDG_DATA_DIRS", "/opt/share:relative/share::/usr/share/");
        const QStringList set = ApplicationLocator::standardApplicationFolders();
        qputenv("XDG_DATA_HOME", "");
        qputenv("XDG_DATA_DIRS", "");
        const QStringList unset = ApplicationLocator::standardApplicationFolders();
        const auto restore = [](const char* name, const QByteArray& value) {
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        };
        restore("XDG_DATA_HOME", home);
        restore("XDG_DATA_DIRS", dirs);

        QCOMPARE(set, (QStringList{"/data/home/applications", "/opt/share/applications", "/usr/share/applications"}));
        QCOMPARE(unset, (QStringList{QDir::homePath() + "/.local/share/applications", "/usr/local/share/applications",
                                     "/usr/share/applications"}));
    }
};

QTEST_GUILESS_MAIN(ApplicationLocatorTest)
#include "application_locator_test.moc"
