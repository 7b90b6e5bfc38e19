#pragma once

#include "actions/toolbar_progress.h"
#include "design/ribbon.h"
#include "open_team/navigation_model.h"

#include <QPointer>
#include <QWidget>

class QToolButton;

namespace vantrel {

namespace design {
class RibbonView;
}

// The navigation part of the team window's toolbar: back (one step back from the focused pane),
// home (back to the welcome view), the ribbon of messages, and the progress of the running item
// action, which takes the remaining width and sits at its right end. Back and home are disabled
// while the welcome view has the focus.
class TeamToolbar final : public QWidget {
    Q_OBJECT
public:
    // `navigation` and `progress` must outlive the toolbar. Without a ribbon prioritizer the
    // toolbar shows an empty ribbon.
    TeamToolbar(NavigationModel* navigation, ToolbarProgressIndicator* progress,
                design::Prioritizer<design::Ribbon>* ribbon = nullptr, QWidget* parent = nullptr);

    QToolButton* backButton() const { return m_back; }
    QToolButton* homeButton() const { return m_home; }
    design::RibbonView* ribbonView() const { return m_ribbon; }

private:
    void followFocus();

    QPointer<NavigationModel> m_navigation;
    QToolButton* m_back;
    QToolButton* m_home;
    design::RibbonView* m_ribbon;
};

} // namespace vantrel
