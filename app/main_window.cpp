#include "app/main_window.h"

#include "design/palette.h"
#include "model/key_value_storage.h"
#include "packages/components/app_info.h"
#include "views/team/team_window.h"

#include <QLayout>
#include <QPointer>

namespace vantrel {

const QString MainWindow::geometryKey = QStringLiteral("MainWindow/geometry");

MainWindow::MainWindow(TeamWindow* content, std::shared_ptr<KeyValueStorage> settings, Commands commands,
                       QWidget* parent)
    : QMainWindow(parent),
      m_content(content),
      m_settings(std::move(settings))
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(AppInfo::shared().name());
    QPalette dark = palette();
    dark.setColor(QPalette::Window, design::neutral(7));
    setPalette(dark);
    setAutoFillBackground(true);
    setCentralWidget(m_content);

    m_menus = new MenuBarController(this, m_content->setup(), AppInfo::shared(), std::move(commands));
    m_menus->setTeamViewSource(
        [content = QPointer<TeamWindow>(m_content)]() -> TeamView* { return content ? content->teamView() : nullptr; });

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
