#pragma once

#include "foundation/clock.h"
#include "packages/components/spring_animator.h"

#include <QWidget>

#include <cstdint>

namespace vantrel {

// The base of the onboarding's animated icons: a fixed-size picture whose every hover-dependent
// value is interpolated from one spring-driven hover progress (0 at rest, 1 hovered, beyond
// either while a bouncy spring overshoots). The pointer moves the spring only once the icon has
// been on screen for the hover delay; a hover that began earlier is not replayed.
class HoverIcon : public QWidget {
    Q_OBJECT
public:
    static constexpr std::uint64_t hoverDelayMs = 500;

    double hoverProgress() const { return m_spring.value(); }
    bool isHovered() const { return m_hovered; }
    SpringAnimator& spring() { return m_spring; }

    // Sends the spring towards the hovered or the resting look, from where it is.
    void setHovered(bool hovered);
    // Jumps to a moment of the motion and stays there (pictures of the motion, tests).
    void setHoverProgress(double progress);

    QSize sizeHint() const override { return size(); }

protected:
    HoverIcon(QSize size, double response, double dampingFraction, Clock& clock, QWidget* parent);

private:
    SpringAnimator m_spring;
    bool m_hovered = false;
};

} // namespace vantrel
