#include "onboarding/pages/event_locking_icon.h"

#include "onboarding/pages/icon_drawing.h"

#include <QPainter>

namespace vantrel {

namespace {

constexpr QSizeF logoSize(124, 124);
// The padlock's two parts keep their natural size and share one centre.
constexpr QSizeF lockSize(56, 64);

} // namespace

EventLockingIcon::EventLockingIcon(QWidget* parent, Clock& clock)
    : HoverIcon(QSize(304, 140), 0.01, 0.55, clock, parent)
{
}

QRectF EventLockingIcon::shackleRect() const
{
    const QPointF centre(width() / 2.0, height() / 2.0 + interpolate(0, -8, hoverProgress()));
    return QRectF(centre - QPointF(lockSize.width() / 2, lockSize.height() / 2), lockSize);
}

void EventLockingIcon::paintEvent(QPaintEvent*)
{
    const qreal dpr = devicePixelRatioF();
    const QPointF centre(width() / 2.0, height() / 2.0);
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(centre);
    onboarding::drawCentred(
        painter, onboarding::shadowedPicture(QStringLiteral("EventLogo"), logoSize, 0, 0, dpr).picture, logoSize);
    painter.resetTransform();
    const QPixmap& shackle = onboarding::shadowedPicture(QStringLiteral("Lockhinge"), lockSize, 0, 0, dpr).picture;
    painter.drawPixmap(shackleRect(), shackle, QRectF(shackle.rect()));
    painter.translate(centre);
    onboarding::drawCentred(
        painter, onboarding::shadowedPicture(QStringLiteral("Lockbase"), lockSize, 0, 0, dpr).picture, lockSize);
}

} // namespace vantrel
