// Checking documents out and in through the models, with two clients on one team bundle.

#include "model/document.h"
#include "model/support/item_test_support.h"

#include <QFileInfo>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

class DocumentLockingTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void libraryCheckOutLeavesOutEventsOthersHold()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        auto reels = newCollection(ana, QStringLiteral("Reels"));
        syncWait(reels->createNestedItem(writeLibrary(fixture, QStringLiteral("a"), QStringLiteral("Show"),
                                                      {QStringLiteral("Day 1"), QStringLiteral("Day 2")})));
        syncWait(reels->createNestedItem(writeLibrary(fixture, QStringLiteral("b"), QStringLiteral("Sequel"), {})));
        const auto show = findDocument(reels, QStringLiteral("Show"));
        const auto sequel = findDocument(reels, QStringLiteral("Sequel"));
        syncWait(show->loadNestedEvents());
        const auto day1 = show->nestedItems().at(0)->id();
        const auto day2 = show->nestedItems().at(1)->id();
        syncWait(sequel->addExistingNestedItem(day2)); // Day 2 is used by both libraries

        // Ben works on Sequel with Day 2: Ana's check-out of Show leaves Day 2 out.
        checkOutService(openAs(ben, VersioningServiceType::library, sequel->id()), {day2});
        ana->poll();
        const QString workingCopy = syncWait(show->checkOut());
        QVERIFY(QFileInfo::exists(workingCopy));
        QVERIFY(show->isCheckedOut());
        QVERIFY(!show->isInitiating());
        const auto events = show->nestedItems();
        QVERIFY(events.at(0)->lockedByCurrentInitiator());
        QVERIFY(!events.at(1)->lockedByCurrentInitiator());
        QCOMPARE(events.at(1)->lockedByUser(), QStringLiteral("ben Editor"));

        // A force unlock takes every event, Ben's included.
        syncWait(show->cancelCheckout());
        QVERIFY(!show->isCheckedOut());
        syncWait(show->forceUnlock());
        QVERIFY(show->isCheckedOut());
        for (const auto& event : show->nestedItems())
            QVERIFY(event->lockedByCurrentInitiator());
        Q_UNUSED(day1);
    }

    void commitMessagesAndTheBusyFlag()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        auto reels = newCollection(ana, QStringLiteral("Reels"));
        syncWait(reels->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"))));
        const auto service = faulty(reels->nestedItems().at(0)->versioningService());
        const auto cut = Document::create(service, reels->id());

        // Checking in what was never checked out fails and keeps the message.
        cut->setCommitMessage(QStringLiteral("Graded the opening"));
        QVERIFY_THROWS_EXCEPTION(VersioningError, syncWait(cut->checkIn()));
        QCOMPARE(cut->commitMessage(), QStringLiteral("Graded the opening"));
        QVERIFY(!cut->isInitiating());

        // A check-out that cannot list the events never reaches the engine.
        syncWait(reels->createNestedItem(
            writeLibrary(fixture, QStringLiteral("b"), QStringLiteral("Show"), {QStringLiteral("Day 1")})));
        const auto showService = faulty(findDocument(reels, QStringLiteral("Show"))->versioningService());
        const auto show = Document::create(showService, reels->id());
        showService->failLoad = true;
        QVERIFY_THROWS_EXCEPTION(VersioningError, syncWait(show->checkOut()));
        QVERIFY(!showService->isCheckedOut());
        QVERIFY(!showService->isLocked());
        QVERIFY(!show->isInitiating());
        cut->setCommitMessage(QString());

        // A double click: the second request is refused while the first runs, and runs nothing.
        auto first = cut->checkOut();
        QVERIFY(cut->isInitiating());
        auto second = cut->checkOut();
        QVERIFY_THROWS_EXCEPTION(DocumentBusyError, syncWait(std::move(second)));
        syncWait(std::move(first));
        QVERIFY(!cut->isInitiating());
        QVERIFY(cut->isCheckedOut());

        // A check-in the engine accepted whose refresh fails: the message is gone, the failure
        // still reaches the caller.
        cut->setCommitMessage(QStringLiteral("Final grade"));
        service->failLockHolder = true;
        QVERIFY_THROWS_EXCEPTION(VersioningError, syncWait(cut->checkIn()));
        QCOMPARE(cut->commitMessage(), QString());
        QVERIFY(!cut->isInitiating());
        service->failLockHolder = false;
        QCOMPARE(service->versionIDs().size(), 2);
        QVERIFY(!service->isCheckedOut());

        // Discarding clears the message too.
        syncWait(cut->checkOut());
        cut->setCommitMessage(QStringLiteral("never mind"));
        syncWait(cut->cancelCheckout());
        QCOMPARE(cut->commitMessage(), QString());
        QVERIFY(!cut->isCheckedOut());
        QCOMPARE(service->versionIDs().size(), 2);
    }

    // A check-out that looked taken (its lock record named somebody else for a while) and is
    // ours again once the record is read as it is: the document is checked out again and
    // nothing about it being taken away stands any more.
    void aCheckOutThatIsOursAgainIsNoLongerInvalid()
    {
        TeamFixture fixture;
        const auto ana = fixture.client(QStringLiteral("ana"));
        const auto ben = fixture.client(QStringLiteral("ben"));
        auto reels = newCollection(ana, QStringLiteral("Reels"));
        syncWait(reels->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"))));
        const auto cut = std::dynamic_pointer_cast<Document>(reels->nestedItems().at(0));
        QVERIFY(cut);
        syncWait(cut->checkOut());
        QVERIFY(cut->isCheckedOut());

        const QString lock =
            fixture.root() + QStringLiteral("/locks/") + cut->id().toString() + QStringLiteral(".lock");
        const QByteArray ours = contentOf(lock);
        LockRecord other = LockRecord::fromJson(ours);
        other.clientId = ben->clientId();
        writeFile(lock, other.toJson());
        ana->poll();
        QTRY_VERIFY(cut->invalidCheckoutState().has_value());
        QVERIFY(!cut->isCheckedOut());

        writeFile(lock, ours);
        ana->poll();
        QTRY_VERIFY(cut->isCheckedOut());
        QVERIFY(!cut->invalidCheckoutState());
    }

private:
    static void checkOutService(const Service& service, QList<IdFor<VersionBundle>> events)
    {
        syncWait(service->checkOut(std::move(events), {.autoSave = false}, &s3Factory));
    }
};

QTEST_GUILESS_MAIN(DocumentLockingTest)
#include "document_locking_test.moc"
