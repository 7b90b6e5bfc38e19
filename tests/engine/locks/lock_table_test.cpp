// Reading lock records by name, as a decision (readNow) and the poll's watch (reread) do: both take
// what they read into the table, and differ only where a read tells nothing for sure.

#include "engine/engine_errors.h"
#include "engine/locks/lock_table.h"
#include "engine/storage/fixed_length_files.h"
#include "support/engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

const UserIdentity ben{QStringLiteral("ben"), QStringLiteral("Ben Cutter"), QStringLiteral("host-ben")};

struct Locks {
    QTemporaryDir dir;
    QString folder = dir.path() + QStringLiteral("/locks");

    Locks() { QDir().mkpath(folder); }
    QString path(const IdFor<VersionBundle>& id) const
    {
        return folder + QLatin1Char('/') + id.toString() + QStringLiteral(".lock");
    }
    // A lock of Ana's on `id`, as her client writes it.
    IdFor<VersionBundle> lockedByAna() const
    {
        const auto id = IdFor<VersionBundle>::make();
        LockRecord record;
        record.clientId = QStringLiteral("CLIENT-ANA");
        record.userName = QStringLiteral("ana");
        record.initiator = id;
        record.date = QDateTime::currentDateTimeUtc();
        writeFile(path(id), record.toJson());
        return id;
    }
};

} // namespace

class LockTableTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A record that does not read (of the whole length: not one a share clipped) still locks for
    // a decision, and the table then says so; the watch leaves the lock it knew to the listing.
    void aRecordThatDoesNotReadCountsOnlyForADecision()
    {
        const Locks locks;
        const auto cut = locks.lockedByAna();
        LockTable table(locks.folder, QStringLiteral("CLIENT-BEN"), ben);
        table.refresh();
        writeFile(locks.path(cut), QByteArray(fixed_length::lockRecord, 'x'));

        QVERIFY(table.reread({cut}).isEmpty());
        QCOMPARE(table.holder(cut)->clientId, QStringLiteral("CLIENT-ANA"));
        QCOMPARE(table.readNow(cut)->clientId, QStringLiteral("?"));
        QCOMPARE(table.holder(cut)->clientId, QStringLiteral("?"));
    }

    // A record not found is a lock given up only while the bundle can be reached. The watch asks
    // that once for all it reads, and only for locks it knew; a decision always asks. What a
    // decision changed is reported by the next refresh, what the watch changed by the watch.
    void aMissingRecordCountsOnlyWhileTheBundleCanBeReached()
    {
        const Locks locks;
        const auto first = locks.lockedByAna(), second = locks.lockedByAna();
        const auto never = IdFor<VersionBundle>::make();
        LockTable table(locks.folder, QStringLiteral("CLIENT-BEN"), ben);
        int asked = 0;
        bool reachable = false;
        table.setReachabilityCheck([&] {
            ++asked;
            return reachable;
        });
        table.refresh();
        QVERIFY(QFile::remove(locks.path(first)) && QFile::remove(locks.path(second)));
        asked = 0;

        QVERIFY(table.reread({never}).isEmpty());
        QCOMPARE(asked, 0);
        QVERIFY(table.reread({first, second, never}).isEmpty());
        QCOMPARE(asked, 1);
        QVERIFY(table.holder(first) && table.holder(second));
        try {
            table.readNow(never);
            QFAIL("a lock not found read as nobody's while the bundle can't be reached");
        } catch (const TeamBundleError& error) {
            QCOMPARE(error.kind(), TeamBundleError::Case::unreachable);
        }
        QCOMPARE(asked, 2);
        QVERIFY(table.holder(first) && table.holder(second));

        reachable = true;
        QCOMPARE(table.reread({first, never}), QSet<IdFor<VersionBundle>>{first});
        QVERIFY(!table.readNow(second));
        QVERIFY(!table.holder(first) && !table.holder(second));
        QCOMPARE(table.refresh(), QSet<IdFor<VersionBundle>>{second});
    }

    // Giving a lock up while the share is away (its folder gone, as at an unmounted mount point)
    // leaves it to be tried again, not given up for good while its record is still on the share.
    void aLockNotFoundWhileTheBundleCanNotBeReachedIsNotGivenUp()
    {
        const Locks locks;
        const auto cut = locks.lockedByAna();
        LockTable table(locks.folder, QStringLiteral("CLIENT-ANA"), ben);
        bool reachable = false;
        table.setReachabilityCheck([&] { return reachable; });
        const QString away = locks.dir.path() + QStringLiteral("/away");
        QVERIFY(QDir().rename(locks.folder, away));

        QString failure;
        QCOMPARE(table.tryRelease({cut}, cut, std::chrono::milliseconds(0), failure), QList{cut});
        QVERIFY(!failure.isEmpty());
        QVERIFY(QDir().rename(away, locks.folder));
        reachable = true;
        QVERIFY(table.tryRelease({cut}, cut, std::chrono::milliseconds(0), failure).isEmpty());
        QVERIFY(!QFile::exists(locks.path(cut)));
    }
};

QTEST_GUILESS_MAIN(LockTableTest)
#include "lock_table_test.moc"
