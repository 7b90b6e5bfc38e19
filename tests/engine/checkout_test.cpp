#include "engine/engine_errors.h"
#include "engine/version_bundles.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/held_opening.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QThread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Imports Cut.kdenlive holding `content`, written in the scratch folder "s" of `fixture`.
Service importCut(const TeamFixture& fixture, const std::shared_ptr<TeamBundle>& team, const QByteArray& content)
{
    const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Cut.kdenlive");
    writeFile(source, content);
    return import(team, source);
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

int atticEntries(const TeamFixture& fixture, const Service& service)
{
    return QDir(fixture.root() + QStringLiteral("/attic/") + service->id().toString())
        .entryList({QStringLiteral("*.json")})
        .size();
}

// Writes `record` over the file at `path` in place, padded with spaces to `size` bytes, and sets
// its modification time to `mtime`.
void rewriteInPlace(const QString& path, const QByteArray& record, qsizetype size, const timespec& mtime)
{
    const QByteArray bytes = record.leftJustified(size, ' ');
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    QCOMPARE(::pwrite(fd, bytes.constData(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
    const timespec times[2] = {{0, UTIME_OMIT}, mtime};
    QCOMPARE(::futimens(fd, times), 0);
    ::close(fd);
}

// Ana and Ben on one team bundle, Ana with Cut.kdenlive checked out and edited, and what her
// client tells of it from then on.
struct AnaEditing {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> ana = fixture.client(QStringLiteral("ana"));
    std::shared_ptr<TeamBundle> ben = fixture.client(QStringLiteral("ben"));
    Service cut = importCut(fixture, ana, "first");
    QString workingCopy = checkOut(cut);
    QList<RemoteDatabaseChange> seenByAna;
    Cancellable watch =
        cut->remoteDatabaseChanges().sink([this](const RemoteDatabaseChange& change) { seenByAna << change; });
    explicit AnaEditing(const QByteArray& edit) { writeFile(workingCopy, edit); }
};

// Refused as lockLost, naming `holder`, or saying that nobody holds the lock when there is none.
void expectLockLost(QCoro::Task<CheckInOutcome> checkIn, const QString& holder = QStringLiteral("ben Editor"))
{
    try {
        syncWait(std::move(checkIn));
        QFAIL("checked in without the lock");
    } catch (const VersioningError& error) {
        QCOMPARE(error.kind(), VersioningError::Case::lockLost);
        const QString text = error.localizedDescription();
        QVERIFY2(text.contains(holder.isEmpty() ? QStringLiteral("nobody holds it") : holder), qPrintable(text));
    }
}

// What the refusal of `checkIn` as lockLost says; nothing when it is not refused so.
QString lockLostText(QCoro::Task<CheckInOutcome> checkIn)
{
    try {
        syncWait(std::move(checkIn));
    } catch (const VersioningError& error) {
        if (error.kind() == VersioningError::Case::lockLost)
            return error.localizedDescription();
    }
    return {};
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
        const auto cut = importCut(fixture, ana, "first");

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

    void forceUnlockSeenFromTheOtherSide()
    {
        AnaEditing editing("ana's unsaved work");
        auto& [fixture, ana, ben, cut, workingCopy, seenByAna, watch] = editing;
        const auto bensCut = as(ben, cut);
        checkOut(bensCut, {}, LockTakeover::forceUnlock);
        QVERIFY(bensCut->isCheckedOut());

        ana->poll();
        QVERIFY(!seenByAna.isEmpty());
        QVERIFY(seenByAna.last().forceUnlocked);
        QCOMPARE(seenByAna.last().name, QStringLiteral("ben Editor"));
        QVERIFY(!cut->isCheckedOut());
        QVERIFY(QFileInfo::exists(workingCopy)); // left where it was
        QCOMPARE(atticEntries(fixture, cut), 1);
        try {
            syncWait(cut->checkIn(QStringLiteral("mine"), defaultS3Factory()));
            QFAIL("checked in without the lock");
        } catch (const VersioningError& error) {
            QCOMPARE(error.kind(), VersioningError::Case::lockLost);
            QVERIFY(error.localizedDescription().contains(QStringLiteral("ben Editor")));
        }
        QCOMPARE(cut->versionIDs().size(), 1);
        // Giving up the broken check-out leaves ben's lock alone.
        syncWait(cut->cancelCheckout(defaultS3Factory()));
        ben->poll();
        QVERIFY(bensCut->isCheckedOut());
    }

    // Through a share that caches file attributes, Ben's force unlock can leave Ana's lock file
    // looking exactly as her client last saw it (size, inode, time): her lock table still says
    // the lock is hers. Her check-in reads the lock itself, and is refused.
    void forceUnlockHiddenByStaleAttributesIsNoticedByTheCheckIn()
    {
        AnaEditing editing("ana's edit");
        auto& [fixture, ana, ben, cut, workingCopy, seenByAna, watch] = editing;

        // Her record, made as large as Ben's will be, is read again at her poll: no change.
        const QString lock =
            fixture.root() + QStringLiteral("/locks/") + cut->id().toString() + QStringLiteral(".lock");
        struct stat status {};
        QCOMPARE(::stat(QFile::encodeName(lock).constData(), &status), 0);
        rewriteInPlace(lock, contentOf(lock), 2048, status.st_mtim);
        ana->poll();
        QVERIFY(seenByAna.isEmpty());

        QCOMPARE(::stat(QFile::encodeName(lock).constData(), &status), 0);
        const QString hers = fixture.scratch(QStringLiteral("k")) + QStringLiteral("/hers");
        QCOMPARE(::link(QFile::encodeName(lock).constData(), QFile::encodeName(hers).constData()), 0);
        const auto bensCut = as(ben, cut);
        const QString bensCopy = checkOut(bensCut, {}, LockTakeover::forceUnlock);
        const QByteArray bensRecord = contentOf(lock);
        QVERIFY(bensRecord.size() < 2048);
        QVERIFY(QFile::remove(lock) && QFile::rename(hers, lock));
        rewriteInPlace(lock, bensRecord, 2048, status.st_mtim);
        // Her listing of the locks can't tell; what tells is read by name (Ben's record in the
        // journal, or the lock file itself when her check-in decides).

        expectLockLost(cut->checkIn(QStringLiteral("mine"), defaultS3Factory()));
        QCOMPARE(cut->versionIDs().size(), 1);
        QCOMPARE(testing::contentOf(workingCopy), QByteArray("ana's edit"));
        QCOMPARE(atticEntries(fixture, cut), 1);
        QVERIFY(!cut->isCheckedOut());
        QVERIFY(!seenByAna.isEmpty() && seenByAna.last().forceUnlocked);

        writeFile(bensCopy, "ben's edit");
        syncWait(bensCut->checkIn(QStringLiteral("his"), defaultS3Factory()));
        QCOMPARE(bensCut->versionIDs().size(), 2);
        QCOMPARE(contentOf(bensCut, fixture.scratch(QStringLiteral("o"))), QByteArray("ben's edit"));
    }

    // A lock record removed by hand (or given up by whoever forced it) leaves nobody to name.
    void lockRemovedMeanwhileNamesNobody()
    {
        AnaEditing editing("ana's edit");
        auto& [fixture, ana, ben, cut, workingCopy, seenByAna, watch] = editing;
        QVERIFY(
            QFile::remove(fixture.root() + QStringLiteral("/locks/") + cut->id().toString() + QStringLiteral(".lock")));
        expectLockLost(cut->checkIn(QStringLiteral("mine"), defaultS3Factory()), {});
        QCOMPARE(cut->versionIDs().size(), 1);
        QCOMPARE(testing::contentOf(workingCopy), QByteArray("ana's edit"));
        QCOMPARE(atticEntries(fixture, cut), 1);
    }

    // The attic holds Ana's working copy as it was when her client noticed Ben's force unlock;
    // what she saved since is kept by the refused check-in before it says so, once (refused again
    // unchanged, nothing more is kept). When it can't be kept, the refusal names the folder it is
    // in instead.
    void refusedCheckInKeepsTheEditsSinceTheLossWasNoticed()
    {
        AnaEditing editing("ana's edit");
        auto& [fixture, ana, ben, cut, workingCopy, seenByAna, watch] = editing;
        checkOut(as(ben, cut), {}, LockTakeover::forceUnlock);
        ana->poll();
        QCOMPARE(atticEntries(fixture, cut), 1);
        writeFile(workingCopy, "saved after the notice");
        for (int attempt = 0; attempt < 2; ++attempt) {
            expectLockLost(cut->checkIn(QStringLiteral("mine"), defaultS3Factory()),
                           QStringLiteral("ben Editor force unlocked"));
            QCOMPARE(atticEntries(fixture, cut), 2);
        }
        QCOMPARE(keptInAttic(ana, cut, QStringLiteral("Cut.kdenlive")).last(), QByteArray("saved after the notice"));

        writeFile(workingCopy, "saved once more");
        const QString attic = fixture.root() + QStringLiteral("/attic/") + cut->id().toString();
        QVERIFY(QDir(attic).removeRecursively());
        writeFile(attic, "not a folder");
        const QString text = lockLostText(cut->checkIn(QStringLiteral("mine"), defaultS3Factory()));
        QVERIFY2(text.contains(QFileInfo(workingCopy).path()) && !text.contains(QStringLiteral("are kept in the")),
                 qPrintable(text));
        QCOMPARE(testing::contentOf(workingCopy), QByteArray("saved once more"));
    }

    // A lock that Ben took as a free one (Ana's record gone, as when two clients take a free lock
    // at once on a share whose exclusive create isn't exclusive) is no force unlock: the refusal
    // says that he has the document checked out.
    void lockTakenWithoutForceIsWordedSo()
    {
        AnaEditing editing("ana's edit");
        auto& [fixture, ana, ben, cut, workingCopy, seenByAna, watch] = editing;
        QVERIFY(
            QFile::remove(fixture.root() + QStringLiteral("/locks/") + cut->id().toString() + QStringLiteral(".lock")));
        checkOut(as(ben, cut));
        const QString text = lockLostText(cut->checkIn(QStringLiteral("mine"), defaultS3Factory()));
        QVERIFY2(text.contains(QStringLiteral("ben Editor has “Cut” checked out"))
                     && !text.contains(QStringLiteral("force")),
                 qPrintable(text));
        QCOMPARE(cut->versionIDs().size(), 1);
    }

    // Ben force unlocks while Ana's check-in is reading her working copy (held there on purpose).
    void forceUnlockWhileCheckingInRefusesTheCheckIn()
    {
        AnaEditing editing("ana's edit");
        auto& [fixture, ana, ben, cut, workingCopy, seenByAna, watch] = editing;
        HeldOpening reading(QFileInfo(workingCopy).path(), QFileInfo(workingCopy).fileName());
        if (!reading.isWatching())
            QSKIP(qPrintable(QStringLiteral("Openings can't be held here (fanotify: %1).").arg(reading.failure())));
        auto checkingIn = cut->checkIn(QStringLiteral("mine"), defaultS3Factory());
        const bool held = reading.waitUntilHeld(std::chrono::seconds(30));
        const auto bensCut = as(ben, cut);
        checkOut(bensCut, {}, LockTakeover::forceUnlock);
        reading.release();
        QVERIFY(held);
        expectLockLost(std::move(checkingIn));
        QCOMPARE(cut->versionIDs().size(), 1);
        QCOMPARE(testing::contentOf(workingCopy), QByteArray("ana's edit"));
        QCOMPARE(atticEntries(fixture, cut), 1);
    }

    void discardKeepsTheWorkInTheAttic()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto cut = importCut(fixture, ana, "first");
        const QString workingCopy = checkOut(cut);
        writeFile(workingCopy, "thrown away");
        syncWait(cut->cancelCheckout(defaultS3Factory()));
        QVERIFY(!cut->isLocked() && !cut->isCheckedOut());
        QVERIFY(!QFileInfo::exists(workingCopy));
        QCOMPARE(atticEntries(fixture, cut), 1);
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
        QCOMPARE(atticEntries(fixture, cut), 0);
        QVERIFY(!ana->checkouts().find(cut->id()));
        writeFile(checkOut(cut), "thrown away");
        syncWait(cut->cancelCheckout(defaultS3Factory()));
        QCOMPARE(atticEntries(fixture, cut), 1); // what was discarded, once
        QVERIFY(!ana->checkouts().find(cut->id()));
        ana->locks().setAfterReleaseForTesting({});

        const QString unsaved = checkOut(cut);
        writeFile(unsaved, "unsaved");
        ana->locks().release({cut->id()}, cut->id());
        ana->poll();
        QCOMPARE(testing::contentOf(unsaved), QByteArray("unsaved"));
        QCOMPARE(atticEntries(fixture, cut), 2);
        QVERIFY(ana->checkouts().find(cut->id())->displaced);
    }

    void timelineOfADay()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto cut = importCut(fixture, ana, "v1");
        const auto first = *cut->currentVersionID();

        QList<QList<ActivityInfo>> published;
        auto feed = cut->activitiesPublisher().sink([&](const QList<ActivityInfo>& list) { published << list; });
        QCOMPARE(published.size(), 1); // the current list, at once
        QCOMPARE(kinds(published.last()), QList<Kind>{Kind::imported});

        const QString workingCopy =
            syncWait(cut->checkOut({}, {.autoSaveInterval = std::chrono::seconds(1)}, defaultS3Factory()));
        writeFile(workingCopy, "v2 in progress");
        QThread::sleep(1);
        ana->poll(); // auto-save: the change goes to the attic and the team sees who is editing
        QCOMPARE(atticEntries(fixture, cut), 1);
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
