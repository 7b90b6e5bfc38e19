// What follows a published check-in or discard (the release note, giving the lock up) is done
// even when the share refuses it for a while, as SMB does while another client reads a lock
// record: the change is reported done, and the lock is given up by the poll, or at the next open
// after a restart, while the lock is still the check-out's. The refusal is a file mounted over
// the lock record or the note: renaming over, renaming or removing a mount point fails with
// EBUSY, as SMB answers for a file held open elsewhere.

#include "engine/engine_errors.h"
#include "engine/team_bundle.h"
#include "support/engine_test_support.h"
#include "support/lock_harness.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QFileInfo>
#include <QProcess>
#include <QTest>
#include <QThreadPool>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

std::shared_ptr<TeamBundle> openAna(const TeamFixture& fixture)
{
    // The same local folders at every open: what is left to do is noted there.
    auto team = TeamBundle::open(
        fixture.root(), localFileManager(QFileInfo(fixture.root()).path() + QStringLiteral("/ana-local")),
        std::make_shared<RecordingWorkspace>(),
        ClientIdentity{QStringLiteral("CLIENT-ANA"),
                       UserIdentity{QStringLiteral("ana"), QStringLiteral("Ana Editor"), QStringLiteral("host-ana")}});
    team->setPollInterval(std::chrono::hours(1));
    team->setReleaseWaitForTesting(std::chrono::milliseconds(300));
    return team;
}

bool run(const QString& program, const QStringList& arguments)
{
    return QProcess::execute(program, arguments) == 0;
}

// A file of the share with a copy of itself bound over it, so that replacing or removing it fails.
struct PinnedFile {
    QString path;
    QString copy;
    bool mounted = false;

    bool pin()
    {
        QFile::remove(copy);
        mounted = QFile::copy(path, copy) && run(QStringLiteral("mount"), {QStringLiteral("--bind"), copy, path});
        return mounted;
    }
    bool unpin() { return !std::exchange(mounted, false) || run(QStringLiteral("umount"), {path}); }
    ~PinnedFile() { unpin(); }
};

QString lockFile(const TeamFixture& fixture, const IdFor<VersionBundle>& id,
                 const QString& suffix = QStringLiteral(".lock"))
{
    return fixture.root() + QStringLiteral("/locks/") + id.toString() + suffix;
}

// The client that holds the lock of `id` as Ben reads it by name; empty when nobody does.
QString holderOf(TeamFixture& fixture, const IdFor<VersionBundle>& id)
{
    const auto reader = fixture.client(QStringLiteral("ben"));
    reader->poll();
    const auto holder = reader->locks().readNow(id);
    return holder ? holder->clientId : QString();
}

} // namespace

class DeferredReleaseTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Work of a service still finishing on the pool holds its client, whose id the next test's Ana
    // takes again.
    void cleanup() { QThreadPool::globalInstance()->waitForDone(); }

    void lockRefusedAfterThePublishedChangeIsGivenUpLater()
    {
        TeamFixture fixture;
        const QString source = fixture.scratch(QStringLiteral("source")) + QStringLiteral("/Cut.txt");
        writeFile(source, "v1");
        auto ana = openAna(fixture);
        Service cut = importInto(ana, source);
        const auto id = cut->id();
        PinnedFile lock{lockFile(fixture, id), fixture.scratch(QStringLiteral("pinned")) + QStringLiteral("/lock")};
        const auto heldByAna = [&] { return holderOf(fixture, id) == QLatin1String("CLIENT-ANA"); };

        // A check-in: reported done, its version current; the lock goes at the next poll that may.
        writeFile(checkOutItem(cut), "v2");
        if (!lock.pin())
            QSKIP("binding a file over the lock record needs mount privileges");
        syncWait(cut->checkIn(QStringLiteral("v2"), defaultS3Factory()));
        QCOMPARE(cut->versionIDs().size(), 2);
        QVERIFY(!ana->checkouts().find(cut->id()));
        QVERIFY(heldByAna());
        ana->poll();
        QVERIFY(heldByAna());
        QVERIFY(lock.unpin());
        ana->poll();
        QVERIFY(!heldByAna());

        // A discard, then a restart before the share allows it: the next open gives it up.
        checkOutItem(cut);
        QVERIFY(lock.pin());
        syncWait(cut->cancelCheckout(defaultS3Factory()));
        QVERIFY(!ana->checkouts().find(cut->id()));
        cut.reset();
        QThreadPool::globalInstance()->waitForDone();
        ana.reset();
        QVERIFY(lock.unpin());
        QVERIFY(heldByAna());
        ana = openAna(fixture);
        QVERIFY(!heldByAna());
    }

    // A release note refused for a while is left later only while the lock is still this
    // check-out's: before the lock is given up when it is, and never over the note of whoever
    // took the lock meanwhile, which tells the next holder which record to wait for, nor for a
    // lock this client took again since.
    void aNoteLeftLaterOnlyWhileTheLockIsStillOurs()
    {
        TeamFixture fixture;
        const QString source = fixture.scratch(QStringLiteral("source")) + QStringLiteral("/Cut.txt");
        writeFile(source, "v1");
        auto ana = openAna(fixture);
        const Service cut = importInto(ana, source);
        const auto id = cut->id();
        writeFile(checkOutItem(cut), "v2");
        syncWait(cut->checkIn(QStringLiteral("v2"), defaultS3Factory()));
        const auto noteOf = [&] { return *ana->locks().releaseNote(id); };
        const ReleaseNote second = noteOf();
        PinnedFile note{lockFile(fixture, id, QStringLiteral(".released")),
                        fixture.scratch(QStringLiteral("pinned")) + QStringLiteral("/note")};

        writeFile(checkOutItem(cut), "v3");
        if (!note.pin())
            QSKIP("binding a file over the release note needs mount privileges");
        syncWait(cut->checkIn(QStringLiteral("v3"), defaultS3Factory()));
        ana->poll();
        QCOMPARE(holderOf(fixture, id), QStringLiteral("CLIENT-ANA"));
        QVERIFY(note.unpin());
        ana->poll();
        QCOMPARE(noteOf().clientId, QStringLiteral("CLIENT-ANA"));
        QVERIFY(noteOf().seq > second.seq);
        QCOMPARE(holderOf(fixture, id), QString());

        // Ben takes the lock while Ana's note waits, and checks in: his note stays.
        writeFile(checkOutItem(cut), "v4");
        QVERIFY(note.pin());
        syncWait(cut->checkIn(QStringLiteral("v4"), defaultS3Factory()));
        const Service bens = reopenAs(fixture.client(QStringLiteral("ben")), cut);
        writeFile(checkOutItem(bens, {}, LockTakeover::forceUnlock), "v5");
        QVERIFY(note.unpin());
        syncWait(bens->checkIn(QStringLiteral("v5"), defaultS3Factory()));
        ana->poll();
        QCOMPARE(noteOf().clientId, QStringLiteral("CLIENT-BEN"));
        QCOMPARE(holderOf(fixture, id), QString());

        // The same, then a revert of Ana's before her next poll: the lock it takes is the
        // revert's, and so is the note left.
        writeFile(checkOutItem(cut), "v6");
        QVERIFY(note.pin());
        syncWait(cut->checkIn(QStringLiteral("v6"), defaultS3Factory()));
        writeFile(checkOutItem(bens, {}, LockTakeover::forceUnlock), "v7");
        QVERIFY(note.unpin());
        syncWait(bens->checkIn(QStringLiteral("v7"), defaultS3Factory()));
        syncWait(cut->revertVersionBundle(cut->versionIDs().front(), defaultS3Factory()));
        const JournalStamp reverted = ana->snapshot()->find(id)->currentVersion()->stamp;
        QCOMPARE(noteOf().clientId, reverted.client);
        QCOMPARE(noteOf().seq, reverted.seq);
        QCOMPARE(holderOf(fixture, id), QString());
    }

    // A check-out keeps as its own only the locks still to be given up that were taken for it
    // (the same initiator). An event's lock taken by one library's check-out and still to be
    // given up is given up, not left held, when another library that holds the event is checked
    // out meanwhile; that check-out is refused until then.
    void aLockTakenForAnotherCheckOutIsStillGivenUp()
    {
        TeamFixture fixture;
        auto ana = openAna(fixture);
        const auto importLibrary = [&](const QString& name, quint32 seed) {
            const QString source = fixture.scratch(name) + u'/' + name + QStringLiteral(".videolibrary");
            makeLibrary(source, seed, 1);
            return syncWait(VersioningService::import(VersioningServiceType::library, source, std::nullopt,
                                                      std::nullopt, std::nullopt, QStringLiteral("Initial Commit"),
                                                      DocumentApplication::none(), ana, nullptr, nullptr));
        };
        const Service feature = importLibrary(QStringLiteral("Feature"), 1);
        const Service teaser = importLibrary(QStringLiteral("Teaser"), 2);
        const Service shared = syncWait(feature->latestNestedVersioningServices(defaultS3Factory())).front();
        syncWait(teaser->addNestedVersionBundle(shared, QString(), defaultS3Factory()));
        PinnedFile lock{lockFile(fixture, shared->id()),
                        fixture.scratch(QStringLiteral("pinned")) + QStringLiteral("/lock")};

        checkOutItem(feature, {shared->id()});
        if (!lock.pin())
            QSKIP("binding a file over the lock record needs mount privileges");
        syncWait(feature->checkIn(QStringLiteral("v2"), defaultS3Factory()));
        try {
            checkOutItem(teaser, {shared->id()});
            QFAIL("a lock still held for another check-out was taken");
        } catch (const VersioningError& error) {
            QCOMPARE(error.kind(), VersioningError::Case::itemLocked);
        }
        QCOMPARE(holderOf(fixture, teaser->id()), QString());
        QVERIFY(lock.unpin());
        ana->poll();
        QCOMPARE(holderOf(fixture, shared->id()), QString());
        checkOutItem(teaser, {shared->id()});
        QCOMPARE(holderOf(fixture, shared->id()), QStringLiteral("CLIENT-ANA"));
    }
};

QTEST_GUILESS_MAIN(DeferredReleaseTest)
#include "deferred_release_test.moc"
