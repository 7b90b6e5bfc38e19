#include "packages/components/conditional_blur.h"

#include <QEvent>
#include <QGraphicsBlurEffect>
#include <QHoverEvent>
#include <QVBoxLayout>

#include <cmath>

namespace vantrel {

double blurRadius(QPointF mousePosition, QPointF viewCenter, double minRadius, double maxRadius, double maxDistance)
{
    double r0 = 0;
    if (maxDistance > 0) {
        const QPointF d = mousePosition - viewCenter;
        r0 = (1 - std::hypot(d.x(), d.y()) / maxDistance) * maxRadius;
    }
    const double r1 = r0 >= 0 ? r0 : 0; // not a number counts as below 0
    return r1 >= minRadius ? r1 : minRadius;
}

MouseTrackingView::MouseTrackingView(QWidget* parent) : QWidget(parent)
{
    // Hover moves reach this widget also when the pointer is over one of its children.
    setAttribute(Qt::WA_Hover);
}

bool MouseTrackingView::event(QEvent* event)
{
    if (event->type() == QEvent::HoverMove) {
        if (m_mouseMovedHandler) {
            const QPointF position = static_cast<QHoverEvent*>(event)->position();
            m_mouseMovedHandler(position - QPointF(width() * 0.5, height() * 0.5));
        }
        return true;
    }
    return QWidget::event(event);
}

ConditionalBlur::ConditionalBlur(QWidget* content, double minRadius, double maxRadius, double maxDistance,
                                 QPointF viewCenter, QWidget* parent)
    : QWidget(parent),
      m_minRadius(minRadius),
      m_maxRadius(maxRadius),
      m_viewCenter(viewCenter),
      m_maxDistance(maxDistance),
      m_blur(new QGraphicsBlurEffect)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* tracking = new MouseTrackingView(this);
    tracking->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    outer->addWidget(tracking);

    auto* inner = new QVBoxLayout(tracking);
    inner->setContentsMargins(0, 0, 0, 0);
    inner->addWidget(content, 0, Qt::AlignCenter);
    content->setGraphicsEffect(m_blur); // the content owns it from here
    if (m_blur)
        m_blur->setBlurRadius(radius());

    // The position is taken after the event has been handled, one write per event.
    tracking->setMouseMovedHandler([this](QPointF position) {
        QMetaObject::invokeMethod(
            this, [this, position] { setMousePosition(position); }, Qt::QueuedConnection);
    });
}

double ConditionalBlur::radius() const
{
    return blurRadius(m_mousePosition, m_viewCenter, m_minRadius, m_maxRadius, m_maxDistance);
}

void ConditionalBlur::setMousePosition(QPointF position)
{
    m_mousePosition = position;
    if (m_blur)
        m_blur->setBlurRadius(radius());
}

} // namespace vantrel
