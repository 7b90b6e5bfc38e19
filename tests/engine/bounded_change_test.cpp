// A change whose share stops answering is no longer waited for: held right before its record
// while the team bundle can't be reached, a check-in ends as not done and its worker, let go,
// publishes nothing; held just after its record, it ends as done. Either way it lands once.

#include "engine/team_bundle.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QFile>
#include <QTest>

#include <condition_variable>
#include <mutex>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// Holds the first commit that reaches `step` until let go.
class HeldCommit {
public:
    HeldCommit(TeamBundle& team, TeamBundle::CommitStep step) : m_team(team)
    {
        team.setCommitObserverForTesting([this, step](TeamBundle::CommitStep now) {
            std::unique_lock lock(m_mutex);
            if (now == TeamBundle::CommitStep::published)
                ++m_published;
            if (now != step || m_held)
                return;
            m_held = true;
            m_changed.notify_all();
            m_changed.wait(lock, [this] { return m_letGo; });
        });
    }
    ~HeldCommit()
    {
        letGo();
        m_team.setCommitObserverForTesting({});
    }
    void awaitHeld()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_held; });
    }
    void letGo()
    {
        std::lock_guard lock(m_mutex);
        m_letGo = true;
        m_changed.notify_all();
    }
    int published()
    {
        std::lock_guard lock(m_mutex);
        return m_published;
    }

private:
    TeamBundle& m_team;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_letGo = false;
    int m_published = 0;
};

QString failureText(QCoro::Task<CheckInOutcome> task)
{
    try {
        syncWait(std::move(task));
    } catch (const Error& error) {
        return error.localizedDescription();
    }
    return {};
}

} // namespace

class BoundedChangeTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void checkInHeldWhileUnreachable_data()
    {
        QTest::addColumn<bool>("published");
        QTest::newRow("before its record") << false;
        QTest::newRow("after its record") << true;
    }

    void checkInHeldWhileUnreachable()
    {
        QFETCH(bool, published);
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        const QString source = fixture.scratch(QStringLiteral("source")) + QStringLiteral("/Cut.txt");
        writeFile(source, "first cut\n");
        const Service cut = importInto(team, source);
        const QString workingCopy = checkOutItem(cut);
        writeFile(workingCopy, "second cut\n");

        const QString marker = fixture.root() + QStringLiteral("/team.json");
        const QString away = marker + QStringLiteral(".away");
        std::optional<HeldCommit> held;
        held.emplace(*team, published ? TeamBundle::CommitStep::published : TeamBundle::CommitStep::publishing);
        auto checkIn = cut->checkIn(QStringLiteral("Held"), defaultS3Factory());
        held->awaitHeld();
        QVERIFY(QFile::rename(marker, away));
        QVERIFY(!team->checkReachable());
        const QString told = failureText(std::move(checkIn));
        // Refused at once while that check-in is still stuck.
        const QString meanwhile = failureText(cut->checkIn(QStringLiteral("Meanwhile"), defaultS3Factory()));
        QVERIFY(QFile::rename(away, marker));
        held->letGo();
        QTRY_VERIFY_WITH_TIMEOUT(team->changesGivenUp() == 0, 60000);
        QVERIFY2(meanwhile.contains(QStringLiteral("nothing was checked in")), qPrintable(meanwhile));
        team->poll();
        const auto versions = [&] { return team->snapshot()->find(cut->id())->versions.size(); };
        if (published) {
            QVERIFY2(told.isEmpty(), qPrintable(told));
            QCOMPARE(held->published(), 1);
            QCOMPARE(versions(), 2);
            QVERIFY(!cut->isCheckedOut());
            return;
        }
        QVERIFY2(told.contains(QStringLiteral("nothing was checked in")), qPrintable(told));
        QCOMPARE(held->published(), 0);
        QCOMPARE(versions(), 1);
        QVERIFY(cut->isCheckedOut());
        QCOMPARE(contentOf(workingCopy), QByteArray("second cut\n"));
        held.reset();
        QVERIFY(failureText(cut->checkIn(QStringLiteral("Again"), defaultS3Factory())).isEmpty());
        team->poll();
        QCOMPARE(versions(), 2);
    }
};

QTEST_GUILESS_MAIN(BoundedChangeTest)
#include "bounded_change_test.moc"
