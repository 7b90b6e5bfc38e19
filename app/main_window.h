#pragma once

#include "app/menu_bar_controller.h"

#include <QByteArray>
#include <QMainWindow>
#include <QSize>

#include <functional>
#include <memory>

namespace vantrel {

class KeyValueStorage;
class TeamWindow;

// The application's one main window: the team window in a dark frame, under the menu bar its
// MenuBarController builds from the team window's setup. (Closing it is quitting: the
// application's quit path watches its close events.) It keeps the size and place the user gives
// a loaded team in the settings store.
class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    using Commands = MenuBarController::Commands;

    // The settings key of the saved geometry of a loaded team's window.
    static const QString geometryKey;

    MainWindow(TeamWindow* content, std::shared_ptr<KeyValueStorage> settings, Commands commands,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    TeamWindow* content() const { return m_content; }
    MenuBarController* menus() const { return m_menus; }
    void setCommands(Commands commands) { m_menus->setCommands(std::move(commands)); }
    // Keeps the current geometry, when the window shows a loaded team.
    void saveLoadedGeometry();
    // Brings the window to the front, for a request handed over by another launch.
    void raiseToFront();

private:
    void followContent();
    void restoreLoadedGeometry();

    TeamWindow* m_content;
    std::shared_ptr<KeyValueStorage> m_settings;
    MenuBarController* m_menus;
    bool m_loadedOnce = false;
    bool m_wasLoaded = false;
};

} // namespace vantrel
