// The steps where the first editor's window meets other processes: the second editor on the
// same team bundle, a later start of the program with a link, and quitting.

#include "acceptance/team_day.h"

#include "app/main_window.h"
#include "engine/engine_errors.h"
#include "model/document.h"
#include "open_team/team.h"
#include "views/detail/activity_feed.h"
#include "views/detail/activity_item.h"
#include "views/detail/check_in_view.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/presenters/dialog_presenter.h"
#include "views/team/collection_content_view.h"
#include "views/team/item_list_model.h"
#include "views/team/item_list_view.h"
#include "views/team/nested_item_list.h"
#include "views/team/team_view.h"
#include "views/team/team_window.h"

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>

namespace vantrel::acceptance {

namespace {

// What the second editor printed after `prefix`, on the first line that starts with it.
QString printed(const QByteArray& output, const QByteArray& prefix)
{
    for (const QByteArray& line : output.split('\n')) {
        if (line.startsWith(prefix))
            return QString::fromUtf8(line.mid(prefix.size()));
    }
    return QString();
}

const VersionedItemFacts* rowFacts(const QString& name)
{
    CollectionContentView* view = collectionView();
    if (!view)
        return nullptr;
    const ItemListView& rows = view->documentList()->view();
    const int row = rowNamed(rows, name);
    return row >= 0 ? rows.listModel().facts(row) : nullptr;
}

} // namespace

void TeamDay::takeTheLibraryBack()
{
    ACCEPTANCE_STEP(selectDocument(QStringLiteral("Show")));
    const auto library = teamView()->team().navigation().selectedDocument();
    QVERIFY(library);

    // The second editor checks the library out on another machine and starts working in it.
    QByteArray output;
    m_secondEditor = std::make_unique<QProcess>();
    m_secondEditor->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const QByteArray note = "Ben's cut of day 2";
    m_secondEditor->start(QStringLiteral(VANTREL_SECOND_EDITOR),
                          {m_share.filePath(QStringLiteral("Cutting Room.vantrelteam")), m_otherMachine.path(),
                           library->id().toString(), QStringLiteral("Ben's notes.txt"), QString::fromUtf8(note)});
    QTRY_VERIFY2_WITH_TIMEOUT((output += m_secondEditor->readAllStandardOutput(), output.contains("checked-out ")),
                              output.constData(), longWait);

    // Within the poll interval and without a click, the window shows who holds the library.
    QTRY_COMPARE_WITH_TIMEOUT(topUser(), QStringLiteral("Ben Editor"), longWait);
    QTRY_VERIFY(rowFacts(QStringLiteral("Show")) && rowFacts(QStringLiteral("Show"))->isLocked);
    QVERIFY(!rowFacts(QStringLiteral("Show"))->lockedByCurrentInitiator);
    auto* open = headerButton(QStringLiteral("openDocumentButton"));
    QTRY_VERIFY(open && !open->isEnabled());
    QCOMPARE(open->toolTip(), QStringLiteral("Document locked by Ben Editor on host-ben"));
    QTRY_VERIFY(topRow() && topRow()->findChild<QPushButton*>(QStringLiteral("forceUnlockButton")));
    auto* forceUnlock = topRow()->findChild<QPushButton*>(QStringLiteral("forceUnlockButton"));
    QTRY_VERIFY(forceUnlock->isVisible());
    QCOMPARE(forceUnlock->text(), QStringLiteral("Force Unlock"));
    screenshot(mainWindow(), QStringLiteral("3_locked_by_the_second_editor"));

    // The first editor takes the lock, after the warning.
    const int opened = m_desktop.opened().size();
    QTest::mouseClick(forceUnlock, Qt::LeftButton, {}, forceUnlock->rect().center());
    ACCEPTANCE_STEP(confirm(QStringLiteral("Are you sure you want to force unlock Show?"),
                            QStringLiteral("If you’re unable to open Show because a collaborator forgot to submit "
                                           "changes"),
                            QStringLiteral("Force Unlock")));
    QTRY_VERIFY_WITH_TIMEOUT(!openedWorkingCopy(opened + 1).isEmpty(), longWait);
    const QString workingCopy = openedWorkingCopy(opened + 1);
    QCOMPARE(QFileInfo(workingCopy).fileName(), QStringLiteral("Show.videolibrary"));
    // It starts from the last version checked in, not from the other editor's unsaved work.
    QVERIFY(QFileInfo::exists(workingCopy + QStringLiteral("/Day 2.videoevent/Info.plist")));
    QVERIFY(!QFileInfo::exists(workingCopy + QStringLiteral("/Ben's notes.txt")));
    QTRY_VERIFY_WITH_TIMEOUT(
        rowFacts(QStringLiteral("Show")) && rowFacts(QStringLiteral("Show"))->lockedByCurrentInitiator, longWait);
    QTRY_VERIFY_WITH_TIMEOUT(checkInPanel(), longWait);

    // The second editor's check-in is refused; what it did is kept in the attic.
    m_secondEditor->write("go\n");
    QTRY_VERIFY2_WITH_TIMEOUT((output += m_secondEditor->readAllStandardOutput(), output.contains("attic ")),
                              output.constData(), longWait);
    const QString refusal = printed(output, "check-in refused ");
    QVERIFY2(refusal.startsWith(QString::number(static_cast<int>(VersioningError::Case::lockLost)) + QLatin1Char(' ')),
             output.constData());
    QVERIFY2(refusal.contains(QStringLiteral("Ana Editor")), output.constData());
    QVERIFY2(printed(output, "attic kept ").endsWith(QStringLiteral("/Show.videolibrary/Ben's notes.txt")),
             output.constData());
    QTRY_COMPARE_WITH_TIMEOUT(m_secondEditor->state(), QProcess::NotRunning, longWait);
    QCOMPARE(m_secondEditor->exitCode(), 0);

    // The first editor's own pass on the library goes in.
    QVERIFY(writeBytes(workingCopy + QStringLiteral("/Day 1.videoevent/Notes.txt"), "Ana's notes"));
    ACCEPTANCE_STEP(checkIn(QStringLiteral("Took the library back")));
    QTRY_VERIFY_WITH_TIMEOUT(rowFacts(QStringLiteral("Show")) && !rowFacts(QStringLiteral("Show"))->isLocked, longWait);
}

void TeamDay::quitWhileCheckedOut()
{
    ACCEPTANCE_STEP(selectDocument(QStringLiteral("Final Cut")));
    QAction* open = menuCommand(QStringLiteral("Open Project"));
    QVERIFY(open);
    QTRY_VERIFY(open->isEnabled());
    const int opened = m_desktop.opened().size();
    open->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!openedWorkingCopy(opened + 1).isEmpty(), longWait);
    const QString workingCopy = openedWorkingCopy(opened + 1);
    QTRY_VERIFY_WITH_TIMEOUT(checkInPanel(), longWait);

