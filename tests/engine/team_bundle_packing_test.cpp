// A team bundle packs its client's journal on its background thread: a commit only notes that a
// pack is due and returns, also while a pack is being written; closing the team bundle stops a
// pack where it safely can, and the next opening packs what is left.

#include "engine/document_type.h"
#include "engine/journal/journal_files.h"
#include "engine/team_bundle.h"
#include "support/engine_test_support.h"

#include <QSemaphore>
#include <QTest>

#include <atomic>
#include <thread>

using namespace vantrel;
using namespace Qt::StringLiterals;
using namespace vantrel::testing;

namespace {

constexpr int patience = 30'000; // ms; only ever reached when something is wrong

QStringList namesIn(const std::shared_ptr<TeamBundle>& team)
{
    QStringList names;
    for (const auto& state : team->snapshot()->bundles)
        names << state->name;
    names.sort();
    return names;
}

void createCollections(const std::shared_ptr<TeamBundle>& team, int from, int to)
{
    for (int n = from; n <= to; ++n)
        team->commit(RecordKind::create, IdFor<VersionBundle>::make(),
                     {{u"type"_s, DocumentType::collection().toJson()}, {u"name"_s, u"Reel %1"_s.arg(n, 2, 10, QChar(u'0'))}});
}

QStringList reels(int to)
{
    QStringList names;
    for (int n = 1; n <= to; ++n)
        names << u"Reel %1"_s.arg(n, 2, 10, QChar(u'0'));
    return names;
}

// Holds the packing thread at chosen moments of a pack (see Journal::setPackObserverForTesting)
// until the test lets it go on: once the pack is written (0) and after each of the first
// `holdUpTo` removals, `holds` times in all.
struct PackGate {
    QSemaphore reached, resume;
    std::atomic<bool> stalled = false;
    std::atomic<std::thread::id> packer;
    std::atomic<int> holdUpTo = 0;
    std::atomic<int> holds = 1;

    std::function<void(int)> observer()
    {
        return [this](int removed) {
            packer = std::this_thread::get_id();
            if (removed > holdUpTo || holds <= 0)
                return;
            --holds;
            reached.release();
            if (!resume.tryAcquire(1, patience))
                stalled = true; // the test could not go on while the pack was held
        };
    }
};

} // namespace

class TeamBundlePackingTest : public QObject {
    Q_OBJECT

private:
    std::shared_ptr<TeamBundle> open(const TeamFixture& fixture)
    {
        return TeamBundle::open(fixture.root(), localFileManager(fixture.scratch(u"local-dee"_s)),
                                std::make_shared<RecordingWorkspace>(),
                                ClientIdentity{u"CLIENT-DEE"_s, UserIdentity{u"dee"_s, u"Dee Editor"_s, u"host-dee"_s}});
    }

private slots:
    void commitsNeverWaitForAPack()
    {
        TeamFixture fixture;
        const QString folder = fixture.root() + u"/journal/CLIENT-DEE"_s;
        auto dee = open(fixture);
        dee->setPollInterval(std::chrono::hours(1)); // only a pack that is due wakes the thread
        dee->setJournalPackThresholdForTesting(3);
        PackGate gate;
        dee->setJournalPackObserverForTesting(gate.observer());

        createCollections(dee, 1, 3);
        QVERIFY(gate.reached.tryAcquire(1, patience));
        QVERIFY(gate.packer.load() != std::this_thread::get_id());
        // Held with its pack written and its records still there: commits go on, and another
        // client reads everything.
        createCollections(dee, 4, 7);
        const auto ben = fixture.client(u"ben"_s);
        QCOMPARE(ben->problems(), QStringList());
        QCOMPARE(namesIn(ben), reels(7));

        // The commits made meanwhile were due for a pack of their own, which follows.
        gate.resume.release();
        QTRY_COMPARE_WITH_TIMEOUT(QDir(folder).entryList(QDir::Files),
                                  (QStringList{u"head"_s, u"pack-000000000001-000000000003.json"_s,
                                               u"pack-000000000004-000000000007.json"_s}),
                                  patience);
        QVERIFY(!gate.stalled);
        ben->poll();
        QCOMPARE(ben->problems(), QStringList());
        QCOMPARE(namesIn(ben), reels(7));
    }

    void closingStopsAPackWithoutLosingAnything()
    {
        TeamFixture fixture;
        const QString folder = fixture.root() + u"/journal/CLIENT-DEE"_s;
        PackGate gate;
        gate.holdUpTo = 1;
        gate.holds = 2;
        {
            auto dee = open(fixture);
            const std::weak_ptr<TeamBundle> weak = dee;
            dee->setJournalPackThresholdForTesting(3);
            dee->setJournalPackObserverForTesting(gate.observer());
            createCollections(dee, 1, 3);
            QVERIFY(gate.reached.tryAcquire(1, patience));
            createCollections(dee, 4, 6); // due again while the first pack is written
            gate.resume.release();
            QVERIFY(gate.reached.tryAcquire(1, patience)); // one record removed, two to go
            // Closed halfway through removing what the pack holds: closing stops the pack and
            // returns once it has stopped.
            std::thread closing([team = std::move(dee)]() mutable { team.reset(); });
            QTRY_VERIFY_WITH_TIMEOUT(weak.expired(), patience);
            gate.resume.release();
            closing.join();
        }
        QVERIFY(!gate.stalled);
        QVERIFY(QFile::exists(folder + u"/pack-000000000001-000000000003.json"_s));
        for (int seq = 4; seq <= 6; ++seq)
            QVERIFY(QFile::exists(recordPath(fixture.root() + u"/journal"_s, u"CLIENT-DEE"_s, seq)));

        // The client is free at once, and nothing was lost.
        auto dee = open(fixture);
        QCOMPARE(dee->problems(), QStringList());
        QCOMPARE(namesIn(dee), reels(6));
        // What is left single is packed at a poll, and what the stopped pack left is tidied.
        dee->setJournalPackThresholdForTesting(3);
        dee->setPollInterval(std::chrono::milliseconds(20));
        QTRY_COMPARE_WITH_TIMEOUT(QDir(folder).entryList(QDir::Files),
                                  (QStringList{u"head"_s, u"pack-000000000001-000000000003.json"_s,
                                               u"pack-000000000004-000000000006.json"_s}),
                                  patience);
        createCollections(dee, 7, 7);
        const auto ben = fixture.client(u"ben"_s);
        QCOMPARE(ben->problems(), QStringList());
        QCOMPARE(namesIn(ben), reels(7));
    }
};

QTEST_GUILESS_MAIN(TeamBundlePackingTest)
#include "team_bundle_packing_test.moc"
