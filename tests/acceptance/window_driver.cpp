#include "acceptance/window_driver.h"

#include "app/main_window.h"
#include "model/versioned_item.h"
#include "views/detail/activity_content.h"
#include "views/detail/activity_feed.h"
#include "views/detail/activity_item.h"
#include "views/detail/activity_line.h"
#include "views/detail/check_in_view.h"
#include "views/detail/detail_look.h"
#include "views/detail/name_input_view.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/trash_manager_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/presenters/dialog_presenter.h"
#include "views/team/collection_content_view.h"
#include "views/team/collection_list.h"
#include "views/team/item_list_model.h"
#include "views/team/item_list_view.h"
#include "views/team/team_view.h"
#include "views/team/team_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

namespace vantrel::acceptance {

namespace {

QString plainText(QString text)
{
    text.remove(QLatin1Char('&'));
    if (text.endsWith(QStringLiteral("...")))
        text.chop(3);
    return text;
}

} // namespace

QStringList DesktopOpener::opened() const
{
    QFile log(m_log);
    if (!log.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

MainWindow* mainWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<MainWindow*>(widget))
            return window;
    }
    return nullptr;
}

TeamView* teamView()
{
    MainWindow* window = mainWindow();
    return window ? window->content()->teamView() : nullptr;
}

CollectionContentView* collectionView()
{
    TeamView* view = teamView();
    return view ? qobject_cast<CollectionContentView*>(view->detail()) : nullptr;
}

ActivityFeed* activityFeed()
{
    CollectionContentView* view = collectionView();
    return view ? view->activityArea()->findChild<ActivityFeed*>() : nullptr;
}

TrashManagerView* trashView()
{
    TeamView* view = teamView();
    return view ? qobject_cast<TrashManagerView*>(view->detail()) : nullptr;
}

QAction* menuItem(QMenu* menu, const QString& text)
{
    if (!menu)
        return nullptr;
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator() && plainText(action->text()) == text)
            return action;
    }
    return nullptr;
}

QAction* menuCommand(const QString& text)
{
    MainWindow* window = mainWindow();
    if (!window)
        return nullptr;
    for (QAction* entry : window->menuBar()->actions()) {
        if (QAction* found = menuItem(entry->menu(), text))
            return found;
    }
    return nullptr;
}

QMessageBox* shownBox(DialogPresenter* presenter)
{
    auto* box = presenter ? qobject_cast<QMessageBox*>(presenter->dialog()) : nullptr;
    return box && box->isVisible() ? box : nullptr;
}

QString describe(QMessageBox* box)
{
    if (!box)
        return QStringLiteral("(no message box)");
    QStringList buttons;
    for (QAbstractButton* button : box->buttons())
        buttons << button->text();
    return box->text() + QStringLiteral(" | ") + box->informativeText() + QStringLiteral(" | [")
           + buttons.join(QStringLiteral(", ")) + QLatin1Char(']');
}

bool press(QMessageBox* box, const QString& title)
{
    if (!box)
        return false;
    for (QAbstractButton* button : box->buttons()) {
        if (plainText(button->text()) == title) {
            QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
            return true;
        }
    }
    return false;
}

NameInputView* namingSheet()
{
    MainWindow* window = mainWindow();
    QDialog* sheet = window ? window->content()->sheetPresenter()->dialog() : nullptr;
    auto* view = sheet && sheet->isVisible() ? sheet->findChild<NameInputView*>() : nullptr;
    return view && view->field()->isVisible() ? view : nullptr;
}

void typeName(NameInputView* sheet, const QString& name)
{
    QLineEdit* field = sheet->field();
    field->setFocus();
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    QTest::keyClicks(field, name);
    QTest::keyClick(field, Qt::Key_Return);
}

QFileDialog* fileDialog()
{
    MainWindow* window = mainWindow();
    auto* dialog = window ? qobject_cast<QFileDialog*>(window->content()->fileDialogPresenter()->dialog()) : nullptr;
    return dialog && dialog->isVisible() ? dialog : nullptr;
}

void choosePath(QFileDialog* dialog, const QString& path)
{
    auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    field->setText(path);
    auto* buttons = dialog->findChild<QDialogButtonBox*>();
    for (QAbstractButton* button : buttons->buttons()) {
        if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole) {
            QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
            return;
        }
    }
}

bool openEntry(QFileDialog* dialog, const QString& parent, const QString& child)
{
    if (QDir(dialog->directory()).absolutePath() != QDir(parent).absolutePath())
        dialog->setDirectory(parent);
    auto* list = dialog->findChild<QListView*>(QStringLiteral("listView"));
    auto* files = list ? qobject_cast<QFileSystemModel*>(list->model()) : nullptr;
    if (!files)
        return false;
    const QModelIndex entry = files->index(QDir(parent).filePath(child));
    const QRect place = list->visualRect(entry);
    if (!entry.isValid() || place.isEmpty())
        return false;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, place.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, place.center());
    return true;
}

QStringList rowNames(const ItemListView& view)
{
    QStringList names;
    const ItemListModel& model = view.listModel();
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row);
        if (!index.data(ItemListModel::isHeaderRole).toBool())
            names << index.data(Qt::DisplayRole).toString();
    }
    return names;
}

int rowNamed(const ItemListView& view, const QString& name)
{
    const ItemListModel& model = view.listModel();
    for (int row = 0; row < model.rowCount(); ++row) {
        const QModelIndex index = model.index(row);
        if (!index.data(ItemListModel::isHeaderRole).toBool() && index.data(Qt::DisplayRole).toString() == name)
            return row;
    }
    return -1;
}

void clickRow(ItemListView& view, int row)
{
    const QRect place = view.visualRect(view.listModel().index(row));
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, place.center());
}

ActivityItem* topRow()
{
    ActivityFeed* feed = activityFeed();
    return feed ? feed->shownRow(0) : nullptr;
}

QString topUser()
{
    ActivityItem* row = topRow();
    return row ? row->line()->userNameLabel()->text() : QString();
}

QString topKind()
{
    ActivityItem* row = topRow();
    return row ? fullText(*row->line()->kindLabel()) : QString();
}

QString topMessage()
{
    ActivityItem* row = topRow();
    return row && row->content()->messageLabel() ? row->content()->messageLabel()->text() : QString();
}

QString shownItemName()
{
    CollectionContentView* view = collectionView();
    const auto item = view ? view->header()->shownItem() : nullptr;
    return item ? item->name() : QString();
}

QPushButton* headerButton(const QString& objectName)
{
    CollectionContentView* view = collectionView();
    QWidget* buttons = view ? view->header()->buttonGroup() : nullptr;
    return buttons ? buttons->findChild<QPushButton*>(objectName) : nullptr;
}

CheckInView* checkInPanel()
{
    CollectionContentView* view = collectionView();
    CheckInView* panel = view ? view->checkInView() : nullptr;
    return panel && panel->isVisible() ? panel : nullptr;
}

ItemListView& collectionRows()
{
    return teamView()->collectionList()->view();
}

void screenshot(QWidget* window, const QString& name)
{
    const QDir folder(QStringLiteral(VANTREL_SCREENSHOT_DIR));
    folder.mkpath(QStringLiteral("."));
    window->grab().save(folder.filePath(QStringLiteral("acceptance_") + name + QStringLiteral(".png")));
}

} // namespace vantrel::acceptance
