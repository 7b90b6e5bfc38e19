// The item models over a real engine: team bundles in temporary folders, several clients on one
// bundle, and a service that fails on request where a failure of the share must be injected.

#include "engine/engine_errors.h"
#include "engine/version_bundles.h"
#include "model/collections.h"
#include "model/container_operations.h"
#include "model/support/item_test_support.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// What a creative application would report, over a real service's versions.
class AwareItem final : public AppVersionAware {
public:
    AwareItem(Service service, DocumentApplication application)
        : m_service(std::move(service)),
          m_application(std::move(application))
    {
    }
    DocumentApplication application() const override { return m_application; }
    const Service& versioningService() const override { return m_service; }

private:
    Service m_service;
    DocumentApplication m_application;
};

DocumentApplication installed(std::optional<QString> version)
{
    auto application = DocumentApplication::empty(DocumentType::kdenliveProject());
    application.installed = InstalledApplication{QStringLiteral("Kdenlive"), std::move(version),
                                                 QStringLiteral("org.kde.kdenlive.desktop")};
    return application;
}

void checkOut(const Service& service, QList<IdFor<VersionBundle>> events = {},
              LockTakeover takeover = LockTakeover::none)
{
    syncWait(service->checkOut(std::move(events), {.takeover = takeover, .autoSave = false}, &s3Factory));
}

// The document imported from a new project file `fileName` into `collection`.
std::shared_ptr<Document> importProject(const TeamFixture& fixture, const std::shared_ptr<Collection>& collection,
                                        const QString& fileName)
{
    syncWait(collection->createNestedItem(writeProject(fixture, fileName, fileName)));
    return findDocument(collection, QFileInfo(fileName).completeBaseName());
}

// Lets queued change handlers run, and the engine work they wait for end.
void settle()
{
    QTest::qWait(150);
}

} // namespace

class ItemModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // What a window does: open a team bundle, list it, and see another client's work arrive.
    void aTeamBundleAsModelsKeepsItselfCurrent()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        auto dailies = newCollection(ben, QStringLiteral("Dailies"));
        newCollection(ben, QStringLiteral("Archive"));
        syncWait(dailies->createNestedItem(writeLibrary(fixture, QStringLiteral("l"), QStringLiteral("Show"),
                                                        {QStringLiteral("Day 2"), QStringLiteral("Day 1")})));
        syncWait(dailies->createNestedItem(writeProject(fixture, QStringLiteral("p"), QStringLiteral("Cut.kdenlive"))));

        ana->poll();
        ana->setPollInterval(std::chrono::milliseconds(20));
        Collections collections(ana);
        syncWait(collections.reload());
        QCOMPARE(namesOf(collections.all()), (QStringList{QStringLiteral("Archive"), QStringLiteral("Dailies")}));
        QVERIFY(collections.lastChangeAnimated());
        const auto anasDailies = collections.all().at(1);
        QVERIFY(anasDailies->isLoadingNestedItems());
        syncWait(loadAllNestedItems(anasDailies));
        QVERIFY(!anasDailies->isLoadingNestedItems());
        QCOMPARE(namesOf(anasDailies->nestedItems()), (QStringList{QStringLiteral("Cut"), QStringLiteral("Show")}));
        const auto show = findDocument(anasDailies, QStringLiteral("Show"));
        QCOMPARE(namesOf(show->nestedItems()), (QStringList{QStringLiteral("Day 1"), QStringLiteral("Day 2")}));
        QCOMPARE(show->nestedItems().at(0)->containerID(), std::optional(show->id()));
        QVERIFY(!show->isLoadingNestedItems());
        const auto cut = findDocument(anasDailies, QStringLiteral("Cut"));
        QVERIFY(!cut->isLoadingNestedItems()); // its type holds nothing: done without asking the engine
        QCOMPARE(cut->containerID(), std::optional(anasDailies->id()));

        // Ben adds a document and renames another; Ana's models follow by themselves.
        syncWait(
            dailies->createNestedItem(writeProject(fixture, QStringLiteral("q"), QStringLiteral("Trailer.kdenlive"))));
        const auto bensCut = findDocument(dailies, QStringLiteral("Cut"));
        syncWait(bensCut->rename(QStringLiteral("Final Cut")));
        QTRY_COMPARE(namesOf(anasDailies->nestedItems()),
                     (QStringList{QStringLiteral("Final Cut"), QStringLiteral("Show"), QStringLiteral("Trailer")}));
        QTRY_COMPARE(cut->name(), QStringLiteral("Final Cut"));

        // And the lock Ben takes shows on Ana's library and its events.
        const auto bensShow = findDocument(dailies, QStringLiteral("Show"));
        syncWait(bensShow->loadNestedEvents());
        QList<IdFor<VersionBundle>> events;
        for (const auto& event : bensShow->nestedItems())
            events << event->id();
        checkOut(bensShow->versioningService(), events);
        const auto anasShow = findDocument(anasDailies, QStringLiteral("Show"));
        QTRY_VERIFY(anasShow->isLocked());
        QCOMPARE(anasShow->lockedByUser(), QStringLiteral("ben Editor"));
        QCOMPARE(anasShow->lockedByHostName(), QStringLiteral("host-ben"));
        QVERIFY(!anasShow->allowsChanges());
        QTRY_VERIFY(!anasShow->nestedItems().isEmpty() && anasShow->nestedItems().at(0)->isLocked());
        QVERIFY(!anasShow->nestedItems().at(0)->lockedByCurrentInitiator());
    }

    void listsAreSortedByCodePointsAndKeepTheEngineOrderOfEqualNames()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        auto collection = newCollection(ana, QStringLiteral("Reels"));
        int folder = 0;
        for (const QString& name : {QStringLiteral("beta"), QStringLiteral("Alpha"), QStringLiteral("alpha"),
                                    QStringLiteral("Zeta"), QStringLiteral("beta")}) {
            syncWait(collection->createNestedItem(
                writeProject(fixture, QString::number(folder++), name + QStringLiteral(".kdenlive"), name.toUtf8())));
        }
        const auto firstBeta = collection->nestedItems().at(3)->id();
        QCOMPARE(namesOf(collection->nestedItems()),
                 (QStringList{QStringLiteral("Alpha"), QStringLiteral("Zeta"), QStringLiteral("alpha"),
                              QStringLiteral("beta"), QStringLiteral("beta")}));

        const auto before = collection->nestedItems();
        syncWait(collection->loadNestedItems());
        QCOMPARE(namesOf(collection->nestedItems()), namesOf(before));
        QCOMPARE(collection->nestedItems().at(3)->id(), firstBeta); // created first, listed first
        QCOMPARE(collection->nestedItems(), before);                // a load keeps the objects of what is still listed

        // A name written with a combining accent sorts as the precomposed one.
        QVERIFY(precedesByName(QStringLiteral("e\u0301a"), QStringLiteral("\u00e9b")));
        QVERIFY(!precedesByName(QStringLiteral("\u00e9"), QStringLiteral("e\u0301")));
        // Code points, not UTF-16 units: a character beyond the basic plane sorts after U+FFFD.
        QVERIFY(precedesByName(QStringLiteral("\ufffd"), QString::fromUcs4(U"\U0001F3AC")));

        Collections collections(ana);
        for (const QString& name : {QStringLiteral("beta"), QStringLiteral("alpha"), QStringLiteral("Alpha")})
            syncWait(collections.create(name));
        QCOMPARE(namesOf(collections.all()),
                 (QStringList{QStringLiteral("Alpha"), QStringLiteral("alpha"), QStringLiteral("beta")}));
        QVERIFY(!collections.lastChangeAnimated());
    }

    void aRemoteForceUnlockTellsTheDocumentWhoTookIt()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        auto collection = newCollection(ana, QStringLiteral("Reels"));
        syncWait(
            collection->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"))));
        syncWait(
            collection->createNestedItem(writeProject(fixture, QStringLiteral("b"), QStringLiteral("Promo.kdenlive"))));
        const auto cut = findDocument(collection, QStringLiteral("Cut"));
        const auto promo = findDocument(collection, QStringLiteral("Promo"));

        checkOut(cut->versioningService());
        syncWait(cut->refreshAfterCheckOut());
        QVERIFY(cut->isCheckedOut());
        QVERIFY(cut->lockedByCurrentInitiator());

        // Ben's lock on a document Ana never checked out changes nothing of that kind.
        checkOut(openAs(ben, VersioningServiceType::document, promo->id()), {}, LockTakeover::forceUnlock);
        checkOut(openAs(ben, VersioningServiceType::document, cut->id()), {}, LockTakeover::forceUnlock);
        ana->poll();
        QTRY_VERIFY(cut->invalidCheckoutState().has_value());
        QCOMPARE(*cut->invalidCheckoutState(), InvalidCheckoutState::forceUnlocked(QStringLiteral("ben Editor")));
        QVERIFY(!cut->isCheckedOut());
        QTRY_VERIFY(promo->isLocked());
        QVERIFY(!promo->invalidCheckoutState().has_value());

        // Later changes leave the explanation alone; only the interface clears it.
        syncWait(cut->rename(QStringLiteral("Cut 2")));
        QTRY_COMPARE(cut->name(), QStringLiteral("Cut 2"));
        QCOMPARE(*cut->invalidCheckoutState(), InvalidCheckoutState::forceUnlocked(QStringLiteral("ben Editor")));
        cut->setInvalidCheckoutState(std::nullopt);
        QVERIFY(!cut->invalidCheckoutState());
    }

    void aCheckOutLostWithoutAForceUnlockIsAMissedCheckOut()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        auto collection = newCollection(ana, QStringLiteral("Reels"));
        syncWait(
            collection->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"))));
        const auto cut = collection->nestedItems().at(0);
        checkOut(cut->versioningService());
        syncWait(cut->updateState());
        QVERIFY(cut->isCheckedOut());

        // The check-out is given up through another service, as another window would.
        syncWait(openAs(ana, VersioningServiceType::document, cut->id())->cancelCheckout(&s3Factory));
        QTRY_VERIFY(cut->invalidCheckoutState().has_value());
        QCOMPARE(*cut->invalidCheckoutState(), InvalidCheckoutState::missedCheckout());
        QVERIFY(!(InvalidCheckoutState::missedCheckout() == InvalidCheckoutState::forceUnlocked(QString())));
    }

    // A reload lists new objects of a document while an older one runs this program's locking
    // operations, and either may be the one shown: an explanation belongs to one check-out that
    // somebody else took, and ends with it on every object of the document.
    void anExplanationBelongsToOneCheckOutTakenAway()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        const auto collection = newCollection(ana, QStringLiteral("Reels"));
        const auto cut = importProject(fixture, collection, QStringLiteral("Cut.kdenlive"));
        const auto service = faulty(cut->versioningService());
        const auto shown = Document::create(service, collection->id());
        const auto noExplanation = [&] { return !cut->invalidCheckoutState() && !shown->invalidCheckoutState(); };

        // A refresh that began while the document was checked out and ends after this program
        // checked it in: nobody beat the user to anything.
        syncWait(cut->checkOut());
        syncWait(shown->updateState());
        QVERIFY(shown->isCheckedOut());
        service->holdApplication = true;
        const int reads = service->applicationReads;
        ana->announce({cut->id()});
        QTRY_VERIFY(service->applicationReads > reads); // the refresh waits
        syncWait(cut->checkIn());
        service->holdApplication = false;
        settle();
        QVERIFY(!shown->isCheckedOut());
        QVERIFY(noExplanation());

        // Ben takes the next check-out: every object explains it, until Ana takes it back.
        const auto takenByBen = [&] {
            checkOut(openAs(ben, VersioningServiceType::document, cut->id()), {}, LockTakeover::forceUnlock);
            ana->poll();
            QTRY_VERIFY(cut->invalidCheckoutState() && shown->invalidCheckoutState());
            QCOMPARE(*shown->invalidCheckoutState(), InvalidCheckoutState::forceUnlocked(QStringLiteral("ben Editor")));
        };
        syncWait(shown->checkOut());
        takenByBen();
        syncWait(cut->forceUnlock());
        QVERIFY(noExplanation());
        // Or until it is acknowledged on any of them.
        takenByBen();
        cut->acknowledgeInvalidCheckout();
        QVERIFY(noExplanation());
    }

    void aFailedLoadKeepsTheListItHad()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        auto collection = newCollection(ana, QStringLiteral("Reels"));
        syncWait(collection->createNestedItem(writeLibrary(fixture, QStringLiteral("l"), QStringLiteral("Show"),
                                                           {QStringLiteral("Day 1"), QStringLiteral("Day 2")})));
        const auto service = faulty(collection->nestedItems().at(0)->versioningService());
        const auto show = Document::create(service, collection->id());
        QVERIFY(show->isLoadingNestedItems());
        QCOMPARE(show->application(), DocumentApplication::empty(DocumentType::library()));
        QVERIFY(show->commitMessage().isEmpty());

        service->failLoad = true;
        QVERIFY_THROWS_EXCEPTION(VersioningError, syncWait(show->loadNestedEvents()));
        QVERIFY(!show->isLoadingNestedItems()); // cleared by a failed first load too
        QVERIFY(show->nestedItems().isEmpty());

        service->failLoad = false;
        syncWait(show->loadNestedEvents());
        const auto loaded = show->nestedItems();
        QCOMPARE(loaded.size(), 2);
        service->failLoad = true;
        QVERIFY_THROWS_EXCEPTION(VersioningError, syncWait(show->loadNestedItems()));
        QCOMPARE(show->nestedItems(), loaded);

        // A failing refresh in the change handler skips the reload of the events.
        service->failLockHolder = true;
        const int loads = service->loads;
        ana->announce({service->id()});
        settle();
        QCOMPARE(service->loads, loads);
    }

    // A load keeps the objects of the items still nested and lists new ones with their
    // applications read as a refresh of each would; a load that ends after a later one was shown
    // leaves that one, and neither leaves the container loading.
    void loadsKeepTheirObjectsAndNeverShowAnOlderList()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        auto reels = newCollection(ana, QStringLiteral("Reels"));
        syncWait(reels->createNestedItem(writeLibrary(fixture, QStringLiteral("l"), QStringLiteral("Show"),
                                                      {QStringLiteral("Day 1"), QStringLiteral("Day 2")})));
        syncWait(reels->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"))));
        Collections collections(ana);
        syncWait(collections.reload());
        const auto listed = collections.all().at(0);
        syncWait(listed->loadNestedItems());
        QCOMPARE(namesOf(listed->nestedItems()), namesOf(reels->nestedItems()));
        for (const auto& document : listed->nestedItems()) {
            const auto read = syncWait(document->versioningService()->documentApplication(&s3Factory));
            QTRY_COMPARE(document->application(), read);
        }

        const auto service = faulty(findDocument(reels, QStringLiteral("Show"))->versioningService());
        const auto show = Document::create(service, reels->id());
        syncWait(show->loadNestedEvents());
        const auto day1 = show->nestedItems().at(0);
        service->loadsToHold = 1;
        auto stale = show->loadNestedEvents(); // has read two events, and waits
        const QString day3 = fixture.scratch(QStringLiteral("e")) + QStringLiteral("/Day 3.videoevent");
        writeFile(day3 + QStringLiteral("/Info.plist"), "Day 3");
        syncWait(show->createNestedItem(day3));
        syncWait(show->loadNestedEvents());
        service->releaseLoads = true;
        syncWait(std::move(stale));
        QCOMPARE(namesOf(show->nestedItems()),
                 (QStringList{QStringLiteral("Day 1"), QStringLiteral("Day 2"), QStringLiteral("Day 3")}));
        QCOMPARE(show->nestedItems().at(0), day1);
        QVERIFY(!show->isLoadingNestedItems());
    }

    void aFailedLockHolderReadKeepsTheFlagsItAlreadyRead()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        auto collection = newCollection(ana, QStringLiteral("Reels"));
        syncWait(
            collection->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"))));
        const auto service = faulty(collection->nestedItems().at(0)->versioningService());
        const auto cut = Document::create(service, collection->id());
        const auto copy = Document::create(service, collection->id());
        QVERIFY(*cut == *copy);

        checkOut(openAs(ben, VersioningServiceType::document, cut->id()));
        ana->poll();
        service->failLockHolder = true;
        QVERIFY_THROWS_EXCEPTION(VersioningError, cut->updateLockState());
        QVERIFY(cut->isLocked());
        QVERIFY(!cut->allowsChanges());
        QCOMPARE(cut->lockedByUser(), QString());
        QCOMPARE(cut->lockedByHostName(), QString());

        service->failLockHolder = false;
        cut->updateLockState();
        QCOMPARE(cut->lockedByUser(), QStringLiteral("ben Editor"));
        copy->updateLockState();
        QVERIFY(*cut == *copy);
        copy->updateNameAndDate(); // the lock moved the modification date
        cut->updateNameAndDate();
        QVERIFY(*cut == *copy);
    }

    void eventsAskAboutTheLockOfTheirLibrary()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        auto collection = newCollection(ana, QStringLiteral("Reels"));
        syncWait(collection->createNestedItem(writeLibrary(fixture, QStringLiteral("l"), QStringLiteral("Show"),
                                                           {QStringLiteral("Day 1"), QStringLiteral("Day 2")})));
        const auto show = collection->nestedItems().at(0);
        syncWait(show->loadNestedEvents());
        const auto day1 = show->nestedItems().at(0);
        QCOMPARE(day1->initiatorID(), std::optional(show->id()));
        QCOMPARE(day1->application(), DocumentApplication::empty(DocumentType::event()));

        checkOut(show->versioningService(), {day1->id()});
        syncWait(show->refreshAfterCheckOut());
        QTRY_VERIFY(day1->isLocked());
        QTRY_VERIFY(day1->lockedByCurrentInitiator());
        QVERIFY(!show->nestedItems().at(1)->isLocked());

        // The same event loaded without its library never counts as locked by us, and the
        // engine is not asked.
        const auto service = faulty(day1->versioningService());
        const auto loose = Event::create(service, std::nullopt);
        QVERIFY(loose->isLocked());
        QVERIFY(loose->allowsChanges());
        QVERIFY(!loose->lockedByCurrentInitiator());
        syncWait(loose->refresh());
        QCOMPARE(service->initiatorQuestions, 0);
        QVERIFY(loose->isUsedInOtherContainers()); // without a container id every container counts

        // Equality: the same bundle, name, date, container and lock state are equal; another
        // holder is not.
        syncWait(show->versioningService()->cancelCheckout(&s3Factory));
        settle();
        const auto twin = Event::create(day1->versioningService(), show->id());
        const auto stale = Event::create(day1->versioningService(), show->id());
        QVERIFY(*twin == *stale);
        QVERIFY(!(*loose == *twin));
        checkOut(openAs(ben, VersioningServiceType::library, show->id()), {day1->id()});
        ana->poll();
        twin->updateLockState();
        QCOMPARE(twin->lockedByUser(), QStringLiteral("ben Editor"));
        QVERIFY(!(*twin == *stale));

        const auto day2 = show->nestedItems().at(1);
        QVERIFY(equalItems(QList{twin, day2}, QList{twin, day2}));
        QVERIFY(!equalItems(QList{twin, day2}, QList{twin}));
        QVERIFY(!equalItems(QList{twin, day2}, QList{day2, twin}));
    }

    void usedInOtherContainers()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        auto reels = newCollection(ana, QStringLiteral("Reels"));
        auto archive = newCollection(ana, QStringLiteral("Archive"));
        syncWait(reels->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"))));
        const auto cut = reels->nestedItems().at(0);
        QVERIFY(!cut->isUsedInOtherContainers());
        QCOMPARE(cut->usedInContainerNames(), QStringLiteral("Reels"));

        syncWait(archive->addExistingNestedItem(cut->id()));
        syncWait(reels->loadNestedItems());
        const auto reloaded = reels->nestedItems().at(0);
        QVERIFY(reloaded->isUsedInOtherContainers());
        QCOMPARE(reloaded->usedInContainerNames(), QStringLiteral("Archive, Reels"));
        QCOMPARE(archive->nestedItems().at(0)->containerID(), std::optional(archive->id()));
        QVERIFY(Document::create(cut->versioningService(), std::nullopt)->isUsedInOtherContainers());

        // An event kept by a reload of its library is in the containers it is in now.
        syncWait(reels->createNestedItem(
            writeLibrary(fixture, QStringLiteral("l1"), QStringLiteral("Lib One"), {QStringLiteral("Day 1")})));
        syncWait(reels->createNestedItem(
            writeLibrary(fixture, QStringLiteral("l2"), QStringLiteral("Lib Two"), {QStringLiteral("Day 2")})));
        const auto one = findDocument(reels, QStringLiteral("Lib One"));
        const auto two = findDocument(reels, QStringLiteral("Lib Two"));
        syncWait(one->loadNestedEvents());
        const auto day1 = one->nestedItems().at(0);
        QVERIFY(!day1->isUsedInOtherContainers());
        syncWait(two->addExistingNestedItem(day1->id()));
        syncWait(one->loadNestedEvents());
        QCOMPARE(one->nestedItems().at(0), day1);
        QCOMPARE(day1->usedInContainerNames(), QStringLiteral("Lib One, Lib Two"));
        syncWait(day1->versioningService()->removeOrDelete(two->versioningService(), &s3Factory));
        syncWait(one->loadNestedEvents());
        QVERIFY(!day1->isUsedInOtherContainers());
    }

    void containerOperations()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        auto reels = newCollection(ana, QStringLiteral("Reels"));
        auto archive = newCollection(ana, QStringLiteral("Archive"));
        syncWait(reels->createNestedItem(
            writeLibrary(fixture, QStringLiteral("l"), QStringLiteral("Show"), {QStringLiteral("Day 1")})));
        const auto show = reels->nestedItems().at(0);
        syncWait(reels->createNestedItem(writeProject(fixture, QStringLiteral("b"), QStringLiteral("b.kdenlive"))));
        syncWait(reels->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("a.pdf"))));
        const int bundles = ana->versionBundles().liveIndex().all.size();

        // A file the container cannot hold is refused before anything is written.
        QVERIFY_THROWS_EXCEPTION(
            TurfNestingError,
            syncWait(show->createNestedItem(writeProject(fixture, QStringLiteral("c"), QStringLiteral("c.kdenlive")))));
        QVERIFY_THROWS_EXCEPTION(
            TurfNestingError,
            syncWait(show->createNestedItem(writeProject(fixture, QStringLiteral("d"), QStringLiteral("Notes")))));
        QCOMPARE(ana->versionBundles().liveIndex().all.size(), bundles);
        QVERIFY(show->nestedItems().isEmpty());

        // Existing items added one after the other are listed sorted, without a reload.
        for (const auto& document : reels->nestedItems())
            syncWait(archive->addExistingNestedItem(document->id()));
        QCOMPARE(namesOf(archive->nestedItems()),
                 (QStringList{QStringLiteral("Show"), QStringLiteral("a"), QStringLiteral("b")}));

        const auto groups = groupedByCategory(*reels);
        QCOMPARE(groups.size(), 3);
        QCOMPARE(groups.at(0).category, DocumentTypeCategory::libraries());
        QCOMPARE(groups.at(1).category, DocumentTypeCategory::projects());
        QCOMPARE(groups.at(2).category, DocumentTypeCategory::documents());
        QCOMPARE(namesOf(groups.at(2).items), QStringList{QStringLiteral("a")});
        QVERIFY(groupedByCategory(*archive->nestedItems().at(1)).isEmpty());

        // The whole tree: the documents, then each document's events.
        Collections collections(ana);
        syncWait(collections.update(reels->id()));
        const auto fresh = collections.all().at(1);
        QCOMPARE(fresh->name(), QStringLiteral("Reels"));
        QVERIFY(!fresh->isLoadingNestedItems());
        QCOMPARE(namesOf(findDocument(fresh, QStringLiteral("Show"))->nestedItems()),
                 QStringList{QStringLiteral("Day 1")});
        QVERIFY(collections.all().at(0)->isLoadingNestedItems()); // the other collection was only reloaded
    }

    void revertRefreshesOnlyAfterTheEngineSucceeded()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        auto collection = newCollection(ana, QStringLiteral("Reels"));
        syncWait(
            collection->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"))));
        const auto service = faulty(collection->nestedItems().at(0)->versioningService());
        const auto cut = Document::create(service, collection->id());
        settle();
        const auto first = service->versionIDs().at(0);

        const int reads = service->applicationReads;
        service->failRevert = true;
        QVERIFY_THROWS_EXCEPTION(VersioningError, syncWait(cut->revert(first)));
        QCOMPARE(service->applicationReads, reads);
        QCOMPARE(service->versionIDs().size(), 1);

        service->failRevert = false;
        auto revert = cut->revert(first);
        syncWait(std::move(revert));
        QVERIFY(service->applicationReads > reads);
        QCOMPARE(service->versionIDs().size(), 2);
    }

    void differingAppVersionComparesWithWhatIsInstalled()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        auto collection = newCollection(ana, QStringLiteral("Reels"));
        syncWait(collection->createNestedItem(writeProject(
            fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"),
            R"(<mlt><playlist id="main_bin"><property name="kdenlive:docproperties.kdenliveversion">24.02.1</property></playlist></mlt>)")));
        syncWait(collection->createNestedItem(
            writeProject(fixture, QStringLiteral("b"), QStringLiteral("Blank.kdenlive"), "<mlt/>")));
        const auto cut = findDocument(collection, QStringLiteral("Cut"))->versioningService();
        const auto blank = findDocument(collection, QStringLiteral("Blank"))->versioningService();
        const auto version = cut->versionIDs().at(0);
        const auto written = std::optional(QStringLiteral("24.02.1"));

        QCOMPARE(AwareItem(cut, installed(QStringLiteral("24.02.1"))).differingAppVersion(version), std::nullopt);
        QCOMPARE(AwareItem(cut, installed(QStringLiteral("24.08.0"))).differingAppVersion(version), written);
        QCOMPARE(AwareItem(cut, installed(std::nullopt)).differingAppVersion(version), written);
        QCOMPARE(
            AwareItem(cut, DocumentApplication::empty(DocumentType::kdenliveProject())).differingAppVersion(version),
            written);
        // A version that recorded nothing, and one whose record cannot be read.
        QCOMPARE(AwareItem(blank, installed(QStringLiteral("24.02.1"))).differingAppVersion(blank->versionIDs().at(0)),
                 std::nullopt);
        QCOMPARE(AwareItem(cut, installed(QStringLiteral("24.02.1"))).differingAppVersion(IdFor<Versions>::make()),
                 std::nullopt);
        QCOMPARE(AwareItem(cut, DocumentApplication::empty(DocumentType::kdenliveProject()))
                     .differingAppVersion(IdFor<Versions>::make()),
                 std::nullopt);
    }

    void releasedItemsIgnoreChangesStillOnTheirWay()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        auto collection = newCollection(ana, QStringLiteral("Reels"));
        syncWait(collection->createNestedItem(
            writeLibrary(fixture, QStringLiteral("l"), QStringLiteral("Show"), {QStringLiteral("Day 1")})));
        const auto service = faulty(collection->nestedItems().at(0)->versioningService());
        auto show = Document::create(service, collection->id());
        std::weak_ptr<Document> weakShow = show;
        std::weak_ptr<Collection> weakCollection = collection;
        settle();

        // A change arrives: its handlers are queued; then the items are let go of.
        const int loads = service->loads;
        syncWait(collection->versioningService()->rename(QStringLiteral("Reels 2")));
        service->activityStore().update();
        ana->announce({service->id()});
        show.reset();
        collection.reset();
        // A handler that already started holds its item until it ends; none starts later.
        QTRY_VERIFY(weakShow.expired());
        QTRY_VERIFY(weakCollection.expired());
        QCOMPARE(service->loads, loads);

        // And nothing more reaches them.
        ana->announce({service->id()});
        settle();
        QCOMPARE(service->loads, loads);
    }

    void collectionsListChanges()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        Collections collections(ana);
        syncWait(collections.reload());
        QVERIFY(collections.all().isEmpty());
        QVERIFY(collections.lastChangeAnimated());

        syncWait(collections.create(QStringLiteral("Reels")));
        syncWait(collections.create(QStringLiteral("Archive")));
        QVERIFY_THROWS_EXCEPTION(Error, syncWait(collections.create(QString())));
        QCOMPARE(namesOf(collections.all()), (QStringList{QStringLiteral("Archive"), QStringLiteral("Reels")}));

        const auto reels = collections.all().at(1);
        syncWait(collections.reload());
        QCOMPARE(collections.all().at(1), reels); // the same objects, their fields read again

        syncWait(collections.update(IdFor<VersionBundle>::make()));
        QCOMPARE(collections.all().size(), 2);

        // A collection that is not listed (another object of it) is still trashed, and the list
        // stays as it is.
        const auto held = syncWait(Collection::open(reels->id(), ana));
        syncWait(held->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"))));
        QSignalSpy changes(&collections, &Collections::allChanged);
        QList<qsizetype> listed;
        connect(held.get(), &Collection::nestedItemsChanged, this, [&] { listed << held->nestedItems().size(); });
        syncWait(collections.deleteCollection(held));
        QVERIFY(listed.contains(0)); // its own change handler may list the trashed documents again
        QCOMPARE(changes.count(), 0);
        QCOMPARE(ana->versionBundles().liveIndex().collections.size(), 1);

        const auto archive = collections.all().at(0);
        syncWait(collections.deleteCollection(archive));
        QCOMPARE(namesOf(collections.all()), QStringList{QStringLiteral("Reels")});
        QCOMPARE(ana->versionBundles().liveIndex().collections.size(), 0);

        // Two collections alike in all but their documents differ.
        const auto one = syncWait(Collection::open(held->id(), ana));
        const auto other = syncWait(Collection::open(held->id(), ana));
        QVERIFY(*one == *other);
        syncWait(one->loadNestedItems());
        QCOMPARE(one->nestedItems().size(), 1);
        QVERIFY(!(*one == *other));
    }
};

QTEST_GUILESS_MAIN(ItemModelTest)
#include "item_model_test.moc"
