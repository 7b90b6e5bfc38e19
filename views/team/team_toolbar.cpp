#include "views/team/team_toolbar.h"

#include "design/icon_provider.h"
#include "design/palette.h"
#include "design/ribbon_view.h"
#include "views/presenters/toolbar_progress_view.h"

#include <QHBoxLayout>
#include <QToolButton>

namespace vantrel {

namespace {

QToolButton* navigationButton(const QString& symbolName, const QString& accessibleName, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setIcon(design::IconProvider::icon(symbolName, design::neutral(1)));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setFixedSize(28, 28);
    button->setFocusPolicy(Qt::NoFocus);
    button->setAccessibleName(accessibleName);
    return button;
}

} // namespace

TeamToolbar::TeamToolbar(NavigationModel* navigation, ToolbarProgressIndicator* progress,
                         design::Prioritizer<design::Ribbon>* ribbon, QWidget* parent)
    : QWidget(parent),
      m_navigation(navigation),
      m_back(navigationButton(QStringLiteral("chevron.left"), QStringLiteral("Back"), this)),
      m_home(navigationButton(QStringLiteral("house"), QStringLiteral("Home"), this)),
      m_ribbon(nullptr)
{
    if (!ribbon) {
        // Until the application hands its feed of messages in, there is nothing to show.
        ribbon = new design::Prioritizer<design::Ribbon>(just(QList<design::Ribbon>{}), this);
    }
    m_ribbon = new design::RibbonView(ribbon, this);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(m_back);
    row->addWidget(m_home);
    row->addSpacing(8);
    row->addWidget(m_ribbon);
    row->addWidget(new ToolbarProgressView(progress, this), 1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    connect(m_back, &QToolButton::clicked, this, [this] {
        if (m_navigation)
            m_navigation->goBack();
    });
    connect(m_home, &QToolButton::clicked, this, [this] {
        // Clearing the collection clears the document and event below it and focuses home.
        if (m_navigation)
            m_navigation->setSelectedCollection(nullptr);
    });
    connect(navigation, &NavigationModel::focusChanged, this, &TeamToolbar::followFocus);
    followFocus();
}

void TeamToolbar::followFocus()
{
    const bool away = m_navigation && m_navigation->focus() != ContentViewFocus::home;
    m_back->setEnabled(away);
    m_home->setEnabled(away);
}

} // namespace vantrel
