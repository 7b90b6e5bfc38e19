#include "engine/engine_errors.h"
#include "engine/version_bundles.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <sys/stat.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Kind = ActivityInfo::StateKind;

Service import(const std::shared_ptr<TeamBundle>& team, const QString& source)
{
    return importInto(team, source);
}
Service as(const std::shared_ptr<TeamBundle>& team, const Service& service)
{
    return reopenAs(team, service);
}

QString checkOut(const Service& service, QList<IdFor<VersionBundle>> events = {},
                 LockTakeover takeover = LockTakeover::none)
{
    return checkOutItem(service, events, takeover);
}

QByteArray contentOf(const Service& service, const QString& folder, const QString& relative = {})
{
    const QString exported = syncWait(service->exportVersion(std::nullopt, folder, defaultS3Factory()));
    QFile file(relative.isEmpty() ? exported : exported + QLatin1Char('/') + relative);
    file.open(QIODevice::ReadOnly);
    return file.readAll();
}

QList<Kind> kinds(const QList<ActivityInfo>& list)
{
    QList<Kind> result;
    for (const auto& info : list)
        result << info.state.kind;
    return result;
}

} // namespace

class CheckoutTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void checkOutEditCheckIn()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto cut = importCutHolding(fixture, ana, "first");

        const QString workingCopy = checkOut(cut);
        QCOMPARE(QFileInfo(workingCopy).fileName(), QStringLiteral("Cut.kdenlive"));
        QVERIFY(!workingCopy.startsWith(fixture.root()));
        QVERIFY(cut->isCheckedOut() && cut->isLocked() && cut->isLockedByCurrentInitiator(cut->id()));
        writeFile(workingCopy, "second, edited");
        // Checking out again keeps the edits.
        QCOMPARE(checkOut(cut), workingCopy);
        QCOMPARE(describeTree(QFileInfo(workingCopy).path()).value(QStringLiteral("Cut.kdenlive")),
                 QByteArray("second, edited"));

        const auto bensCut = as(ben, cut);
        QVERIFY(bensCut->isLocked());
        QVERIFY(!bensCut->isCheckedOut() && !bensCut->canCheckout() && !bensCut->allowsChanges());
        QCOMPARE(bensCut->lockHolder().userName, QStringLiteral("ana Editor"));
        QCOMPARE(bensCut->lockHolder().hostName, QStringLiteral("host-ana"));
        try {
            checkOut(bensCut);
            QFAIL("a second holder");
        } catch (const VersioningError& error) {
            QCOMPARE(error.kind(), VersioningError::Case::itemLocked);
            QVERIFY(error.localizedDescription().contains(QStringLiteral("ana Editor on host-ana")));
        }
        QVERIFY_THROWS_EXCEPTION(VersioningError,
                                 syncWait(bensCut->checkIn(QStringLiteral("nope"), defaultS3Factory())));
        QVERIFY_THROWS_EXCEPTION(VersioningError, syncWait(bensCut->removeOrDelete(nullptr, defaultS3Factory())));

        syncWait(cut->checkIn(QStringLiteral("Tightened"), defaultS3Factory()));
        QVERIFY(!cut->isCheckedOut() && !cut->isLocked());
        QVERIFY(!QFileInfo::exists(workingCopy));
        QCOMPARE(cut->versionIDs().size(), 2);
        QCOMPARE(contentOf(cut, fixture.scratch(QStringLiteral("o"))), QByteArray("second, edited"));
        ben->poll();
        QVERIFY(!bensCut->isLocked() && bensCut->canCheckout());
        QVERIFY_THROWS_EXCEPTION(VersioningError, syncWait(cut->checkIn(QStringLiteral("again"), defaultS3Factory())));
    }

    void libraryCheckoutTakesItsIncludedEventsAllOrNone()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Show.videolibrary");
        writeFile(source + QStringLiteral("/Settings.plist"), "settings");
        writeFile(source + QStringLiteral("/Day 1.videoevent/Info.plist"), "one");
        writeFile(source + QStringLiteral("/Day 2.videoevent/Info.plist"), "two");
        const auto show = import(ana, source);
        const auto events = syncWait(show->latestNestedVersioningServices(defaultS3Factory()));
        QCOMPARE(events.size(), std::size_t(2));

        const QString workingCopy = checkOut(show, {events[0]->id()});
        QCOMPARE(describeTree(workingCopy).keys(),
                 (QStringList{QStringLiteral("Day 1.videoevent"), QStringLiteral("Day 1.videoevent/Info.plist"),
                              QStringLiteral("Settings.plist")}));
        QVERIFY(events[0]->isLockedByCurrentInitiator(show->id()));
        QVERIFY(!events[0]->isLockedByCurrentInitiator(events[0]->id()));
        QVERIFY(!events[1]->isLocked());

        // Another library using Day 1: its check-out must not get Day 1, nor anything else.
        const auto sequel = syncWait(VersioningService::createLibrary(QStringLiteral("Sequel"), ben, nullptr, nullptr));
        const auto bensDay1 = as(ben, events[0]);
        syncWait(sequel->addNestedVersionBundle(bensDay1, QString(), defaultS3Factory()));
        QVERIFY_THROWS_EXCEPTION(VersioningError, checkOut(sequel, {bensDay1->id()}));
        QVERIFY(!sequel->isLocked());

        writeFile(workingCopy + QStringLiteral("/Day 1.videoevent/Info.plist"), "one, edited");
        syncWait(show->checkIn(QStringLiteral("Graded"), defaultS3Factory()));
        QCOMPARE(events[0]->versionIDs().size(), 2);
        QCOMPARE(events[1]->versionIDs().size(), 1); // not included: untouched
        QCOMPARE(show->versionIDs().size(), 2);
        QVERIFY(!events[0]->isLocked());
        QCOMPARE(contentOf(show, fixture.scratch(QStringLiteral("o")), QStringLiteral("Day 1.videoevent/Info.plist")),
                 QByteArray("one, edited"));
    }

    void checkInReadsOnlyWhatChanged()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Show.videolibrary");
        writeFile(source + QStringLiteral("/Settings.plist"), "settings");
        writeFile(source + QStringLiteral("/Day 1.videoevent/clip.mov"), QByteArray(50000, 'c'));
        const auto show = import(ana, source);
        const auto events = syncWait(show->latestNestedVersioningServices(defaultS3Factory()));
        const QString workingCopy = checkOut(show, {events[0]->id()});

        // An unchanged file is not stored again: its object stays the very same file.
        const QString object = ana->contents().pathFor(hashBytes(QByteArray(50000, 'c')));
        const auto inode = [](const QString& path) {
            struct stat status {};
            ::stat(QFile::encodeName(path).constData(), &status);
            return status.st_ino;
        };
        const auto before = inode(object);
        writeFile(workingCopy + QStringLiteral("/Settings.plist"), "settings, edited");
        syncWait(show->checkIn(QStringLiteral("Settings"), defaultS3Factory()));
        QCOMPARE(inode(object), before);
        QVERIFY(ana->contents().contains(hashBytes("settings, edited")));
        QCOMPARE(events[0]->versionIDs().size(), 1);
    }

    void discardKeepsTheWorkInTheAttic()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto cut = importCutHolding(fixture, ana, "first");
        const QString workingCopy = checkOut(cut);
        writeFile(workingCopy, "thrown away");
        syncWait(cut->cancelCheckout(defaultS3Factory()));
        QVERIFY(!cut->isLocked() && !cut->isCheckedOut());
        QVERIFY(!QFileInfo::exists(workingCopy));
        QCOMPARE(atticEntryCount(fixture, cut), 1);
        QVERIFY(ana->contents().contains(hashBytes("thrown away")));
        QCOMPARE(ana->collectGarbage(std::chrono::seconds(0)), 0); // the attic keeps its contents
        QVERIFY(ana->contents().contains(hashBytes("thrown away")));
        QCOMPARE(contentOf(cut, fixture.scratch(QStringLiteral("o"))), QByteArray("first"));
    }

    // A check-in or discard gives its locks up before it forgets the check-out. A poll right
    // between the two must not take that for a lock taken by somebody else: no copy in the attic,
    // and the check-out is not written back. Should the process end right there, the
    // check-out that outlived its lock is kept in the attic like one whose lock was taken.
    void ownReleaseIsNoForceUnlock()
    {
        AnaEditing editing("ana's edit");
        auto& [fixture, ana, ben, cut, workingCopy, seenByAna, watch] = editing;
        ana->locks().setAfterReleaseForTesting([team = ana.get()] { team->poll(); });
        syncWait(cut->checkIn(QStringLiteral("mine"), defaultS3Factory()));
        QCOMPARE(atticEntryCount(fixture, cut), 0);
        QVERIFY(!ana->checkouts().find(cut->id()));
        writeFile(checkOut(cut), "thrown away");
        syncWait(cut->cancelCheckout(defaultS3Factory()));
        QCOMPARE(atticEntryCount(fixture, cut), 1); // what was discarded, once
        QVERIFY(!ana->checkouts().find(cut->id()));
        ana->locks().setAfterReleaseForTesting({});

        const QString unsaved = checkOut(cut);
        writeFile(unsaved, "unsaved");
        ana->locks().release({cut->id()}, cut->id());
        ana->poll();
        QCOMPARE(testing::contentOf(unsaved), QByteArray("unsaved"));
        QCOMPARE(atticEntryCount(fixture, cut), 2);
        QVERIFY(ana->checkouts().find(cut->id())->displaced);
    }

    void timelineOfADay()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto cut = importCutHolding(fixture, ana, "v1");
        const auto first = *cut->currentVersionID();

        QList<QList<ActivityInfo>> published;
        auto feed = cut->activitiesPublisher().sink([&](const QList<ActivityInfo>& list) { published << list; });
        QCOMPARE(published.size(), 1); // the current list, at once
        QCOMPARE(kinds(published.last()), QList<Kind>{Kind::imported});

        const QString workingCopy =
            syncWait(cut->checkOut({}, {.autoSaveInterval = std::chrono::hours(1)}, defaultS3Factory()));
        writeFile(workingCopy, "v2 in progress");
        // Its hour has passed: the next poll auto-saves (the change goes to the attic and the team
        // sees who is editing), and none after it until the check-in, however slow the machine.
        QVERIFY(ana->checkouts().update(
            cut->id(), [](Checkout& checkout) { checkout.lastAutoSave = checkout.lastAutoSave.addSecs(-3600); }));
        ana->poll();
        QCOMPARE(atticEntryCount(fixture, cut), 1);
        writeFile(workingCopy, "v2");
        syncWait(cut->checkIn(QStringLiteral("Second cut"), defaultS3Factory()));
        syncWait(cut->revertVersionBundle(first, defaultS3Factory()));
        syncWait(cut->rename(QStringLiteral("Final Cut")));
        checkOut(cut);
        syncWait(cut->cancelCheckout(defaultS3Factory()));
        checkOut(cut);
        checkOut(as(ben, cut), {}, LockTakeover::forceUnlock);
        ana->poll();

        const auto timeline = cut->activityStore().current();
        QCOMPARE(kinds(timeline),
                 (QList<Kind>{Kind::lock, Kind::lock, Kind::changesDiscarded, Kind::lock, Kind::descriptionChanged,
                              Kind::revert, Kind::newVersion, Kind::editing, Kind::lock, Kind::imported}));
        QCOMPARE(timeline[0].userName, QStringLiteral("ben Editor"));
        QCOMPARE(timeline[0].message, QStringLiteral("force unlocked this document"));
        QVERIFY(timeline[0].isCurrent());
        QVERIFY(!timeline[1].isCurrent()); // ana's lock was broken
        QCOMPARE(timeline[4].message, QStringLiteral("Final Cut"));
        QCOMPARE(timeline[5].state.commitMessage, QStringLiteral("Initial Commit"));
        QVERIFY(timeline[5].isCurrent() && timeline[5].allowsVersionActions);
        QCOMPARE(timeline[6].message, QStringLiteral("Second cut"));
        QVERIFY(!timeline[6].isCurrent());
        QCOMPARE(timeline[9].versionID, first);
        QVERIFY(!timeline[3].allowsVersionActions);
        QCOMPARE(published.last(), timeline);
        // Every client sees the same timeline.
        const auto bensView = as(ben, cut);
        QCOMPARE(bensView->activityStore().current(), timeline);
    }
};

QTEST_GUILESS_MAIN(CheckoutTest)
#include "checkout_test.moc"
