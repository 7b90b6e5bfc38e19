// A team bundle that can't be reached (its folder moved away, as when its share is unmounted)
// tells nothing about who holds a lock: the lock table keeps what it knew, no check-out is taken
// for lost, and a check-in then fails as "can't be reached", keeping the working copy.

#include "engine/engine_errors.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

void move(const QString& from, const QString& to)
{
    QVERIFY2(QDir().rename(from, to), qPrintable(from));
}

} // namespace

class UnreachableLocksTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aLockIsNeitherLostNorTakenWhileTheBundleIsGone()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const QString source = fixture.scratch(QStringLiteral("source")) + QStringLiteral("/Cut.kdenlive");
        writeFile(source, "first");
        const auto cut = importInto(ana, source);
        const QString workingCopy = checkOutItem(cut);
        writeFile(workingCopy, "second");
        int lossesTold = 0;
        const auto subscription = ana->changes().sink(
            [&](const TeamBundleChange& change) { lossesTold += int(change.forceUnlockedBy.size()); });

        const QString away = fixture.root() + QStringLiteral(".away");
        move(fixture.root(), away);
        // What a mount point shows once the share is gone: nothing at all, or empty folders.
        for (bool emptyFolders : {false, true}) {
            if (emptyFolders)
                QVERIFY(QDir().mkpath(fixture.root() + QStringLiteral("/locks")));
            ana->poll();
            ana->locks().refresh();
            ana->locks().reread({cut->id()});
            QVERIFY(!ana->isReachable());
            QVERIFY2(cut->isCheckedOut(), emptyFolders ? "empty folders" : "no folder");
        }
        try {
            syncWait(cut->checkIn(QStringLiteral("edit"), defaultS3Factory()));
            QFAIL("checked in while the bundle was gone");
        } catch (const TeamBundleError& error) {
            QCOMPARE(error.kind(), TeamBundleError::Case::unreachable);
            QVERIFY2(error.localizedDescription().contains(QStringLiteral("nothing was checked in")),
                     qPrintable(error.localizedDescription()));
        }
        QCOMPARE(contentOf(workingCopy), QByteArray("second"));
        QVERIFY(cut->isCheckedOut());

        QVERIFY(QDir(fixture.root()).removeRecursively());
        move(away, fixture.root());
        ana->poll();
        QVERIFY(ana->isReachable());
        QCOMPARE(lossesTold, 0);
        QVERIFY(cut->isCheckedOut());
        syncWait(cut->checkIn(QStringLiteral("edit"), defaultS3Factory()));
        QVERIFY(!QDir(fixture.root() + QStringLiteral("/attic/") + cut->id().toString()).exists()
                || QDir(fixture.root() + QStringLiteral("/attic/") + cut->id().toString())
                       .isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
        QCOMPARE(cut->versionIDs().size(), 2);
    }
};

QTEST_GUILESS_MAIN(UnreachableLocksTest)
#include "unreachable_locks_test.moc"
