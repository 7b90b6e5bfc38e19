// The activity feed over a real team bundle with two clients: rows taken in by change, untouched
// by changes that leave the list alone, the timeline's caps by place, Force Unlock only where it
// belongs, the focus moving on, the application versions read off the interface thread, a revert
// from a row, and rows measured as they lay themselves out.

#include "design/palette.h"
#include "model/support/item_test_support.h"
#include "open_team/team.h"
#include "views/detail/activity_action_buttons.h"
#include "views/detail/activity_content.h"
#include "views/detail/activity_date_line.h"
#include "views/detail/activity_feed.h"
#include "views/detail/activity_item.h"
#include "views/detail/activity_item_delegate.h"
#include "views/detail/activity_line.h"
#include "views/detail/activity_list_model.h"
#include "views/detail/activity_spacer.h"
#include "views/detail/activity_symbol.h"
#include "views/detail/detail_look.h"
#include "views/detail/tag.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QListView>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QUuid>

using namespace vantrel;
using namespace vantrel::testing;

namespace {

using Position = ActivitySpacer::Position;
using Kind = ActivityInfo::StateKind;

// Ana's team window over a bundle Ben works on too; Reels holds two projects.
struct Window {
    TeamFixture fixture;
    std::shared_ptr<TeamBundle> ana = fixture.client(QStringLiteral("ana"));
    std::shared_ptr<TeamBundle> ben = fixture.client(QStringLiteral("ben"));
    AlertModel alert;
    SheetModel sheet;
    ConfirmationDialogModel confirmation;
    FileImporter fileImporter;
    ToolbarProgressIndicator progress;
    std::unique_ptr<Team> team;
    std::shared_ptr<Collection> reels;
    bool loaded = false;

    Window()
    {
        ana->setPollInterval(std::chrono::milliseconds(20));
        auto made = newCollection(ana, QStringLiteral("Reels"));
        syncWait(
            made->createNestedItem(writeProject(fixture, QStringLiteral("a"), QStringLiteral("Cut.kdenlive"), "v1")));
        syncWait(made->createNestedItem(writeProject(fixture, QStringLiteral("b"), QStringLiteral("Edit.kdenlive"))));
        team = std::make_unique<Team>(
            ana, QStringLiteral("vantrel"), [](const QUrl&) { return completedTask(); }, &alert, &sheet, &confirmation,
            &fileImporter, &progress, std::make_shared<KeyValueStoragePreview>());
        syncWait(team->collections().reload());
        reels = team->collections().all().at(0);
        team->navigation().setSelectedCollection(reels);
        loaded =
            QTest::qWaitFor([&] { return reels->nestedItems().size() == 2 && !reels->isLoadingNestedItems(); }, 10000);
    }

    std::shared_ptr<Document> document(const QString& name) { return findDocument(reels, name); }
    void focus(const std::shared_ptr<Document>& document)
    {
        team->navigation().setSelectedDocument(document);
        team->navigation().setFocus(ContentViewFocus::documentList);
    }
};

ActivityInfo entry(Kind kind, const QString& message, const QString& user = QStringLiteral("Ana Editor"))
{
    ActivityInfo activity;
    activity.id = IdFor<States>(QUuid::createUuid());
    activity.versionID = IdFor<Versions>(QUuid::createUuid());
    activity.state.kind = kind;
    activity.message = message;
    activity.userName = user;
    activity.date = QDateTime(QDate(2026, 3, 14), QTime(9, 30));
    activity.hostName = QStringLiteral("edit-3");
    activity.allowsVersionActions = true;
    activity.isCurrent = [] { return false; };
    return activity;
}

QList<Position> caps(const ActivityFeed& feed)
{
    QList<Position> found;
    for (const ActivityItem* row : feed.shownRows())
        found << row->topSegment()->position() << row->bottomSegment()->position();
    return found;
}

bool waitForRows(const ActivityFeed& feed, const std::function<bool(const QList<ActivityItem*>&)>& ready)
{
    return QTest::qWaitFor([&] { return ready(feed.shownRows()); }, 10000);
}

// The feed shown, tall enough for every row of these tests.
void show(ActivityFeed& feed, int width = 520, int height = 1150)
{
    feed.resize(width, height);
    feed.show();
    QVERIFY(QTest::qWaitForWindowExposed(&feed));
}

// The feed shown on `document`'s rows, once the document's own changes have settled; the lists
// the test hands in are not replaced after that.
bool showSettled(ActivityFeed& feed, Window& window, const std::shared_ptr<Document>& document, int width, int height)
{
    feed.resize(width, height);
    feed.show();
    window.focus(document);
    const bool shown =
        QTest::qWaitForWindowExposed(&feed) && waitForRows(feed, [](const auto& rows) { return !rows.isEmpty(); });
    QTest::qWait(100);
    return shown;
}

QPushButton* forceUnlockButton(const ActivityItem* row)
{
    return row->findChild<QPushButton*>(QStringLiteral("forceUnlockButton"));
}

} // namespace

class ActivityFeedTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rowsFollowTheListByChangeAndTheFocus();
    void listsAreTakenInByChange();
    void rowsAreMeasuredAsTheyLayThemselvesOut();
    void capsAreDecidedByPlace();
    void forceUnlockOnlyOnTheFirstRowOfAnotherUsersLock();
    void appVersionsAreReadOnceAndFailuresLogged();
    void revertFromARowBringsBackThatVersion();
    void everyKindOfActivity();
};

void ActivityFeedTest::rowsFollowTheListByChangeAndTheFocus()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    const auto edit = window.document(QStringLiteral("Edit"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
    show(feed);
    QCOMPARE(feed.item(), window.reels); // the selected collection has the focus
    window.focus(cut);
    QCOMPARE(feed.item(), cut);
    QVERIFY(waitForRows(feed, [](const auto& rows) { return rows.size() == 1; }));
    QCOMPARE(feed.title()->text(), QStringLiteral("Activity"));
    const QPointer<ActivityItem> imported = feed.shownRows().at(0);
    // The first row stands 24 below the title.
    QCOMPARE(imported->mapTo(&feed, QPoint(0, 0)).y() - feed.title()->geometry().bottom() - 1, 24);
    QVERIFY(imported->isFirst() && imported->isLast());

    // Checked out, and typing the message: the list is the same, so no row is touched.
    syncWait(cut->checkOut());
    QVERIFY(waitForRows(feed, [](const auto& rows) { return rows.size() == 2; }));
    QTest::qWait(100);
    const QList<ActivityItem*> before = feed.shownRows();
    QSignalSpy resets(&feed.model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&feed.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removals(&feed.model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy changes(&feed.model(), &QAbstractItemModel::dataChanged);
    for (const QString& typed : {QStringLiteral("G"), QStringLiteral("Gr"), QStringLiteral("Graded the opening")})
        cut->setCommitMessage(typed);
    QTest::qWait(100);
    QCOMPARE(resets.size() + inserts.size() + removals.size() + changes.size(), 0);
    QCOMPARE(feed.shownRows(), before);

    // The check-in arrives as a new list: the new version comes in as one row at the top and
    // the rows that stay are the same widgets; only the former first one learns its new place.
    syncWait(cut->checkIn());
    QVERIFY(waitForRows(feed, [](const auto& rows) {
        return !rows.isEmpty() && rows.at(0)->activity().message == QStringLiteral("Graded the opening");
    }));
    QCOMPARE(resets.size(), 0);
    QVERIFY(!imported.isNull());
    QVERIFY(feed.shownRows().contains(imported.data()));
    QVERIFY(!imported->isFirst() && imported->isLast());
    for (const QList<QVariant>& change : std::as_const(changes))
        QVERIFY(change.at(0).value<QModelIndex>().row() <= 1);

    // The focus moves on: the rows go at once, before Edit's list arrives.
    const QList<ActivityInfo> cutList = feed.model().activities();
    window.focus(edit);
    QCOMPARE(feed.item(), edit);
    QVERIFY(feed.shownRows().isEmpty());
    QCOMPARE(feed.model().rowCount(), 0);
    QVERIFY(waitForRows(feed, [](const auto& rows) { return !rows.isEmpty(); }));
    const auto editRows = feed.shownRows();

    // A list for Cut arriving late is dropped; Edit's rows stay.
    feed.receive(cut, cutList);
    QCOMPARE(feed.shownRows(), editRows);

    // No focused item: nothing at all, not even the title.
    window.team->navigation().setFocus(ContentViewFocus::trash);
    QVERIFY(feed.shownRows().isEmpty());
    QVERIFY(feed.title()->isHidden());
}

void ActivityFeedTest::listsAreTakenInByChange()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
    QVERIFY(showSettled(feed, window, cut, 520, 400));

    QList<ActivityInfo> list;
    for (int i = 0; i < 1000; ++i)
        list << entry(Kind::newVersion, QStringLiteral("Pass %1").arg(i));
    feed.receive(cut, list);
    QCOMPARE(feed.model().rowCount(), 1000);
    // Only what is in view is built.
    QVERIFY(feed.shownRows().size() < 20);
    QCOMPARE(feed.shownRows().first()->activity().message, QStringLiteral("Pass 0"));
    // The scroll bar the long list brings shows in the margin and does not narrow the rows: the
    // heights measured as the list was first laid out hold, and no change measures them again.
    QTRY_VERIFY(feed.list()->verticalScrollBar()->isVisible());
    QCOMPARE(feed.shownRows().first()->width(), feed.list()->width() - ActivityItemDelegate::trailingMargin);
    QVERIFY(feed.model().cachedHeight(999, feed.shownRows().first()->width()).has_value());

    QSignalSpy resets(&feed.model(), &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&feed.model(), &QAbstractItemModel::rowsInserted);
    QSignalSpy removals(&feed.model(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy changes(&feed.model(), &QAbstractItemModel::dataChanged);
    // The same list again changes nothing.
    feed.receive(cut, list);
    QCOMPARE(resets.size() + inserts.size() + removals.size() + changes.size(), 0);

    // A teammate's new version: one row inserted at the top; the former first row changes
    // its place, nothing else.
    const auto newest = entry(Kind::newVersion, QStringLiteral("Pass 1000"), QStringLiteral("Ben Editor"));
    feed.receive(cut, QList<ActivityInfo>{newest} + list);
    QCOMPARE(resets.size(), 0);
    QCOMPARE(removals.size(), 0);
    QCOMPARE(inserts.size(), 1);
    QCOMPARE(inserts.at(0).at(1).toInt(), 0);
    QCOMPARE(inserts.at(0).at(2).toInt(), 0);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(changes.at(0).at(0).value<QModelIndex>().row(), 1);

    // An entry that changes in place reports that row; the oldest one gone is one removal and
    // the new last row learns its place.
    QList<ActivityInfo> next = QList<ActivityInfo>{newest} + list;
    next[5].message = QStringLiteral("Pass 4, retold");
    next.removeLast();
    changes.clear();
    feed.receive(cut, next);
    QCOMPARE(removals.size(), 1);
    QCOMPARE(removals.at(0).at(1).toInt(), 1000);
    QCOMPARE(inserts.size(), 1);
    QList<int> changed;
    for (const QList<QVariant>& change : std::as_const(changes))
        changed << change.at(0).value<QModelIndex>().row();
    QCOMPARE(changed, (QList<int>{5, 999}));
    QCOMPARE(feed.model().activities(), next);

    // Scrolled to the end, the rows there are built and the ones at the top are gone.
    ActivityItem* oldest = feed.showRow(999);
    QVERIFY(oldest && oldest->isLast());
    QVERIFY(!feed.shownRow(0));
    QVERIFY(feed.shownRows().size() < 20);
}

void ActivityFeedTest::rowsAreMeasuredAsTheyLayThemselvesOut()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
    QVERIFY(showSettled(feed, window, cut, 320, 2000));
    auto revert = entry(Kind::revert, QString());
    revert.state.commitMessage = QStringLiteral("First assembly, with the long opening shot and the old titles");
    revert.state.modificationDate = QDateTime(QDate(2026, 3, 10), QTime(17, 5));
    auto plain = entry(Kind::deleted, QString());
    plain.allowsVersionActions = false;
    auto longHost = entry(Kind::descriptionChanged, QString());
    longHost.hostName = QStringLiteral("edit-suite-with-a-very-long-host-name.studio.example.org");
    const QList<ActivityInfo> list{
        entry(Kind::newVersion, QStringLiteral("Graded the opening, new titles, and the music of reel two moved "
                                               "later by a bar so that the cut lands on the beat")),
        entry(Kind::lock, QStringLiteral("checked out this document"), QStringLiteral("Ben Editor")),
        revert,
        plain,
        longHost,
        entry(Kind::created, QString()),
    };
    for (const int width : {320, 520, 900}) {
        feed.resize(width, 2000);
        feed.receive(cut, list);
        QTRY_COMPARE(feed.shownRows().size(), list.size());
        feed.model().setAppVersions({{list.at(0).versionID, QStringLiteral("24.12")}});
        // What the delegate worked out is what each row's layout needs, and where it is put,
        // with no gap and no overlap between the rows themselves.
        const auto laidOut = [&] {
            for (int row = 0; row < list.size(); ++row) {
                ActivityItem* item = feed.shownRow(row);
                const QRect place = feed.list()->visualRect(feed.model().index(row));
                if (!item || place.height() != item->heightForWidth(item->width())
                    || item->geometry() != place.adjusted(0, 0, -ActivityItemDelegate::trailingMargin, 0)
                    || (row > 0 && place.top() != feed.list()->visualRect(feed.model().index(row - 1)).bottom() + 1))
                    return false;
            }
            return true;
        };
        QTRY_VERIFY2(laidOut(), qPrintable(QString::number(width)));
    }

    // Rows overlap by their segments: a row without content is its two segments less 4 each,
    // its line and its date line, which is no taller than its segment without a tag.
    ActivityItem* bare = feed.shownRow(3);
    QCOMPARE(bare->topSegment()->overlapAbove(), 4);
    QCOMPARE(bare->bottomSegment()->overlapBelow(), 4);
    const int dateLine = bare->dateLine()->height();
    QCOMPARE(dateLine, std::max(ActivitySpacer::minimumLineHeight, bare->dateLine()->dateLabel()->sizeHint().height()));
    QCOMPARE(bare->height(), 2 * (ActivitySpacer::minimumLineHeight - 4) + ActivityLine::minimumHeight + dateLine);
    // The badge alone is padded.
    feed.model().setAppVersions({{list.at(0).versionID, QStringLiteral("24.12")}});
    ActivityItem* tagged = feed.shownRow(0);
    QTRY_VERIFY(tagged->dateLine()->badge()->isVisible());
    QTRY_COMPARE(tagged->height(), feed.list()->visualRect(feed.model().index(0)).height());
    QCOMPARE(tagged->dateLine()->height(), tagged->dateLine()->badge()->height());
    QCOMPARE(tagged->dateLine()->badge()->height(), tagged->dateLine()->tag()->height() + 8);

    // In a narrow column what was done ends in an ellipsis beside the name, never past the
    // buttons; the line stays 28 high, and shows the text whole again when there is room.
    feed.resize(240, 2000);
    QTRY_VERIFY(feed.shownRow(0) && feed.shownRow(0)->width() <= 240 - ActivityItemDelegate::trailingMargin);
    QTest::qWait(50);
    // A long host name ends in an ellipsis, the date before it whole.
    QTRY_VERIFY(feed.shownRow(4));
    QLabel* date = feed.shownRow(4)->dateLine()->dateLabel();
    QVERIFY(date->text().endsWith(QStringLiteral("\u2026")));
    QVERIFY(date->text().startsWith(abbreviatedDateTime(longHost.date)));
    QVERIFY(feed.shownRow(4)->dateLine()->dateText().endsWith(longHost.hostName));
    QVERIFY(date->geometry().right() < feed.shownRow(4)->width());

    ActivityLine* line = feed.shownRow(0)->line();
    QLabel* kind = line->kindLabel();
    QVERIFY(kind->text().endsWith(QStringLiteral("\u2026")));
    QVERIFY(QStringLiteral("created a new version").startsWith(kind->text().chopped(1)));
    QVERIFY(kind->fontMetrics().horizontalAdvance(kind->text()) <= kind->width());
    QCOMPARE(line->height(), ActivityLine::minimumHeight);
    QVERIFY(kind->geometry().right() < line->actionButtons()->geometry().left());
    QVERIFY(line->userNameLabel()->geometry().right() < kind->geometry().left());
    feed.resize(900, 2000);
    QTRY_COMPARE(feed.shownRow(0)->line()->kindLabel()->text(), QStringLiteral("created a new version"));
    QCOMPARE(feed.shownRow(0)->line()->height(), ActivityLine::minimumHeight);
}

void ActivityFeedTest::capsAreDecidedByPlace()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
    show(feed);
    window.focus(cut);
    QVERIFY(waitForRows(feed, [](const auto& rows) { return !rows.isEmpty(); }));

    const auto a = entry(Kind::newVersion, QStringLiteral("a"));
    const auto b = entry(Kind::editing, QStringLiteral("b"));
    const auto c = entry(Kind::lock, QStringLiteral("c"));
    feed.receive(cut, {a});
    QCOMPARE(caps(feed), (QList<Position>{Position::top, Position::bottom}));
    feed.receive(cut, {a, b});
    QCOMPARE(caps(feed), (QList<Position>{Position::top, Position::middle, Position::middle, Position::bottom}));
    feed.receive(cut, {a, b, c});
    QCOMPARE(caps(feed), (QList<Position>{Position::top, Position::middle, Position::middle, Position::middle,
                                          Position::middle, Position::bottom}));
    // Two equal entries are still a first and a last row.
    feed.receive(cut, {a, a});
    QCOMPARE(caps(feed), (QList<Position>{Position::top, Position::middle, Position::middle, Position::bottom}));
    // An empty list: no rows.
    feed.receive(cut, {});
    QVERIFY(feed.shownRows().isEmpty());
}

void ActivityFeedTest::forceUnlockOnlyOnTheFirstRowOfAnotherUsersLock()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    const auto edit = window.document(QStringLiteral("Edit"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
    show(feed);

    // Ben holds Cut: its first row offers Force Unlock, no other row does.
    syncWait(
        openAs(window.ben, VersioningServiceType::document, cut->id())->checkOut({}, {.autoSave = false}, &s3Factory));
    window.focus(cut);
    QVERIFY(waitForRows(feed,
                        [](const auto& rows) { return rows.size() >= 2 && forceUnlockButton(rows.at(0)) != nullptr; }));
    QVERIFY(cut->isLocked());
    QVERIFY(!cut->lockedByCurrentInitiator());
    for (qsizetype i = 1; i < feed.shownRows().size(); ++i)
        QVERIFY(!forceUnlockButton(feed.shownRows().at(i)));
    // While locked, no row can revert.
    for (const ActivityItem* row : feed.shownRows()) {
        if (auto* revert = row->findChild<QToolButton*>(QStringLiteral("activityRevert")))
            QVERIFY(!revert->isEnabled());
    }
    // Pressing it asks first.
    forceUnlockButton(feed.shownRows().at(0))->click();
    QVERIFY(window.confirmation.dialog().has_value());
    QVERIFY(std::holds_alternative<ConfirmationDialog::ConfirmForceUnlock>(window.confirmation.dialog()->question()));
    // Not even to a version that is not the current one.
    feed.receive(cut, {entry(Kind::newVersion, QStringLiteral("Older pass"))});
    auto* older = feed.shownRows().at(0)->findChild<QToolButton*>(QStringLiteral("activityRevert"));
    QVERIFY(older && !older->isEnabled());

    // Ana's own lock on Edit: no Force Unlock anywhere.
    syncWait(edit->checkOut());
    window.focus(edit);
    QVERIFY(waitForRows(
        feed, [](const auto& rows) { return !rows.isEmpty() && rows.at(0)->activity().state.kind == Kind::lock; }));
    for (const ActivityItem* row : feed.shownRows())
        QVERIFY(!forceUnlockButton(row));
}

void ActivityFeedTest::appVersionsAreReadOnceAndFailuresLogged()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
    show(feed);
    QSignalSpy checked(&feed, &ActivityFeed::appVersionsChecked);
    window.focus(cut);
    QVERIFY(checked.wait(10000));

    // The same list again asks for nothing more; an unknown version is read once and logged.
    QList<ActivityInfo> list;
    for (const ActivityItem* row : feed.shownRows())
        list << row->activity();
    feed.receive(cut, list);
    QTest::qWait(50);
    QCOMPARE(checked.size(), 1);
    const auto unknown = entry(Kind::newVersion, QStringLiteral("from elsewhere"));
    feed.receive(cut, list + QList<ActivityInfo>{unknown});
    QVERIFY(checked.wait(10000));
    QVERIFY(!feed.shownRows().last()->dateLine()->version().has_value());
    QFile log(window.ana->log().logFilePath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QString logged = QString::fromUtf8(log.readAll());
    QVERIFY(logged.contains(unknown.versionID.toString()));
    QVERIFY(logged.contains(QStringLiteral("ActivityFeed::checkAppVersions")));
}

void ActivityFeedTest::revertFromARowBringsBackThatVersion()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    const QString workingCopy = syncWait(cut->checkOut());
    writeFile(workingCopy, "v2");
    cut->setCommitMessage(QStringLiteral("Second pass"));
    syncWait(cut->checkIn());

    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
    show(feed);
    window.focus(cut);
    QVERIFY(waitForRows(feed, [](const auto& rows) {
        return rows.size() >= 2 && rows.at(0)->activity().message == QStringLiteral("Second pass");
    }));
    // The current version cannot be reverted to; the first one can, after a question.
    const auto rows = feed.shownRows();
    QVERIFY(!rows.at(0)->findChild<QToolButton*>(QStringLiteral("activityRevert"))->isEnabled());
    QToolButton* revert = rows.last()->findChild<QToolButton*>(QStringLiteral("activityRevert"));
    QVERIFY(revert && revert->isEnabled());
    revert->click();
    const auto dialog = window.confirmation.dialog();
    QVERIFY(dialog && std::holds_alternative<ConfirmationDialog::ConfirmRevert>(dialog->question()));
    dialog->confirmButton().action();

    const QString out = window.fixture.scratch(QStringLiteral("out"));
    QVERIFY(QTest::qWaitFor(
        [&] { return !feed.shownRows().isEmpty() && feed.shownRows().at(0)->activity().state.kind == Kind::revert; },
        10000));
    const QString exported = syncWait(cut->exportVersion(std::nullopt, out));
    QFile file(QFileInfo(exported).isDir() ? exported + QStringLiteral("/Cut.kdenlive") : exported);
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(exported));
    QCOMPARE(file.readAll(), QByteArray("v1"));
}

void ActivityFeedTest::everyKindOfActivity()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
    show(feed);
    window.focus(cut);
    QVERIFY(waitForRows(feed, [](const auto& rows) { return !rows.isEmpty(); }));

    auto revert = entry(Kind::revert, QString());
    revert.state.commitMessage = QStringLiteral("First assembly");
    revert.state.modificationDate = QDateTime(QDate(2026, 3, 10), QTime(17, 5));
    auto bare = entry(Kind::revert, QString(), QStringLiteral("Ben Editor"));
    bare.state.commitMessage = QStringLiteral("no date");
    QTest::qWait(200); // let the document settle: its changes rebuild the rows
    const QList<ActivityInfo> list{
        entry(Kind::editing, QStringLiteral("is editing this document")),
        entry(Kind::lock, QStringLiteral("checked out this document"), QStringLiteral("Ben Editor")),
        entry(Kind::newVersion, QStringLiteral("Graded the opening, new titles")),
        revert,
        bare,
        entry(Kind::imported, QString()),
        entry(Kind::descriptionChanged, QString()),
        entry(Kind::created, QStringLiteral("Rough cut")),
        entry(Kind::changesDiscarded, QString()),
        entry(Kind::deleted, QString()),
    };
    QSignalSpy checked(&feed, &ActivityFeed::appVersionsChecked);
    feed.receive(cut, list);
    QCOMPARE(feed.shownRows().size(), list.size());
    const auto rows = feed.shownRows();
    QCOMPARE(rows.at(2)->line()->kindLabel()->text(), QStringLiteral("created a new version"));
    QCOMPARE(rows.at(2)->content()->messageLabel()->text(), QStringLiteral("Graded the opening, new titles"));
    QVERIFY(rows.at(3)->content()->messageLabel());
    QVERIFY(rows.at(4)->content()->isHidden());     // a revert without a date shows no bubble
    QVERIFY(rows.at(5)->content()->messageLabel()); // an empty message still has its bubble
    QVERIFY(rows.at(6)->content()->isHidden());
    QVERIFY(rows.at(0)->line()->userNameLabel()->textInteractionFlags() & Qt::TextSelectableByMouse);
    rows.at(2)->setIncompatibleAppVersion(QStringLiteral("24.12"));
    QCOMPARE(rows.at(2)->dateLine()->tag()->title(), QStringLiteral("24.12"));
    rows.at(3)->setIncompatibleAppVersion(QString());
    QVERIFY(!rows.at(3)->dateLine()->tag());

    // Hovering shows the row's buttons without moving anything.
    feed.show();
    QVERIFY(QTest::qWaitForWindowExposed(&feed));
    QWidget* buttons = rows.at(2)->line()->actionButtons();
    QVERIFY(buttons->isHidden());
    const QRect before = rows.at(2)->line()->kindLabel()->geometry();
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(rows.at(2), &enter);
    QVERIFY(buttons->isVisible());
    QCOMPARE(rows.at(2)->line()->kindLabel()->geometry(), before);
    QVERIFY(qobject_cast<ActivityActionButtons*>(buttons)->shareButton());

    // Pictures of the column as wide as in a default window and in a large one.
    QWidget frame;
    frame.setAutoFillBackground(true);
    QPalette palette = frame.palette();
    palette.setColor(QPalette::Window, design::neutral(7));
    frame.setPalette(palette);
    feed.setParent(&frame);
    const auto unparent = qScopeGuard([&] { feed.setParent(nullptr); });
    QVERIFY(!checked.isEmpty() || checked.wait(10000));
    feed.model().setAppVersions({{list.at(2).versionID, QStringLiteral("24.12")}});
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    for (const auto& [width, name] :
         {std::pair{320, "activity_feed_narrow.png"}, std::pair{520, "activity_feed.png"}}) {
        frame.resize(width + 32, 1150);
        feed.setGeometry(16, 16, width, 1118);
        feed.show();
        frame.show();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QTRY_VERIFY(feed.shownRow(2) && feed.shownRow(2)->dateLine()->tag());
        feed.shownRow(2)->setHover(true);
        QTest::qWait(50);
        QVERIFY(frame.grab().save(folder.filePath(QLatin1String(name))));
    }
}

QTEST_MAIN(ActivityFeedTest)
#include "activity_feed_test.moc"
