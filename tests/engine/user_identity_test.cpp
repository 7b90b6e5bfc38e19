#include "engine/id_for.h"
#include "engine/user_identity.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel;

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
        + QString::fromLatin1(QCryptographicHash::hash(machine.toUtf8(), QCryptographicHash::Sha256).toHex().left(32));
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
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
        write(folder + QStringLiteral("/client-id"), legacy.toLower().toUtf8() + "\nmore\n");
        QCOMPARE(storedClientId(folder, QStringLiteral("machine-id:a")), legacy);
        QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/client-id")));
        const QString b = storedClientId(folder, QStringLiteral("machine-id:b"));
        QVERIFY(parseUuidString(b) && b != legacy);
        QCOMPARE(storedClientId(folder, QStringLiteral("machine-id:a")), legacy);
        QCOMPARE(storedClientId(folder, QStringLiteral("machine-id:b")), b);
        // A new machine id (a reinstalled system) is a new machine.
        const QString c = storedClientId(folder, QStringLiteral("machine-id:c"));
        QVERIFY(c != legacy && c != b);
        // The old file appearing again (an older version still running somewhere) changes nothing here.
        write(folder + QStringLiteral("/client-id"), "11111111-2222-3333-4444-555555555555\n");
        QCOMPARE(storedClientId(folder, QStringLiteral("machine-id:a")), legacy);
    }

    void aClaimLeftHalfWayIsCompleted()
    {
        // Stopped between claiming the old id and making it this machine's.
        const QString folder = m_dir.filePath(QStringLiteral("claim"));
        const QString legacy = QStringLiteral("0F2D3C4B-5A69-4788-9766-A5B4C3D2E1F0");
        const QString slot = slotOf(folder, QStringLiteral("machine-id:a"));
        write(QFileInfo(slot).path() + QStringLiteral("/.adopting-") + QFileInfo(slot).fileName(), legacy.toUtf8());
        QVERIFY(storedClientId(folder, QStringLiteral("machine-id:b")) != legacy); // not another machine's
        QCOMPARE(storedClientId(folder, QStringLiteral("machine-id:a")), legacy);
        QCOMPARE(contentOf(slot), legacy.toUtf8());
    }

    // Damaged or odd stored files: never followed, never waited on, never taken as an id; the
    // old file is kept unless it was taken over.
    void oddStoredFilesAreReplacedWithoutHanging()
    {
        const QString folder = m_dir.filePath(QStringLiteral("odd"));
        const QString machine = QStringLiteral("machine-id:a");
        const QString slot = slotOf(folder, machine);
        const QString legacy = folder + QStringLiteral("/client-id");
        const QString elsewhere = m_dir.filePath(QStringLiteral("elsewhere-id"));
        const QByteArray foreign = "0F2D3C4B-5A69-4788-9766-A5B4C3D2E1F0\n";
        write(elsewhere, foreign);

        const auto replaced = [&](const std::function<void()>& damage) {
            QFile::remove(slot);
            damage();
            const QString id = storedClientId(folder, machine);
            QVERIFY(parseUuidString(id));
            QVERIFY(id.toUtf8() + '\n' != foreign);
            QCOMPARE(contentOf(slot), id.toUtf8() + '\n');
            QCOMPARE(storedClientId(folder, machine), id);
        };
        replaced([&] { write(slot, "not an id\n"); });
        replaced([&] { write(slot, QByteArray(1 << 20, 'A')); });
        replaced([&] { QVERIFY(::mkfifo(QFile::encodeName(slot).constData(), 0644) == 0); });
        replaced([&] { QVERIFY(QFile::link(elsewhere, slot)); });
        QCOMPARE(contentOf(elsewhere), foreign);

        // An old file that is a pipe, a link or damaged is not taken over, and stays.
        const auto keptOld = [&](const std::function<void()>& make) {
            QFile::remove(slot);
            QFile::remove(legacy);
            make();
            replaced([] {});
            QVERIFY(QFileInfo(legacy).exists() || QFileInfo(legacy).isSymLink());
        };
        keptOld([&] { QVERIFY(::mkfifo(QFile::encodeName(legacy).constData(), 0644) == 0); });
        keptOld([&] { QVERIFY(QFile::link(elsewhere, legacy)); });
        keptOld([&] { write(legacy, "damaged\n"); });
        QCOMPARE(contentOf(legacy), QByteArray("damaged\n"));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(UserIdentityTest)
#include "user_identity_test.moc"
