// The activity feed over a real team bundle with two clients: rows replaced whole by each list,
// the timeline's caps by place, Force Unlock only where it belongs, the focus moving on, the
// application versions read off the interface thread, and a revert from a row.

#include "design/palette.h"
#include "model/support/item_test_support.h"
#include "open_team/team.h"
#include "views/detail/activity_action_buttons.h"
#include "views/detail/activity_content.h"
#include "views/detail/activity_date_line.h"
#include "views/detail/activity_feed.h"
#include "views/detail/activity_line.h"
#include "views/detail/activity_row.h"
#include "views/detail/activity_spacer.h"
#include "views/detail/detail_look.h"
#include "views/detail/tag.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
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
    for (const ActivityRow* row : feed.rows())
        found << row->topSegment()->position() << row->bottomSegment()->position();
    return found;
}

bool waitForRows(const ActivityFeed& feed, const std::function<bool(const QList<ActivityRow*>&)>& ready)
{
    return QTest::qWaitFor([&] { return ready(feed.rows()); }, 10000);
}

QPushButton* forceUnlockButton(const ActivityRow* row)
{
    return row->findChild<QPushButton*>(QStringLiteral("forceUnlockButton"));
}

} // namespace

class ActivityFeedTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rowsAreReplacedWholeAndFollowTheFocus();
    void capsAreDecidedByPlace();
    void forceUnlockOnlyOnTheFirstRowOfAnotherUsersLock();
    void appVersionsAreReadOnceAndFailuresLogged();
    void revertFromARowBringsBackThatVersion();
    void everyKindOfActivity();
};

void ActivityFeedTest::rowsAreReplacedWholeAndFollowTheFocus()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    const auto edit = window.document(QStringLiteral("Edit"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
    QCOMPARE(feed.item(), window.reels); // the selected collection has the focus
    window.focus(cut);
    QCOMPARE(feed.item(), cut);
    QVERIFY(waitForRows(feed, [](const auto& rows) { return rows.size() == 1; }));
    QCOMPARE(feed.title()->text(), QStringLiteral("Activity"));
    const QPointer<ActivityRow> first = feed.rows().at(0);

    // A check-in on the share arrives as a new list: every row is new.
    syncWait(cut->checkOut());
    cut->setCommitMessage(QStringLiteral("Graded the opening"));
    syncWait(cut->checkIn());
    QVERIFY(waitForRows(feed, [](const auto& rows) {
        return !rows.isEmpty() && rows.at(0)->activity().message == QStringLiteral("Graded the opening");
    }));
    QTest::qWait(0);
    for (const ActivityRow* row : feed.rows())
        QVERIFY(row != first.data());
    QVERIFY(first.isNull() || first->parent() == nullptr || !feed.rows().contains(first.data()));

    // The focus moves on: the rows go at once, before Edit's list arrives.
    const QList<ActivityInfo> cutList = [&] {
        QList<ActivityInfo> list;
        for (const ActivityRow* row : feed.rows())
            list << row->activity();
        return list;
    }();
    window.focus(edit);
    QCOMPARE(feed.item(), edit);
    QVERIFY(feed.rows().isEmpty());
    QVERIFY(waitForRows(feed, [](const auto& rows) { return !rows.isEmpty(); }));
    const auto editRows = feed.rows();

    // A list for Cut arriving late is dropped; Edit's rows stay.
    feed.receive(cut, cutList);
    QCOMPARE(feed.rows(), editRows);

    // No focused item: nothing at all, not even the title.
    window.team->navigation().setFocus(ContentViewFocus::trash);
    QVERIFY(feed.rows().isEmpty());
    QVERIFY(feed.title()->isHidden());
}

void ActivityFeedTest::capsAreDecidedByPlace()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
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
    QVERIFY(feed.rows().isEmpty());
}

