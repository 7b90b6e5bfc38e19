#include "engine/id_for.h"
#include "engine/user_identity.h"

#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

using namespace vantrel;

namespace {

const char* const overrides[] = {"VANTREL_USER_NAME", "VANTREL_FULL_NAME", "VANTREL_HOST_NAME", "VANTREL_CLIENT_ID"};

QString storedIdPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Vantrel/client-id");
}

} // namespace

class UserIdentityTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QFile::remove(storedIdPath());
    }

    void cleanupTestCase() { QFile::remove(storedIdPath()); }

    void cleanup()
    {
        for (const char* name : overrides)
            qunsetenv(name);
    }

    void identityComesFromTheAccountUnlessOverridden()
    {
        const UserIdentity system = UserIdentity::current();
        const passwd* account = getpwuid(getuid());
        QVERIFY(account);
        QCOMPARE(system.userName, QString::fromLocal8Bit(account->pw_name));
        QVERIFY(!system.fullName.isEmpty());
        QVERIFY(!system.fullName.contains(QLatin1Char(',')));
        QVERIFY(!system.hostName.isEmpty());

        qputenv("VANTREL_USER_NAME", "ana");
        qputenv("VANTREL_FULL_NAME", "Ana Ortiz");
        qputenv("VANTREL_HOST_NAME", "edit-3");
        UserIdentity ana = UserIdentity::current();
        QCOMPARE(ana.userName, QStringLiteral("ana"));
        QCOMPARE(ana.fullName, QStringLiteral("Ana Ortiz"));
        QCOMPARE(ana.hostName, QStringLiteral("edit-3"));

        // Acting as another user must not show the real account's name; blanks are no override.
        qunsetenv("VANTREL_FULL_NAME");
        qputenv("VANTREL_HOST_NAME", "  ");
        ana = UserIdentity::current();
        QCOMPARE(ana.fullName, QStringLiteral("ana"));
        QCOMPARE(ana.hostName, system.hostName);
    }

    void clientIdIsStoredOnceAndCanBeOverridden()
    {
        const QString id = installationClientId();
        QVERIFY(parseUuidString(id));
        QCOMPARE(id, id.toUpper());
        QCOMPARE(installationClientId(), id);

        QFile stored(storedIdPath());
        QVERIFY(stored.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(stored.readAll()).trimmed(), id);

        qputenv("VANTREL_CLIENT_ID", "client-b");
        QCOMPARE(installationClientId(), QStringLiteral("client-b"));

        // The id names folders on the share: anything but a plain name is refused.
        qputenv("VANTREL_CLIENT_ID", "../elsewhere");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("VANTREL_CLIENT_ID is ignored")));
        QCOMPARE(installationClientId(), id);

        qunsetenv("VANTREL_CLIENT_ID");
        QCOMPARE(installationClientId(), id);
    }
};

QTEST_GUILESS_MAIN(UserIdentityTest)
#include "user_identity_test.moc"
