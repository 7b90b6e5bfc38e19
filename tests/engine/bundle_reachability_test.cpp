#include "engine/engine_errors.h"
#include "engine/storage/storage_error.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

void move(const QString& from, const QString& to)
{
    QVERIFY2(QDir().rename(from, to), qPrintable(from));
}

// The whole team bundle as it is now, for putting back later as an "older copy".
void copyFolder(const QString& from, const QString& to)
{
    QCOMPARE(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), from, to}), 0);
}

Service importText(const TeamFixture& fixture, const std::shared_ptr<TeamBundle>& team, const QString& name,
                   const QByteArray& content)
{
    const QString source = fixture.scratch(name) + QLatin1Char('/') + name;
    writeFile(source, content);
    return importInto(team, source);
}

} // namespace

class BundleReachabilityTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // The share is switched to an older copy of the team bundle while a check-in or an import
    // is being saved: just before its record is written (the contents went to the other copy),
    // or just after (the record did). Neither is reported as saved, and no working copy goes.
    void aBundleReplacedUnderAChangeFailsIt_data()
    {
        QTest::addColumn<bool>("afterPublishing");
        QTest::newRow("before the record") << false;
        QTest::newRow("after the record") << true;
    }
    void aBundleReplacedUnderAChangeFailsIt()
    {
        QFETCH(bool, afterPublishing);
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto cut = importText(fixture, ana, QStringLiteral("Cut.kdenlive"), "first");
        const QString workingCopy = checkOutItem(cut);
        const QString older = fixture.scratch(QStringLiteral("backup")) + QStringLiteral("/Studio.vantrelteam");
        copyFolder(fixture.root(), older);
        writeFile(workingCopy, "second");

        const QString away = fixture.root() + QStringLiteral(".away");
        // On the thread of the commit: no test macros there.
        const auto replaceOnce = [&](bool& done) {
            return [&, afterPublishing](bool published) {
                if (published != afterPublishing || std::exchange(done, true))
                    return;
                QDir(away).removeRecursively();
                QDir().rename(fixture.root(), away);
                QDir().rename(older, fixture.root());
            };
        };
        bool replaced = false;
        ana->setCommitObserverForTesting(replaceOnce(replaced));
        try {
            syncWait(cut->checkIn(QStringLiteral("edit"), defaultS3Factory()));
            QFAIL("a check-in into a replaced team bundle was reported as saved");
        } catch (const TeamBundleError& error) {
            QCOMPARE(error.kind(), TeamBundleError::Case::replacedUnderChange);
        }
        QVERIFY(replaced);
        QCOMPARE(contentOf(workingCopy), QByteArray("second"));
        QVERIFY(ana->checkouts().find(cut->id()));
        if (!afterPublishing) {
            // Back on the copy that holds the contents: the check-in can be made again.
            QDir(fixture.root()).removeRecursively();
            move(away, fixture.root());
            syncWait(cut->checkIn(QStringLiteral("edit"), defaultS3Factory()));
            QVERIFY(!QFileInfo::exists(workingCopy));
            QCOMPARE(contentOf(syncWait(
                         cut->exportVersion(std::nullopt, fixture.scratch(QStringLiteral("out")), defaultS3Factory()))),
                     QByteArray("second"));
            const auto bensCut = reopenAs(fixture.client(QStringLiteral("ben")), cut);
            QCOMPARE(contentOf(syncWait(bensCut->exportVersion(std::nullopt, fixture.scratch(QStringLiteral("ben")),
                                                               defaultS3Factory()))),
                     QByteArray("second"));
        }

        // The same for an import, into the copy that is there now.
        copyFolder(fixture.root(), older);
        replaced = false;
        QVERIFY_THROWS_EXCEPTION(TeamBundleError, importText(fixture, ana, QStringLiteral("Reel.kdenlive"), "reel"));
        ana->setCommitObserverForTesting({});
    }

    // Gone while it is open (the share unmounted, the folder moved away): changes fail and
    // nothing of the bundle is made again on the local disk; the poll says so, and says when
    // it is back.
    void aVanishedBundleIsNeitherWrittenNorMadeAgain()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto cut = importText(fixture, ana, QStringLiteral("Cut.kdenlive"), "first");
        QList<bool> reachability;
        const auto subscription = ana->reachabilityChanges().sink([&](bool reachable) { reachability << reachable; });
        ana->poll();
        QVERIFY(ana->isReachable());

        const QString away = fixture.root() + QStringLiteral(".away");
        move(fixture.root(), away);
        QVERIFY_THROWS_EXCEPTION(TeamBundleError, importText(fixture, ana, QStringLiteral("Reel.kdenlive"), "reel"));
        QVERIFY(!QFileInfo::exists(fixture.root()));
        // An empty folder where the share was mounted.
        QVERIFY(QDir().mkdir(fixture.root()));
        QVERIFY_THROWS_EXCEPTION(Error, importText(fixture, ana, QStringLiteral("Reel.kdenlive"), "reel"));
        QVERIFY_THROWS_EXCEPTION(Error, checkOutItem(cut));
        QCOMPARE(QDir(fixture.root()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        ana->poll();
        QVERIFY(!ana->isReachable());

        QVERIFY(QDir().rmdir(fixture.root()));
        move(away, fixture.root());
        ana->poll();
        QVERIFY(ana->isReachable());
        QCOMPARE(reachability, (QList<bool>{false, true}));
        importText(fixture, ana, QStringLiteral("Reel.kdenlive"), "reel");
    }
};

QTEST_GUILESS_MAIN(BundleReachabilityTest)
#include "bundle_reachability_test.moc"
