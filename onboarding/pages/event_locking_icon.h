#pragma once

#include "onboarding/pages/hover_icon.h"

namespace vantrel {

// The event symbol with a padlock in front of it whose shackle springs up when the pointer rests
// on the icon, with a small bounce, and drops back when it leaves. Only the shackle moves.
class EventLockingIcon final : public HoverIcon {
    Q_OBJECT
public:
    explicit EventLockingIcon(QWidget* parent = nullptr, Clock& clock = TimerClock::shared());

    // Where the shackle is drawn, in the icon's coordinates.
    QRectF shackleRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vantrel
