// The keyboard focus in a collection's content: the document list taken without a selection keeps
// the collection's header, and the activity feed takes the focus by click and Tab and scrolls
// itself by the reading keys.

#include "views/detail/activity_feed.h"
#include "views/detail/activity_list_model.h"
#include "views/detail/check_in_view.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/support/open_team.h"
#include "views/team/collection_content_view.h"
#include "views/team/item_list_view.h"
#include "views/team/nested_item_list.h"

#include <QApplication>
#include <QListView>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QUuid>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// `count` new versions, newest first, for a feed to show.
QList<ActivityInfo> versions(int count)
{
    QList<ActivityInfo> list;
    for (int i = count; i > 0; --i) {
        ActivityInfo activity;
        activity.id = IdFor<States>(QUuid::createUuid());
        activity.versionID = IdFor<Versions>(QUuid::createUuid());
        activity.state.kind = ActivityInfo::StateKind::newVersion;
        activity.message = QStringLiteral("Pass %1").arg(i);
        activity.userName = QStringLiteral("Ana Editor");
        activity.hostName = QStringLiteral("edit-3");
        activity.date = QDateTime(QDate(2026, 3, 14), QTime(9, 30));
        activity.isCurrent = [] { return false; };
        list << activity;
    }
    return list;
}

} // namespace

class CollectionFocusTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void focusWithoutASelection()
    {
        OpenTeam window;
        auto reels = newCollection(window.bundle, QStringLiteral("Reels"));
        for (int i = 1; i <= 8; ++i) {
            const QString name = QStringLiteral("Cut %1.kdenlive").arg(i);
            syncWait(reels->createNestedItem(writeProject(window.fixture, QString::number(i), name)));
        }
        syncWait(reels->createNestedItem(
            writeLibrary(window.fixture, QStringLiteral("show"), QStringLiteral("Show"), {QStringLiteral("Day 1")})));
        NavigationModel& navigation = window.team->navigation();
        navigation.setSelectedCollection(reels);
        QCOMPARE(navigation.focus(), ContentViewFocus::collectionList);
        CollectionContentView content(reels, navigation, window.team->itemActions(), &window.alert);
        windowBackground(content);
        content.resize(1150, 600);
        content.show();
        QVERIFY(QTest::qWaitForWindowActive(&content));
        auto* addDocument = content.header()->findChild<QWidget*>(QStringLiteral("addDocumentMenu"));
        QVERIFY(addDocument && addDocument->isVisible());
        const int headerHeight = content.header()->height();

        // Tab into the documents, or a click under them: the collection stays in the header.
        ItemListView& documents = content.documentList()->view();
        documents.setFocus(Qt::TabFocusReason);
        QTest::mouseClick(documents.viewport(), Qt::LeftButton, {}, QPoint(20, documents.viewport()->height() - 4));
        QTRY_VERIFY(documents.hasFocus());
        QTest::qWait(50);
        QCOMPARE(navigation.focus(), ContentViewFocus::collectionList);
        QVERIFY(!navigation.selectedDocument());
        QVERIFY(addDocument->isVisible());
        QCOMPARE(content.header()->height(), headerHeight);
        saveScreenshot(content, QStringLiteral("collection_list_focused_1150x600"));

        // A click in the activity takes the focus there: End scrolls the feed, not the documents.
        const auto cut = findDocument(reels, QStringLiteral("Cut 1"));
        navigation.setSelectedDocument(cut);
        auto* feed = content.findChild<ActivityFeed*>();
        QVERIFY(feed);
        QTRY_VERIFY(feed->model().rowCount() > 0);
        feed->receive(cut, versions(40));
        QListView* activity = feed->list();
        QTRY_VERIFY(activity->verticalScrollBar()->maximum() > 0);
        QTest::mouseClick(activity->viewport(), Qt::LeftButton, {}, QPoint(4, 4));
        QTRY_VERIFY(activity->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        // The rows brought into view measure themselves; the feed stays at its end.
        QTest::qWait(200);
        QCOMPARE(activity->verticalScrollBar()->value(), activity->verticalScrollBar()->maximum());
        QCOMPARE(navigation.selectedDocument(), cut);
        saveScreenshot(content, QStringLiteral("activity_focused_end_1150x600"));
        QTest::keyClick(activity, Qt::Key_Home);
        QCOMPARE(activity->verticalScrollBar()->value(), 0);

        // Tab from the documents reaches the feed at once, and Down then scrolls the feed.
        documents.setFocus(Qt::TabFocusReason);
        QTest::keyClick(&documents, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), activity);
        QTest::keyClick(activity, Qt::Key_Down);
        QCOMPARE(navigation.selectedDocument(), cut);

        // A new list, once the focus has moved on, takes nothing back to the feed.
        documents.setFocus(Qt::MouseFocusReason);
        feed->receive(cut, versions(3));
        QTest::qWait(50);
        QCOMPARE(QApplication::focusWidget(), &documents);

        // A library's events stand between the documents and the feed, both ways.
        navigation.setSelectedDocument(findDocument(reels, QStringLiteral("Show")));
        QTRY_VERIFY(content.eventList());
        ItemListView& events = content.eventList()->view();
        QTRY_VERIFY(events.isVisible());
        documents.setFocus(Qt::TabFocusReason);
        QTest::keyClick(&documents, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), &events);
        QTest::keyClick(&events, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), activity);
        QTest::keyClick(activity, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), &events);

        // Checked out here, its check-in panel comes between the documents and the events.
        syncWait(navigation.selectedDocument()->checkOut());
        QTRY_VERIFY(content.checkInArea()->isVisible());
        documents.setFocus(Qt::TabFocusReason);
        QTest::keyClick(&documents, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), content.checkInView()->editor());
        events.setFocus(Qt::TabFocusReason);
        QTest::keyClick(&events, Qt::Key_Backtab);
        QVERIFY(content.checkInView()->isAncestorOf(QApplication::focusWidget()));
    }
};

QTEST_MAIN(CollectionFocusTest)
#include "collection_focus_test.moc"
