// Check-outs build on the latest check-in, check-ins never replace a version they did not start
// from, and a working copy left behind is removed only once it is kept.

#include "engine/engine_errors.h"
#include "engine/storage/fixed_length_files.h"
#include "engine/storage/manifest.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSemaphore>

#include <QTest>
#include <functional>

#include <fcntl.h>
#include <sys/stat.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

Service importCut(const TeamFixture& fixture, const std::shared_ptr<TeamBundle>& team, const QByteArray& content)
{
    const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Cut.kdenlive");
    writeFile(source, content);
    return importInto(team, source);
}

QString checkOut(const Service& service, LockTakeover takeover = LockTakeover::none)
{
    return checkOutItem(service, {}, takeover);
}

void checkIn(const Service& service, const QString& message)
{
    syncWait(service->checkIn(message, defaultS3Factory()));
}

void append(const QString& path, const QByteArray& line)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::Append));
    file.write(line);
}

QByteArray current(const Service& service, const TeamFixture& fixture)
{
    static int exports = 0;
    return contentOf(syncWait(service->exportVersion(
        std::nullopt, fixture.scratch(QStringLiteral("out%1").arg(++exports)), defaultS3Factory())));
}

template<typename F>
VersioningError::Case failureOf(F operation)
{
    try {
        operation();
    } catch (const VersioningError& error) {
        return error.kind();
    }
    qFatal("the operation did not fail");
}

// Every entry the attic keeps of `id`, as JSON.
QList<QJsonObject> atticEntries(const TeamFixture& fixture, const IdFor<VersionBundle>& id)
{
    QList<QJsonObject> entries;
    const QDir folder(fixture.root() + QStringLiteral("/attic/") + id.toString());
    for (const QString& name : folder.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name))
        entries << QJsonDocument::fromJson(contentOf(folder.filePath(name))).object();
    return entries;
}

} // namespace

class CheckInOrderTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Ben asks for the lock while Ana still holds it, and gets it the moment she checks in:
    // his working copy must hold her check-in, and his check-in must keep it.
    void aCheckOutWaitingForTheLockBuildsOnTheCheckInThatFreedIt()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto cut = importCut(fixture, ana, "base\n");
        append(checkOut(cut), "ana\n");

        const auto bensCut = reopenAs(ben, cut);
        QSemaphore reached;
        QSemaphore proceed;
        ben->locks().setBeforeAcquireForTesting([&] {
            reached.release();
            proceed.acquire();
        });
        auto bensCheckOut = bensCut->checkOut({}, {.autoSave = false}, defaultS3Factory());
        QVERIFY(reached.tryAcquire(1, 10000));
        checkIn(cut, QStringLiteral("Ana's cut"));
        ben->locks().setBeforeAcquireForTesting({});
        proceed.release();
        const QString bensCopy = syncWait(std::move(bensCheckOut));
        QCOMPARE(contentOf(bensCopy), QByteArray("base\nana\n"));
        append(bensCopy, "ben\n");
        // What his editor wrote beside the working copy is kept before the folder goes.
        writeFile(QFileInfo(bensCopy).path() + QStringLiteral("/Cut.kdenlive.backup"), "backup");
        checkIn(bensCut, QStringLiteral("Ben's cut"));
        ana->poll();
        QCOMPARE(current(cut, fixture), QByteArray("base\nana\nben\n"));
        const auto kept = atticEntries(fixture, cut->id());
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.first().value(QStringLiteral("reason")).toString(), QStringLiteral("left beside"));
        QCOMPARE(kept.first().value(QStringLiteral("name")).toString(), QStringLiteral("Cut.kdenlive.backup"));
    }

    // A share whose listings lag shows the lock free before it shows the check-in: the next
    // holder waits for the record its note names, and gives up cleanly when it doesn't come
    // (a record its writer's head does not name yet is found only by a listing).
    void aLaggingViewWaitsForTheLastCheckIn()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto cut = importCut(fixture, ana, "base\n");
        const auto bensCut = reopenAs(ben, cut);

        ben->setJournalListingLagForTesting(std::chrono::milliseconds(1500));
        append(checkOut(cut), "ana\n");
        checkIn(cut, QStringLiteral("Ana's cut"));
        const QString bensCopy = checkOut(bensCut);
        QCOMPARE(contentOf(bensCopy), QByteArray("base\nana\n"));
        append(bensCopy, "ben\n");
        checkIn(bensCut, QStringLiteral("Ben's cut"));
        ana->poll();
        QCOMPARE(current(cut, fixture), QByteArray("base\nana\nben\n"));

        // Longer than the wait: refused, the lock given back, nothing written.
        ana->setJournalListingLagForTesting(std::chrono::milliseconds(60000));
        ana->setRecordWaitLimit(std::chrono::milliseconds(300));
        append(checkOut(bensCut), "ben again\n");
        checkIn(bensCut, QStringLiteral("Ben's second cut"));
        const QString bensHead =
            fixture.root() + QStringLiteral("/journal/") + ben->clientId() + QStringLiteral("/head");
        writeFile(bensHead, fixed_length::headBytes(contentOf(bensHead).trimmed().toLongLong() - 1));
        QCOMPARE(failureOf([&] { checkOut(cut); }), VersioningError::Case::changesNotArrived);
        QVERIFY(!cut->isLocked() && !cut->isCheckedOut());
        QVERIFY(
            !QFileInfo::exists(ana->localFolder(QStringLiteral("working")) + QLatin1Char('/') + cut->id().toString()));
        ana->setJournalListingLagForTesting(std::chrono::milliseconds(0));
        QCOMPARE(contentOf(checkOut(cut)), QByteArray("base\nana\nben\nben again\n"));
    }

    // A share that answers a lock file's attributes from a cache (sshfs: 20 s) shows a lock
    // taken over as unchanged; the record of the takeover is read by name, and so is the lock
    // it names: the check-out is known lost at once and its working copy kept.
    void aLockTakenOverShowsThroughItsRecord()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto cut = importCut(fixture, ana, "base\n");
        append(checkOut(cut), "ana\n");
        ben->poll();

        // Ben's lock, written over Ana's in place with the same size and time.
        const QString path =
            fixture.root() + QStringLiteral("/locks/") + cut->id().toString() + QStringLiteral(".lock");
        struct stat before {};
        QCOMPARE(::lstat(QFile::encodeName(path).constData(), &before), 0);
        LockRecord taken = *ana->locks().holder(cut->id());
        taken.clientId = ben->clientId();
        QByteArray bytes = taken.toJson();
        QCOMPARE(bytes.size(), contentOf(path).size());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size());
        file.close();
        const timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
        ana->poll();
        QCOMPARE(ana->locks().holder(cut->id())->clientId, ana->clientId()); // the stamp hides it

        ben->commit(RecordKind::lock, cut->id(), {{QStringLiteral("message"), QStringLiteral("force unlocked")}});
        ana->poll();
        QCOMPARE(ana->locks().holder(cut->id())->clientId, ben->clientId());
        QCOMPARE(atticEntries(fixture, cut->id()).size(), 1);
        QCOMPARE(failureOf([&] { checkIn(cut, QStringLiteral("Too late")); }), VersioningError::Case::lockLost);
    }

    // A version saved after the check-out began (here a revert, which takes no lock) is never
    // replaced: the check-in is refused, the working copy stays, a copy goes to the attic.
    void aCheckInOverANewerVersionIsRefused()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto cut = importCut(fixture, ana, "one\n");
        append(checkOut(cut), "edit\n");
        checkIn(cut, QStringLiteral("Two"));
        const QString workingCopy = checkOut(cut);
        append(workingCopy, "ana's third\n");

        // Ben may not revert while Ana holds the lock (her check-in would replace his revert
        // unseen); Ana herself may, and her check-in then does not replace it.
        const auto bensCut = reopenAs(ben, cut);
        const auto first = bensCut->versionIDs().first();
        QCOMPARE(failureOf([&] { syncWait(bensCut->revertVersionBundle(first, defaultS3Factory())); }),
                 VersioningError::Case::itemLocked);
        QCOMPARE(bensCut->versionIDs().size(), 2);
        syncWait(cut->revertVersionBundle(first, defaultS3Factory()));
        QCOMPARE(failureOf([&] { checkIn(cut, QStringLiteral("Three")); }), VersioningError::Case::outdatedBase);
        QCOMPARE(contentOf(workingCopy), QByteArray("one\nedit\nana's third\n"));
        QVERIFY(cut->isCheckedOut());
        QCOMPARE(cut->versionIDs().size(), 3);
        QCOMPARE(current(cut, fixture), QByteArray("one\n"));
        const auto kept = atticEntries(fixture, cut->id());
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.first().value(QStringLiteral("reason")).toString(), QStringLiteral("not checked in"));

        // Discarding keeps the edits too, and a new check-out starts from the newer version.
        syncWait(cut->cancelCheckout(defaultS3Factory()));
        QCOMPARE(contentOf(checkOut(cut)), QByteArray("one\n"));
    }

    // Ana's edits (and a pipe her editor left in a folder beside them) are still in her working
    // folder when Ben takes the lock and checks in. Checking out again keeps them in the attic
    // first; while they can't be kept, the folder stays exactly as it is and the lock is given back.
    void aWorkingCopyLeftBehindIsKeptBeforeItIsReplaced()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto cut = importCut(fixture, ana, "base\n");
        const QString anasCopy = checkOut(cut);
        const QString folder = QFileInfo(anasCopy).path();
        append(anasCopy, "ana's unsaved work\n");
        writeFile(folder + QStringLiteral("/Backups/Cut.bak"), "backup");
        QVERIFY(::mkfifo(QFile::encodeName(folder + QStringLiteral("/Backups/editor-pipe")).constData(), 0600) == 0);
        const auto bensCut = reopenAs(ben, cut);
        append(checkOut(bensCut, LockTakeover::forceUnlock), "ben\n");
        checkIn(bensCut, QStringLiteral("Ben's cut"));
        ana->poll();

        // Two ways keeping fails: a name a version can't hold, and a store that can't be written.
        const QString badName = folder + QStringLiteral("/Backups/") + QString::fromLatin1("bad\x01name");
        // A folder where a new content of the working copy goes: the store can't take it.
        const QString blockedFile = folder + QStringLiteral("/Backups/Blocked.bak");
        const QByteArray blockedBytes = "a content the store can't take";
        const QString blockedObject = ana->contents().pathFor(hashBytes(blockedBytes));
        const QList<std::function<void(bool)>> failures{
            [&](bool on) { on ? writeFile(badName, "odd") : void(QFile::remove(badName)); },
            [&](bool on) {
                if (on) {
                    writeFile(blockedFile, blockedBytes);
                    QDir().mkpath(blockedObject + QStringLiteral("/inner"));
                } else {
                    QFile::remove(blockedFile);
                    QDir(blockedObject).removeRecursively();
                }
            }};
        for (const auto& failure : failures) {
            failure(true);
            const auto before = describeTree(folder);
            try {
                checkOut(cut);
                QFAIL("checked out over a working copy that was not kept");
            } catch (const VersioningError& error) {
                QCOMPARE(error.kind(), VersioningError::Case::workNotKept);
                QVERIFY2(error.localizedDescription().contains(folder), qPrintable(error.localizedDescription()));
            }
            QCOMPARE(describeTree(folder), before);
            QVERIFY(!cut->isLocked());
            failure(false);
        }

        const int keptBefore = int(atticEntries(fixture, cut->id()).size());
        QCOMPARE(contentOf(checkOut(cut)), QByteArray("base\nben\n"));
        const auto kept = atticEntries(fixture, cut->id()).mid(keptBefore);
        QCOMPARE(kept.size(), 2);
        QStringList skipped;
        for (const auto& entry : kept)
            skipped += entry.value(QStringLiteral("skipped")).toVariant().toStringList();
        QCOMPARE(skipped, QStringList{QStringLiteral("editor-pipe")});
        const QString atticCopies = ana->materializeAttic(cut->id());
        bool found = false;
        for (const QString& copy : QDir(atticCopies).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
            found = found
                    || contentOf(atticCopies + QLatin1Char('/') + copy + QStringLiteral("/Cut.kdenlive"))
                           == "base\nana's unsaved work\n";
        QVERIFY(found);
    }
};

QTEST_GUILESS_MAIN(CheckInOrderTest)
#include "check_in_order_test.moc"
