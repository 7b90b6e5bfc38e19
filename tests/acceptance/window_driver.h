#pragma once

// Finds what the running application shows and acts on it the way a user does: menu commands by
// their text, rows of the lists by their names, buttons of message boxes by their titles, paths
// typed into file dialogs. Every lookup answers null or -1 when the thing is not on screen, so
// that tests can wait for it.

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

class QAction;
class QFileDialog;
class QMenu;
class QMessageBox;
class QPushButton;
class QWidget;

namespace vantrel {

class ActivityFeed;
class ActivityItem;
class CheckInView;
class CollectionContentView;
class DialogPresenter;
class ItemListView;
class MainWindow;
class NameInputView;
class TeamView;
class TrashManagerView;

namespace acceptance {

// The editing application of the test's desktop: a desktop entry whose program notes, one a
// line in `log`, each path it was started on, and ends.
class DesktopOpener {
public:
    explicit DesktopOpener(QString log) : m_log(std::move(log)) {}
    // The paths the application was started on, in order.
    QStringList opened() const;

private:
    QString m_log;
};

// The application's main window, once shown.
MainWindow* mainWindow();
TeamView* teamView();
// The detail of the selected collection, or null.
CollectionContentView* collectionView();
ActivityFeed* activityFeed();
TrashManagerView* trashView();

// The menu bar's command whose text (without "&" and a trailing "...") is `text`; null when none.
QAction* menuCommand(const QString& text);
// The action of `menu` with that text.
QAction* menuItem(QMenu* menu, const QString& text);

// The message box a presenter shows, or null.
QMessageBox* shownBox(DialogPresenter* presenter);
// "Title | message | [Button, Button]", for comparisons and failure messages.
QString describe(QMessageBox* box);
// Clicks the box's button with that title; false when it has none.
bool press(QMessageBox* box, const QString& title);

// The naming sheet on screen, or null.
NameInputView* namingSheet();
// Replaces the sheet's name and presses Return.
void typeName(NameInputView* sheet, const QString& name);

// The file dialog on screen, or null.
QFileDialog* fileDialog();
// Types `path` into the dialog's name field and presses its accepting button.
void choosePath(QFileDialog* dialog, const QString& path);
// Opens the folder `parent` in the dialog, then double-clicks `child`, an entry of it, as one
// opens a folder kept as one document. False while the entry is not listed yet.
bool openEntry(QFileDialog* dialog, const QString& parent, const QString& child);

// The names of the list's item rows, without the headers.
QStringList rowNames(const ItemListView& view);
// The row showing `name`; -1 when none.
int rowNamed(const ItemListView& view, const QString& name);
// Clicks the row, as the user selects it.
void clickRow(ItemListView& view, int row);

// The top row of the activity feed, and what it says (in full, where the row elides it); null or empty while there is none.
ActivityItem* topRow();
QString topUser();
QString topKind();
QString topMessage();

// The name of the item the selected collection's header shows; empty without one.
QString shownItemName();
// The button of the header's button group with that object name (buttons of an item shown
// before may still wait for their deletion).
QPushButton* headerButton(const QString& objectName);
// The check-in panel, while it shows.
CheckInView* checkInPanel();
// The sidebar's list of collections.
ItemListView& collectionRows();

// Writes the window's picture into the screenshot folder.
void screenshot(QWidget* window, const QString& name);

} // namespace acceptance
} // namespace vantrel
