// An open team over a real team bundle: its collections follow the bundle, its trash, its wiring
// to the window's models, and the question asked before it is closed.

#include "engine/version_bundles.h"
#include "model/container_operations.h"
#include "model/strings.h"
#include "model/support/item_test_support.h"
#include "open_team/team.h"

#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// The models a window hands its team.
struct Window {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> bundle = fixture.client(QStringLiteral("ana"));
    AlertModel alert;
    SheetModel sheet;
    ConfirmationDialogModel confirmation;
    FileImporter fileImporter;
    ToolbarProgressIndicator progress;
    QList<QUrl> opened;
    QStringList logged;
    QStringList progressSeen;
    std::unique_ptr<Team> team;

    Window()
    {
        alert.log = [this](const QString& text) { logged << text; };
        QObject::connect(&progress, &ToolbarProgressIndicator::stateChanged, [this] {
            progressSeen << (progress.state().isBusy() ? progress.state().text() : QStringLiteral("idle"));
        });
        team = std::make_unique<Team>(
            bundle, QStringLiteral("vantrel"),
            [this](const QUrl& url) {
                opened << url;
                return completedTask();
            },
            &alert, &sheet, &confirmation, &fileImporter, &progress, std::make_shared<KeyValueStoragePreview>());
    }

    std::shared_ptr<Document> importInto(const std::shared_ptr<Collection>& collection, const QString& fileName)
    {
        syncWait(collection->createNestedItem(writeProject(fixture, fileName, fileName)));
        return findDocument(collection, QFileInfo(fileName).completeBaseName());
    }
    std::shared_ptr<Collection> listed(const QString& name) const
    {
        for (const auto& collection : team->collections().all()) {
            if (collection->name() == name)
                return collection;
        }
        return nullptr;
    }
};

} // namespace

class TeamTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void collectionsFollowTheBundle()
    {
        Window window;
        window.bundle->setPollInterval(std::chrono::milliseconds(20));
        syncWait(window.team->collections().reload());
        QVERIFY(window.team->collections().all().isEmpty());

        const auto ben = window.fixture.client(QStringLiteral("ben"));
        newCollection(ben, QStringLiteral("Dailies"));
        QTRY_COMPARE(namesOf(window.team->collections().all()), QStringList{QStringLiteral("Dailies")});

        // The window's models are what the actions talk to.
        auto& actions = window.team->itemActions();
        QCOMPARE(&actions, &window.team->itemActions());
        actions.createCollection().create(QStringLiteral("Reels"));
        QTRY_COMPARE(window.team->collections().all().size(), 2);
        QTRY_VERIFY(!window.progress.state().isBusy());
        QVERIFY(window.progressSeen.contains(QStringLiteral("Creating Collection Reels")));
        actions.checkOut().focus(ContentViewFocus::trash);
        QCOMPARE(window.team->navigation().focus(), ContentViewFocus::trash);
        actions.importItemFromFile()(window.listed(QStringLiteral("Reels")));
        QVERIFY(window.fileImporter.action());
        QVERIFY(window.fileImporter.allowedContentTypes().contains(QStringLiteral("*.kdenlive")));
        QCOMPARE(window.fileImporter.purpose(), FileImporter::Purpose::importDocument);
        actions.exportVersion()(window.listed(QStringLiteral("Reels")), std::nullopt);
        QCOMPARE(window.fileImporter.purpose(), FileImporter::Purpose::exportDestination);
        actions.checkOut().showError(VersionedItemError());
        QCOMPARE(window.alert.details()->message, Strings::viewUpdateError());
        QCOMPARE(window.logged.size(), 1);

        // The index for the picker: nothing, the live bundles, or the live and the trashed ones.
        QVERIFY(window.team->versionBundlesIndex(IndexingOptions()).all.isEmpty());
        syncWait(window.team->collections().deleteCollection(window.listed(QStringLiteral("Dailies"))));
        QCOMPARE(window.team->versionBundlesIndex(IndexingOptions::all()).collections.size(), 1);
        QCOMPARE(window.team->versionBundlesIndex(IndexingOptions::trash()).collections.size(), 1);
        QCOMPARE(
            window.team->versionBundlesIndex({IndexingOptions::all(), IndexingOptions::trash()}).collections.size(), 2);
    }

    void trashRestoreAndDelete()
    {
        Window window;
        auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        window.importInto(reels, QStringLiteral("Cut.kdenlive"));
        auto archive = newCollection(window.bundle, QStringLiteral("Archive"));
        syncWait(window.team->collections().reload());
        syncWait(window.team->collections().deleteCollection(window.listed(QStringLiteral("Reels"))));
        syncWait(window.team->collections().deleteCollection(window.listed(QStringLiteral("Archive"))));
        QVERIFY(window.team->collections().all().isEmpty());

        auto& navigation = window.team->navigation();
        navigation.setFocus(ContentViewFocus::trash);
        auto trash = window.team->trashManager();
        QVERIFY(trash.get() != window.team->trashManager().get());
        QTRY_COMPARE(trash->content().size(), 2);

        // Restoring brings the collection back with its documents loaded.
        const auto reelsInTrash = trash->index().summary(reels->id());
        QVERIFY(reelsInTrash);
        syncWait(trash->restore(*reelsInTrash));
        trash->finishAction();
        QCOMPARE(window.progressSeen, (QStringList{QStringLiteral("Restoring Reels..."), QStringLiteral("idle")}));
        QTRY_VERIFY(window.listed(QStringLiteral("Reels")));
        const auto restored = window.listed(QStringLiteral("Reels"));
        syncWait(restored->loadNestedItems());
        QCOMPARE(namesOf(restored->nestedItems()), QStringList{QStringLiteral("Cut")});
        QCOMPARE(trash->content().size(), 1);
        QCOMPARE(navigation.focus(), ContentViewFocus::trash); // something is left: stay

        // Deleting for good asks first; cancelling changes nothing.
        trash->setSelection({archive->id()});
        trash->deleteSelected();
        QVERIFY(window.confirmation.dialog());
        QCOMPARE(window.confirmation.dialog()->messageText(),
                 QStringLiteral("`Archive` will be permenently deleted. Vantrel cannot revert this action."));
        presentedFlag(&window.confirmation).set(false);
        QCOMPARE(trash->content().size(), 1);
        QCOMPARE(trash->selection().size(), 1);

        trash->deleteSelected();
        window.confirmation.dialog()->confirmButton().action();
        QTRY_VERIFY(trash->content().isEmpty());
        QTRY_VERIFY(trash->selection().isEmpty());
        QVERIFY(!trash->disableActions());
        QCOMPARE(navigation.focus(), ContentViewFocus::home); // the empty trash is left
        QVERIFY(window.bundle->versionBundles().trashIndex().all.isEmpty());
        QVERIFY(!window.bundle->versionBundles().liveIndex().summary(archive->id()));
    }

    void theAtticShowsTheCopiesItKeeps()
    {
        Window window;
        auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        const auto cut = window.importInto(reels, QStringLiteral("Cut.kdenlive"));
        const QString workingCopy = syncWait(cut->checkOut());
        writeFile(workingCopy, "ana's unsaved work");
        const auto ben = window.fixture.client(QStringLiteral("ben"));
        syncWait(openAs(ben, VersioningServiceType::document, cut->id())
                     ->checkOut({}, {.takeover = LockTakeover::forceUnlock}, &s3Factory));
        window.bundle->poll(); // Ana's copy is kept in the attic

        const QString folder = syncWait(window.team->atticURL(cut->id())).toLocalFile();
        auto tree = describeTree(folder);
        QCOMPARE(tree.size(), 2); // one folder per kept copy, holding the copy as it was
        const QString copy = tree.lastKey();
        QVERIFY(copy.endsWith(QStringLiteral("force unlocked/Cut.kdenlive")));
        QCOMPARE(tree.value(copy), QByteArray("ana's unsaved work"));
        // Asking again writes nothing twice.
        QCOMPARE(describeTree(syncWait(window.team->atticURL(cut->id())).toLocalFile()), tree);
    }

    void askingBeforeClosing()
    {
        Window window;
        auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        auto archive = newCollection(window.bundle, QStringLiteral("Archive"));
        const auto cut = window.importInto(reels, QStringLiteral("Cut.kdenlive"));
        const auto trailer = window.importInto(reels, QStringLiteral("Trailer.kdenlive"));
        const auto old = window.importInto(archive, QStringLiteral("Old.kdenlive"));
        // One document in three collections is one unsaved item, not three.
        auto selects = newCollection(window.bundle, QStringLiteral("Selects"));
        syncWait(archive->addExistingNestedItem(cut->id()));
        syncWait(selects->addExistingNestedItem(cut->id()));
        syncWait(window.team->collections().reload());

        QList<bool> answers;
        const auto answer = [&](bool close) { answers << close; };
        window.team->alertBeforeClosing(Team::ClosingEvent::quit, answer);
        QCOMPARE(answers, QList<bool>{true});
        QVERIFY(!window.alert.details());

        // One checked-out document, in a list that was loaded.
        syncWait(cut->checkOut());
        for (const auto& collection : window.team->collections().all())
            syncWait(loadAllNestedItems(collection));
        answers.clear();
        window.team->alertBeforeClosing(Team::ClosingEvent::quit, answer);
        QVERIFY(answers.isEmpty());
        auto details = *window.alert.details();
        QCOMPARE(details.title, Strings::quitConfirmationTitle());
        QCOMPARE(details.message, QStringLiteral("1 item has unsaved changes."));
        QCOMPARE(details.buttons.size(), 3);
        QCOMPARE(details.buttons.at(1).title, Strings::quitActionTitle());
        // It must be answered: nothing replaces it, and dismissing it cancels.
        QVERIFY(details.mustBeAnswered);
        QVERIFY(details.buttons.at(2).cancels && !details.buttons.at(0).cancels && !details.buttons.at(1).cancels);
        QVERIFY(window.logged.isEmpty());      // this alert is not logged
        window.alert.setDetails(std::nullopt); // as the window does before the button's action
        details.buttons.at(0).action();        // "Save Changes": stay, and show the document's check-in
        QCOMPARE(answers, QList<bool>{false});
        QTRY_VERIFY(window.team->navigation().selectedDocument());
        QCOMPARE(window.team->navigation().selectedDocument()->id(), cut->id());
        QCOMPARE(window.team->navigation().focus(), ContentViewFocus::checkinView);

        // Three, some of them in lists rebuilt by a change and not loaded again.
        syncWait(trailer->checkOut());
        syncWait(old->checkOut());
        syncWait(window.team->collections().reload());
        syncWait(loadAllNestedItems(window.listed(QStringLiteral("Archive"))));
        answers.clear();
        window.team->alertBeforeClosing(Team::ClosingEvent::close, answer);
        details = *window.alert.details();
        QCOMPARE(details.title, Strings::closeConfirmationTitle());
        QCOMPARE(details.message, QStringLiteral("3 items have unsaved changes."));
        QCOMPARE(details.buttons.at(1).title, Strings::closeActionTitle());
        details.buttons.at(1).action();
        QCOMPARE(answers, QList<bool>{true});
        answers.clear();
        details.buttons.at(2).action();
        QCOMPARE(answers, QList<bool>{false});
    }
};

QTEST_MAIN(TeamTest)
#include "team_test.moc"
