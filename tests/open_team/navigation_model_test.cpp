// The selection of a team window over a real team bundle: the cascade between the levels, the
// moves of the Go menu, restoring after a restart and from a link, and failures of the reloads.

#include "actions/alert_models.h"
#include "engine/version_bundles.h"
#include "model/collections.h"
#include "model/container_operations.h"
#include "model/strings.h"
#include "open_team/navigation_model.h"
#include "support/engine_test_support.h"
#include "support/sync_wait.h"

#include <QSignalSpy>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Focus = ContentViewFocus;

// Reels holds the library Show (events Day 1 and Day 2) and the project Cut; Archive is empty.
struct Studio {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> team = fixture.client(QStringLiteral("ana"));
    Collections collections{team};
    AlertModel alert;
    QStringList logged;
    std::shared_ptr<KeyValueStoragePreview> store = std::make_shared<KeyValueStoragePreview>();

    Studio()
    {
        alert.log = [this](const QString& text) { logged << text; };
        auto reels = syncWait(Collection::create(QStringLiteral("Reels"), team));
        syncWait(Collection::create(QStringLiteral("Archive"), team));
        const QString library = fixture.scratch(QStringLiteral("l")) + QStringLiteral("/Show.videolibrary");
        writeFile(library + QStringLiteral("/Settings.plist"), "settings");
        writeFile(library + QStringLiteral("/Day 2.videoevent/Info.plist"), "2");
        writeFile(library + QStringLiteral("/Day 1.videoevent/Info.plist"), "1");
        syncWait(reels->createNestedItem(library));
        const QString cut = fixture.scratch(QStringLiteral("c")) + QStringLiteral("/Cut.kdenlive");
        writeFile(cut, "<mlt/>");
        syncWait(reels->createNestedItem(cut));
        syncWait(collections.reload());
    }

    std::unique_ptr<NavigationModel> navigation()
    {
        return std::make_unique<NavigationModel>(
            QStringLiteral("vantrel"), &alert, [this] { return collections.all(); }, store);
    }
    std::shared_ptr<Collection> collection(const QString& name) const
    {
        for (const auto& collection : collections.all()) {
            if (collection->name() == name)
                return collection;
        }
        return nullptr;
    }
    std::optional<ItemSelection> stored() const
    {
        return store->codableValue<ItemSelection>(NavigationModel::itemSelectionKey);
    }
};

template<typename Item>
std::shared_ptr<Item> named(const QList<std::shared_ptr<Item>>& items, const QString& name)
{
    for (const auto& item : items) {
        if (item->name() == name)
            return item;
    }
    return nullptr;
}

} // namespace

class NavigationModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void selectingCascadesAndRemembersChildren()
    {
        Studio studio;
        auto navigation = studio.navigation();
        QCOMPARE(navigation->focus(), Focus::home);
        QCOMPARE(studio.store->object(NavigationModel::itemSelectionKey).toByteArray(), QByteArray("null"));

        const auto reels = studio.collection(QStringLiteral("Reels"));
        navigation->setSelectedCollection(reels);
        QCOMPARE(navigation->focus(), Focus::collectionList);
        QCOMPARE(studio.stored()->collection, reels->id());
        QTRY_COMPARE(reels->nestedItems().size(), 2); // the selection reloads the collection
        QCOMPARE(navigation->focusedItem(), std::static_pointer_cast<VersionedItem>(reels));

        const auto show = named(reels->nestedItems(), QStringLiteral("Show"));
        navigation->setSelectedDocument(show);
        QCOMPARE(navigation->focus(), Focus::documentList);
        QTRY_COMPARE(show->nestedItems().size(), 2);
        const auto day1 = show->nestedItems().at(0);
        navigation->setSelectedEvent(day1);
        QCOMPARE(navigation->focus(), Focus::eventList);
        QCOMPARE(navigation->focusedItem().get(), static_cast<VersionedItem*>(day1.get()));
        QCOMPARE(studio.stored()->event, std::optional(day1->id()));

        // Another collection clears the levels below; coming back brings them back.
        navigation->setSelectedCollection(studio.collection(QStringLiteral("Archive")));
        QVERIFY(!navigation->selectedDocument());
        QVERIFY(!navigation->selectedEvent());
        QCOMPARE(navigation->focus(), Focus::collectionList);
        QCOMPARE(studio.stored()->document, std::nullopt);
        navigation->setSelectedCollection(reels);
        QCOMPARE(navigation->selectedDocument(), show);
        QCOMPARE(navigation->selectedEvent(), day1);
        QCOMPARE(navigation->focus(), Focus::eventList);

        // Selecting the same collection again reloads nothing but publishes and saves again.
        QTest::qWait(100);
        QSignalSpy reloads(reels.get(), &Collection::nestedItemsChanged);
        QSignalSpy events(navigation.get(), &NavigationModel::selectedEventChanged);
        QSignalSpy focus(navigation.get(), &NavigationModel::focusChanged);
        studio.store->removeObject(NavigationModel::itemSelectionKey);
        navigation->setSelectedCollection(reels);
        QTest::qWait(100);
        QCOMPARE(reloads.count(), 0);
        QCOMPARE(events.count(), 1);
        QCOMPARE(focus.count(), 1);
        QCOMPARE(studio.stored()->event, std::optional(day1->id()));

        // "Home" clears everything and stores null.
        navigation->setSelectedCollection(nullptr);
        QCOMPARE(navigation->focus(), Focus::home);
        QVERIFY(!navigation->focusedItem());
        QCOMPARE(studio.store->object(NavigationModel::itemSelectionKey).toByteArray(), QByteArray("null"));
    }

    void backAndForward()
    {
        Studio studio;
        auto empty = std::make_unique<NavigationModel>(
            QStringLiteral("vantrel"), &studio.alert, [] { return QList<std::shared_ptr<Collection>>(); },
            studio.store);
        empty->goForward();
        QCOMPARE(empty->focus(), Focus::home);
        QVERIFY(!empty->selectedCollection());

        auto navigation = studio.navigation();
        navigation->goForward(); // the first collection: Archive
        QCOMPARE(navigation->selectedCollection(), studio.collection(QStringLiteral("Archive")));
        QTRY_VERIFY(!navigation->selectedCollection()->isLoadingNestedItems());
        navigation->goForward(); // no documents: the document stays cleared
        QVERIFY(!navigation->selectedDocument());
        QCOMPARE(navigation->focus(), Focus::collectionList);

        const auto reels = studio.collection(QStringLiteral("Reels"));
        navigation->setSelectedCollection(reels);
        QTRY_COMPARE(reels->nestedItems().size(), 2);
        navigation->goForward();
        QCOMPARE(navigation->selectedDocument()->name(), QStringLiteral("Cut"));
        navigation->goForward(); // a project has no events
        QCOMPARE(navigation->focus(), Focus::documentList);
        QVERIFY(!navigation->selectedEvent());

        navigation->setSelectedDocument(named(reels->nestedItems(), QStringLiteral("Show")));
        QTRY_COMPARE(navigation->selectedDocument()->nestedItems().size(), 2);
        navigation->setFocus(Focus::checkinView);
        navigation->goForward();
        QCOMPARE(navigation->selectedEvent()->name(), QStringLiteral("Day 1"));
        navigation->goForward();
        QCOMPARE(navigation->focus(), Focus::eventList);

        // The trash returns to the deepest selected pane and keeps the selection.
        navigation->setFocus(Focus::trash);
        QVERIFY(!navigation->focusedItem());
        navigation->goBack();
        QCOMPARE(navigation->focus(), Focus::eventList);
        QVERIFY(navigation->selectedEvent());
        navigation->goBack();
        QVERIFY(!navigation->selectedEvent());
        QCOMPARE(navigation->focus(), Focus::documentList);
        navigation->goBack();
        QVERIFY(!navigation->selectedDocument());
        navigation->goBack();
        QVERIFY(!navigation->selectedCollection());
        QCOMPARE(navigation->focus(), Focus::home);
    }

    void deselect()
    {
        Studio studio;
        auto navigation = studio.navigation();
        const auto reels = studio.collection(QStringLiteral("Reels"));
        syncWait(loadAllNestedItems(reels));
        const auto show = named(reels->nestedItems(), QStringLiteral("Show"));
        navigation->setSelectedCollection(reels);
        navigation->setSelectedDocument(show);
        navigation->setSelectedEvent(show->nestedItems().at(1));

        // An item that is not selected: only the focus is set again.
        navigation->setFocus(Focus::trash);
        navigation->deselect(nullptr, named(reels->nestedItems(), QStringLiteral("Cut")), nullptr);
        QCOMPARE(navigation->selectedEvent(), show->nestedItems().at(1));
        QCOMPARE(navigation->focus(), Focus::eventList);

        navigation->deselect(nullptr, nullptr, show->nestedItems().at(1));
        QVERIFY(!navigation->selectedEvent());
        QCOMPARE(navigation->selectedDocument(), show);

        // All absent with a shorter selection changes nothing.
        navigation->deselect(nullptr, nullptr, nullptr);
        QCOMPARE(navigation->selectedDocument(), show);
        QCOMPARE(navigation->focus(), Focus::documentList);

        // With every level selected it clears everything.
        navigation->setSelectedEvent(show->nestedItems().at(0));
        navigation->deselect(nullptr, nullptr, nullptr);
        QVERIFY(!navigation->selectedCollection());
        QCOMPARE(navigation->focus(), Focus::home);

        // A collection is recognised by value, also through another object for it (loaded as far:
        // the selected one keeps the events it loaded).
        navigation->setSelectedCollection(reels);
        QTest::qWait(50);
        const auto sameReels = syncWait(Collection::open(reels->id(), studio.team));
        syncWait(loadAllNestedItems(sameReels));
        navigation->deselect(sameReels, nullptr, nullptr);
        QVERIFY(!navigation->selectedCollection());
    }

    void restoresAfterARestartAndFromLinks()
    {
        Studio studio;
        ItemSelection chosen;
        {
            auto navigation = studio.navigation();
            const auto reels = studio.collection(QStringLiteral("Reels"));
            syncWait(loadAllNestedItems(reels));
            const auto show = named(reels->nestedItems(), QStringLiteral("Show"));
            navigation->setSelectedCollection(reels);
            navigation->setSelectedDocument(show);
            navigation->setSelectedEvent(show->nestedItems().at(1));
            chosen = navigation->currentItemSelection();

            const auto link = navigation->url(*show->nestedItems().at(1));
            QVERIFY(link);
            QCOMPARE(link->toString(), QStringLiteral("vantrel://select/%1/%2/%3")
                                           .arg(reels->id().toString(), show->id().toString(),
                                                show->nestedItems().at(1)->id().toString()));
            QVERIFY(link->toString().contains(reels->id().toString().toUpper()));
            QCOMPARE(navigation->url(*reels)->toString(), QStringLiteral("vantrel://select/") + reels->id().toString());
            navigation->setSelectedDocument(nullptr);
            QVERIFY(!navigation->url(*show->nestedItems().at(1)));
            navigation->setSelectedDocument(show); // brings the event back: the stored selection is whole again
        }

        // A restart: new collections, a new model over the same settings; nothing is loaded yet.
        studio.collections.setAll({});
        syncWait(studio.collections.reload());
        auto navigation = studio.navigation();
        navigation->restoreStoredSelection();
        QTRY_VERIFY(navigation->selectedEvent());
        QCOMPARE(navigation->currentItemSelection().event, chosen.event);
        QCOMPARE(navigation->selectedDocument()->name(), QStringLiteral("Show"));
        QCOMPARE(navigation->focus(), Focus::eventList);

        // A link naming a document that does not exist selects the collection alone.
        auto missing = chosen;
        missing.document = IdFor<VersionBundle>::make();
        navigation->restoreSelection(missing, std::nullopt);
        QTRY_VERIFY(!navigation->selectedDocument());
        QCOMPARE(navigation->selectedCollection()->id(), chosen.collection);
        QCOMPARE(navigation->focus(), Focus::collectionList);

        // A link with the same ids, read back from its path.
        const auto fromLink = ItemSelection::fromPath(
            QStringLiteral("/%1/%2/%3")
                .arg(chosen.collection.toString(), chosen.document->toString(), chosen.event->toString()));
        navigation->restoreSelection(fromLink, Focus::checkinView);
        QTRY_VERIFY(navigation->selectedEvent());
        QCOMPARE(navigation->focus(), Focus::checkinView); // the given focus wins

        // A collection that matches nothing clears the selection; so does an absent selection.
        auto unknown = chosen;
        unknown.collection = IdFor<VersionBundle>::make();
        navigation->restoreSelection(unknown, std::nullopt);
        QTRY_VERIFY(!navigation->selectedCollection());
        navigation->setSelectedCollection(studio.collection(QStringLiteral("Reels")));
        navigation->restoreSelection(ItemSelection::fromPath(QStringLiteral("/")), Focus::trash);
        QTRY_VERIFY(!navigation->selectedCollection());
        QCOMPARE(navigation->focus(), Focus::trash);
        QVERIFY(studio.alert.details() == std::nullopt);
    }

    void failuresReachTheAlert()
    {
        Studio studio;
        auto navigation = studio.navigation();
        const auto reels = studio.collection(QStringLiteral("Reels"));
        // Reels goes away for good behind the model's back.
        syncWait(studio.collections.deleteCollection(reels));
        syncWait(studio.team->versionBundles().deletePermanently(
            studio.team->versionBundles().trashIndex().collections.at(0)));
        studio.collections.setAll({reels});

        // The reload of a selected item fails: the user is told the views could not be updated.
        navigation->setSelectedCollection(reels);
        QTRY_VERIFY(studio.alert.details().has_value());
        QCOMPARE(studio.alert.details()->message, Strings::viewUpdateError());
        QCOMPARE(studio.logged.size(), 1);
        QVERIFY(studio.logged.at(0).contains(Strings::viewUpdateError()));
        QCOMPARE(navigation->selectedCollection(), reels); // the selection stays

        // A restore that fails shows the engine's own error.
        studio.alert.setDetails(std::nullopt);
        navigation->setSelectedCollection(nullptr);
        ItemSelection selection;
        selection.collection = reels->id();
        selection.document = IdFor<VersionBundle>::make();
        navigation->restoreSelection(selection, std::nullopt);
        QTRY_VERIFY(studio.alert.details().has_value());
        QVERIFY(studio.alert.details()->message != Strings::viewUpdateError());
        QCOMPARE(studio.logged.size(), 2);
        QVERIFY(!navigation->selectedCollection());
    }
};

QTEST_GUILESS_MAIN(NavigationModelTest)
#include "navigation_model_test.moc"
