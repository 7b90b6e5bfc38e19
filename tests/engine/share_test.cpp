// The engine on a real network share: a private SSH server exports one folder that two computers
// mount with sshfs, one with its default caching and one with cache=no. Every client is a
// process of its own with its computer's runtime folder, home and machine id. What the share
// holds afterwards is read on the server's own disk, past every cache.

#include "support/share_scenarios.h"
#include "support/sshfs_team.h"

#include <QFileInfo>
#include <QTest>

#include <csignal>
#include <memory>

using namespace vantrel;
using namespace vantrel::testing;

class ShareTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ShareStudio> m_studio;

private Q_SLOTS:
    void initTestCase()
    {
        std::signal(SIGPIPE, SIG_IGN); // a child that died must not take the test with it
        if (const QString missing = ShareStudio::missing(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no network share can be made here; missing: ") + missing));
        QVERIFY2(QFileInfo(QStringLiteral(VANTREL_LOCK_CHILD)).isExecutable(), VANTREL_LOCK_CHILD);
        m_studio = std::make_unique<ShareStudio>(QStringLiteral(VANTREL_LOCK_CHILD));
        QVERIFY2(m_studio->error().isEmpty(), qPrintable(m_studio->error()));
    }

    // Unmounts and stops the server before the process ends (the share's watchdog does it when
    // the process is killed instead).
    void cleanupTestCase() { m_studio.reset(); }

    // Ana works on the cached mount; Ben force-unlocks from the other computer. Some time later
    // her check-in must be refused, her working copy kept in the attic, and Ben's check-in
    // accepted: the history holds no version of hers.
    void forceUnlockRefusesTheVictimsCheckIn_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::newRow("0.5 s after") << 500;
        QTest::newRow("5 s after") << 5000;
    }
    void forceUnlockRefusesTheVictimsCheckIn()
    {
        QFETCH(int, delayMs);
        vantrel::testing::forceUnlockRefusesTheVictimsCheckIn(*m_studio, delayMs);
    }

    // Two clients on each computer edit one document in rounds of check-out, edit, check-in: every
    // check-in reported done is in the final version exactly once, and nothing else is.
    void everyReportedCheckInIsKeptOnce() { vantrel::testing::everyReportedCheckInIsKeptOnce(*m_studio, 2, 4); }

    // A check-out and a check-in made through one mount reach a client watching through the other.
    // The first round is Eve's first work ever: the watcher learns of a new teammate by listing the
    // journal folder, which a share may answer from its cache (sshfs for 20 s), so it gets a minute.
    // The second is a teammate's it knows.
    void changesReachTheOtherMount_data()
    {
        QTest::addColumn<bool>("watchCached");
        QTest::newRow("seen through the cached mount") << true;
        QTest::newRow("seen through the uncached mount") << false;
    }
    void changesReachTheOtherMount()
    {
        QFETCH(bool, watchCached);
        vantrel::testing::changesReachTheOtherMount(*m_studio, watchCached);
    }
};

QTEST_GUILESS_MAIN(ShareTest)
#include "share_test.moc"
