#pragma once

#include "foundation/clock.h"

#include <QPointer>
#include <QWidget>

namespace vantrel {

class TeamSetup;
class TeamsIcon;

// The last onboarding page, about the team bundle, with the deck-of-cards icon. It watches the
// window's team setup (redrawing when it changes) but shows nothing of it; the closing buttons
// under it belong to the onboarding view.
class TeamsPage final : public QWidget {
    Q_OBJECT
public:
    explicit TeamsPage(TeamSetup* setup, QWidget* parent = nullptr, Clock& clock = TimerClock::shared());

    TeamsIcon* icon() const { return m_icon; }
    TeamSetup* setup() const;

private:
    QPointer<TeamSetup> m_setup;
    TeamsIcon* m_icon;
};

} // namespace vantrel
