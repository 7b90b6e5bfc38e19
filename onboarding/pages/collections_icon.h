#pragma once

#include "onboarding/pages/hover_icon.h"

namespace vantrel {

// Three overlapping collection layers that fan out when the pointer rests on them: the outer two
// spread, tilt away from each other and dim, the middle one lifts slightly and lights a soft glow
// behind it. One critically damped spring drives them all.
class CollectionsIcon final : public HoverIcon {
    Q_OBJECT
public:
    explicit CollectionsIcon(QWidget* parent = nullptr, Clock& clock = TimerClock::shared());

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vantrel
