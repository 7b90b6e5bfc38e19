#include "onboarding/pages/hover_icon.h"

#include "packages/components/hover_delay.h"

namespace vantrel {

HoverIcon::HoverIcon(QSize size, double response, double dampingFraction, Clock& clock, QWidget* parent)
    : QWidget(parent),
      m_spring(response, dampingFraction, 0.0)
{
    setFixedSize(size);
    setAttribute(Qt::WA_TranslucentBackground);
    connect(&m_spring, &SpringAnimator::valueChanged, this, qOverload<>(&QWidget::update));
    delayedOnHover(
        this, hoverDelayMs, [this](bool hovered) { setHovered(hovered); }, clock);
}

void HoverIcon::setHovered(bool hovered)
{
    m_hovered = hovered;
    m_spring.animateTo(hovered ? 1.0 : 0.0);
}

void HoverIcon::setHoverProgress(double progress)
{
    m_spring.setValue(progress);
    update();
}

} // namespace vantrel