void ActivityFeedTest::forceUnlockOnlyOnTheFirstRowOfAnotherUsersLock()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    const auto edit = window.document(QStringLiteral("Edit"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());

    // Ben holds Cut: its first row offers Force Unlock, no other row does.
    syncWait(
        openAs(window.ben, VersioningServiceType::document, cut->id())->checkOut({}, {.autoSave = false}, &s3Factory));
    window.focus(cut);
    QVERIFY(waitForRows(feed,
                        [](const auto& rows) { return rows.size() >= 2 && forceUnlockButton(rows.at(0)) != nullptr; }));
    QVERIFY(cut->isLocked());
    QVERIFY(!cut->lockedByCurrentInitiator());
    for (qsizetype i = 1; i < feed.rows().size(); ++i)
        QVERIFY(!forceUnlockButton(feed.rows().at(i)));
    // While locked, no row can revert.
    for (const ActivityRow* row : feed.rows()) {
        if (auto* revert = row->findChild<QToolButton*>(QStringLiteral("activityRevert")))
            QVERIFY(!revert->isEnabled());
    }
    // Pressing it asks first.
    forceUnlockButton(feed.rows().at(0))->click();
    QVERIFY(window.confirmation.dialog().has_value());
    QVERIFY(std::holds_alternative<ConfirmationDialog::ConfirmForceUnlock>(window.confirmation.dialog()->question()));

    // Ana's own lock on Edit: no Force Unlock anywhere.
    syncWait(edit->checkOut());
    window.focus(edit);
    QVERIFY(waitForRows(
        feed, [](const auto& rows) { return !rows.isEmpty() && rows.at(0)->activity().state.kind == Kind::lock; }));
    for (const ActivityRow* row : feed.rows())
        QVERIFY(!forceUnlockButton(row));
}

void ActivityFeedTest::appVersionsAreReadOnceAndFailuresLogged()
{
    Window window;
    QVERIFY(window.loaded);
    const auto cut = window.document(QStringLiteral("Cut"));
    ActivityFeed feed(window.team->navigation(), window.team->itemActions());
    QSignalSpy checked(&feed, &ActivityFeed::appVersionsChecked);
    window.focus(cut);
    QVERIFY(checked.wait(10000));

    // The same list again asks for nothing more; an unknown version is read once and logged.
    QList<ActivityInfo> list;
    for (const ActivityRow* row : feed.rows())
        list << row->activity();
    feed.receive(cut, list);
    QTest::qWait(50);
    QCOMPARE(checked.size(), 1);
    const auto unknown = entry(Kind::newVersion, QStringLiteral("from elsewhere"));
    feed.receive(cut, list + QList<ActivityInfo>{unknown});
    QVERIFY(checked.wait(10000));
    QVERIFY(!feed.rows().last()->dateLine()->version().has_value());
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
    window.focus(cut);
    QVERIFY(waitForRows(feed, [](const auto& rows) {
        return rows.size() >= 2 && rows.at(0)->activity().message == QStringLiteral("Second pass");
    }));
    // The current version cannot be reverted to; the first one can, after a question.
    const auto rows = feed.rows();
    QVERIFY(!rows.at(0)->findChild<QToolButton*>(QStringLiteral("activityRevert"))->isEnabled());
    QToolButton* revert = rows.last()->findChild<QToolButton*>(QStringLiteral("activityRevert"));
    QVERIFY(revert && revert->isEnabled());
    revert->click();
    const auto dialog = window.confirmation.dialog();
    QVERIFY(dialog && std::holds_alternative<ConfirmationDialog::ConfirmRevert>(dialog->question()));
    dialog->confirmButton().action();

    const QString out = window.fixture.scratch(QStringLiteral("out"));
    QVERIFY(QTest::qWaitFor(
        [&] { return !feed.rows().isEmpty() && feed.rows().at(0)->activity().state.kind == Kind::revert; }, 10000));
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
    feed.resize(520, 1150);
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
    feed.receive(cut, list);
    QCOMPARE(feed.rows().size(), list.size());
    const auto rows = feed.rows();
    QCOMPARE(fullText(*rows.at(2)->line()->kindLabel()), QStringLiteral("created a new version"));
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

    QWidget frame;
    frame.setAutoFillBackground(true);
    QPalette palette = frame.palette();
    palette.setColor(QPalette::Window, design::neutral(7));
    frame.setPalette(palette);
    feed.setParent(&frame);
    frame.resize(520, 1150);
    feed.setGeometry(16, 16, 488, 1118);
    feed.show();
    frame.show();
    QVERIFY(QTest::qWaitForWindowExposed(&frame));
    feed.rows().at(2)->setIncompatibleAppVersion(QStringLiteral("24.12"));
    feed.rows().at(2)->setHover(true);
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    QVERIFY(folder.mkpath(QStringLiteral(".")));
    QVERIFY(frame.grab().save(folder.filePath(QStringLiteral("activity_feed.png"))));
    feed.setParent(nullptr);
}

QTEST_MAIN(ActivityFeedTest)
#include "activity_feed_test.moc"
