#pragma once

#include <QGraphicsBlurEffect>
#include <QPointF>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace vantrel {

// The blur radius for a pointer at `mousePosition`: `maxRadius` on `viewCenter`, falling in a
// straight line to zero at `maxDistance`, never below `minRadius` nor below 0. With a maximum
// distance that is not positive the distance cannot scale the radius, which is then
// max(minRadius, 0) wherever the pointer is.
double blurRadius(QPointF mousePosition, QPointF viewCenter, double minRadius, double maxRadius, double maxDistance);

// Reports every position of the pointer over the widget and its children, measured from the
// widget's centre (x to the right, y downwards), also while its window is not active.
class MouseTrackingView : public QWidget {
    Q_OBJECT
public:
    explicit MouseTrackingView(QWidget* parent = nullptr);

    // Called with each position; without a handler, movement is ignored.
    void setMouseMovedHandler(std::function<void(QPointF)> handler) { m_mouseMovedHandler = std::move(handler); }

protected:
    bool event(QEvent* event) override;

private:
    std::function<void(QPointF)> m_mouseMovedHandler;
};

// Blurs its content the more, the nearer the pointer comes to `viewCenter` (in the centre-based
// coordinates of MouseTrackingView). The tracking area takes all the space the widget gets,
// with the content centred in it. Until the pointer first moves over it, the blur is that of
// the zero point.
class ConditionalBlur : public QWidget {
    Q_OBJECT
public:
    ConditionalBlur(QWidget* content, double minRadius, double maxRadius, double maxDistance, QPointF viewCenter,
                    QWidget* parent = nullptr);

    QPointF mousePosition() const { return m_mousePosition; }
    // The radius the content is blurred with now.
    double radius() const;

private:
    void setMousePosition(QPointF position);

    const double m_minRadius;
    const double m_maxRadius;
    const QPointF m_viewCenter;
    const double m_maxDistance;
    QPointF m_mousePosition;
    QPointer<QGraphicsBlurEffect> m_blur; // owned by the content
};

} // namespace vantrel
