#include "app/menu_bar_controller.h"

#include "app/debug_menu.h"
#include "desktop/file_archiver.h"
#include "desktop/system_services.h"
#include "engine/team_bundle.h"
#include "foundation/task_starter.h"
#include "foundation/worker.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "open_team/team_setup.h"
#include "views/team/team_view.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>

namespace vantrel {

namespace {

const QString ellipsis = QStringLiteral("...");

QAction* addCommand(QMenu* menu, const QString& objectName, const QString& title, std::function<void()> run,
                    const QKeySequence& shortcut = QKeySequence())
{
    QAction* action = menu->addAction(title);
    action->setObjectName(objectName);
    action->setShortcut(shortcut);
    QObject::connect(action, &QAction::triggered, menu, [run = std::move(run)] {
        if (run)
            run();
    });
    return action;
}

// A navigation chosen from the menu takes effect on the next turn of the event loop.
std::function<void()> navigate(NavigationModel* navigation, std::function<void(NavigationModel&)> move)
{
    return [model = QPointer<NavigationModel>(navigation), move = std::move(move)] {
        QTimer::singleShot(0, model.data(), [model, move] {
            if (model)
                move(*model);
        });
    };
}

// What could not be shown is there all the same: the alert says why it did not show, and where.
QCoro::Task<> showReportingFailure(QCoro::Task<> showing, QPointer<AlertModel> alert)
{
    try {
        co_await showing;
    } catch (const Error& error) {
        if (alert)
            alert->show(error);
    }
}

QCoro::Task<> archiveLogs(std::shared_ptr<TeamBundle> bundle, QString appName, QPointer<AlertModel> alert)
{
    const QString destination = bundle->fileManager().downloadsFolder();
    auto work = [bundle, appName, destination] {
        return bundle->log().archiveLog(appName, FileArchiver(), destination);
    };
    const QString archive = co_await onWorker(std::move(work));
    co_await showReportingFailure(bundle->workspace().revealInFileManager(archive), alert);
}

} // namespace

MenuBarController::MenuBarController(QMainWindow* window, TeamSetup* setup, AppInfo appInfo, Commands commands)
    : QObject(window),
      m_window(window),
      m_setup(setup),
      m_appInfo(std::move(appInfo)),
      m_commands(std::move(commands))
{
    if (m_setup)
        connect(m_setup, &TeamSetup::stateChanged, this, &MenuBarController::followSetup);
    followSetup();
}

MenuBarController::~MenuBarController()
{
    for (const auto& connection : std::as_const(m_navigationConnections) + m_documentConnections)
        disconnect(connection);
}

void MenuBarController::setCommands(Commands commands)
{
    m_commands = std::move(commands);
    if (m_checkForUpdates)
        m_checkForUpdates->setEnabled(bool(m_commands.checkForUpdates));
}

void MenuBarController::followSetup()
{
    for (const auto& connection : std::as_const(m_navigationConnections))
        disconnect(connection);
    m_navigationConnections.clear();
    m_navigation = nullptr;
    if (m_setup && m_setup->state().kind() == TeamSetup::State::Case::loaded) {
        m_navigation = &m_setup->state().team()->navigation();
        const auto changed = [this] {
            followSelection();
            rebuild();
        };
        m_navigationConnections = {
            connect(m_navigation, &NavigationModel::focusChanged, this, changed),
            connect(m_navigation, &NavigationModel::selectedCollectionChanged, this, changed),
            connect(m_navigation, &NavigationModel::selectedDocumentChanged, this, changed),
            connect(m_navigation, &NavigationModel::selectedEventChanged, this, changed),
        };
    }
    followSelection();
    rebuild();
}

void MenuBarController::followSelection()
{
    for (const auto& connection : std::as_const(m_documentConnections))
        disconnect(connection);
    m_documentConnections.clear();
    const auto document = m_navigation ? m_navigation->selectedDocument() : nullptr;
    if (!document)
        return;
    const auto enablement = [this] { m_selectedItem.updateEnablement(); };
    m_documentConnections = {
        connect(document.get(), &Document::isInitiatingChanged, this, enablement),
        connect(document.get(), &Document::applicationChanged, this, enablement),
        // Whether a library takes new events also follows its lock.
        connect(document.get(), &Document::isLockedChanged, this, &MenuBarController::rebuild),
    };
}

void MenuBarController::rebuild()
{
    // The old menus may be running one of their actions right now: they are taken out of the
    // menu bar at once (their shortcuts end with that) and deleted later.
    m_window->menuBar()->clear();
    for (const auto& menu : std::as_const(m_menus)) {
        if (menu)
            menu->deleteLater();
    }
    m_menus.clear();

    std::shared_ptr<Team> team;
    if (m_setup && m_setup->state().kind() == TeamSetup::State::Case::loaded)
        team = m_setup->state().team();
    addFileMenu(team);
    if (team) {
        addViewMenu();
        addGoMenu(team);
    }
    addHelpMenu(bool(team));
    if (team) {
        if (QMenu* debug = makeDebugMenu(m_appInfo, m_window->menuBar())) {
            m_window->menuBar()->addMenu(debug);
            m_menus << debug;
        }
    }
}

QMenu* MenuBarController::addMenu(const QString& title, const QString& objectName)
{
    auto* menu = new QMenu(title, m_window->menuBar());
    menu->setObjectName(objectName);
    m_window->menuBar()->addMenu(menu);
    m_menus << menu;
    return menu;
}

void MenuBarController::addFileMenu(const std::shared_ptr<Team>& team)
{
    QMenu* file = addMenu(Strings::fileMenuTitle(), QStringLiteral("fileMenu"));
    if (team) {
        m_selectedItem.build(file, team);
    }
    if (m_setup && m_setup->state().kind() != TeamSetup::State::Case::loading) {
        file->addSeparator();
        QPointer<TeamSetup> setup = m_setup;
        addCommand(file, QStringLiteral("openTeamBundleAction"), Strings::openTeamBundleActionTitle() + ellipsis,
                   [setup] {
                       if (setup)
                           setup->openExistingTeamBundle();
                   });
        addCommand(file, QStringLiteral("createNewTeamAction"), Strings::createNewTeamActionTitle() + ellipsis,
                   [setup] {
                       if (setup)
                           setup->createNewTeamBundle();
                   });
    }
    if (team) {
        const std::weak_ptr<TeamBundle> bundle = team->bundle();
        const QPointer<AlertModel> alert = m_setup ? m_setup->alert() : nullptr;
        addCommand(file, QStringLiteral("showTeamBundleAction"), Strings::showTeamBundleInFileManagerActionTitle(),
                   [bundle, alert] {
                       if (const auto open = bundle.lock())
                           showReportingFailure(open->showInFileManager(), alert);
                   });
        QPointer<NavigationModel> navigation = &team->navigation();
        addCommand(file, QStringLiteral("openTrashAction"), Strings::openTrashActionTitle(), [navigation] {
            if (navigation)
                navigation->setFocus(ContentViewFocus::trash);
        });
    }
    file->addSeparator();
    QAction* quit = addCommand(
        file, QStringLiteral("quitAction"), Strings::quitActionTitle(),
        [this] {
            if (m_commands.quit)
                m_commands.quit();
        },
        QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);
}

void MenuBarController::setTeamViewSource(std::function<TeamView*()> source)
{
    m_teamView = std::move(source);
}

void MenuBarController::addViewMenu()
{
    QMenu* view = addMenu(Strings::viewMenuTitle(), QStringLiteral("viewMenu"));
    const auto teamView = [this]() -> TeamView* { return m_teamView ? m_teamView() : nullptr; };
    QAction* sidebar = addCommand(
        view, QStringLiteral("toggleSidebarAction"), Strings::hideSidebarActionTitle(),
        [teamView] {
            if (TeamView* shown = teamView())
                shown->setSidebarVisible(!shown->isSidebarVisible());
        },
        QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_S));
    // The team's view may be built after the menus: the title is read when the menu opens.
    QPointer<QAction> action = sidebar;
    connect(view, &QMenu::aboutToShow, sidebar, [action, teamView] {
        const TeamView* shown = teamView();
        action->setEnabled(shown != nullptr);
        action->setText(!shown || shown->isSidebarVisible() ? Strings::hideSidebarActionTitle()
                                                            : Strings::showSidebarActionTitle());
    });
}

