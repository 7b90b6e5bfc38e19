#pragma once

#include "onboarding/pages/hover_icon.h"

namespace vantrel {

// Three overlapping application logos that move apart, grow and tilt when the pointer rests on
// them; their shadows fade as they grow. The front-to-back order never changes.
class DocumentsIcon final : public HoverIcon {
    Q_OBJECT
public:
    explicit DocumentsIcon(QWidget* parent = nullptr, Clock& clock = TimerClock::shared());

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace vantrel
