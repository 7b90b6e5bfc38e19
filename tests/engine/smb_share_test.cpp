// The engine on SMB: a private Samba server exports one folder that two computers mount with the
// FUSE SMB client smbnetfs. On SMB a file another client has open can't be replaced, renamed or
// removed (Windows share modes): every lock record, head and release note that a teammate's poll
// happens to be reading is such a file. Every client is a process of its own with its computer's
// runtime folder, home and machine id; what the share holds afterwards is read on the server's
// own disk.

#include "engine/team_bundle.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/share_scenarios.h"
#include "support/smb_team.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>
#include <QThreadPool>

#include <csignal>
#include <memory>

using namespace vantrel;
using namespace vantrel::testing;

class SmbShareTest : public QObject {
    Q_OBJECT
    std::unique_ptr<ShareStudio> m_studio;

private Q_SLOTS:
    void initTestCase()
    {
        std::signal(SIGPIPE, SIG_IGN); // a child that died must not take the test with it
        if (const QString missing = smbStudioMissing(); !missing.isEmpty())
            QSKIP(qPrintable(QStringLiteral("no SMB share can be made here; missing: ") + missing));
        QVERIFY2(QFileInfo(QStringLiteral(VANTREL_LOCK_CHILD)).isExecutable(), VANTREL_LOCK_CHILD);
        m_studio = std::make_unique<ShareStudio>(QStringLiteral(VANTREL_LOCK_CHILD), smbStudioShare());
        QVERIFY2(m_studio->error().isEmpty(), qPrintable(m_studio->error()));
    }

    // Stops the server and unmounts before the process ends (the share's watchdog does it when
    // the process is killed instead).
    void cleanupTestCase() { m_studio.reset(); }

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

    // Rounds of check-out, edit, check-in while the others poll the lock records, heads and
    // notes being replaced. VANTREL_SMB_ROUNDS_RUNS repeats each (for measuring by hand).
    void everyReportedCheckInIsKeptOnce_data()
    {
        QTest::addColumn<int>("editorsPerComputer");
        const int runs = qMax(1, qEnvironmentVariableIntValue("VANTREL_SMB_ROUNDS_RUNS"));
        for (int run = 1; run <= runs; ++run) {
            QTest::addRow("2 clients, run %d", run) << 1;
            QTest::addRow("4 clients, run %d", run) << 2;
        }
    }
    void everyReportedCheckInIsKeptOnce()
    {
        QFETCH(int, editorsPerComputer);
        vantrel::testing::everyReportedCheckInIsKeptOnce(*m_studio, editorsPerComputer, 4);
    }

    // Check-outs of one free document through two and four mounts at the same moment: an
    // exclusive create is not exclusive between smbnetfs mounts, the claim is.
    // VANTREL_SMB_RACE_TRIALS sets the number of trials (for measuring by hand).
    void simultaneousCheckOutsHaveOneHolder_data()
    {
        QTest::addColumn<int>("computers");
        QTest::newRow("2 computers") << 2;
        QTest::newRow("4 computers") << 4;
    }
    void simultaneousCheckOutsHaveOneHolder()
    {
        QFETCH(int, computers);
        const int trials = qEnvironmentVariableIntValue("VANTREL_SMB_RACE_TRIALS");
        vantrel::testing::simultaneousCheckOutsHaveOneHolder(*m_studio, computers, trials > 0 ? trials : 200);
    }

    void changesReachTheOtherMount_data()
    {
        QTest::addColumn<bool>("watchFirst");
        QTest::newRow("seen through the first mount") << true;
        QTest::newRow("seen through the second mount") << false;
    }
    void changesReachTheOtherMount()
    {
        QFETCH(bool, watchFirst);
        vantrel::testing::changesReachTheOtherMount(*m_studio, watchFirst);
    }

    // A network home on the share: the working copy of a package of a few hundred files is
    // written to and walked through the smbnetfs mount (never watched there), as is the team bundle.
    void packageInANetworkHomeIsCheckedIn()
    {
        ShareStudio& studio = *m_studio;
        const QString home = studio.cached().mount + QStringLiteral("/homes/ana");
        const QString source = studio.scratch(QStringLiteral("source")) + QStringLiteral("/Show.dra");
        for (int file = 0; file < 320; ++file)
            writeFile(source + QStringLiteral("/Media/Reel %1/clip%2.bin").arg(file % 16).arg(file),
                      noise(quint32(file) + 1u, 64 * 1024));
        writeFile(source + QStringLiteral("/project.drp"), "<project/>");
        QVERIFY(QDir().mkpath(home));
        {
            const auto team = TeamBundle::open(
                studio.root(studio.cached()), localFileManager(home), std::make_shared<RecordingWorkspace>(),
                ClientIdentity{
                    QStringLiteral("CLIENT-ANA-HOME"),
                    UserIdentity{QStringLiteral("ana"), QStringLiteral("Ana Editor"), QStringLiteral("bay-home")}});
            team->setPollInterval(std::chrono::hours(1));
            const Service show = importInto(team, source);
            const QString workingCopy = checkOutItem(show);
            QVERIFY(workingCopy.startsWith(home + u'/'));
            writeFile(workingCopy + QStringLiteral("/project.drp"), "<project edited=\"at home\"/>");
            syncWait(show->checkIn(QStringLiteral("Edited at home"), defaultS3Factory()));
            QThreadPool::globalInstance()->waitForDone(); // the working copy's removal

            const auto exported = exportedTree(show, std::nullopt, studio.scratch(QStringLiteral("export")));
            // smbnetfs shows every file as executable: only the contents are compared.
            QVERIFY(exported.value(QStringLiteral("project.drp")).startsWith("<project edited=\"at home\"/>"));
            QCOMPARE(exported.size(), describeTree(source).size());
        }
    }
};

QTEST_GUILESS_MAIN(SmbShareTest)
#include "smb_share_test.moc"
