#include "engine/storage/change_watcher.h"
#include "engine/storage/storage_error.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/lock_harness.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"
#include "support/working_copy_changes.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Folders = QSet<QString>;

const QString lockChild = QStringLiteral(VANTREL_LOCK_CHILD);

Service importPackage(const TeamFixture& fixture, const std::shared_ptr<TeamBundle>& team)
{
    const QString source = fixture.scratch(QStringLiteral("source")) + QStringLiteral("/Cut.dra");
    makeChangingPackage(source);
    return importInto(team, source);
}

void checkIn(const Service& service)
{
    syncWait(service->checkIn(QStringLiteral("Changed"), defaultS3Factory()));
}

} // namespace

// Each case changes a working copy every way it can be changed and checks that the new
// version holds exactly what the working copy held, with the watch of the working copy
// continuous since the check-out (only changed folders are listed) and without it (a whole walk).
class WatchedCheckInTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyChangeReachesTheVersionWithTheWatch()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const Service cut = importPackage(fixture, ana);
        const QString workingCopy = checkOutItem(cut);
        ChangeWatcher& watcher = ana->changeWatcher();
        QCOMPARE(watcher.changedFolders(workingCopy), Folders());
        changeEveryWay(workingCopy, fixture.scratch(QStringLiteral("outside")));
        QCOMPARE(watcher.changedFolders(workingCopy), foldersChangedEveryWay());

        // A check-in that fails after taking what the watch saw loses none of it.
        plantFifo(workingCopy + QStringLiteral("/untouched/pipe"));
        QVERIFY_THROWS_EXCEPTION(StorageError, checkIn(cut));
        QVERIFY(QFile::remove(workingCopy + QStringLiteral("/untouched/pipe")));
        QCOMPARE(watcher.changedFolders(workingCopy), foldersChangedEveryWay() + Folders{QStringLiteral("untouched")});

        const auto expected = describeTree(workingCopy);
        checkIn(cut);
        QCOMPARE(exportedTree(cut, std::nullopt, fixture.scratch(QStringLiteral("export"))), expected);
        // The watch ends with the check-out, and starts again from the new version.
        QVERIFY(!watcher.changedFolders(workingCopy));
        const QString again = checkOutItem(cut);
        QCOMPARE(watcher.changedFolders(again), Folders());
        writeFile(again + QStringLiteral("/moves/dir2/sub/x"), "second round");
        const auto second = describeTree(again);
        checkIn(cut);
        QCOMPARE(exportedTree(cut, std::nullopt, fixture.scratch(QStringLiteral("export"))), second);

        // Discarding a check-out ends its watch too.
        const QString discarded = checkOutItem(cut);
        QVERIFY(watcher.changedFolders(discarded));
        syncWait(cut->cancelCheckout(defaultS3Factory()));
        QVERIFY(!watcher.changedFolders(discarded));
    }

    void aLibraryAndItsEventsWithTheWatch()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Show.videolibrary");
        writeFile(source + QStringLiteral("/Settings.plist"), "settings");
        writeFile(source + QStringLiteral("/Media/a"), "a");
        writeFile(source + QStringLiteral("/Day 1.videoevent/Info.plist"), "one");
        writeFile(source + QStringLiteral("/Day 1.videoevent/Clips/c1"), "clip");
        const Service show = importInto(ana, source);
        const auto events = syncWait(show->latestNestedVersioningServices(defaultS3Factory()));
        QCOMPARE(events.size(), std::size_t(1));
        const QString workingCopy = checkOutItem(show, {events[0]->id()});

        writeFile(workingCopy + QStringLiteral("/Media/b"), "added to the library");
        writeFile(workingCopy + QStringLiteral("/Day 1.videoevent/Clips/c1"), "clip, trimmed");
        writeFile(workingCopy + QStringLiteral("/Day 1.videoevent/Clips/new/c2"), "a new clip");
        QCOMPARE(ana->changeWatcher().changedFolders(workingCopy),
                 (Folders{QStringLiteral("Media"), QStringLiteral("Day 1.videoevent/Clips"),
                          QStringLiteral("Day 1.videoevent/Clips/new")}));
        const auto expected = describeTree(workingCopy);
        checkIn(show);

        QCOMPARE(exportedTree(show, std::nullopt, fixture.scratch(QStringLiteral("export"))), expected);
        QCOMPARE(events[0]->versionIDs().size(), 2);
    }

    // The application ended after the check-out and a change was made before it started again:
    // nothing claims the watch went on, so the whole working copy is walked.
    void everyChangeReachesTheVersionAfterARestart()
    {
        Studio studio(lockChild);
        const QString source = studio.scratch(QStringLiteral("source")) + QStringLiteral("/Cut.dra");
        makeChangingPackage(source);
        const Service cut = studio.import(VersioningServiceType::document, source);
        const Client ana = client(QStringLiteral("ana"));
        const QStringList bundle{QStringLiteral("document"), cut->id().toString()};

        const Result checkedOut = studio.run(ana, QStringList{QStringLiteral("checkout")} + bundle);
        QVERIFY2(checkedOut.ok, qPrintable(checkedOut.text));
        const QString outside = studio.scratch(QStringLiteral("outside"));
        changeEveryWay(checkedOut.text, outside);
        changeUnseen(checkedOut.text, outside);
        const auto expected = describeTree(checkedOut.text);

        const Result checkedIn = studio.run(ana, QStringList{QStringLiteral("checkin")} + bundle + QStringList{"Changed"});
        QVERIFY2(checkedIn.ok, qPrintable(checkedIn.text));
        QVERIFY(!QFileInfo::exists(checkedOut.text));
        const Service read = studio.service(studio.reader(), VersioningServiceType::document, cut->id());
        QCOMPARE(studio.exported(read), expected);
    }

    // The watch broke while the application ran: the queue overflowed, or the limit of watches
    // was reached. A change no watch can see shows that the whole working copy is walked.
    void aBrokenWatchFallsBackToTheWholeWalk()
    {
        for (const bool overflow : {true, false}) {
            TeamFixture fixture;
            const auto ana = fixture.client(QStringLiteral("ana"));
            ChangeWatcher& watcher = ana->changeWatcher();
            const Service cut = importPackage(fixture, ana);
            watcher.setWatchLimitForTesting(overflow ? -1 : 1);
            const auto noLimit = qScopeGuard([&] { watcher.setWatchLimitForTesting(-1); });
            const QString workingCopy = checkOutItem(cut);
            const QString outside = fixture.scratch(QStringLiteral("outside"));
            changeEveryWay(workingCopy, outside);
            changeUnseen(workingCopy, outside);
            if (overflow) {
                QCOMPARE(watcher.changedFolders(workingCopy), foldersChangedEveryWay());
                watcher.simulateOverflowForTesting();
            }
            QVERIFY(!watcher.changedFolders(workingCopy));
            const auto expected = describeTree(workingCopy);
            checkIn(cut);
            QCOMPARE(exportedTree(cut, std::nullopt, fixture.scratch(QStringLiteral("export"))), expected);
        }
    }
};

QTEST_GUILESS_MAIN(WatchedCheckInTest)
#include "watched_check_in_test.moc"
