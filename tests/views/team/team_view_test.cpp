// The loaded team's view over a real team bundle: the sidebar's placeholder and list, the
// detail chosen by the focus, the collection content's columns, and pictures at window sizes.

#include "design/dark_theme.h"
#include "design/ribbon_view.h"
#include "engine/storage/folder_access.h"
#include "model/strings.h"
#include "model/support/item_test_support.h"
#include "open_team/team.h"
#include "views/detail/activity_feed.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/trash_manager_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/presenters/alert_box.h"
#include "views/team/collection_content_view.h"
#include "views/team/collection_list.h"
#include "views/team/item_list_view.h"
#include "views/team/nested_item_list.h"
#include "views/team/team_view.h"
#include "views/team/welcome_view.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QScopeGuard>
#include <QStackedWidget>
#include <QTest>

#include <sys/stat.h>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

struct Window {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> bundle = fixture.client(QStringLiteral("ana"));
    AlertModel alert;
    SheetModel sheet;
    ConfirmationDialogModel confirmation;
    FileImporter fileImporter;
    ToolbarProgressIndicator progress;
    std::unique_ptr<Team> team;
    std::unique_ptr<TeamView> view;

    Window()
    {
        team = std::make_unique<Team>(
            bundle, QStringLiteral("vantrel"), [](const QUrl&) { return completedTask(); }, &alert, &sheet,
            &confirmation, &fileImporter, &progress, std::make_shared<KeyValueStoragePreview>());
        syncWait(team->collections().reload());
        view = std::make_unique<TeamView>(*team);
        view->resize(1150, 600);
        view->show();
    }

    NavigationModel& navigation() { return team->navigation(); }
    std::shared_ptr<Collection> fillDailies()
    {
        auto dailies = newCollection(bundle, QStringLiteral("Dailies"));
        newCollection(bundle, QStringLiteral("Archive"));
        syncWait(dailies->createNestedItem(writeLibrary(fixture, QStringLiteral("l"), QStringLiteral("Show"),
                                                        {QStringLiteral("Day 1"), QStringLiteral("Day 2")})));
        syncWait(dailies->createNestedItem(writeProject(fixture, QStringLiteral("p"), QStringLiteral("Cut.kdenlive"))));
        syncWait(team->collections().reload());
        for (const auto& collection : team->collections().all()) {
            if (collection->name() == QStringLiteral("Dailies"))
                return collection;
        }
        return nullptr;
    }
    template<typename T>
    T* detail() const
    {
        return qobject_cast<T*>(view->detail());
    }
};

// The centre of the row showing `name`; (-1, -1) while there is none.
QPoint centreOf(const ItemListView& view, const QString& name)
{
    for (int row = 0; row < view.model()->rowCount(); ++row) {
        if (view.listModel().item(row) && view.listModel().item(row)->name() == name)
            return view.visualRect(view.model()->index(row, 0)).center();
    }
    return QPoint(-1, -1);
}

void click(ItemListView& view, const QString& name)
{
    QTRY_VERIFY(centreOf(view, name).x() >= 0);
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, centreOf(view, name));
}

void screenshot(QWidget& widget, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QVERIFY(widget.grab().save(folder.filePath(name + QStringLiteral(".png"))));
}

} // namespace

class TeamViewTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { design::applyDarkTheme(*qApp); }

    void theSidebarShowsThePlaceholderUntilTheFirstCollection()
    {
        Window window;
        auto* pages = window.view->sidebar()->findChild<QStackedWidget*>();
        QVERIFY(pages);
        QVERIFY(!pages->currentWidget()->isAncestorOf(window.view->collectionList()));
        QVERIFY(window.detail<WelcomeView>());
        QVERIFY(window.view->sidebar()->minimumWidth() >= TeamView::sidebarMinimumWidth);

        window.fillDailies();
        QVERIFY(pages->currentWidget()->isAncestorOf(window.view->collectionList()));
    }

    void theDetailFollowsTheFocus()
    {
        Window window;
        const auto dailies = window.fillDailies();
        QVERIFY(dailies);
        NavigationModel& navigation = window.navigation();

        // A collection without a document: its content, with no events column and no check-in.
        navigation.setSelectedCollection(dailies);
        navigation.setFocus(ContentViewFocus::collectionList);
        auto* content = window.detail<CollectionContentView>();
        QVERIFY(content);
        QTRY_COMPARE(dailies->nestedItems().size(), 2);
        QVERIFY(!content->eventList());
        QVERIFY(!content->checkInArea()->isVisible());
        QVERIFY(content->activityArea()->isVisible());
        auto* feed = content->activityArea()->findChild<ActivityFeed*>();
        QVERIFY(feed);
        QCOMPARE(feed->item(), std::shared_ptr<VersionedItem>(dailies));
        // The activity column stands on black shading, from nothing at its top to a quarter at its
        // bottom, beside the feed and under it.
        QWidget* shade = content->activityArea()->parentWidget();
        const QImage ground = shade->grab().toImage();
        const QColor plain = shade->palette().color(QPalette::Window);
        QCOMPARE(ground.pixelColor(8, 0), plain);
        for (const int x : {8, ground.width() - 8})
            QVERIFY(qAbs(ground.pixelColor(x, ground.height() - 1).green() - plain.green() * 0.75) <= 2);

        // The library: its events column, in the same content view.
        std::shared_ptr<Document> library;
        for (const auto& document : dailies->nestedItems()) {
            if (document->name() == QStringLiteral("Show"))
                library = document;
        }
        QVERIFY(library);
        navigation.setSelectedDocument(library);
        QCOMPARE(window.detail<CollectionContentView>(), content);
        QCOMPARE(feed->item(), navigation.focusedItem());
        QVERIFY(content->eventList());
        QTRY_COMPARE(library->nestedItems().size(), 2);
        QTRY_COMPARE(content->eventList()->view().model()->rowCount() > 0, true);
        navigation.setFocus(ContentViewFocus::documentList);
        // The pictures show a long progress line in the toolbar, too.
        window.progress.setState(ToolbarProgressIndicator::State::busy(
            QStringLiteral("Checking in “The Longest Documentary Ever Cut, Director’s Final Version With Extras, "
                           "Commentary And Deleted Scenes”...")));
        QTest::qWait(50);
        screenshot(*window.view, QStringLiteral("team_view_library_1150x600"));
        window.view->resize(1920, 1080);
        QTest::qWait(50);
        screenshot(*window.view, QStringLiteral("team_view_library_1920x1080"));
        window.progress.setState(ToolbarProgressIndicator::State::idle());

        // A project holds no events: the column goes.
        for (const auto& document : dailies->nestedItems()) {
            if (document != library)
                navigation.setSelectedDocument(document);
        }
        QVERIFY(!content->eventList());

        // Home shows the welcome view even with a collection selected; the trash, the trash.
        navigation.setFocus(ContentViewFocus::home);
        QVERIFY(window.detail<WelcomeView>());
        navigation.setFocus(ContentViewFocus::trash);
        QVERIFY(window.detail<TrashManagerView>());
        QTest::qWait(50);
        screenshot(*window.view, QStringLiteral("team_view_trash_1920x1080"));
        // No collection but another pane: the welcome view.
        navigation.setSelectedCollection(nullptr);
        navigation.setFocus(ContentViewFocus::collectionList);
        QVERIFY(window.detail<WelcomeView>());
    }

    // Keyboard focus given to a list by the user makes its pane the focused one, so the Delete key
    // asks about the item the header shows: after a right click in the sidebar, the collection.
    void aClickedListBecomesTheFocusedPane()
    {
        Window window;
        const auto dailies = window.fillDailies();
        NavigationModel& navigation = window.navigation();
        navigation.setSelectedCollection(dailies);
        QTRY_COMPARE(dailies->nestedItems().size(), 2);
        QVERIFY(QTest::qWaitForWindowActive(window.view.get()));
        auto* content = window.detail<CollectionContentView>();
        QVERIFY(content);
        ItemListView& sidebar = window.view->collectionList()->view();
        ItemListView& list = content->documentList()->view();
        QTRY_VERIFY(centreOf(list, QStringLiteral("Cut")).x() >= 0);

        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, centreOf(list, QStringLiteral("Cut")));
        QCOMPARE(navigation.focusedItem()->name(), QStringLiteral("Cut"));
        QTRY_VERIFY(list.hasFocus());

        // A right click opens the menu without selecting; Escape closes it, the sidebar keeps the focus.
        const QPoint row = centreOf(sidebar, QStringLiteral("Dailies"));
        QTest::mousePress(sidebar.viewport(), Qt::RightButton, {}, row);
        QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, row, sidebar.viewport()->mapToGlobal(row));
        QApplication::sendEvent(sidebar.viewport(), &menuEvent);
        QTest::mouseRelease(sidebar.viewport(), Qt::RightButton, {}, row);
        QTRY_VERIFY(QApplication::activePopupWidget());
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!QApplication::activePopupWidget());
        QTRY_VERIFY(sidebar.hasFocus());
        QCOMPARE(navigation.focus(), ContentViewFocus::collectionList);
        QCOMPARE(navigation.focusedItem(), std::shared_ptr<VersionedItem>(dailies));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Delete);
        QVERIFY(window.confirmation.dialog());
        QVERIFY(window.confirmation.dialog()->messageText().contains(QStringLiteral("Dailies")));
        window.confirmation.setDialog(std::nullopt);

        // Tabbing back into the documents focuses their pane again; Delete asks about the document.
        list.setFocus(Qt::TabFocusReason);
        QCOMPARE(navigation.focus(), ContentViewFocus::documentList);
        QTest::keyClick(&list, Qt::Key_Delete);
        QVERIFY(window.confirmation.dialog());
        QVERIFY(window.confirmation.dialog()->messageText().contains(QStringLiteral("Cut")));
    }

    // A change of the team reloads the collections, and a change of a collection its documents,
    // while the user goes on clicking: the lists shown after the click always come off their
    // spinner, whichever finished first.
    void aClickRightAfterAReloadNeverLeavesAListLoading()
    {
        Window window;
        window.fillDailies();
        window.bundle->poll();
        NavigationModel& navigation = window.navigation();
        ItemListView& sidebar = window.view->collectionList()->view();
        click(sidebar, QStringLiteral("Dailies"));
        auto* content = window.detail<CollectionContentView>();
        QVERIFY(content);
        QTRY_COMPARE(content->documentList()->view().listModel().itemCount(), 2);

        // The reload a check-in or an added item makes, then the click on the same collection.
        syncWait(window.team->collections().reload());
        click(sidebar, QStringLiteral("Dailies"));
        content = window.detail<CollectionContentView>();
        QVERIFY(content);
        QTRY_COMPARE(content->documentList()->content(), NestedItemList::Content::list);
        QCOMPARE(content->documentList()->view().listModel().itemCount(), 2);

        // The click's own load still running when the reload ends.
        click(sidebar, QStringLiteral("Archive"));
        click(sidebar, QStringLiteral("Dailies"));
        syncWait(window.team->collections().reload());
        content = window.detail<CollectionContentView>();
        QTRY_COMPARE(content->documentList()->content(), NestedItemList::Content::list);

        // The same for the events of a library shown again after its collection reloaded.
        ItemListView& documents = content->documentList()->view();
        click(documents, QStringLiteral("Show"));
        QVERIFY(content->eventList());
        QTRY_COMPARE(content->eventList()->content(), NestedItemList::Content::list);
        syncWait(navigation.selectedCollection()->loadNestedItems());
        click(documents, QStringLiteral("Show"));
        QVERIFY(content->eventList());
        QTRY_COMPARE(content->eventList()->content(), NestedItemList::Content::list);
        QCOMPARE(content->eventList()->view().listModel().itemCount(), 2);
    }

    void aShareThatIsGoneIsShownUntilItIsBack()
    {
        Window window;
        design::RibbonView* ribbon = window.view->shareRibbon();
        QVERIFY(!ribbon->isShowingRibbon());
        const QString root = window.fixture.root();
        QVERIFY(QDir().rename(root, root + QStringLiteral(".away")));
        window.bundle->poll();
        QTRY_VERIFY(ribbon->isShowingRibbon());
        QCOMPARE(ribbon->text(), Strings::teamBundleUnreachable());
        QTest::qWait(50);
        screenshot(*window.view, QStringLiteral("team_view_share_unreachable_1150x600"));

        QVERIFY(QDir().rename(root + QStringLiteral(".away"), root));
        window.bundle->poll();
        QTRY_VERIFY(!ribbon->isShowingRibbon());
    }

    // The alert of a team bundle this user may only read, over the window it opened in.
    void aReadOnlyTeamBundleSaysWhyOverItsWindow()
    {
        Window window;
        window.fillDailies();
        const QString root = window.fixture.root();
        struct stat status {};
        QVERIFY(::stat(QFile::encodeName(root).constData(), &status) == 0);
        QVERIFY(::chmod(QFile::encodeName(root + QStringLiteral("/locks")).constData(), 0755) == 0);
        QVERIFY(::chmod(QFile::encodeName(root).constData(), 0775) == 0);
        setAccessIdentityForTesting(AccessIdentity{status.st_uid + 1, {status.st_gid}});
        const auto restore = qScopeGuard([] { setAccessIdentityForTesting(std::nullopt); });
        const auto problem = window.fixture.client(QStringLiteral("ben"))->writeProblem();
        QVERIFY(problem);
        window.alert.show(*problem);
        QPointer<QMessageBox> box =
            makeAlertBox(*window.alert.details(), presentedFlag(&window.alert), window.view.get());
        box->open();
        QTest::qWait(50);
        QCOMPARE(box->text(), QStringLiteral("Read-Only Team Bundle"));
        // The box as the window shows it: over the window, in its upper part.
        QPixmap picture = window.view->grab();
        QPainter painter(&picture);
        box->setAutoFillBackground(true); // a window of its own, painted by the system otherwise
        const QPixmap alert = box->grab();
        const QRect area((picture.width() - alert.width()) / 2, 60, alert.width(), alert.height());
        painter.drawPixmap(area.topLeft(), alert);
        painter.setPen(box->palette().color(QPalette::Mid));
        painter.drawRect(area.adjusted(0, 0, -1, -1));
        painter.end();
        const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
        QVERIFY(picture.save(folder.filePath(QStringLiteral("read_only_team_bundle_1150x600.png"))));
        box->close();
    }

    void theListsAreAQuarterOfThePaneWithinLimits()
    {
        QCOMPARE(CollectionContentView::listWidth(800), 220);
        QCOMPARE(CollectionContentView::listWidth(1200), 300);
        QCOMPARE(CollectionContentView::listWidth(2000), 360);
    }
};

QTEST_MAIN(TeamViewTest)
#include "team_view_test.moc"
