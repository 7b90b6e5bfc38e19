#include "desktop/user_identity.h"
#include "foundation/uuid_text.h"
#include "support/test_files.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

const char* const overrides[] = {"VANTREL_USER_NAME", "VANTREL_FULL_NAME", "VANTREL_HOST_NAME", "VANTREL_CLIENT_ID",
                                 "VANTREL_MACHINE_ID"};

QString applicationDataFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Vantrel");
}

// Where the id of `machine` is kept: the layout that later versions must still read.
QString slotOf(const QString& folder, const QString& machine)
{
    return folder + QStringLiteral("/client-ids/")
           + QString::fromLatin1(
               QCryptographicHash::hash(machine.toUtf8(), QCryptographicHash::Sha256).toHex().left(32));
}

} // namespace

class UserIdentityTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QDir(applicationDataFolder()).removeRecursively();
        QVERIFY(m_dir.isValid());
    }

    void cleanupTestCase() { QDir(applicationDataFolder()).removeRecursively(); }

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

        // Shown: the full name, else the login name (a record from the share may have none).
        QCOMPARE(displayName(QStringLiteral("Ana Ortiz"), QStringLiteral("ana")), QStringLiteral("Ana Ortiz"));
        QCOMPARE(displayName(QString(), QStringLiteral("ana")), QStringLiteral("ana"));
    }

    void machineIdentityComesFromTheSystemUnlessOverridden()
    {
        const QString system = machineIdentity();
        QByteArray machineId = contentOf(QStringLiteral("/etc/machine-id")).trimmed();
        if (machineId.size() != 32)
            machineId = contentOf(QStringLiteral("/var/lib/dbus/machine-id")).trimmed();
        if (machineId.size() == 32)
            QCOMPARE(system, QStringLiteral("machine-id:") + QString::fromLatin1(machineId));
        else
            QVERIFY2(system.startsWith(QLatin1String("host:")) && system.size() > 5, qPrintable(system));
        qputenv("VANTREL_MACHINE_ID", " edit-7 ");
        QCOMPARE(machineIdentity(), QStringLiteral("machine-id:edit-7"));
    }

    void clientIdIsStoredOncePerMachineAndCanBeOverridden()
    {
        qputenv("VANTREL_MACHINE_ID", "edit-1");
        const QString id = installationClientId();
        QVERIFY(parseUuidString(id));
        QCOMPARE(id, id.toUpper());
        QCOMPARE(installationClientId(), id);
        QCOMPARE(contentOf(slotOf(applicationDataFolder(), QStringLiteral("machine-id:edit-1"))), id.toUtf8() + '\n');

        qputenv("VANTREL_CLIENT_ID", "client-b");
        QCOMPARE(installationClientId(), QStringLiteral("client-b"));

        // The id names folders on the share: anything but a plain name is refused.
        qputenv("VANTREL_CLIENT_ID", "../elsewhere");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("VANTREL_CLIENT_ID is ignored")));
        QCOMPARE(installationClientId(), id);

        qunsetenv("VANTREL_CLIENT_ID");
        QCOMPARE(installationClientId(), id);
    }

    void idsArePerMachineAndTheOldIdGoesToOne()
    {
        const QString folder = m_dir.filePath(QStringLiteral("per-machine"));
        const QString legacy = QStringLiteral("0F2D3C4B-5A69-4788-9766-A5B4C3D2E1F0");
        writeFile(folder + QStringLiteral("/client-id"), legacy.toLower().toUtf8() + "\nmore\n");
        QCOMPARE(storedClientId(folder, QStringLiteral("machine-id:a")), legacy);
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/client-id")));
        const QString b = storedClientId(folder, QStringLiteral("machine-id:b"));
        QVERIFY(parseUuidString(b) && b != legacy);
        QCOMPARE(storedClientId(folder, QStringLiteral("machine-id:b")), b);
        const QString c = storedClientId(folder, QStringLiteral("machine-id:c")); // a reinstalled system
        QVERIFY(c != legacy && c != b);
        // The old file appearing again (an older version still running somewhere) changes nothing.
        writeFile(folder + QStringLiteral("/client-id"), "11111111-2222-3333-4444-555555555555\n");
        QCOMPARE(storedClientId(folder, QStringLiteral("machine-id:a")), legacy);

        // Stopped between claiming the old id and making it this machine's: completed, by this machine only.
        const QString claim = m_dir.filePath(QStringLiteral("claim")),
                      slot = slotOf(claim, QStringLiteral("machine-id:a"));
        writeFile(QFileInfo(slot).path() + QStringLiteral("/.adopting-") + QFileInfo(slot).fileName(), legacy.toUtf8());
        QVERIFY(storedClientId(claim, QStringLiteral("machine-id:b")) != legacy);
        QCOMPARE(storedClientId(claim, QStringLiteral("machine-id:a")), legacy);
        QCOMPARE(contentOf(slot), legacy.toUtf8());
    }

    // Damaged or odd stored files are never followed, waited on or taken as an id; the old file
    // stays unless it was taken over.
    void oddStoredFilesAreReplacedWithoutHanging()
    {
        const QString folder = m_dir.filePath(QStringLiteral("odd")),
                      slot = slotOf(folder, QStringLiteral("machine-id:a"));
        const QString legacy = folder + QStringLiteral("/client-id"),
                      elsewhere = m_dir.filePath(QStringLiteral("elsewhere-id"));
        const QByteArray foreign = "0F2D3C4B-5A69-4788-9766-A5B4C3D2E1F0\n";
        writeFile(elsewhere, foreign);
        const QByteArray contents[] = {"not an id\n", QByteArray(1 << 20, 'A')};
        for (int how = 0; how < 4; ++how) { // damaged, too large, a FIFO, a link
            for (const QString& path : {slot, legacy}) {
                QFile::remove(slot);
                QFile::remove(legacy);
                if (how < 2)
                    writeFile(path, contents[how]);
                else
                    how == 2 ? plantFifo(path) : plantLink(path, elsewhere);
                const QString id = storedClientId(folder, QStringLiteral("machine-id:a"));
                QVERIFY(parseUuidString(id) && id.toUtf8() + '\n' != foreign);
                QCOMPARE(contentOf(slot), id.toUtf8() + '\n');
                QCOMPARE(storedClientId(folder, QStringLiteral("machine-id:a")), id);
                if (path == legacy) // not taken over, and kept
                    QVERIFY(how < 2 ? contentOf(legacy) == contents[how]
                                    : QFileInfo(legacy).isSymLink() || QFileInfo::exists(legacy));
            }
        }
        QCOMPARE(contentOf(elsewhere), foreign);
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(UserIdentityTest)
#include "user_identity_test.moc"
