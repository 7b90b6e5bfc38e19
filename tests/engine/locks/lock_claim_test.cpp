// The claim of a lock record (`locks/<bundle>.claim`) and the records a release moves aside: a
// claim left behind holds the lock for nobody known until a force unlock, a record whose read
// fails once moved aside goes back, and what this installation left aside is swept by a poll.

#include "engine/engine_errors.h"
#include "engine/locks/lock_files.h"
#include "engine/locks/lock_table.h"
#include "engine/storage/storage_error.h"
#include "support/engine_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

const QString benId = QStringLiteral("CLIENT-BEN");
const UserIdentity ben{QStringLiteral("ben"), QStringLiteral("Ben Cutter"), QStringLiteral("host-ben")};

struct Locks {
    QTemporaryDir dir;
    QString folder = dir.path() + QStringLiteral("/locks");

    Locks() { QDir().mkpath(folder); }
    QString path(const IdFor<VersionBundle>& id, const QString& suffix = QStringLiteral(".lock")) const
    {
        return folder + QLatin1Char('/') + id.toString() + suffix;
    }
    static QByteArray record(const QString& client, const IdFor<VersionBundle>& initiator)
    {
        LockRecord record;
        record.clientId = client;
        record.userName = client.toLower();
        record.initiator = initiator;
        record.date = QDateTime::currentDateTimeUtc();
        return record.toJson();
    }
    // A name under which `client` moves a record of `id` aside.
    QString aside(const IdFor<VersionBundle>& id, const QString& client) const
    {
        return lock_files::asideName(path(id), lock_files::asideOwner(client));
    }
};

} // namespace

class LockClaimTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A client that ended while it held the claim left no record: nobody may take the lock
    // silently, the listing takes neither the claim nor what is in it for a record, and a force
    // unlock clears the claim (and what is in it) and takes the lock.
    void aClaimLeftBehindHoldsTheLockForNobodyKnown()
    {
        const Locks locks;
        const auto id = IdFor<VersionBundle>::make(), other = IdFor<VersionBundle>::make();
        QVERIFY(QDir().mkpath(locks.path(id, QStringLiteral(".claim"))));
        writeFile(locks.path(id, QStringLiteral(".claim/")) + other.toString() + QStringLiteral(".lock"),
                  Locks::record(QStringLiteral("CLIENT-ANA"), other));
        LockTable table(locks.folder, benId, ben);
        table.refresh();
        QVERIFY(!table.holder(id) && !table.holder(other));

        try {
            table.acquire({id}, id, LockTakeover::none);
            QFAIL("a lock whose claim was left behind was taken");
        } catch (const VersioningError& error) {
            QCOMPARE(error.kind(), VersioningError::Case::itemLocked);
            QVERIFY2(error.localizedDescription().contains(QStringLiteral("?")), qPrintable(error.localizedDescription()));
        }
        QVERIFY(!QFileInfo::exists(locks.path(id)));

        table.acquire({id}, id, LockTakeover::forceUnlock);
        QVERIFY(table.isMineNow(id, id));
        QVERIFY(!QFileInfo::exists(locks.path(id, QStringLiteral(".claim"))));
        table.refresh();
        QVERIFY(!table.holder(other));
        QCOMPARE(QDir(locks.folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{id.toString() + QStringLiteral(".lock")});

        // One this installation left (a process of its client id that ended) is its own to clear.
        const auto own = IdFor<VersionBundle>::make();
        writeFile(locks.path(own, QStringLiteral(".claim/")) + lock_files::asideOwner(benId), {});
        table.acquire({own}, own, LockTakeover::none);
        QVERIFY(table.isMineNow(own, own));
        QVERIFY(!QFileInfo::exists(locks.path(own, QStringLiteral(".claim"))));

        // So is one that names nobody, left by a process of its that ended between making the
        // claim and naming itself in it (its note of the claim is still there); to anybody else it
        // is nobody known's.
        const auto unnamed = IdFor<VersionBundle>::make();
        QVERIFY(QDir().mkpath(locks.path(unnamed, QStringLiteral(".claim"))));
        writeFile(locks.path(unnamed, QStringLiteral(".claim-intent-")) + lock_files::asideOwner(benId), {});
        LockTable ana(locks.folder, QStringLiteral("CLIENT-ANA"), ben);
        QVERIFY_THROWS_EXCEPTION(VersioningError, ana.acquire({unnamed}, unnamed, LockTakeover::none));
        table.acquire({unnamed}, unnamed, LockTakeover::none);
        QVERIFY(table.isMineNow(unnamed, unnamed));
        QCOMPARE(QDir(locks.folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 3);
    }

    // Taken over between the release's read and its move, then not readable aside: whose it is
    // can't be told, so it goes back, and the release fails rather than losing the lock.
    void aRecordMovedAsideThatDoesNotReadGoesBack()
    {
        const Locks locks;
        const auto id = IdFor<VersionBundle>::make();
        LockTable table(locks.folder, benId, ben);
        table.acquire({id}, id, LockTakeover::none);
        const QByteArray forced = Locks::record(QStringLiteral("CLIENT-ANA"), id);
        table.setAsideMovedForTesting([&](const QString& aside) {
            writeFile(aside, forced);
            throw StorageError::fromErrno(EIO, aside, QStringLiteral("read"));
        });
        QVERIFY_THROWS_EXCEPTION(StorageError, table.release({id}, id));
        QCOMPARE(contentOf(locks.path(id)), forced);
        QCOMPARE(QDir(locks.folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    // Records this installation moved aside and could not remove (a reader held them open) go at
    // a poll: its own given up, another's put back where its lock is free, removed where the lock
    // was taken anew. Another installation's names are left to it.
    void aPollSweepsWhatThisInstallationLeftAside()
    {
        const Locks locks;
        const auto given = IdFor<VersionBundle>::make(), free = IdFor<VersionBundle>::make(),
                   taken = IdFor<VersionBundle>::make();
        writeFile(locks.aside(given, benId), Locks::record(benId, given));
        const QByteArray anas = Locks::record(QStringLiteral("CLIENT-ANA"), free);
        writeFile(locks.aside(free, benId), anas);
        writeFile(locks.aside(taken, benId), Locks::record(QStringLiteral("CLIENT-ANA"), taken));
        writeFile(locks.path(taken), Locks::record(QStringLiteral("CLIENT-CID"), taken));
        const QString others = locks.aside(given, QStringLiteral("CLIENT-CID"));
        writeFile(others, Locks::record(QStringLiteral("CLIENT-CID"), given));

        LockTable table(locks.folder, benId, ben);
        table.refresh();
        QCOMPARE(contentOf(locks.path(free)), anas);
        QVERIFY(!QFileInfo::exists(locks.path(given)));
        QStringList left = QDir(locks.folder).entryList(QDir::Files | QDir::Hidden);
        left.sort();
        QStringList expected{QFileInfo(others).fileName(), free.toString() + QStringLiteral(".lock"),
                             taken.toString() + QStringLiteral(".lock")};
        expected.sort();
        QCOMPARE(left, expected);
        QCOMPARE(table.readNow(taken)->clientId, QStringLiteral("CLIENT-CID"));
    }
};

QTEST_GUILESS_MAIN(LockClaimTest)
#include "lock_claim_test.moc"
