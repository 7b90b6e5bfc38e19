#pragma once

#include "onboarding/pages/hover_icon.h"

namespace vantrel {

// A small deck of cards with a flash on the front card. When the pointer rests on it the back
// card drops behind the front one, the middle card settles and the front card grows while its
// flash fans out into three; one slightly bouncy spring moves it all. The deck is clipped to
// its own bounds, so the travelling back card is partly cut off.
class TeamsIcon final : public HoverIcon {
    Q_OBJECT
public:
    explicit TeamsIcon(QWidget* parent = nullptr, Clock& clock = TimerClock::shared());

    // Where the back card's centre is drawn, in the icon's coordinates.
    QPointF backCardCentre() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vantrel
