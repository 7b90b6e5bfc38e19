// The team window's lists over a real team bundle: the collections of the sidebar and the nested
// lists of documents, kept in step with the navigation model, the focus, the clipboard, the
// questions before removing, the double click, and a teammate's changes.

#include "design/palette.h"
#include "model/support/item_test_support.h"
#include "open_team/team.h"
#include "views/team/collection_list.h"
#include "views/team/item_list_model.h"
#include "views/team/item_list_view.h"
#include "views/team/nested_item_list.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QMenu>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// How long a condition is waited for: what the poll or the event loop brings arrives in
// milliseconds, but a loaded machine may take seconds.
constexpr int patience = 60000;

// A team over a real bundle, with two collections; Dailies holds a library and two projects.
struct Window {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> bundle = fixture.client(QStringLiteral("ana"));
    AlertModel alert;
    SheetModel sheet;
    ConfirmationDialogModel confirmation;
    FileImporter fileImporter;
    ToolbarProgressIndicator progress;
    std::unique_ptr<Team> team;

    Window()
    {
        bundle->setPollInterval(std::chrono::milliseconds(20));
        auto dailies = newCollection(bundle, QStringLiteral("Dailies"));
        newCollection(bundle, QStringLiteral("Archive"));
        syncWait(dailies->createNestedItem(
            writeLibrary(fixture, QStringLiteral("l"), QStringLiteral("Show"), {QStringLiteral("Day 1")})));
        syncWait(dailies->createNestedItem(writeProject(fixture, QStringLiteral("p"), QStringLiteral("Cut.kdenlive"))));
        syncWait(
            dailies->createNestedItem(writeProject(fixture, QStringLiteral("q"), QStringLiteral("Edit.kdenlive"))));
        team = std::make_unique<Team>(
            bundle, QStringLiteral("vantrel"), [](const QUrl&) { return completedTask(); }, &alert, &sheet,
            &confirmation, &fileImporter, &progress, std::make_shared<KeyValueStoragePreview>());
        syncWait(team->collections().reload());
    }

    NavigationModel& navigation() { return team->navigation(); }
    std::shared_ptr<Collection> listed(const QString& name) const
    {
        for (const auto& collection : team->collections().all()) {
            if (collection->name() == name)
                return collection;
        }
        return nullptr;
    }
    std::shared_ptr<Collection> selectDailies()
    {
        auto dailies = listed(QStringLiteral("Dailies"));
        navigation().setSelectedCollection(dailies);
        const bool loaded = QTest::qWaitFor(
            [&] { return dailies->nestedItems().size() == 3 && !dailies->isLoadingNestedItems(); }, patience);
        return loaded ? dailies : nullptr;
    }

    // The documents list as the collection content builds it; double clicks are counted.
    NestedItemList* documentList(const std::shared_ptr<Collection>& collection, QWidget* parent)
    {
        NestedItemClosures<Document> closures;
        closures.removeOrDelete = [this, collection](const std::shared_ptr<Document>& document) {
            team->itemActions().removeOrDelete()(document, collection);
        };
        closures.itemLink = [this](const Document& document) -> std::optional<QUrl> {
            const auto selected = navigation().selectedCollection();
            auto link = selected ? navigation().url(*selected) : std::nullopt;
            if (link)
                link->setPath(link->path() + QLatin1Char('/') + document.id().toString());
            return link;
        };
        closures.select = [this](const std::shared_ptr<Document>& document) {
            if (document)
                document->setSelectedItem(nullptr);
            navigation().setSelectedDocument(document);
        };
        closures.onDoubleTap = [this](const std::shared_ptr<Document>& document) { doubleTapped << document->name(); };
        return makeNestedItemList(collection, closures, navigation(), team->itemActions(),
                                  ContentViewFocus::documentList, parent);
    }

    QStringList doubleTapped;
};

int rowNamed(const ItemListView& view, const QString& name)
{
    for (int row = 0; row < view.model()->rowCount(); ++row) {
        if (view.listModel().item(row) && view.listModel().item(row)->name() == name)
            return row;
    }
    return -1;
}

