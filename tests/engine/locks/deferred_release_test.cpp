// What follows a published check-in or discard (the release note, giving the lock up) is done
// even when the share refuses it for a while, as SMB does while another client reads a lock
// record: the change is reported done, and the lock is given up by the poll, or at the next open
// after a restart. The refusal is a file mounted over the lock record: renaming or removing a
// mount point fails with EBUSY, as SMB answers for a file held open elsewhere.

#include "engine/team_bundle.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
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

} // namespace

class DeferredReleaseTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lockRefusedAfterThePublishedChangeIsGivenUpLater()
    {
        TeamFixture fixture;
        const QString source = fixture.scratch(QStringLiteral("source")) + QStringLiteral("/Cut.txt");
        writeFile(source, "v1");
        auto ana = openAna(fixture);
        Service cut = importInto(ana, source);
        const auto id = cut->id();
        const QString lock =
            fixture.root() + QStringLiteral("/locks/") + id.toString() + QStringLiteral(".lock");
        const QString pinned = fixture.scratch(QStringLiteral("pinned")) + QStringLiteral("/lock");
        bool mounted = false;
        const auto pin = [&] {
            QFile::remove(pinned);
            QVERIFY(QFile::copy(lock, pinned));
            mounted = run(QStringLiteral("mount"), {QStringLiteral("--bind"), pinned, lock});
        };
        const auto unpin = [&] {
            if (std::exchange(mounted, false))
                QVERIFY(run(QStringLiteral("umount"), {lock}));
        };
        const auto unpinned = qScopeGuard([&] { unpin(); });
        const auto heldByAna = [&] {
            const auto reader = fixture.client(QStringLiteral("ben"));
            reader->poll();
            const auto holder = reader->locks().readNow(id);
            return holder && holder->clientId == QLatin1String("CLIENT-ANA");
        };

        // A check-in: reported done, its version current; the lock goes at the next poll that may.
        writeFile(checkOutItem(cut), "v2");
        pin();
        if (!mounted)
            QSKIP("binding a file over the lock record needs mount privileges");
        syncWait(cut->checkIn(QStringLiteral("v2"), defaultS3Factory()));
        QCOMPARE(cut->versionIDs().size(), 2);
        QVERIFY(!ana->checkouts().find(cut->id()));
        QVERIFY(heldByAna());
        ana->poll();
        QVERIFY(heldByAna());
        unpin();
        ana->poll();
        QVERIFY(!heldByAna());

        // A discard, then a restart before the share allows it: the next open gives it up.
        checkOutItem(cut);
        pin();
        syncWait(cut->cancelCheckout(defaultS3Factory()));
        QVERIFY(!ana->checkouts().find(cut->id()));
        cut.reset();
        QThreadPool::globalInstance()->waitForDone();
        ana.reset();
        unpin();
        QVERIFY(heldByAna());
        ana = openAna(fixture);
        QVERIFY(!heldByAna());
    }
};

QTEST_GUILESS_MAIN(DeferredReleaseTest)
#include "deferred_release_test.moc"