void MenuBarController::addGoMenu(const std::shared_ptr<Team>& team)
{
    QMenu* go = addMenu(Strings::goMenuTitle(), QStringLiteral("goMenu"));
    NavigationModel* navigation = &team->navigation();
    QAction* back = addCommand(go, QStringLiteral("backAction"), Strings::backActionTitle(),
                               navigate(navigation, [](NavigationModel& model) { model.goBack(); }));
    QAction* forward = addCommand(go, QStringLiteral("forwardAction"), Strings::forwardActionTitle(),
                                  navigate(navigation, [](NavigationModel& model) { model.goForward(); }));
    // The desktop's own keys for going back and forward as well (Alt+Left and Alt+Right on Linux).
    back->setShortcuts(QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_BracketLeft)}
                       + QKeySequence::keyBindings(QKeySequence::Back));
    forward->setShortcuts(QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_BracketRight)}
                          + QKeySequence::keyBindings(QKeySequence::Forward));
    go->addSeparator();
    addCommand(go, QStringLiteral("homeAction"), Strings::homeActionTitle(),
               navigate(navigation, [](NavigationModel& model) { model.setSelectedCollection(nullptr); }),
               QKeySequence(Qt::SHIFT | Qt::CTRL | Qt::Key_H));
}

void MenuBarController::addHelpMenu(bool loaded)
{
    QMenu* help = addMenu(Strings::helpMenuTitle(), QStringLiteral("helpMenu"));
    QAction* about = addCommand(help, QStringLiteral("aboutAction"),
                                formatText(Strings::aboutActionTitle(), m_appInfo.name()), [this] {
                                    if (m_commands.showAbout)
                                        m_commands.showAbout();
                                });
    about->setMenuRole(QAction::AboutRole);
    m_checkForUpdates = addCommand(help, QStringLiteral("checkForUpdatesAction"),
                                   Strings::checkForUpdatesActionTitle() + ellipsis, [this] {
                                       if (m_commands.checkForUpdates)
                                           m_commands.checkForUpdates();
                                   });
    m_checkForUpdates->setEnabled(bool(m_commands.checkForUpdates));
    if (loaded) {
        help->addSeparator();
        addCommand(help, QStringLiteral("collectLogsAction"), Strings::collectLogsActionTitle(),
                   [this] { collectLogs(); });
    }
}

void MenuBarController::collectLogs()
{
    if (!m_setup || m_setup->state().kind() != TeamSetup::State::Case::loaded)
        return;
    std::shared_ptr<TeamBundle> bundle = m_setup->state().team()->bundle();
    QPointer<ToolbarProgressIndicator> progress = m_setup->progress();
    QPointer<AlertModel> alert = m_setup->alert();
    if (progress)
        progress->setState(ToolbarProgressIndicator::State::busy(Strings::collectingLogsProgress()));
    startTask(
        std::nullopt, [bundle, name = m_appInfo.name(), alert] { return archiveLogs(bundle, name, alert); },
        handleError([alert](const Error& error) {
            if (alert)
                alert->show(Error(error.localizedDescription(), Strings::collectLogsFailedTitle()));
        }),
        [progress] {
            if (progress)
                progress->setState(ToolbarProgressIndicator::State::idle());
        });
}

} // namespace vantrel
