// The item actions through their registry, over real team bundles, with a window that records
// what the actions ask of it.

#include "actions/alert_models.h"
#include "actions/file_importer.h"
#include "actions/item_actions.h"
#include "desktop/desktop_launch.h"
#include "engine/version_bundles.h"
#include "model/collections.h"
#include "model/strings.h"
#include "model/support/item_test_support.h"
#include "model/text_format.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

QString focusName(ContentViewFocus focus)
{
    switch (focus) {
    case ContentViewFocus::trash:
        return QStringLiteral("trash");
    case ContentViewFocus::home:
        return QStringLiteral("home");
    case ContentViewFocus::collectionList:
        return QStringLiteral("collectionList");
    case ContentViewFocus::documentList:
        return QStringLiteral("documentList");
    case ContentViewFocus::checkinView:
        return QStringLiteral("checkinView");
    case ContentViewFocus::eventList:
        return QStringLiteral("eventList");
    }
    return {};
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A team window that writes down everything the actions ask of it.
struct Window {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> team = fixture.client(QStringLiteral("ana"));
    Collections collections{team};
    QStringList seen;
    std::optional<ConfirmationDialog> confirmation;
    std::optional<SheetModel::Sheet> sheet;
    QStringList selectTypes;
    std::function<void(const QUrl&)> selected;
    bool atticFails = false;
    std::optional<LaunchError> openFails;

    ItemActions actions{
        [this](const QUrl& url) -> QCoro::Task<> {
            seen << QStringLiteral("open ") + url.toLocalFile();
            if (openFails)
                throw *openFails;
            co_return;
        },
        [this](const QStringList& types, std::function<void(const QUrl&)> handler) {
            selectTypes = types;
            selected = std::move(handler);
        },
        [this](SheetModel::Sheet shown) { sheet = std::move(shown); },
        [this](ToolbarProgressIndicator::State state) {
            seen << (state.isBusy() ? QStringLiteral("busy ") + state.text() : QStringLiteral("idle"));
        },
        [this](ConfirmationDialog dialog) { confirmation = std::move(dialog); },
        [this](const Error& error) { seen << QStringLiteral("alert ") + AlertDetails::fromError(error).message; },
        [this](ContentViewFocus focus) { seen << QStringLiteral("focus ") + focusName(focus); },
        [this](QString name) { return collections.create(std::move(name)); },
        [this](std::shared_ptr<Collection> collection) { return collections.deleteCollection(std::move(collection)); },
        [this](IndexingOptions) { return team->versionBundles().liveIndex(); },
        [this](IdFor<VersionBundle> id) -> QCoro::Task<QUrl> {
            if (atticFails)
                throw VersioningError(VersioningError::Case::itemNotFound, id.toString());
            co_return QUrl::fromLocalFile(team->atticPath(id));
        },
        [this](AlertDetails alert) { seen << QStringLiteral("alert ") + alert.message; }};

    std::shared_ptr<Collection> reels = newCollection(team, QStringLiteral("Reels"));

    std::shared_ptr<Document> importCut(const QByteArray& content = "first")
    {
        syncWait(reels->createNestedItem(
            writeProject(fixture, QStringLiteral("cut"), QStringLiteral("Cut.kdenlive"), content)));
        return findDocument(reels, QStringLiteral("Cut"));
    }
    // Waits until `last` was seen `times` times and is the last thing seen, then returns
    // everything seen and forgets it.
    QStringList until(const QString& last, int times = 1)
    {
        if (!QTest::qWaitFor([&] { return seen.count(last) >= times && seen.last() == last; }, 10000))
            qWarning() << "still waiting for" << last << "after" << seen;
        QTest::qWait(20);
        return std::exchange(seen, {});
    }
    QString file(const QString& name) { return fixture.scratch(name); }
};

} // namespace

class ItemActionsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void checkOutEditCheckInRevertAndExport()
    {
        Window window;
        const auto cut = window.importCut();
        QCOMPARE(&window.actions.checkOut(), &window.actions.checkOut()); // built once

        window.actions.checkOut()(cut);
        const QStringList checkOut = window.until(QStringLiteral("idle"));
        QCOMPARE(checkOut.size(), 4);
        QCOMPARE(checkOut.at(0), QStringLiteral("busy Open Cut"));
        QVERIFY(checkOut.at(1).startsWith(QStringLiteral("open ")));
        QCOMPARE(checkOut.at(2), QStringLiteral("focus checkinView"));
        const QString workingCopy = checkOut.at(1).mid(5);
        QCOMPARE(readAll(workingCopy), QByteArray("first"));
        QVERIFY(cut->isCheckedOut());

        writeFile(workingCopy, "second");
        cut->setCommitMessage(QStringLiteral("Tightened the edit"));
        syncWait(window.actions.checkIn()(cut));
        window.actions.checkIn().hideProgress();
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Checking in Cut..."), QStringLiteral("focus documentList"),
                              QStringLiteral("idle")}));
        QVERIFY(!cut->isCheckedOut());
        const auto versions = cut->versioningService()->versionIDs();
        QCOMPARE(versions.size(), 2);

        // Export the first version into a folder the user picks.
        window.actions.exportVersion()(cut, versions.first());
        QCOMPARE(window.selectTypes, QStringList{folderContentType});
        const QString folder = window.file(QStringLiteral("export"));
        window.selected(QUrl::fromLocalFile(folder));
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Exporting..."), QStringLiteral("open ") + folder,
                              QStringLiteral("idle")}));
        QCOMPARE(readAll(folder + QStringLiteral("/Cut.kdenlive")), QByteArray("first"));

        // Reverting brings the first version's bytes back as the current version.
        window.actions.revert()(cut, versions.first());
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Reverting..."), QStringLiteral("idle")}));
        const QString current = window.file(QStringLiteral("current"));
        syncWait(cut->exportVersion(std::nullopt, current));
        QCOMPARE(readAll(current + QStringLiteral("/Cut.kdenlive")), QByteArray("first"));
        QCOMPARE(cut->versioningService()->versionIDs().size(), 3);

        // A temporary copy opens a file outside the working copies.
        syncWait(window.actions.openCopy()(cut, versions.at(1)));
        window.actions.openCopy().hideProgress();
        const QStringList copy = window.until(QStringLiteral("idle"));
        QCOMPARE(copy.first(), QStringLiteral("busy Opening Cut"));
        QCOMPARE(readAll(copy.at(1).mid(5)), QByteArray("second"));

        // The attic opens without progress.
        window.actions.openInAttic()(cut);
        QTRY_COMPARE(window.seen.size(), 1);
        QVERIFY(window.seen.first().startsWith(QStringLiteral("open ")));
    }

    // A working copy saved into after the check-in stored it: the version checked in stands,
    // and the window is told the copy is kept in the attic.
    void aWorkingCopyChangedWhileCheckedInIsToldOf()
    {
        Window window;
        const auto cut = window.importCut();
        window.actions.checkOut()(cut);
        const QString workingCopy = window.until(QStringLiteral("idle")).at(1).mid(5);
        writeFile(workingCopy, "second");
        window.team->setCommitObserverForTesting([&](TeamBundle::CommitStep step) {
            if (step == TeamBundle::CommitStep::published)
                writeFile(workingCopy, "saved late");
        });
        syncWait(window.actions.checkIn()(cut));
        window.actions.checkIn().hideProgress();
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Checking in Cut..."), QStringLiteral("focus documentList"),
                              QStringLiteral("alert ")
                                  + formatText(Strings::changedWhileCheckingInMessage(), {QStringLiteral("Cut")}),
                              QStringLiteral("idle")}));
        QVERIFY(!cut->isCheckedOut());
        QCOMPARE(cut->versioningService()->versionIDs().size(), 2);
    }

    void whatTheDesktopDoesNotOpenIsAnAlertAndTheWorkStands()
    {
        Window window;
        const auto cut = window.importCut();
        window.openFails = LaunchError(LaunchError::Case::noApplication, QStringLiteral("Cut.kdenlive"));
        const QString why = window.openFails->localizedDescription();

        // The check-out stands, and the alert says so after the focus moved to the check-in view.
        window.actions.checkOut()(cut);
        const QStringList checkOut = window.until(QStringLiteral("idle"));
        QCOMPARE(checkOut.size(), 5);
        QCOMPARE(checkOut.at(2), QStringLiteral("focus checkinView"));
        QCOMPARE(checkOut.at(3), QStringLiteral("alert ")
                                     + formatText(Strings::openFailedKeptCheckedOut(), {QStringLiteral("Cut"), why}));
        QVERIFY(cut->isCheckedOut());

        // The export, the copy and the attic are made; the desktop's words say why they did not show.
        const QString folder = window.file(QStringLiteral("export"));
        window.actions.exportVersion().exportTo(cut, std::nullopt, QUrl::fromLocalFile(folder));
        QCOMPARE(window.until(QStringLiteral("idle")).at(2), QStringLiteral("alert ") + why);
        QCOMPARE(readAll(folder + QStringLiteral("/Cut.kdenlive")), QByteArray("first"));
        syncWait(window.actions.openCopy()(cut, std::nullopt));
        window.actions.openCopy().hideProgress();
        QCOMPARE(window.until(QStringLiteral("idle")).at(2), QStringLiteral("alert ") + why);
        window.actions.openInAttic()(cut);
        QTRY_COMPARE(window.seen.size(), 2);
        QCOMPARE(window.seen.last(), QStringLiteral("alert ") + why);
    }

    void aCheckInAfterAForceUnlockIsRefused()
    {
        Window window;
        const auto cut = window.importCut();
        window.actions.checkOut()(cut);
        window.actions.checkOut()(cut); // a double click: the second request is left alone
        const QStringList checkOut = window.until(QStringLiteral("idle"));
        QCOMPARE(checkOut.count(QStringLiteral("busy Open Cut")), 1);
        QCOMPARE(checkOut.filter(QStringLiteral("open ")).size(), 1);
        // The progress stays until the first one ends.
        QCOMPARE(checkOut.count(QStringLiteral("idle")), 1);
        QCOMPARE(checkOut.last(), QStringLiteral("idle"));

        const auto ben = window.fixture.client(QStringLiteral("ben"));
        syncWait(openAs(ben, VersioningServiceType::document, cut->id())
                     ->checkOut({}, {.takeover = LockTakeover::forceUnlock}, &s3Factory));
        window.team->poll();

        // As the check-in view runs it: the operation, the report, then the progress hidden.
        cut->setCommitMessage(QStringLiteral("My changes"));
        const auto& checkIn = window.actions.checkIn();
        try {
            syncWait(checkIn(cut));
        } catch (const Error& error) {
            checkIn.report(error);
        }
        checkIn.hideProgress();
        const QStringList seen = window.until(QStringLiteral("idle"));
        QCOMPARE(seen.size(), 3);
        QCOMPARE(seen.at(0), QStringLiteral("busy Checking in Cut..."));
        QVERIFY(seen.at(1).startsWith(QStringLiteral("alert ")));
        QCOMPARE(cut->commitMessage(), QStringLiteral("My changes"));
        QCOMPARE(cut->versioningService()->versionIDs().size(), 1);
    }

    void failuresEndIdleWithOneAlert()
    {
        Window window;
        const auto cut = window.importCut();
        const auto version = cut->versioningService()->versionIDs().first();

        window.actions.revert()(cut, IdFor<Versions>::make());
        QStringList seen = window.until(QStringLiteral("idle"), 2);
        QCOMPARE(seen.size(), 4);
        QCOMPARE(seen.at(0), QStringLiteral("busy Reverting..."));
        QCOMPARE(seen.at(1), QStringLiteral("idle"));
        QVERIFY(seen.at(2).startsWith(QStringLiteral("alert ")));

        // Discarding what is not checked out: idle before the alert, and again at the end.
        window.actions.discardChanges()(cut);
        seen = window.until(QStringLiteral("idle"), 2);
        QCOMPARE(seen.size(), 4);
        QCOMPARE(seen.at(0), QStringLiteral("busy Discarding Changes..."));
        QCOMPARE(seen.at(1), QStringLiteral("idle"));

        // An export that fails shows the fixed text, never the engine's: here the destination
        // lies inside a file.
        const QString blocker = window.file(QStringLiteral("export")) + QStringLiteral("/not a folder");
        writeFile(blocker, "x");
        window.actions.exportVersion().exportTo(cut, version, QUrl::fromLocalFile(blocker + QStringLiteral("/inside")));
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Exporting..."), QStringLiteral("alert ") + Strings::exportError(),
                              QStringLiteral("idle")}));

        // A temporary copy of a version that does not exist.
        try {
            syncWait(window.actions.openCopy()(cut, IdFor<Versions>::make()));
        } catch (const Error&) {
            window.actions.openCopy().reportFailure();
        }
        window.actions.openCopy().hideProgress();
        seen = window.until(QStringLiteral("idle"));
        QCOMPARE(seen.at(1), QStringLiteral("alert ") + Strings::createCopyError());

        window.atticFails = true;
        window.actions.openInAttic()(cut);
        QTRY_COMPARE(window.seen.size(), 1);
        QVERIFY(window.seen.first().startsWith(QStringLiteral("alert ")));
        window.seen.clear();

        // An item released before its task runs: nothing at all.
        {
            auto other = Document::create(cut->versioningService(), window.reels->id());
            window.actions.revert()(other, version);
            window.actions.checkOut()(other);
        }
        QTest::qWait(100);
        QCOMPARE(window.seen, (QStringList{QStringLiteral("idle"), QStringLiteral("idle")})); // only the completions
    }

    void removeOrDeleteFollowsWhereTheItemIsUsed()
    {
        Window window;
        const auto cut = window.importCut();
        auto archive = newCollection(window.team, QStringLiteral("Archive"));
        syncWait(archive->addExistingNestedItem(cut->id()));
        syncWait(window.reels->loadNestedItems());
        const auto inReels = findDocument(window.reels, QStringLiteral("Cut"));

        window.actions.removeOrDelete()(inReels, window.reels);
        QVERIFY(window.confirmation);
        QCOMPARE(window.confirmation->messageText(), QStringLiteral("Cut will be removed from Reels."));
        std::exchange(window.confirmation, std::nullopt)->confirmButton().action();
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Removing Cut..."), QStringLiteral("idle")}));
        QCOMPARE(window.team->versionBundles().liveIndex().documents.size(), 1);
        syncWait(archive->loadNestedItems());
        const auto inArchive = archive->nestedItems().at(0);
        QVERIFY(!inArchive->isUsedInOtherContainers());
        // An item that knows no container of its own is used elsewhere, even where the container
        // it is removed from is the only one showing it.
        window.actions.removeOrDelete()(Document::create(inArchive->versioningService(), std::nullopt), archive);
        QCOMPARE(window.confirmation->messageText(), QStringLiteral("Cut will be removed from Archive."));
        window.confirmation.reset();

        window.actions.removeOrDelete()(inArchive, archive);
        QCOMPARE(window.confirmation->messageText(), QStringLiteral("Cut will be moved to Trash."));
        std::exchange(window.confirmation, std::nullopt)->confirmButton().action();
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Moving Cut to Trash..."), QStringLiteral("idle")}));
        QCOMPARE(window.team->versionBundles().trashIndex().documents.size(), 1);
    }

    void collectionsImportsAndRenames()
    {
        Window window;
        syncWait(window.collections.reload());
        window.actions.createCollection()();
        auto* naming = std::get_if<SheetModel::CreateNewCollection>(&*window.sheet);
        QVERIFY(naming);
        naming->create(QStringLiteral("Projects"));
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Creating Collection Projects"), QStringLiteral("idle")}));
        QCOMPARE(window.collections.all().size(), 2);

        // Deleting: the follow-up runs after the deletion, also for a collection already gone.
        bool deselected = false;
        window.actions.deleteCollection()(window.collections.all().at(0), [&] { deselected = true; });
        QTRY_VERIFY(deselected);
        QTRY_COMPARE(window.team->versionBundles().liveIndex().collections.size(), 1);
        deselected = false;
        {
            auto gone = syncWait(Collection::open(window.reels->id(), window.team));
            window.actions.deleteCollection()(gone, [&] { deselected = true; });
        }
        QTRY_VERIFY(deselected);
        QCOMPARE(window.team->versionBundles().liveIndex().collections.size(), 1);
        QVERIFY(window.seen.isEmpty()); // no progress, no alert

        // Importing offers the container's types, packages included, and any file.
        window.actions.importItemFromFile()(window.reels);
        QVERIFY(window.selectTypes.contains(QStringLiteral("*.kdenlive")));
        QVERIFY(window.selectTypes.contains(QStringLiteral("*.videolibrary/")));
        QVERIFY(window.selectTypes.contains(QStringLiteral("*")));
        window.selected(
            QUrl::fromLocalFile(writeProject(window.fixture, QStringLiteral("a"), QStringLiteral("Alpha.kdenlive"))));
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Importing..."), QStringLiteral("idle")}));
        const auto alpha = findDocument(window.reels, QStringLiteral("Alpha"));
        QVERIFY(alpha);
        window.actions.importItemFromFile().importFile(
            QUrl::fromLocalFile(window.file(QStringLiteral("none")) + QStringLiteral("/Missing.kdenlive")),
            window.reels);
        QStringList seen = window.until(QStringLiteral("idle"));
        QCOMPARE(seen.size(), 4);
        QCOMPARE(seen.at(0), QStringLiteral("busy Importing..."));
        QVERIFY(seen.at(2).startsWith(QStringLiteral("alert ")));

        window.actions.rename()(alpha);
        auto* renaming = std::get_if<SheetModel::RenameItem>(&*window.sheet);
        QVERIFY(renaming && renaming->item == std::static_pointer_cast<VersionedItem>(alpha));
        renaming->rename(QStringLiteral("Beta"));
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Renaming Alpha to Beta..."), QStringLiteral("idle")}));
        QTRY_COMPARE(alpha->name(), QStringLiteral("Beta"));
    }

    void errorsAndThePlaceholderRegistry()
    {
        const auto details = AlertDetails::fromError(InitiatingItemError(InitiatingItemError::Case::exportFailed));
        QCOMPARE(details.title, Strings::errorTitle());
        QCOMPARE(details.message, QStringLiteral("An error occurred while exporting."));
        QVERIFY(InitiatingItemError(InitiatingItemError::Case::checkInFailed)
                == InitiatingItemError(InitiatingItemError::Case::checkInFailed));

        ItemActions placeholder = ItemActions::placeholder();
        placeholder.createCollection().create(QStringLiteral("Nothing"));
        QVERIFY_THROWS_EXCEPTION(UnexpectedError,
                                 placeholder.addExistingItem().versionBundlesIndex(IndexingOptions::all()));
        QTest::qWait(20);
    }
};

QTEST_MAIN(ItemActionsTest)
#include "item_actions_test.moc"