    DialogPresenter* alerts = mainWindow()->content()->alertPresenter();
    QAction* quit = menuCommand(QStringLiteral("Quit"));
    QVERIFY(quit);
    quit->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(shownBox(alerts), longWait);
    QCOMPARE(describe(shownBox(alerts)),
             QStringLiteral("Are you sure you want to quit? | 1 item has unsaved changes. | "
                            "[Save Changes, Quit, Cancel]"));
    screenshot(mainWindow(), QStringLiteral("6_quit_question"));
    QVERIFY(press(shownBox(alerts), QStringLiteral("Cancel")));
    QTRY_VERIFY(!shownBox(alerts));
    // Still running, still checked out.
    QVERIFY(mainWindow() && mainWindow()->isVisible());
    QVERIFY(checkInPanel());

    QVERIFY(writeBytes(workingCopy, "<mlt title=\"Cut\">final cut</mlt>\n"));
    ACCEPTANCE_STEP(checkIn(QStringLiteral("Final pass")));
}

void TeamDay::followALink()
{
    // The link of an event, copied from its row.
    ACCEPTANCE_STEP(selectDocument(QStringLiteral("Show")));
    QTRY_VERIFY_WITH_TIMEOUT(collectionView()->eventList(), longWait);
    ItemListView& events = collectionView()->eventList()->view();
    QTRY_VERIFY(rowNamed(events, QStringLiteral("Day 1")) >= 0);
    QMenu* menu = events.contextMenu(rowNamed(events, QStringLiteral("Day 1")), mainWindow());
    QVERIFY(menu);
    QAction* copy = menuItem(menu, QStringLiteral("Copy Link"));
    QVERIFY(copy);
    copy->trigger();
    menu->deleteLater();
    const QString link = QGuiApplication::clipboard()->text();
    QVERIFY2(link.startsWith(QStringLiteral("vantrel://select/")), qPrintable(link));

    // The user looks elsewhere, then opens the link: a later start hands it over and ends.
    clickRow(collectionRows(), rowNamed(collectionRows(), QStringLiteral("Outtakes")));
    QTRY_COMPARE(shownItemName(), QStringLiteral("Outtakes"));
    QProcess later;
    later.setProcessChannelMode(QProcess::MergedChannels);
    later.start(QStringLiteral(VANTREL_PROGRAM), {link});
    QTRY_VERIFY_WITH_TIMEOUT(later.state() == QProcess::NotRunning, 2 * longWait);
    QVERIFY2(later.exitStatus() == QProcess::NormalExit && later.exitCode() == 0, later.readAll().constData());

    // The running window shows the event, in its library, in its collection.
    QTRY_COMPARE_WITH_TIMEOUT(shownItemName(), QStringLiteral("Day 1"), longWait);
    // The event's own activity: the first editor's pass on the library changed it.
    QTRY_COMPARE_WITH_TIMEOUT(topMessage(), QStringLiteral("Took the library back"), longWait);
    QCOMPARE(collectionView()->collection()->name(), QStringLiteral("Reels"));
    const int reels = rowNamed(collectionRows(), QStringLiteral("Reels"));
    QVERIFY(collectionRows().selectionModel()->isRowSelected(reels, {}));
    ItemListView& documents = collectionView()->documentList()->view();
    QVERIFY(documents.selectionModel()->isRowSelected(rowNamed(documents, QStringLiteral("Show")), {}));
    QTRY_VERIFY(collectionView()->eventList());
    ItemListView& shownEvents = collectionView()->eventList()->view();
    QTRY_VERIFY(shownEvents.selectionModel()->isRowSelected(rowNamed(shownEvents, QStringLiteral("Day 1")), {}));
    screenshot(mainWindow(), QStringLiteral("7_selected_by_link"));
    mainWindow()->resize(1920, 1080);
    QTRY_COMPARE(mainWindow()->size(), QSize(1920, 1080));
    screenshot(mainWindow(), QStringLiteral("7_selected_by_link_1920x1080"));
}

void TeamDay::quitAtTheEnd()
{
    QPointer<MainWindow> window = mainWindow();
    DialogPresenter* alerts = window->content()->alertPresenter();
    QAction* quit = menuCommand(QStringLiteral("Quit"));
    QVERIFY(quit);
    quit->trigger();
    // Nothing is checked out: no question, the window goes.
    QVERIFY2(!shownBox(alerts), qPrintable(describe(shownBox(alerts))));
    QTRY_VERIFY_WITH_TIMEOUT(!window || !window->isVisible(), longWait);
}

} // namespace vantrel::acceptance
