#include "app/main_window.h"

#include "design/palette.h"
#include "model/key_value_storage.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "packages/components/app_info.h"
#include "views/team/team_window.h"

#include <QAction>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>

namespace vantrel {

const QString MainWindow::geometryKey = QStringLiteral("MainWindow/geometry");

MainWindow::MainWindow(TeamWindow* content, std::shared_ptr<KeyValueStorage> settings, Commands commands,
                       QWidget* parent)
    : QMainWindow(parent),
      m_content(content),
      m_settings(std::move(settings)),
      m_commands(std::move(commands))
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(AppInfo::shared().name());
    QPalette dark = palette();
    dark.setColor(QPalette::Window, design::neutral(7));
    setPalette(dark);
    setAutoFillBackground(true);
    setCentralWidget(m_content);

    QMenu* file = menuBar()->addMenu(Strings::fileMenuTitle());
    QAction* quit = file->addAction(Strings::quitActionTitle());
    quit->setObjectName(QStringLiteral("quitAction"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, this, [this] {
        if (m_commands.quit)
            m_commands.quit();
    });

    QMenu* help = menuBar()->addMenu(Strings::helpMenuTitle());
    QAction* about = help->addAction(formatText(Strings::aboutActionTitle(), {AppInfo::shared().name()}));
    about->setObjectName(QStringLiteral("aboutAction"));
    about->setMenuRole(QAction::AboutRole);
    connect(about, &QAction::triggered, this, [this] {
        if (m_commands.showAbout)
            m_commands.showAbout();
    });

    resize(TeamWindow::defaultSize);
    connect(m_content, &TeamWindow::contentChanged, this, &MainWindow::followContent);
    followContent();
}

MainWindow::~MainWindow() = default;

void MainWindow::followContent()
{
    const bool loaded = !m_content->followsContentSize();
    if (m_wasLoaded && !loaded)
        saveLoadedGeometry();
    m_wasLoaded = loaded;
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    if (loaded) {
        // Freely resizable, never smaller than the team needs; the first team of a run opens
        // where the user left the last one.
        layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
        if (!m_loadedOnce) {
            m_loadedOnce = true;
            restoreLoadedGeometry();
        }
        return;
    }
    if (m_content->setup() && m_content->setup()->state().kind() == TeamSetup::State::Case::select) {
        // Choosing a team bundle: the window takes the onboarding's size.
        layout()->setSizeConstraint(QLayout::SetFixedSize);
        return;
    }
    // Loading keeps the size the window has.
    layout()->setSizeConstraint(QLayout::SetDefaultConstraint);
    setFixedSize(size());
}

void MainWindow::restoreLoadedGeometry()
{
    const QVariant saved = m_settings ? m_settings->object(geometryKey) : QVariant();
    // Saved geometry that does not read back (damaged, or from another screen layout Qt cannot
    // place) gives the default size, never an empty window.
    if (!saved.canConvert<QByteArray>() || !restoreGeometry(saved.toByteArray()) || width() <= 0 || height() <= 0)
        resize(TeamWindow::defaultSize);
}

void MainWindow::saveLoadedGeometry()
{
    if (m_settings && !m_content->followsContentSize())
        m_settings->set(saveGeometry(), geometryKey);
}

void MainWindow::raiseToFront()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

} // namespace vantrel
