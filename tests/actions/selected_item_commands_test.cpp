// The operations on the selected item, over real team bundles, with a window that records what
// they ask of it.

#include "actions/alert_models.h"
#include "actions/selected_item_commands.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "model/strings.h"
#include "model/support/item_test_support.h"
#include "model/text_format.h"

#include <QTest>

#include <limits>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// A bundle whose creative application is what the test says.
class ApplicationService final : public VersioningService {
public:
    ApplicationService(const VersioningService& real, DocumentApplication application)
        : VersioningService(real.type(), real.id(), real.documentType(), real.teamBundle()),
          m_application(std::move(application))
    {
    }
    QCoro::Task<DocumentApplication> documentApplication(S3Factory) override
    {
        // A copy: the task takes what it returns.
        DocumentApplication application = m_application;
        co_return application;
    }

private:
    DocumentApplication m_application;
};

DocumentApplication installedApplication(const DocumentType& type, const QString& writer, const QString& installed)
{
    auto application = DocumentApplication::empty(type);
    application.writerVersion = writer;
    application.installed = InstalledApplication{QStringLiteral("Kdenlive"), installed, QStringLiteral("kdenlive")};
    return application;
}

struct Window {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> team = fixture.client(QStringLiteral("ana"));
    QStringList seen;
    std::optional<ConfirmationDialog> confirmation;
    std::optional<SheetModel::Sheet> sheet;
    std::function<void(const QUrl&)> selected;

    ItemActions actions{
        [this](const QUrl& url) {
            seen << QStringLiteral("open ") + url.toLocalFile();
            return completedTask();
        },
        [this](const QStringList&, std::function<void(const QUrl&)> handler) { selected = std::move(handler); },
        [this](SheetModel::Sheet shown) { sheet = std::move(shown); },
        [this](ToolbarProgressIndicator::State state) {
            seen << (state.isBusy() ? QStringLiteral("busy ") + state.text() : QStringLiteral("idle"));
        },
        [this](ConfirmationDialog dialog) { confirmation = std::move(dialog); },
        [this](const Error& error) { seen << QStringLiteral("alert ") + AlertDetails::fromError(error).message; },
        [this](ContentViewFocus) { seen << QStringLiteral("focus"); },
        [](QString) { return completedTask(); },
        [](std::shared_ptr<Collection>) { return completedTask(); },
        [this](IndexingOptions) { return team->versionBundles().liveIndex(); },
        [](IdFor<VersionBundle>) -> QCoro::Task<QUrl> { co_return QUrl(); }};

    std::shared_ptr<Collection> reels = newCollection(team, QStringLiteral("Reels"));

    std::shared_ptr<Document> import(const QString& fileName, const QByteArray& content = "first")
    {
        syncWait(reels->createNestedItem(writeProject(fixture, fileName, fileName, content)));
        return findDocument(reels, QFileInfo(fileName).completeBaseName());
    }
    // A document of `reels` whose application is `application`.
    std::shared_ptr<Document> withApplication(const std::shared_ptr<Document>& document,
                                              const DocumentApplication& application)
    {
        auto service = std::make_shared<ApplicationService>(*document->versioningService(), application);
        auto result = Document::create(service, reels->id());
        syncWait(result->updateState());
        return result;
    }
    QStringList until(const QString& last, int times = 1)
    {
        if (!QTest::qWaitFor([&] { return seen.count(last) >= times && seen.last() == last; }, 10000))
            qWarning() << "still waiting for" << last << "after" << seen;
        QTest::qWait(50);
        return std::exchange(seen, {});
    }
};

QStringList withoutPaths(QStringList seen)
{
    for (QString& entry : seen) {
        if (entry.startsWith(QStringLiteral("open ")))
            entry = QStringLiteral("open");
    }
    return seen;
}

template<typename Item>
int countOf(const QList<std::shared_ptr<Item>>& items, const IdFor<VersionBundle>& id)
{
    return int(std::count_if(items.begin(), items.end(), [&](const auto& item) { return item->id() == id; }));
}

} // namespace

class SelectedItemCommandsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theOpenConditionInItsOrder()
    {
        Window window;
        const auto plain = window.import(QStringLiteral("Cut.kdenlive"));
        QVERIFY(SelectedItemCommands::isCheckOutBlocked(*plain)); // nothing installed opens it

        const auto cut = window.withApplication(
            plain, installedApplication(plain->documentType(), QStringLiteral("24.02"), QStringLiteral("24.02")));
        QVERIFY(!SelectedItemCommands::isCheckOutBlocked(*cut));
        cut->setIsInitiating(true);
        QVERIFY(SelectedItemCommands::isCheckOutBlocked(*cut));
        cut->setIsInitiating(false);

        // Somebody else holds the lock: the bundle refuses a check-out.
        const auto ben = window.fixture.client(QStringLiteral("ben"));
        syncWait(openAs(ben, VersioningServiceType::document, cut->id())->checkOut({}, {}, &s3Factory));
        window.team->poll();
        QVERIFY(!cut->versioningService()->canCheckout());
        QVERIFY(SelectedItemCommands::isCheckOutBlocked(*cut));
    }

    void checkOutAsksFirstWhenOpeningWouldUpgrade()
    {
        Window window;
        const auto plain = window.import(QStringLiteral("Cut.kdenlive"));
        const auto& action = window.actions.checkOut();

        // The same version installed: checked out at once, one progress, idle at the end.
        const auto same = window.withApplication(
            plain, installedApplication(plain->documentType(), QStringLiteral("24.02"), QStringLiteral("24.02")));
        SelectedItemCommands::checkOut(same, action);
        SelectedItemCommands::checkOut(same, action); // a second click while the first runs is left alone
        QCOMPARE(withoutPaths(window.until(QStringLiteral("idle"))),
                 (QStringList{QStringLiteral("busy Open Cut"), QStringLiteral("open"), QStringLiteral("focus"),
                              QStringLiteral("idle")}));
        QVERIFY(same->isCheckedOut());
        syncWait(same->cancelCheckout());

        // A newer version installed: the question comes first and nothing else happens.
        auto newer = window.withApplication(
            plain, installedApplication(plain->documentType(), QStringLiteral("23.08"), QStringLiteral("24.02")));
        SelectedItemCommands::checkOut(newer, action);
        QTest::qWait(50);
        QVERIFY(window.seen.isEmpty());
        QVERIFY(window.confirmation);
        QVERIFY(std::holds_alternative<ConfirmationDialog::ConfirmItemUpdate>(window.confirmation->question()));
        QVERIFY(!newer->isCheckedOut());

        // Continue checks it out.
        window.confirmation->confirmButton().action();
        QCOMPARE(withoutPaths(window.until(QStringLiteral("idle"))),
                 (QStringList{QStringLiteral("busy Open Cut"), QStringLiteral("open"), QStringLiteral("focus"),
                              QStringLiteral("idle")}));
        QVERIFY(newer->isCheckedOut());
        syncWait(newer->cancelCheckout());

        // A document gone by the time the user answers: nothing at all.
        window.confirmation.reset();
        SelectedItemCommands::checkOut(newer, action);
        QVERIFY(window.confirmation);
        auto update = std::get<ConfirmationDialog::ConfirmItemUpdate>(window.confirmation->question()).update;
        window.confirmation.reset();
        newer.reset();
        update();
        QTest::qWait(100);
        QVERIFY(window.seen.isEmpty());
    }

    void aTemporaryCopyFailsWithItsOwnText()
    {
        Window window;
        const auto cut = window.import(QStringLiteral("Cut.kdenlive"));
        SelectedItemCommands::openCopy(cut, std::nullopt, window.actions.openCopy());
        QCOMPARE(withoutPaths(window.until(QStringLiteral("idle"))),
                 (QStringList{QStringLiteral("busy Opening Cut"), QStringLiteral("open"), QStringLiteral("idle")}));

        SelectedItemCommands::openCopy(cut, IdFor<Versions>::make(), window.actions.openCopy());
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy Opening Cut"), QStringLiteral("alert ") + Strings::createCopyError(),
                              QStringLiteral("idle")}));
    }

    void newLibrariesAndEventsAreListedOnceAndSorted()
    {
        Window window;
        window.import(QStringLiteral("Middle.kdenlive"));
        const QString libraryShort = DocumentType::library().shortDescription();

        SelectedItemCommands::askNewLibrary(window.reels, window.actions.newFinalCutLibrary());
        QVERIFY(window.sheet && std::holds_alternative<SheetModel::NewFinalCutLibrary>(*window.sheet));
        std::get<SheetModel::NewFinalCutLibrary>(*window.sheet).create(QStringLiteral("Aardvark"));
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{formatText(QStringLiteral("busy ") + Strings::creatingLibraryProgress(),
                                         {libraryShort, QStringLiteral("Aardvark")}),
                              QStringLiteral("idle")}));
        QCOMPARE(namesOf(window.reels->nestedItems()),
                 (QStringList{QStringLiteral("Aardvark"), QStringLiteral("Middle")}));
        const auto library = window.reels->nestedItems().first();
        QCOMPARE(library->documentType(), DocumentType::library());

        // The change publisher reloads the list too; the library stays listed once.
        window.team->poll();
        syncWait(window.reels->loadNestedItems());
        QTest::qWait(50);
        QCOMPARE(countOf(window.reels->nestedItems(), library->id()), 1);

        // Events of the library, sorted by name, with the long description in the progress.
        SelectedItemCommands::newEvent(QStringLiteral("Day 2"), window.actions.newFinalCutEvent(), library);
        window.until(QStringLiteral("idle"));
        SelectedItemCommands::askNewEvent(library, window.actions.newFinalCutEvent());
        std::get<SheetModel::NewFinalCutEvent>(*window.sheet).create(QStringLiteral("Day 1"));
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{formatText(QStringLiteral("busy ") + Strings::creatingLibraryProgress(),
                                         {DocumentType::event().description(), QStringLiteral("Day 1")}),
                              QStringLiteral("idle")}));
        QCOMPARE(namesOf(library->nestedItems()), (QStringList{QStringLiteral("Day 1"), QStringLiteral("Day 2")}));
        QCOMPARE(library->versioningService()->visibleActiveContainers().size(), 1);

        // A sheet answered after its container is gone does nothing.
        auto other = newCollection(window.team, QStringLiteral("Other"));
        SelectedItemCommands::askNewLibrary(other, window.actions.newFinalCutLibrary());
        other.reset();
        std::get<SheetModel::NewFinalCutLibrary>(*window.sheet).create(QStringLiteral("Lost"));
        QTest::qWait(100);
        QVERIFY(window.seen.isEmpty());
    }

    void aLibraryThatCannotBeNestedGoesToTheTrash()
    {
        Window window;
        window.import(QStringLiteral("Cut.kdenlive"));
        const auto before = namesOf(window.reels->nestedItems());
        // The collection went to the trash meanwhile: nesting in it is refused.
        syncWait(window.reels->versioningService()->removeOrDelete(nullptr, &s3Factory));

        SelectedItemCommands::newLibrary(QStringLiteral("Stray"), window.actions.newFinalCutLibrary(), window.reels);
        const QStringList seen = window.until(QStringLiteral("idle"), 2);
        QCOMPARE(seen.size(), 4);
        QVERIFY(seen.at(0).startsWith(QStringLiteral("busy ")));
        QCOMPARE(seen.at(1), QStringLiteral("idle"));
        QVERIFY(seen.at(2).startsWith(QStringLiteral("alert ")));
        QCOMPARE(namesOf(window.reels->nestedItems()), before);

        // Nowhere live, kept in the trash.
        const auto isStray = [](const VersionBundle::Summary& summary) {
            return summary.name() == QStringLiteral("Stray");
        };
        const auto live = window.team->versionBundles().liveIndex().all;
        QVERIFY(std::none_of(live.begin(), live.end(), isStray));
        const auto trash = window.team->versionBundles().trashIndex().all;
        QVERIFY(std::any_of(trash.begin(), trash.end(), isStray));
    }

    void addExistingCountsTheContainersItemsPerType()
    {
        Window window;
        const int unlimited = std::numeric_limits<int>::max();

        // Empty: no criteria, and a picker that starts out loading with nothing in it.
        auto empty =
            SelectedItemCommands::makeAddExisting(window.reels, window.actions.addExistingItem().versionBundlesIndex);
        QVERIFY(empty->acceptanceCriteria().isEmpty());
        QVERIFY(empty->loading());
        QVERIFY(empty->items().isEmpty());
        QVERIFY(empty->selection().isEmpty());
        QVERIFY(empty->searchEntry().isEmpty());
        QCOMPARE(empty->sortingOptions(), SortingOptions::ascending);
        QCOMPARE(empty->indexingOptions().rawValue(), 1);
        QVERIFY(empty->itemsKeyPath() == &VersionBundlesIndex::documents);
        QCOMPARE(empty->container()->id(), window.reels->id());

        window.import(QStringLiteral("A.kdenlive"));
        window.import(QStringLiteral("B.kdenlive"));
        window.import(QStringLiteral("C.kdenlive"));
        window.import(QStringLiteral("Notes.pdf"));
        syncWait(
            window.reels->createNestedItem(writeLibrary(window.fixture, QStringLiteral("lib"), QStringLiteral("Show"),
                                                        {QStringLiteral("Day 1"), QStringLiteral("Day 2")})));
        const auto picker =
            SelectedItemCommands::makeAddExisting(window.reels, window.actions.addExistingItem().versionBundlesIndex);
        const auto& criteria = picker->acceptanceCriteria();
        QCOMPARE(criteria.size(), 3);
        QCOMPARE(criteria.value(DocumentType::kdenliveProject()), (ItemAcceptanceCriteria{unlimited, 3}));
        QCOMPARE(criteria.value(DocumentType::pdfDocument()), (ItemAcceptanceCriteria{unlimited, 1}));
        QCOMPARE(criteria.value(DocumentType::library()), (ItemAcceptanceCriteria{unlimited, 1}));
        QVERIFY(!criteria.contains(DocumentType::blenderProject())); // none held yet

        // A library takes events.
        const auto show = findDocument(window.reels, QStringLiteral("Show"));
        syncWait(show->loadNestedItems());
        const auto events =
            SelectedItemCommands::makeAddExisting(show, window.actions.addExistingItem().versionBundlesIndex);
        QVERIFY(events->itemsKeyPath() == &VersionBundlesIndex::events);
        QCOMPARE(events->acceptanceCriteria().size(), 1);
        QCOMPARE(events->acceptanceCriteria().value(DocumentType::event()), (ItemAcceptanceCriteria{unlimited, 2}));

        // Shown in the add-existing sheet.
        SelectedItemCommands::addExisting(show, window.actions.addExistingItem());
        QVERIFY(window.sheet && std::holds_alternative<SheetModel::AddExisting>(*window.sheet));
        QCOMPARE(std::get<SheetModel::AddExisting>(*window.sheet).picker->container()->id(), show->id());
        QVERIFY(window.seen.isEmpty());
    }

    void aFolderChosenWithATrailingSeparatorKeepsItsType()
    {
        Window window;
        const QString library =
            writeLibrary(window.fixture, QStringLiteral("lib"), QStringLiteral("Show"), {QStringLiteral("Day 1")});
        SelectedItemCommands::importFile(window.reels, window.actions.importItemFromFile());
        QVERIFY(window.selected);
        window.selected(QUrl::fromLocalFile(library + QStringLiteral("/")));
        QCOMPARE(window.until(QStringLiteral("idle")),
                 (QStringList{QStringLiteral("busy ") + Strings::importingProgress(), QStringLiteral("idle")}));
        const auto show = findDocument(window.reels, QStringLiteral("Show"));
        QVERIFY(show);
        QCOMPARE(show->documentType(), DocumentType::library());
    }
};

QTEST_MAIN(SelectedItemCommandsTest)
#include "selected_item_commands_test.moc"
