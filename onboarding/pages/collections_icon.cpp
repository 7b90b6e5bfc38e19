#include "onboarding/pages/collections_icon.h"

#include "design/palette.h"
#include "onboarding/pages/icon_drawing.h"

#include <QPainter>

#include <algorithm>

namespace vantrel {

using onboarding::LayerLook;

namespace {

constexpr QSizeF layerSize(96, 96);
// The layers overlap by 30 points each.
constexpr qreal layerStep = 96 - 30;
constexpr QSizeF glowSize(60, 60);

} // namespace

CollectionsIcon::CollectionsIcon(QWidget* parent, Clock& clock) : HoverIcon(QSize(260, 140), 0.5, 1.0, clock, parent) {}

void CollectionsIcon::paintEvent(QPaintEvent*)
{
    const double p = hoverProgress();
    const qreal dpr = devicePixelRatioF();
    const QPointF centre(width() / 2.0, height() / 2.0);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // The outer layers, behind the middle one.
    LayerLook green;
    green.centre = centre + QPointF(-layerStep + interpolate(0, -5, p), interpolate(10, 5, p));
    green.rotation = interpolate(0, -3, p);
    green.opacity = interpolate(1, 0.6, p);
    green.shadowOpacity = interpolate(0.2, 0.6, p);
    green.shadowBlend = p;
    onboarding::paintLayer(painter,
                           onboarding::shadowedPicture(QStringLiteral("CollectionGreen"), layerSize, 3, 4, dpr), green);

    LayerLook yellow;
    yellow.centre = centre + QPointF(layerStep + interpolate(0, 5, p), interpolate(-10, -15, p));
    yellow.rotation = interpolate(0, 3, p);
    yellow.opacity = interpolate(1, 0.6, p);
    yellow.shadowOpacity = interpolate(0.2, 0.6, p);
    yellow.shadowBlend = p;
    onboarding::paintLayer(
        painter, onboarding::shadowedPicture(QStringLiteral("CollectionYellow"), layerSize, 3, 4, dpr), yellow);

    // The glow behind the middle layer.
    const qreal glowOpacity = interpolate(0, 0.6, p);
    if (glowOpacity > 0) {
        qreal margin = 0;
        const QPixmap& glow = onboarding::blurredRoundedRect(glowSize, 8, design::neutral(0), 20, dpr, &margin);
        painter.save();
        painter.translate(centre);
        painter.setOpacity(std::min(glowOpacity, 1.0));
        onboarding::drawCentred(painter, glow, glowSize + QSizeF(2 * margin, 2 * margin));
        painter.restore();
    }

    LayerLook pink;
    pink.centre = centre;
    pink.scale = interpolate(1, 1.025, p);
    pink.shadowOpacity = interpolate(0.2, 0, p);
    onboarding::paintLayer(painter, onboarding::shadowedPicture(QStringLiteral("CollectionPink"), layerSize, 3, 3, dpr),
                           pink);
}

} // namespace vantrel
