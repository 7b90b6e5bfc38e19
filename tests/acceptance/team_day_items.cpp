// The steps on the items themselves: renaming, the trash, reverting and exporting.

#include "acceptance/team_day.h"

#include "app/main_window.h"
#include "views/detail/activity_action_buttons.h"
#include "views/detail/activity_feed.h"
#include "views/detail/activity_item.h"
#include "views/detail/activity_line.h"
#include "views/detail/activity_list_model.h"
#include "views/detail/detail_look.h"
#include "views/detail/name_input_view.h"
#include "views/detail/trash_manager_view.h"
#include "views/detail/trash_table_model.h"
#include "views/team/collection_content_view.h"
#include "views/team/item_list_view.h"
#include "views/team/nested_item_list.h"
#include "views/team/team_view.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <QToolButton>

namespace vantrel::acceptance {

namespace {

// The names the trash table lists, in its order.
QStringList trashNames()
{
    TrashManagerView* trash = trashView();
    if (!trash)
        return {QStringLiteral("(no trash)")};
    QStringList names;
    const TrashTableModel* rows = trash->tableModel();
    for (int row = 0; row < rows->rowCount(); ++row)
        names << rows->index(row, TrashTableModel::nameColumn).data().toString();
    return names;
}

void addCollection(const QString& name)
{
    auto* add = teamView()->findChild<QToolButton*>(QStringLiteral("addCollectionButton"));
    QVERIFY(add && add->isVisible());
    QTest::mouseClick(add, Qt::LeftButton, {}, add->rect().center());
    QTRY_VERIFY_WITH_TIMEOUT(namingSheet(), longWait);
    typeName(namingSheet(), name);
    QTRY_VERIFY_WITH_TIMEOUT(rowNamed(collectionRows(), name) >= 0, longWait);
}

} // namespace

void TeamDay::tidyUp()
{
    // Rename the project from the menu bar.
    ACCEPTANCE_STEP(selectDocument(QStringLiteral("Cut")));
    QAction* rename = menuCommand(QStringLiteral("Rename"));
    QVERIFY(rename && rename->isEnabled());
    rename->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(namingSheet(), longWait);
    QCOMPARE(namingSheet()->field()->text(), QStringLiteral("Cut"));
    typeName(namingSheet(), QStringLiteral("Final Cut"));
    ItemListView& documents = collectionView()->documentList()->view();
    QTRY_VERIFY_WITH_TIMEOUT(rowNamed(documents, QStringLiteral("Final Cut")) >= 0, longWait);
    QCOMPARE(rowNamed(documents, QStringLiteral("Cut")), -1);
    QTRY_COMPARE(shownItemName(), QStringLiteral("Final Cut"));

    // Two collections that turn out not to be needed go to the trash: one from its row's menu, one
    // with the Delete key.
    ACCEPTANCE_STEP(addCollection(QStringLiteral("Scratch")));
    ACCEPTANCE_STEP(addCollection(QStringLiteral("Outtakes")));
    QMenu* menu = collectionRows().contextMenu(rowNamed(collectionRows(), QStringLiteral("Scratch")), mainWindow());
    QVERIFY(menu);
    QAction* trash = menuItem(menu, QStringLiteral("Move to Trash"));
    QVERIFY(trash);
    trash->trigger();
    menu->deleteLater();
    ACCEPTANCE_STEP(confirm(QStringLiteral("Are you sure?"), QStringLiteral("Scratch will be moved to Trash."),
                            QStringLiteral("Yes")));
    QTRY_COMPARE_WITH_TIMEOUT(rowNamed(collectionRows(), QStringLiteral("Scratch")), -1, longWait);
    clickRow(collectionRows(), rowNamed(collectionRows(), QStringLiteral("Outtakes")));
    QTRY_COMPARE(shownItemName(), QStringLiteral("Outtakes"));
    QTest::keyClick(&collectionRows(), Qt::Key_Delete);
    ACCEPTANCE_STEP(confirm(QStringLiteral("Are you sure?"), QStringLiteral("Outtakes will be moved to Trash."),
                            QStringLiteral("Yes")));
    QTRY_COMPARE_WITH_TIMEOUT(rowNames(collectionRows()), QStringList{QStringLiteral("Reels")}, longWait);

    // The trash lists both; one comes back from its row.
    QAction* openTrash = menuCommand(QStringLiteral("Open Trash"));
    QVERIFY(openTrash);
    openTrash->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(trashView() && trashView()->isVisible(), longWait);
    QTRY_COMPARE_WITH_TIMEOUT(trashNames().size(), 2, longWait);
    QVERIFY2(trashNames().contains(QStringLiteral("Scratch")) && trashNames().contains(QStringLiteral("Outtakes")),
             qPrintable(trashNames().join(QStringLiteral(", "))));
    screenshot(mainWindow(), QStringLiteral("4_trash"));
    QPushButton* restore = trashView()->restoreButton(trashNames().indexOf(QStringLiteral("Outtakes")));
    QVERIFY(restore && restore->isEnabled());
    QCOMPARE(restore->text(), QStringLiteral("Restore"));
    QTest::mouseClick(restore, Qt::LeftButton, {}, restore->rect().center());
    QTRY_COMPARE_WITH_TIMEOUT(trashNames(), QStringList{QStringLiteral("Scratch")}, longWait);
    QTRY_VERIFY_WITH_TIMEOUT(rowNamed(collectionRows(), QStringLiteral("Outtakes")) >= 0, longWait);

    // The other is deleted for good, after the warning.
    QTableView* table = trashView()->table();
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      table->visualRect(trashView()->tableModel()->index(0, TrashTableModel::nameColumn)).center());
    QPushButton* remove = trashView()->actionButton();
    QTRY_COMPARE(remove->text(), QStringLiteral("Delete 1 Item"));
    QVERIFY(remove->isEnabled());
    QTest::mouseClick(remove, Qt::LeftButton, {}, remove->rect().center());
    ACCEPTANCE_STEP(confirm(QStringLiteral("Are you sure?"), QString(), QStringLiteral("Delete")));
    // The trash, now empty, makes way for the welcome view; opened again it says it is empty.
    QTRY_VERIFY_WITH_TIMEOUT(!trashView(), longWait);
    openTrash = menuCommand(QStringLiteral("Open Trash"));
    QVERIFY(openTrash);
    openTrash->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(trashView() && trashView()->placeholder()->isVisible(), longWait);
    QCOMPARE(trashNames(), QStringList());
    QCOMPARE(trashView()->placeholder()->text(), QStringLiteral("Empty"));
    QVERIFY(!trashView()->actionButton()->isEnabled());
    QCOMPARE(rowNamed(collectionRows(), QStringLiteral("Scratch")), -1);
}

