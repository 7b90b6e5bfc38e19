#include "engine/document_type.h"
#include "engine/engine_errors.h"
#include "engine/journal/journal.h"
#include "engine/storage/storage_error.h"
#include "engine/team_bundle.h"
#include "support/engine_test_support.h"
#include "support/service_steps.h"
#include "support/sync_wait.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <cerrno>
#include <sys/stat.h>

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
    // is being saved: before its trees are read back (the contents went to the other copy), just
    // before its record is written (the record lands in the older copy, without its contents),
    // or just after (the record went to the other copy). None is reported as saved, no working
    // copy goes, no client takes a version whose contents are missing for current, and trying
    // again with the older copy in place saves the edit whole.
    void aBundleReplacedUnderAChangeFailsIt_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<bool>("retryInPlace");
        QTest::newRow("before the check") << int(TeamBundle::CommitStep::checking) << false;
        QTest::newRow("before the record") << int(TeamBundle::CommitStep::publishing) << true;
        QTest::newRow("after the record") << int(TeamBundle::CommitStep::published) << true;
    }
    void aBundleReplacedUnderAChangeFailsIt()
    {
        QFETCH(int, step);
        QFETCH(bool, retryInPlace);
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
            return [&, step](TeamBundle::CommitStep now) {
                if (int(now) != step || std::exchange(done, true))
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
        const auto exported = [&](const Service& service, const QString& folder) {
            return contentOf(
                syncWait(service->exportVersion(std::nullopt, fixture.scratch(folder), defaultS3Factory())));
        };
        // What every client shows as current is what the bundle holds.
        QCOMPARE(exported(cut, QStringLiteral("ana-before")), QByteArray("first"));
        QCOMPARE(exported(reopenAs(fixture.client(QStringLiteral("cy")), cut), QStringLiteral("cy")),
                 QByteArray("first"));
        if (!retryInPlace) {
            // Back on the copy that holds the contents.
            QDir(fixture.root()).removeRecursively();
            move(away, fixture.root());
        }
        syncWait(cut->checkIn(QStringLiteral("edit"), defaultS3Factory()));
        QVERIFY(!QFileInfo::exists(workingCopy));
        QCOMPARE(exported(cut, QStringLiteral("out")), QByteArray("second"));
        const auto bensCut = reopenAs(fixture.client(QStringLiteral("ben")), cut);
        QCOMPARE(exported(bensCut, QStringLiteral("ben")), QByteArray("second"));

        // The same for an import, into the copy that is there now.
        copyFolder(fixture.root(), older);
        replaced = false;
        QVERIFY_THROWS_EXCEPTION(TeamBundleError, importText(fixture, ana, QStringLiteral("Reel.kdenlive"), "reel"));
        QVERIFY(replaced);
        ana->setCommitObserverForTesting({});
        const auto dee = fixture.client(QStringLiteral("dee"));
        for (const auto& state : std::as_const(dee->snapshot()->bundles))
            QVERIFY(state->name != QStringLiteral("Reel"));
    }

    // The share goes away right after a change's record is published: the change is done, and
    // said so; it is read back once the share is there again, and a problem is reported only
    // when the bundle that came back lacks it.
    void aChangePublishedBeforeTheShareWentIsDone_data()
    {
        QTest::addColumn<bool>("comesBackOlder");
        QTest::newRow("the same bundle") << false;
        QTest::newRow("an older copy") << true;
    }
    void aChangePublishedBeforeTheShareWentIsDone()
    {
        QFETCH(bool, comesBackOlder);
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        importText(fixture, ana, QStringLiteral("Cut.kdenlive"), "first");
        const QString older = fixture.scratch(QStringLiteral("backup")) + QStringLiteral("/Studio.vantrelteam");
        copyFolder(fixture.root(), older);
        const QString away = fixture.root() + QStringLiteral(".away");
        bool gone = false;
        ana->setCommitObserverForTesting([&](TeamBundle::CommitStep now) {
            if (now == TeamBundle::CommitStep::published && !std::exchange(gone, true))
                QDir().rename(fixture.root(), away);
        });
        const auto reel = importText(fixture, ana, QStringLiteral("Reel.kdenlive"), "reel");
        ana->setCommitObserverForTesting({});
        QVERIFY(gone);
        QVERIFY(ana->snapshot()->find(reel->id()));
        ana->poll();
        QVERIFY(!ana->isReachable());
        QVERIFY(ana->problems().isEmpty());

        move(comesBackOlder ? older : away, fixture.root());
        ana->poll();
        QVERIFY(ana->isReachable());
        QCOMPARE(ana->problems().size(), comesBackOlder ? 1 : 0);
        if (comesBackOlder)
            QVERIFY2(ana->problems().constFirst().contains(ana->clientId()), qPrintable(ana->problems().constFirst()));
        else
            QVERIFY(fixture.client(QStringLiteral("ben"))->snapshot()->find(reel->id()));
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

    // A record that fails to read because the share went away in the middle of a poll holds the
    // client's later records back, unreported, until the next poll reads it. One whose failure
    // comes from what the file is (a device answers ENXIO, a FIFO put in its place) is damage,
    // reported and passed over at once.
    void aRecordCutOffByTheShareIsReadAtTheNextPoll()
    {
        TeamFixture fixture;
        const QString journal = fixture.root() + QStringLiteral("/journal");
        Journal writer(journal, QStringLiteral("CLIENT-ANA")), reader(journal, QStringLiteral("CLIENT-BEN"));
        const auto write = [&] {
            writer.append({JournalChange{IdFor<VersionBundle>::make(),
                                         RecordKind::create,
                                         {{QStringLiteral("type"), DocumentType::collection().toJson()},
                                          {QStringLiteral("name"), QStringLiteral("Reel")}}}},
                          UserIdentity::current());
        };
        const auto path = [&](qint64 seq) { return recordPath(journal, writer.writerId(), seq); };
        QStringList problems;
        write();
        QCOMPARE(reader.readAll(problems).size(), std::size_t(1));
        for (int i = 2; i <= 5; ++i)
            write();
        QVERIFY(QFile::remove(path(5)) && ::mkfifo(QFile::encodeName(path(5)).constData(), 0644) == 0);
        QHash<QString, int> faults{{path(2), EIO}, {path(4), ENXIO}}; // each once
        reader.setReadFaultForTesting([&](const QString& file) { return faults.take(file); });

        QCOMPARE(reader.readNew(problems).size(), std::size_t(0));
        QCOMPARE(problems, QStringList());
        QCOMPARE(reader.recordState(writer.writerId(), 2), RecordState::notYet);
        const auto read = reader.readNew(problems);
        QVERIFY(read.size() == 2 && read[0].stamp.seq == 2 && read[1].stamp.seq == 3);
        QCOMPARE(problems.size(), 2);
        QVERIFY2(problems[0].startsWith(path(4)) && problems[1].startsWith(path(5)), qPrintable(problems.join(u' ')));
        for (qint64 seq : {4, 5})
            QCOMPARE(reader.recordState(writer.writerId(), seq), RecordState::damaged);
    }
};

QTEST_GUILESS_MAIN(BundleReachabilityTest)
#include "bundle_reachability_test.moc"
