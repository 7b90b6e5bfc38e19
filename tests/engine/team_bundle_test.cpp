#include "desktop/system_services.h"
#include "engine/engine_errors.h"
#include "engine/storage/storage_error.h"
#include "engine/version_bundles.h"
#include "engine/versioning_service.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Service = std::shared_ptr<VersioningService>;

Service makeCollection(const std::shared_ptr<TeamBundle>& team, const QString& name)
{
    return syncWait(VersioningService::createCollection(name, team, nullptr, nullptr));
}

Service import(const std::shared_ptr<TeamBundle>& team, const QString& source)
{
    return syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt, std::nullopt,
                                              std::nullopt, QStringLiteral("Initial Commit"),
                                              DocumentApplication::none(), team, nullptr, nullptr));
}

void nest(const Service& container, const Service& child)
{
    syncWait(container->addNestedVersionBundle(child, QString(), defaultS3Factory()));
}

QStringList names(const QList<VersionBundle::Summary>& summaries)
{
    QStringList result;
    for (const auto& summary : summaries)
        result << summary.name();
    return result;
}

QString exportTo(const Service& service, const QString& folder, std::optional<IdFor<Versions>> version = std::nullopt)
{
    return syncWait(service->exportVersion(version, folder, defaultS3Factory()));
}

void makeLibrary(const QString& path)
{
    writeFile(path + QStringLiteral("/Settings.plist"), "library settings");
    writeFile(path + QStringLiteral("/Motion Templates/title.moti"), "title");
    QDir().mkpath(path + QStringLiteral("/Empty Cache"));
    writeFile(path + QStringLiteral("/Day 1.videoevent/Info.plist"), "event one");
    writeFile(path + QStringLiteral("/Day 1.videoevent/Original Media/clip.mov"), QByteArray(100000, 'a'));
    writeFile(path + QStringLiteral("/Day 2.VideoEvent/Info.plist"), "event two");
    QFile::link(QStringLiteral("Day 1.videoevent/Info.plist"), path + QStringLiteral("/shortcut"));
}

} // namespace

class TeamBundleTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void openingRefusesWhatIsNotATeamBundle()
    {
        TeamFixture fixture;
        const auto fm = std::make_shared<SystemFileManager>(fixture.scratch(QStringLiteral("d")),
                                                            fixture.scratch(QStringLiteral("c")),
                                                            fixture.scratch(QStringLiteral("dl")));
        const auto ws = std::make_shared<RecordingWorkspace>();
        const auto expect = [&](const QString& path, TeamBundleError::Case which, bool create = false) {
            try {
                if (create)
                    TeamBundle::create(path, fm, ws);
                else
                    TeamBundle::open(path, fm, ws);
                QFAIL(qPrintable(QStringLiteral("no error for ") + path));
            } catch (const TeamBundleError& error) {
                QCOMPARE(error.kind(), which);
                QVERIFY(!error.localizedDescription().isEmpty());
            }
        };
        expect(fixture.scratch(QStringLiteral("plain")), TeamBundleError::Case::wrongExtension);
        expect(fixture.root() + QStringLiteral("x"), TeamBundleError::Case::wrongExtension);
        expect(fixture.scratch(QStringLiteral("x")) + QStringLiteral("/Missing.vantrelteam"),
               TeamBundleError::Case::missingFolder);
        expect(fixture.scratch(QStringLiteral("Empty.vantrelteam")), TeamBundleError::Case::notATeamBundle);
        expect(fixture.root(), TeamBundleError::Case::alreadyExists, true);

        const QString newer = fixture.scratch(QStringLiteral("Newer.vantrelteam"));
        writeFile(newer + QStringLiteral("/team.json"), R"({"format": 99, "id": "x"})");
        expect(newer, TeamBundleError::Case::newerFormat);
        // A bundle of the format that stored each version's tree as one list is not read.
        const QString older = fixture.scratch(QStringLiteral("Older.vantrelteam"));
        writeFile(older + QStringLiteral("/team.json"),
                  R"({"format": 1, "id": "3f2504e0-4f89-41d3-9a0c-0305e82c3301"})");
        expect(older, TeamBundleError::Case::olderFormat);
        const QString damaged = fixture.scratch(QStringLiteral("Damaged.vantrelteam"));
        writeFile(damaged + QStringLiteral("/team.json"), "{not json");
        expect(damaged, TeamBundleError::Case::unreadable);

        const auto team = fixture.client(QStringLiteral("ana"));
        QCOMPARE(team->name(), QStringLiteral("Studio"));
        QVERIFY(team->versionBundles().liveIndex().all.isEmpty());
    }

    // What an earlier run of a client left half-written goes when it opens the bundle again; a
    // teammate's stays (for a day).
    void aClientRemovesItsOwnLeftoversAtOpenAndAtThePoll()
    {
        TeamFixture fixture;
        const QString tmp = fixture.root() + QStringLiteral("/objects/tmp/");
        const QString earlierRun = QStringLiteral(".0123456789abcdef.0123456789abcdef");
        writeFile(tmp + QStringLiteral("CLIENT-ANA") + earlierRun, "partial");
        writeFile(tmp + QStringLiteral("CLIENT-BEN") + earlierRun, "partial");
        const auto ana = fixture.client(QStringLiteral("ana"));
        QCOMPARE(entriesIn(tmp), QStringList{QStringLiteral("CLIENT-BEN") + earlierRun});

        // One its process could not remove, the store's folder being away, goes at the next poll.
        auto cutOff = std::make_unique<ContentStore::Batch>(ana->contents());
        const QString shard = QFileInfo(ana->contents().pathFor(hashBytes("half a clip"))).path();
        cutOff->storeBytes("half a clip");
        QVERIFY(QDir().rename(shard, shard + QStringLiteral("-away")));
        cutOff.reset();
        QVERIFY(QDir().rename(shard + QStringLiteral("-away"), shard));
        QCOMPARE(entriesIn(shard).size(), 1);
        ana->poll();
        QCOMPARE(entriesIn(shard), QStringList());
        QCOMPARE(entriesIn(tmp), QStringList{QStringLiteral("CLIENT-BEN") + earlierRun});
    }

    void filesAndPackagesComeBackByteForByte()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        const QString sources = fixture.scratch(QStringLiteral("sources"));

        writeFile(sources + QStringLiteral("/Cut.kdenlive"), "<mlt version=\"7.22.0\"/>");
        const auto file = import(team, sources + QStringLiteral("/Cut.kdenlive"));
        QCOMPARE(file->name(), QStringLiteral("Cut"));
        const QString exported = exportTo(file, fixture.scratch(QStringLiteral("out")));
        QCOMPARE(QFileInfo(exported).fileName(), QStringLiteral("Cut.kdenlive"));
        QCOMPARE(describeTree(QFileInfo(exported).path()).value(QStringLiteral("Cut.kdenlive")),
                 QByteArray("<mlt version=\"7.22.0\"/>"));
        // Exporting again does not overwrite the first export.
        QCOMPARE(QFileInfo(exportTo(file, fixture.scratch(QStringLiteral("out")))).fileName(),
                 QStringLiteral("Cut 2.kdenlive"));

        const QString package = sources + QStringLiteral("/Session.ardour-session");
        writeFile(package + QStringLiteral("/session.ardour"), "session");
        writeFile(package + QStringLiteral("/interchange/audio/take.wav"), QByteArray(70000, 'w'));
        writeFile(package + QStringLiteral("/run.sh"), "#!/bin/sh\n");
        QFile::setPermissions(package + QStringLiteral("/run.sh"),
                              QFile::permissions(package + QStringLiteral("/run.sh")) | QFile::ExeOwner);
        QDir().mkpath(package + QStringLiteral("/plugins/empty"));
        writeFile(fixture.scratch(QStringLiteral("outside")) + QStringLiteral("/secret.txt"), "not for the share");
        QFile::link(fixture.scratch(QStringLiteral("outside")) + QStringLiteral("/secret.txt"),
                    package + QStringLiteral("/outside-link"));
        QFile::link(QStringLiteral("session.ardour"), package + QStringLiteral("/inside-link"));

        const auto session = import(team, package);
        const QString copy = exportTo(session, fixture.scratch(QStringLiteral("out2")));
        QCOMPARE(describeTree(copy), describeTree(package));
        QVERIFY(QFileInfo(copy + QStringLiteral("/outside-link")).isSymLink());
        QVERIFY(!team->contents().contains(hashBytes("not for the share")));
    }

    void libraryIsSplitIntoEventsAndPutBackTogether()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        const QString library = fixture.scratch(QStringLiteral("src")) + QStringLiteral("/Feature.videolibrary");
        makeLibrary(library);

        const auto imported = import(team, library);
        QCOMPARE(imported->type(), VersioningServiceType::library);
        const auto events = syncWait(imported->latestNestedVersioningServices(defaultS3Factory()));
        QCOMPARE(events.size(), std::size_t(2));
        QCOMPARE(events[0]->name(), QStringLiteral("Day 1"));
        QCOMPARE(events[1]->name(), QStringLiteral("Day 2"));
        QCOMPARE(events[0]->type(), VersioningServiceType::event);
        QCOMPARE(names(team->versionBundles().liveIndex().events),
                 (QStringList{QStringLiteral("Day 1"), QStringLiteral("Day 2")}));
        QCOMPARE(names(team->versionBundles().liveIndex().documents), QStringList{QStringLiteral("Feature")});

        const QString exported = exportTo(imported, fixture.scratch(QStringLiteral("out")));
        QCOMPARE(describeTree(exported), describeTree(library));

        // A renamed event comes back under its new, safe name.
        syncWait(events[1]->rename(QStringLiteral("Day 2/Reshoot")));
        const auto tree = describeTree(exportTo(imported, fixture.scratch(QStringLiteral("out3"))));
        QVERIFY(tree.contains(QStringLiteral("Day 2_Reshoot.videoevent/Info.plist")));
        QVERIFY(!tree.contains(QStringLiteral("Day 2.VideoEvent")));
    }

    void changesReachOtherClients()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));

        QList<TeamBundleChange> seenByBen;
        auto subscription = ben->changes().sink([&](const TeamBundleChange& change) { seenByBen << change; });
        const auto drafts = makeCollection(ana, QStringLiteral("Drafts"));
        QVERIFY(ben->versionBundles().liveIndex().collections.isEmpty());
        ben->poll();
        QCOMPARE(names(ben->versionBundles().liveIndex().collections), QStringList{QStringLiteral("Drafts")});
        QCOMPARE(seenByBen.size(), 1);
        QVERIFY(seenByBen[0].bundles.contains(drafts->id()));

        const auto bensView =
            syncWait(VersioningService::open(VersioningServiceType::collection, drafts->id(), std::nullopt,
                                             std::nullopt, ben, nullptr, nullptr, defaultS3Factory()));
        int renamesSeenByAna = 0;
        auto anaWatch = drafts->remoteDatabaseChanges().sink([&](const RemoteDatabaseChange&) { ++renamesSeenByAna; });
        syncWait(bensView->rename(QStringLiteral("Final")));
        QCOMPARE(drafts->name(), QStringLiteral("Drafts"));
        ana->poll();
        QCOMPARE(drafts->name(), QStringLiteral("Final"));
        QCOMPARE(renamesSeenByAna, 1);

        // A rename made here is published here too.
        syncWait(drafts->rename(QStringLiteral("Final 2")));
        QCOMPARE(renamesSeenByAna, 2);

        // A client opened later reads everything that came before.
        QCOMPARE(names(fixture.client(QStringLiteral("cleo"))->versionBundles().liveIndex().collections),
                 QStringList{QStringLiteral("Final 2")});
    }

    void concurrentRenamesSettleTheSameWayEverywhere()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto anaDrafts = makeCollection(ana, QStringLiteral("Drafts"));
        ben->poll();
        const auto benDrafts =
            syncWait(VersioningService::open(VersioningServiceType::collection, anaDrafts->id(), std::nullopt,
                                             std::nullopt, ben, nullptr, nullptr, defaultS3Factory()));
        syncWait(anaDrafts->rename(QStringLiteral("From Ana")));
        syncWait(benDrafts->rename(QStringLiteral("From Ben")));
        ana->poll();
        ben->poll();
        QCOMPARE(anaDrafts->name(), benDrafts->name());
    }

    void nestedInSeveralContainersRemoveThenTrash()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        const auto promos = makeCollection(team, QStringLiteral("Promos"));
        const auto trailers = makeCollection(team, QStringLiteral("Trailers"));
        writeFile(fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Teaser.kdenlive"), "teaser");
        const auto teaser = import(team, fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Teaser.kdenlive"));
        nest(promos, teaser);
        nest(trailers, teaser);
        QCOMPARE(teaser->visibleActiveContainers().size(), 2);

        syncWait(teaser->removeOrDelete(promos, defaultS3Factory())); // still used in Trailers: removed
        QCOMPARE(teaser->visibleActiveContainers().size(), 1);
        QCOMPARE(syncWait(promos->latestNestedVersioningServices(defaultS3Factory())).size(), std::size_t(0));
        QVERIFY(team->versionBundles().trashIndex().all.isEmpty());

        syncWait(teaser->removeOrDelete(trailers, defaultS3Factory())); // last container: trashed
        const auto trash = team->versionBundles().trashIndex();
        QCOMPARE(names(trash.documents), QStringList{QStringLiteral("Teaser")});
        QVERIFY(trash.documents[0].activeContainers.isEmpty());
        QVERIFY(!team->versionBundles().liveIndex().summary(teaser->id()));

        nest(promos, teaser); // adding a trashed document takes it out of the trash
        QVERIFY(team->versionBundles().trashIndex().all.isEmpty());
        QCOMPARE(names(team->versionBundles().liveIndex().documents), QStringList{QStringLiteral("Teaser")});
    }

    void trashedCollectionComesBackWithItsDocuments()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        const auto promos = makeCollection(team, QStringLiteral("Promos"));
        writeFile(fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Spot.kdenlive"), "spot");
        const auto spot = import(team, fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Spot.kdenlive"));
        nest(promos, spot);

        syncWait(promos->removeOrDelete(nullptr, defaultS3Factory()));
        QVERIFY(team->versionBundles().liveIndex().collections.isEmpty());
        const auto trashed = team->versionBundles().trashIndex().summary(promos->id());
        QVERIFY(trashed && trashed->isTrashed());
        // The document is still in its (trashed) collection, but in no visible one.
        const auto spotSummary = team->versionBundles().liveIndex().summary(spot->id());
        QVERIFY(spotSummary);
        QCOMPARE(spotSummary->activeContainers.size(), 1);
        QVERIFY(spotSummary->activeContainersExcludingTrash.isEmpty());

        syncWait(team->versionBundles().restore(*trashed));
        QCOMPARE(names(team->versionBundles().liveIndex().collections), QStringList{QStringLiteral("Promos")});
        QCOMPARE(syncWait(promos->latestNestedVersioningServices(defaultS3Factory())).size(), std::size_t(1));

        QVERIFY_THROWS_EXCEPTION(VersioningError, syncWait(team->versionBundles().deletePermanently(
                                                      *team->versionBundles().liveIndex().summary(promos->id()))));
        syncWait(promos->removeOrDelete(nullptr, defaultS3Factory()));
        syncWait(team->versionBundles().deletePermanently(*team->versionBundles().trashIndex().summary(promos->id())));
        QVERIFY(team->versionBundles().trashIndex().all.isEmpty());
        QVERIFY_THROWS_EXCEPTION(VersioningError, promos->name());
        QVERIFY(team->versionBundles().liveIndex().summary(spot->id())->activeContainers.isEmpty());
    }

    void revertBringsBackTheOldBytes()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        const QString source = fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Edit.kdenlive");
        writeFile(source, "first cut");
        const auto edit = import(team, source);
        const auto first = *edit->currentVersionID();
        writeFile(source, "second cut, longer");
        const auto second = syncWait(edit->storeVersion(source, QStringLiteral("Tightened"), VersionOrigin::checkedIn));
        QCOMPARE(*edit->currentVersionID(), second);

        syncWait(edit->revertVersionBundle(first, defaultS3Factory()));
        QCOMPARE(edit->versionIDs().size(), 3);
        QCOMPARE(describeTree(fixture.scratch(QStringLiteral("s"))).value(QStringLiteral("Edit.kdenlive")),
                 QByteArray("second cut, longer"));
        const QString exported = exportTo(edit, fixture.scratch(QStringLiteral("o")));
        QCOMPARE(describeTree(QFileInfo(exported).path()).value(QFileInfo(exported).fileName()),
                 QByteArray("first cut"));
        // Any older version can still be exported.
        const QString older = exportTo(edit, fixture.scratch(QStringLiteral("o2")), second);
        QCOMPARE(describeTree(QFileInfo(older).path()).value(QFileInfo(older).fileName()),
                 QByteArray("second cut, longer"));
        QVERIFY_THROWS_EXCEPTION(VersioningError,
                                 syncWait(edit->revertVersionBundle(IdFor<Versions>::make(), defaultS3Factory())));
    }

    void nestingRulesAreChecked()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        const auto promos = makeCollection(team, QStringLiteral("Promos"));
        const auto other = makeCollection(team, QStringLiteral("Other"));
        const auto event = syncWait(VersioningService::createEvent(QStringLiteral("Day 3"), team, nullptr, nullptr));
        const auto library =
            syncWait(VersioningService::createLibrary(QStringLiteral("Empty"), team, nullptr, nullptr));
        QVERIFY_THROWS_EXCEPTION(TurfNestingError, nest(promos, other));
        QVERIFY_THROWS_EXCEPTION(TurfNestingError, nest(promos, event));
        nest(promos, library);
        nest(library, event);
        QVERIFY(library->canCreateFCPEvent());
        QVERIFY(!promos->canCreateFCPEvent());
        const QString exported = exportTo(library, fixture.scratch(QStringLiteral("o")));
        QCOMPARE(describeTree(exported).keys(), (QStringList{QStringLiteral("Day 3.videoevent")}));
        QVERIFY_THROWS_EXCEPTION(
            VersioningError, syncWait(VersioningService::createEvent(QStringLiteral("  "), team, nullptr, nullptr)));
    }

    void badInputLeavesNoTrace()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        QVERIFY_THROWS_EXCEPTION(StorageError,
                                 import(team, fixture.scratch(QStringLiteral("s")) + QStringLiteral("/Gone.kdenlive")));
        QVERIFY(team->versionBundles().liveIndex().all.isEmpty());

        // Names are data: stored as given, made safe only where they become file names.
        for (const QString& name :
             {QStringLiteral("a/b"), QStringLiteral(".."), QStringLiteral("%@ %d %1"), QStringLiteral("tab\there\n")}) {
            const auto collection = makeCollection(team, name);
            QCOMPARE(collection->name(), name);
            const QString exported = exportTo(collection, fixture.scratch(QStringLiteral("names")));
            QCOMPARE(QFileInfo(exported).path(), fixture.scratch(QStringLiteral("names")));
            QVERIFY(!QFileInfo(exported).fileName().contains(u'/'));
        }
    }

    void permanentDeletionFreesOnlyWhatNothingElseUses()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        const QString sources = fixture.scratch(QStringLiteral("s"));
        writeFile(sources + QStringLiteral("/Keep.kdenlive"), "shared bytes");
        writeFile(sources + QStringLiteral("/Drop.kdenlive"), "shared bytes");
        writeFile(sources + QStringLiteral("/Unique.kdenlive"), "only here");
        const auto keep = import(team, sources + QStringLiteral("/Keep.kdenlive"));
        const auto drop = import(team, sources + QStringLiteral("/Drop.kdenlive"));
        const auto unique = import(team, sources + QStringLiteral("/Unique.kdenlive"));
        syncWait(unique->removeOrDelete(nullptr, defaultS3Factory()));
        syncWait(drop->removeOrDelete(nullptr, defaultS3Factory()));
        for (const auto& summary : team->versionBundles().trashIndex().all)
            syncWait(team->versionBundles().deletePermanently(summary));

        QVERIFY(team->contents().contains(hashBytes("only here"))); // still within the grace period
        QVERIFY(team->collectGarbage(std::chrono::seconds(0)) > 0);
        QVERIFY(!team->contents().contains(hashBytes("only here")));
        QVERIFY(team->contents().contains(hashBytes("shared bytes")));
        const QString exported = exportTo(keep, fixture.scratch(QStringLiteral("o")));
        QCOMPARE(describeTree(QFileInfo(exported).path()).value(QStringLiteral("Keep.kdenlive")),
                 QByteArray("shared bytes"));
    }

    void damagedRecordIsReportedAndTheRestStaysUsable()
    {
        TeamFixture fixture;
        const auto team = fixture.client(QStringLiteral("ana"));
        makeCollection(team, QStringLiteral("Kept"));
        const QString damaged = fixture.root() + QStringLiteral("/journal/CLIENT-ZED/000000000001.json");
        writeFile(damaged, "{\"lamport\": 1, \"client\":");
        writeFile(fixture.root() + QStringLiteral("/journal/CLIENT-ZED/head"), "1");

        // Just written: it may still be on its way, so it is read again later, not reported.
        const auto early = fixture.client(QStringLiteral("ben"));
        QVERIFY(early->problems().isEmpty());

        QFile file(damaged);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-600), QFileDevice::FileModificationTime));
        file.close();
        const auto reader = fixture.client(QStringLiteral("cleo"));
        QCOMPARE(names(reader->versionBundles().liveIndex().collections), QStringList{QStringLiteral("Kept")});
        QCOMPARE(reader->problems().size(), 1);
        QVERIFY(reader->problems()[0].contains(QStringLiteral("000000000001.json")));
    }
};

QTEST_GUILESS_MAIN(TeamBundleTest)
#include "team_bundle_test.moc"