void TeamDay::revertAndExport()
{
    clickRow(collectionRows(), rowNamed(collectionRows(), QStringLiteral("Reels")));
    QTRY_COMPARE_WITH_TIMEOUT(shownItemName(), QStringLiteral("Reels"), longWait);
    ACCEPTANCE_STEP(selectDocument(QStringLiteral("Final Cut")));

    // The oldest row of the timeline is the imported version; hovering it shows its buttons.
    QTRY_VERIFY_WITH_TIMEOUT(activityFeed() && activityFeed()->model().rowCount() >= 2, longWait);
    // The feed takes each new list in by change: each look finds the oldest row anew.
    const auto oldestRevert = []() -> QToolButton* {
        ActivityFeed* feed = activityFeed();
        if (!feed || feed->model().rowCount() == 0)
            return nullptr;
        ActivityItem* oldest = feed->showRow(feed->model().rowCount() - 1);
        if (!oldest || fullText(*oldest->line()->kindLabel()) != QStringLiteral("created a new version"))
            return nullptr;
        if (!oldest->isHovered())
            QTest::mouseMove(oldest, oldest->rect().center());
        auto* revert = oldest->findChild<QToolButton*>(QStringLiteral("activityRevert"));
        return revert && revert->isVisible() && revert->isEnabled() ? revert : nullptr;
    };
    QTRY_VERIFY_WITH_TIMEOUT(oldestRevert(), longWait);
    QToolButton* revert = oldestRevert();
    QTest::mouseClick(revert, Qt::LeftButton, {}, revert->rect().center());
    ACCEPTANCE_STEP(confirm(QStringLiteral("Are you sure?"), QStringLiteral("Final Cut will be reverted."),
                            QStringLiteral("Revert")));
    QTRY_COMPARE_WITH_TIMEOUT(topKind(), QStringLiteral("reverted this document to version:"), longWait);
    QCOMPARE(topUser(), QStringLiteral("Ana Editor"));
    QCOMPARE(topMessage(), QStringLiteral("Initial Commit"));
    // The feed scrolls back up to show it.
    QTRY_VERIFY(activityFeed()->list()->verticalScrollBar()->value()
                == activityFeed()->list()->verticalScrollBar()->minimum());
    screenshot(mainWindow(), QStringLiteral("5_reverted"));

    // Exported into a folder the user picks, it is the file first imported, byte for byte.
    auto* exportMenu = headerButton(QStringLiteral("exportDocumentMenu"));
    QVERIFY(exportMenu && exportMenu->isEnabled());
    QAction* exportItem = menuItem(exportMenu->menu(), QStringLiteral("Export"));
    QVERIFY(exportItem);
    exportItem->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(fileDialog(), longWait);
    choosePath(fileDialog(), m_exports.path());
    const QString exported = m_exports.filePath(QStringLiteral("Final Cut.kdenlive"));
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(exported), longWait);
    QTRY_COMPARE(readBytes(exported), m_firstCut);
    QCOMPARE(QDir(m_exports.path()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(), 1);
    // The folder is then shown on the desktop; the next steps count what was opened after it.
    QTRY_VERIFY_WITH_TIMEOUT(m_desktop.opened().contains(m_exports.path()), longWait);
}

} // namespace vantrel::acceptance