QPoint centreOf(const ItemListView& view, int row)
{
    return view.visualRect(view.model()->index(row, 0)).center();
}

void trigger(ItemListView& view, int row, const QString& action)
{
    std::unique_ptr<QMenu> menu(view.contextMenu(row, nullptr));
    QVERIFY(menu);
    auto* entry = menu->findChild<QAction*>(action);
    QVERIFY(entry);
    entry->trigger();
}

void screenshot(QWidget& widget, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QVERIFY(widget.grab().save(folder.filePath(name + QStringLiteral(".png"))));
}

void darken(QWidget& widget)
{
    widget.setAutoFillBackground(true);
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, design::neutral(7));
    widget.setPalette(palette);
}

} // namespace

class ItemListsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void collectionListFollowsTheNavigationAndTheFocus()
    {
        Window window;
        auto& navigation = window.navigation();
        CollectionList list(window.team->collections(), navigation, window.team->itemActions());
        darken(list);
        list.resize(260, 240);
        list.show();
        list.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&list, patience));
        auto& view = list.view();
        QCOMPARE(view.model()->rowCount(), 2);

        // Selected elsewhere, shown here; none clears it.
        const auto dailies = window.listed(QStringLiteral("Dailies"));
        navigation.setSelectedCollection(window.listed(QStringLiteral("Archive")));
        QCOMPARE(view.selectedID(), window.listed(QStringLiteral("Archive"))->id());
        navigation.setSelectedCollection(nullptr);
        QVERIFY(!view.selectedID());

        // Arrowing keeps the collection's remembered document; a click forgets it.
        window.selectDailies();
        const auto cut = findDocument(dailies, QStringLiteral("Cut"));
        navigation.setSelectedDocument(cut);
        navigation.setSelectedCollection(window.listed(QStringLiteral("Archive")));
        navigation.setFocus(ContentViewFocus::collectionList);
        QTRY_VERIFY_WITH_TIMEOUT(view.hasFocus(), patience);
        QTest::keyClick(&view, Qt::Key_Down);
        QCOMPARE(navigation.selectedCollection(), dailies);
        QCOMPARE(navigation.selectedDocument(), cut);
        QCOMPARE(navigation.focus(), ContentViewFocus::documentList);
        QTRY_VERIFY_WITH_TIMEOUT(!view.hasFocus(), patience); // the documents pane has it now
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, rowNamed(view, "Dailies")));
        QCOMPARE(navigation.selectedCollection(), dailies);
        QVERIFY(!navigation.selectedDocument());
        QCOMPARE(navigation.focus(), ContentViewFocus::collectionList);
        QTRY_VERIFY_WITH_TIMEOUT(view.hasFocus(), patience);
        screenshot(list, QStringLiteral("collection_list"));

        // Copy Link replaces the clipboard with the collection's deep link.
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        trigger(view, rowNamed(view, "Archive"), QStringLiteral("copyLink"));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("vantrel://select/") + window.listed("Archive")->id().toString());

        // A teammate's new collection shows up with the selection kept.
        newCollection(window.fixture.client(QStringLiteral("ben")), QStringLiteral("Bloopers"));
        QTRY_COMPARE_WITH_TIMEOUT(view.model()->rowCount(), 3, patience);
        QCOMPARE(view.selectedID(), dailies->id());
        QCOMPARE(navigation.selectedCollection()->id(), dailies->id());
    }

    void deletingACollectionAsksThenDeselectsOnceGone()
    {
        Window window;
        auto& navigation = window.navigation();
        CollectionList list(window.team->collections(), navigation, window.team->itemActions());
        auto& view = list.view();
        const auto archive = window.listed(QStringLiteral("Archive"));
        navigation.setSelectedCollection(archive);

        // The Delete key asks about the selected collection; cancelling changes nothing.
        QTest::keyClick(&view, Qt::Key_Delete);
        QVERIFY(window.confirmation.dialog());
        QVERIFY(window.confirmation.dialog()->messageText().contains(QStringLiteral("Archive")));
        window.confirmation.setDialog(std::nullopt);
        QCOMPARE(view.model()->rowCount(), 2);

        // The menu of another row asks about that row.
        trigger(view, rowNamed(view, "Dailies"), QStringLiteral("moveToTrash"));
        QVERIFY(window.confirmation.dialog()->messageText().contains(QStringLiteral("Dailies")));

        QTest::keyClick(&view, Qt::Key_Delete);
        window.confirmation.dialog()->confirmButton().action();
        QTRY_COMPARE_WITH_TIMEOUT(view.model()->rowCount(), 1, patience);
        QVERIFY(!navigation.selectedCollection());
        QVERIFY(!view.selectedID());
        QVERIFY(!window.alert.details());
    }

    void nestedListGroupsSelectsAndSkipsHeaders()
    {
        Window window;
        auto& navigation = window.navigation();
        const auto dailies = window.selectDailies();
        QWidget frame;
        darken(frame);
        frame.resize(300, 320);
        auto* list = window.documentList(dailies, &frame);
        list->setGeometry(16, 16, 268, 288);
        frame.show();
        QVERIFY(QTest::qWaitForWindowActive(&frame, patience));
        auto& view = list->view();
        QCOMPARE(list->content(), NestedItemList::Content::list);

        // Libraries, then Projects: two headers that take no selection.
        const auto& model = view.listModel();
        QCOMPARE(model.rowCount(), 5);
        QVERIFY(model.isHeader(0) && model.isHeader(2));
        QCOMPARE(model.data(model.index(0), Qt::DisplayRole).toString(), QStringLiteral("Libraries"));
        QCOMPARE(model.flags(model.index(2)), Qt::NoItemFlags);
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, 2));
        QVERIFY(!navigation.selectedDocument());

        // Clicking selects through the closure; arrowing passes over the header both ways.
        QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, rowNamed(view, "Show")));
        QCOMPARE(navigation.selectedDocument()->name(), QStringLiteral("Show"));
        QCOMPARE(navigation.focus(), ContentViewFocus::documentList);
        QTRY_VERIFY_WITH_TIMEOUT(view.hasFocus(), patience);
        QTest::keyClick(&view, Qt::Key_Down);
        QCOMPARE(navigation.selectedDocument()->name(), QStringLiteral("Cut"));
        QTest::keyClick(&view, Qt::Key_Up);
        QCOMPARE(navigation.selectedDocument()->name(), QStringLiteral("Show"));
        QTest::keyClick(&view, Qt::Key_Up);
        QCOMPARE(navigation.selectedDocument()->name(), QStringLiteral("Show"));
        QTest::keyClick(&view, Qt::Key_End);
        QCOMPARE(navigation.selectedDocument()->name(), QStringLiteral("Edit"));

        // Selected from the model, shown in the list; the focus goes elsewhere and back.
        navigation.setSelectedDocument(findDocument(dailies, QStringLiteral("Cut")));
        QCOMPARE(view.selectedID(), findDocument(dailies, QStringLiteral("Cut"))->id());
        navigation.setFocus(ContentViewFocus::eventList);
        QTRY_VERIFY_WITH_TIMEOUT(!view.hasFocus(), patience);
        navigation.setFocus(ContentViewFocus::documentList);
        QTRY_VERIFY_WITH_TIMEOUT(view.hasFocus(), patience);
        screenshot(frame, QStringLiteral("nested_item_list"));

        // The menu offers the trash and Copy Link; the link is the document's.
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        const int cutRow = rowNamed(view, "Cut");
        std::unique_ptr<QMenu> menu(view.contextMenu(cutRow, nullptr));
        QCOMPARE(menu->actions().first()->text(), QStringLiteral("Move to Trash..."));
        trigger(view, cutRow, QStringLiteral("copyLink"));
        QCOMPARE(QGuiApplication::clipboard()->text(),
                 QStringLiteral("vantrel://select/%1/%2")
                     .arg(dailies->id().toString(), findDocument(dailies, "Cut")->id().toString()));
        // Without a link the clipboard stays as it was.
        navigation.setSelectedCollection(nullptr);
        QGuiApplication::clipboard()->setText(QStringLiteral("before"));
        trigger(view, cutRow, QStringLiteral("copyLink"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    }

    void teammatesChangesArriveWithTheSelectionKept()
    {
        Window window;
        auto& navigation = window.navigation();
        const auto dailies = window.selectDailies();
        std::unique_ptr<NestedItemList> list(window.documentList(dailies, nullptr));
        auto& view = list->view();
        navigation.setSelectedDocument(findDocument(dailies, QStringLiteral("Edit")));
        const auto cut = findDocument(dailies, QStringLiteral("Cut"));
        const auto edit = navigation.selectedDocument();
        QSignalSpy resets(view.model(), &QAbstractItemModel::modelReset);

        const auto ben = window.fixture.client(QStringLiteral("ben"));
        const auto bensCut = openAs(ben, VersioningServiceType::document, findDocument(dailies, "Cut")->id());
        syncWait(bensCut->rename(QStringLiteral("Assembly")));
        const auto source = writeProject(window.fixture, QStringLiteral("r"), QStringLiteral("Trailer.kdenlive"));
        auto bensCollection = syncWait(Collection::open(dailies->id(), ben));
        syncWait(bensCollection->createNestedItem(source));

        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(view, "Trailer") >= 0, patience);
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(view, "Assembly") >= 0, patience);
        QCOMPARE(view.selectedID(), findDocument(dailies, QStringLiteral("Edit"))->id());
        QCOMPARE(navigation.selectedDocument()->name(), QStringLiteral("Edit"));
        // Changed in place: the same objects, rows inserted and changed, never the whole list.
        QCOMPARE(findDocument(dailies, QStringLiteral("Assembly")), cut);
        QCOMPARE(findDocument(dailies, QStringLiteral("Edit")), edit);
        QCOMPARE(resets.count(), 0);
    }

    // The sidebar shows a scroll bar, and a reload keeps the collections' objects, the selection
    // and where the user scrolled to, even with the selected row out of sight.
    void theSidebarKeepsItsPlaceAcrossReloads()
    {
        Window window;
        for (int i = 0; i < 30; ++i)
            newCollection(window.bundle, QStringLiteral("Reel %1").arg(i, 2, 10, QLatin1Char('0')));
        syncWait(window.team->collections().reload());
        auto& navigation = window.navigation();
        CollectionList list(window.team->collections(), navigation, window.team->itemActions());
        darken(list);
        list.resize(260, 240);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list, patience));
        auto& view = list.view();
        QTRY_VERIFY_WITH_TIMEOUT(view.verticalScrollBar()->isVisible(), patience);

        const auto before = window.team->collections().all();
        const auto archive = window.listed(QStringLiteral("Archive"));
        navigation.setSelectedCollection(archive);
        view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
        const int scrolled = view.verticalScrollBar()->value();
        QVERIFY(
            !view.viewport()->rect().intersects(view.visualRect(view.model()->index(rowNamed(view, "Archive"), 0))));
        QSignalSpy resets(view.model(), &QAbstractItemModel::modelReset);

        syncWait(window.team->collections().reload());
        newCollection(window.fixture.client(QStringLiteral("ben")), QStringLiteral("Zebra"));
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(view, "Zebra") >= 0, patience);
        for (const auto& collection : before)
            QVERIFY(window.team->collections().all().contains(collection));
        QCOMPARE(navigation.selectedCollection(), archive);
        QCOMPARE(view.selectedID(), archive->id());
        QCOMPARE(view.verticalScrollBar()->value(), scrolled);
        QCOMPARE(resets.count(), 0);
        screenshot(list, QStringLiteral("collection_list_scrolled"));
    }

    void doubleClickChecksOutOnlyWhatOpenWould()
    {
        Window window;
        const auto dailies = window.selectDailies();
        std::unique_ptr<NestedItemList> list(window.documentList(dailies, nullptr));
        list->resize(260, 300);
        list->show();
        auto& view = list->view();
        const auto cut = findDocument(dailies, QStringLiteral("Cut"));
        QTRY_VERIFY_WITH_TIMEOUT(cut->application().isInstalled(), patience);

        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, rowNamed(view, "Cut")));
        QCOMPARE(window.doubleTapped, QStringList{QStringLiteral("Cut")});
        QCOMPARE(window.navigation().selectedDocument()->name(), QStringLiteral("Cut"));

        // No application opens a library here.
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, rowNamed(view, "Show")));
        QCOMPARE(window.doubleTapped.size(), 1);

        // Checked out here: it opens again, as Open would.
        syncWait(cut->checkOut());
        QTRY_VERIFY_WITH_TIMEOUT(view.listModel().facts(rowNamed(view, "Cut"))->lockedByCurrentInitiator, patience);
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, rowNamed(view, "Cut")));
        QCOMPARE(window.doubleTapped, QStringList({QStringLiteral("Cut"), QStringLiteral("Cut")}));
        syncWait(cut->cancelCheckout());
        QTRY_VERIFY_WITH_TIMEOUT(!cut->isLocked(), patience);

        // Locked by a teammate: no check-out, whatever the row shows.
        const auto ben = window.fixture.client(QStringLiteral("ben"));
        const auto bensCut = openAs(ben, VersioningServiceType::document, cut->id());
        syncWait(bensCut->checkOut({}, {.takeover = LockTakeover::none, .autoSave = false}, &s3Factory));
        const auto anasCut = findDocument(dailies, QStringLiteral("Cut"));
        QTRY_VERIFY_WITH_TIMEOUT(anasCut->isLocked(), patience);
        // The row's facts follow on the next turn of the event loop.
        const int row = rowNamed(view, "Cut");
        QTRY_VERIFY_WITH_TIMEOUT(view.listModel().facts(row)->isLocked, patience);
        QVERIFY(!view.listModel().facts(row)->lockedByCurrentInitiator);
        QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, row));
        QCOMPARE(window.doubleTapped.size(), 2);
    }

    // A document checked out here may not be trashed: the engine refuses, the alert says so and
    // nothing else changes.
    void aRefusedTrashChangesNothing()
    {
        Window window;
        auto& navigation = window.navigation();
        const auto dailies = window.selectDailies();
        std::unique_ptr<NestedItemList> list(window.documentList(dailies, nullptr));
        auto& view = list->view();
        const auto cut = findDocument(dailies, QStringLiteral("Cut"));
        navigation.setSelectedDocument(cut);
        syncWait(cut->checkOut());
        QVERIFY(cut->isCheckedOut());

        QTest::keyClick(&view, Qt::Key_Delete);
        QVERIFY(window.confirmation.dialog());
        window.confirmation.dialog()->confirmButton().action();
        QTRY_VERIFY_WITH_TIMEOUT(window.alert.details(), patience);
        QTRY_VERIFY_WITH_TIMEOUT(!window.progress.state().isBusy(), patience);
        QCOMPARE(navigation.selectedDocument(), cut);
        QCOMPARE(view.selectedID(), cut->id());
        QVERIFY(rowNamed(view, "Cut") >= 0);
        QVERIFY(cut->isCheckedOut());

        // A document nobody holds goes, and only then is it deselected.
        window.alert.setDetails(std::nullopt);
        navigation.setSelectedDocument(findDocument(dailies, QStringLiteral("Edit")));
        QTest::keyClick(&view, Qt::Key_Delete);
        window.confirmation.dialog()->confirmButton().action();
        QTRY_VERIFY_WITH_TIMEOUT(rowNamed(view, "Edit") < 0, patience);
        QVERIFY(!navigation.selectedDocument());
        QVERIFY(!view.selectedID());
        QVERIFY(!window.alert.details());
    }
};

int main(int argc, char** argv)
{
    // An installed application for Kdenlive projects, found through the desktop entries.
    QTemporaryDir data;
    writeFile(data.filePath(QStringLiteral("applications/org.kde.kdenlive.desktop")),
              "[Desktop Entry]\nType=Application\nName=Kdenlive\nExec=true %F\nMimeType=application/x-kdenlive;\n");
    qputenv("XDG_DATA_HOME", data.path().toUtf8());
    qputenv("XDG_DATA_DIRS", data.path().toUtf8());
    QApplication app(argc, argv);
    ItemListsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "item_lists_test.moc"
