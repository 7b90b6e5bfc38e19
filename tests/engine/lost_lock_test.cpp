// A check-out whose lock somebody else took: what its check-in is told, and what the attic keeps.

#include "engine/engine_errors.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/held_opening.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

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

class LostLockTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void forceUnlockSeenFromTheOtherSide()
    {
        AnaEditing editing("ana's unsaved work");
        auto& [fixture, ana, ben, cut, workingCopy, seenByAna, watch] = editing;
        const auto bensCut = reopenAs(ben, cut);
        checkOutItem(bensCut, {}, LockTakeover::forceUnlock);
        QVERIFY(bensCut->isCheckedOut());

        ana->poll();
        QVERIFY(!seenByAna.isEmpty());
        QVERIFY(seenByAna.last().forceUnlocked);
        QCOMPARE(seenByAna.last().name, QStringLiteral("ben Editor"));
        QVERIFY(!cut->isCheckedOut());
        QVERIFY(QFileInfo::exists(workingCopy)); // left where it was
        QCOMPARE(atticEntryCount(fixture, cut), 1);
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
        const auto bensCut = reopenAs(ben, cut);
        const QString bensCopy = checkOutItem(bensCut, {}, LockTakeover::forceUnlock);
        const QByteArray bensRecord = contentOf(lock);
        QVERIFY(bensRecord.size() < 2048);
        QVERIFY(QFile::remove(lock) && QFile::rename(hers, lock));
        rewriteInPlace(lock, bensRecord, 2048, status.st_mtim);
        // Her listing of the locks can't tell; what tells is read by name (Ben's record in the
        // journal, or the lock file itself when her check-in decides).

        expectLockLost(cut->checkIn(QStringLiteral("mine"), defaultS3Factory()));
        QCOMPARE(cut->versionIDs().size(), 1);
        QCOMPARE(contentOf(workingCopy), QByteArray("ana's edit"));
        QCOMPARE(atticEntryCount(fixture, cut), 1);
        QVERIFY(!cut->isCheckedOut());
        QVERIFY(!seenByAna.isEmpty() && seenByAna.last().forceUnlocked);

        writeFile(bensCopy, "ben's edit");
        syncWait(bensCut->checkIn(QStringLiteral("his"), defaultS3Factory()));
        QCOMPARE(bensCut->versionIDs().size(), 2);
        QCOMPARE(contentOf(syncWait(
                     bensCut->exportVersion(std::nullopt, fixture.scratch(QStringLiteral("o")), defaultS3Factory()))),
                 QByteArray("ben's edit"));
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
        QCOMPARE(contentOf(workingCopy), QByteArray("ana's edit"));
        QCOMPARE(atticEntryCount(fixture, cut), 1);
    }

    // The attic holds Ana's working copy as it was when her client noticed Ben's force unlock;
    // what she saved since is kept by the refused check-in before it says so, once (refused again
    // unchanged, nothing more is kept). When it can't be kept, the refusal names the folder it is
    // in instead.
    void refusedCheckInKeepsTheEditsSinceTheLossWasNoticed()
    {
        AnaEditing editing("ana's edit");
        auto& [fixture, ana, ben, cut, workingCopy, seenByAna, watch] = editing;
        checkOutItem(reopenAs(ben, cut), {}, LockTakeover::forceUnlock);
        ana->poll();
        QCOMPARE(atticEntryCount(fixture, cut), 1);
        writeFile(workingCopy, "saved after the notice");
        for (int attempt = 0; attempt < 2; ++attempt) {
            expectLockLost(cut->checkIn(QStringLiteral("mine"), defaultS3Factory()),
                           QStringLiteral("ben Editor force unlocked"));
            QCOMPARE(atticEntryCount(fixture, cut), 2);
        }
        QCOMPARE(keptInAttic(ana, cut, QStringLiteral("Cut.kdenlive")).last(), QByteArray("saved after the notice"));

        writeFile(workingCopy, "saved once more");
        const QString attic = fixture.root() + QStringLiteral("/attic/") + cut->id().toString();
        QVERIFY(QDir(attic).removeRecursively());
        writeFile(attic, "not a folder");
        const QString text = lockLostText(cut->checkIn(QStringLiteral("mine"), defaultS3Factory()));
        QVERIFY2(text.contains(QFileInfo(workingCopy).path()) && !text.contains(QStringLiteral("are kept in the")),
                 qPrintable(text));
        QCOMPARE(contentOf(workingCopy), QByteArray("saved once more"));
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
        checkOutItem(reopenAs(ben, cut));
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
        const auto bensCut = reopenAs(ben, cut);
        checkOutItem(bensCut, {}, LockTakeover::forceUnlock);
        reading.release();
        QVERIFY(held);
        expectLockLost(std::move(checkingIn));
        QCOMPARE(cut->versionIDs().size(), 1);
        QCOMPARE(contentOf(workingCopy), QByteArray("ana's edit"));
        QCOMPARE(atticEntryCount(fixture, cut), 1);
    }
};

QTEST_GUILESS_MAIN(LostLockTest)
#include "lost_lock_test.moc"
