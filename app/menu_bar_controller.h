#pragma once

#include "app/selected_item_menu.h"
#include "packages/components/app_info.h"

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QMainWindow;
class QMenu;

namespace vantrel {

class Document;
class NavigationModel;
class Team;
class TeamSetup;
class TeamView;

// The menu bar of the main window, built from the team-setup state and the team window's
// selection: File (the selected item's commands, the team-bundle commands, Quit), Go, Help
// (About, Check for updates, Collect Logs) and, in alpha builds, DEBUG. Commands that do not
// apply are absent, not disabled. The menus are rebuilt whenever the state, the selection, the
// focus or the selected document's lock changes, and "Open" follows the document's busy state
// and application at once, so the shortcuts (live while the menus are closed) always act on
// what the window shows.
class MenuBarController final : public QObject {
    Q_OBJECT
public:
    struct Commands {
        std::function<void()> quit;
        std::function<void()> showAbout;
        // Absent until there is an update service: the item is then shown disabled.
        std::function<void()> checkForUpdates;
    };

    // Builds the menus of `window`'s menu bar at once. `setup` may be null: only Quit, About
    // and Check for updates are offered then.
    MenuBarController(QMainWindow* window, TeamSetup* setup, AppInfo appInfo, Commands commands);
    ~MenuBarController() override;

    void setCommands(Commands commands);
    // Where the View menu finds the loaded team's view, whose sidebar it shows and hides.
    void setTeamViewSource(std::function<TeamView*()> source);

    // Packs the loaded team bundle's logs into an archive in the file manager's Downloads folder
    // on a worker thread, with the toolbar's progress; reveals the archive when done, or shows
    // the failure as an alert.
    void collectLogs();

private:
    void followSetup();
    void followSelection();
    void rebuild();
    void addFileMenu(const std::shared_ptr<Team>& team);
    void addViewMenu();
    void addGoMenu(const std::shared_ptr<Team>& team);
    void addHelpMenu(bool loaded);
    QMenu* addMenu(const QString& title, const QString& objectName);

    QMainWindow* m_window;
    QPointer<TeamSetup> m_setup;
    AppInfo m_appInfo;
    Commands m_commands;
    std::function<TeamView*()> m_teamView;
    QList<QPointer<QMenu>> m_menus;
    QPointer<QAction> m_checkForUpdates;
    SelectedItemMenu m_selectedItem;
    QPointer<NavigationModel> m_navigation;
    QList<QMetaObject::Connection> m_navigationConnections;
    QList<QMetaObject::Connection> m_documentConnections;
};

} // namespace vantrel
