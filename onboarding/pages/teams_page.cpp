#include "onboarding/pages/teams_page.h"

#include "model/strings.h"
#include "onboarding/pages/page_layout.h"
#include "onboarding/pages/teams_icon.h"
#include "open_team/team_setup.h"

namespace vantrel {

namespace {

// The icon sits in a square of 132 points, centred in the 140-point icon slot.
constexpr int iconSide = 132;

} // namespace

TeamsPage::TeamsPage(TeamSetup* setup, QWidget* parent, Clock& clock)
    : QWidget(parent),
      m_setup(setup),
      m_icon(new TeamsIcon(this, clock))
{
    Q_ASSERT(m_icon->width() == iconSide && m_icon->height() == iconSide);
    onboarding::layOutTemplatePage(this, m_icon, Strings::teamsOnboardingTitle(), Strings::teamsOnboardingMessage(),
                                   false);
    if (setup)
        connect(setup, &ObservableObject::objectWillChange, this, qOverload<>(&QWidget::update));
}

TeamSetup* TeamsPage::setup() const
{
    return m_setup;
}

} // namespace vantrel
