#include "onboarding/pages/documents_icon.h"

#include "onboarding/pages/icon_drawing.h"

#include <QPainter>

namespace vantrel {

namespace {

constexpr QSizeF logoSize(112, 112);

struct Logo {
    const char* asset;
    int place;             // -1 leading, 0 middle, 1 trailing
    qreal hoveredRotation; // degrees
};

// Back to front.
constexpr Logo logos[] = {{"Premiere", 1, -8}, {"MotionLogo", 0, 0}, {"FcpLogo", -1, 8}};

} // namespace

DocumentsIcon::DocumentsIcon(QWidget* parent, Clock& clock) : HoverIcon(QSize(260, 140), 0.5, 1.0, clock, parent) {}

void DocumentsIcon::paintEvent(QPaintEvent*)
{
    const double p = hoverProgress();
    const qreal dpr = devicePixelRatioF();
    const QPointF centre(width() / 2.0, height() / 2.0);
    // The logos overlap by 85 points at rest and by 70 hovered.
    const qreal step = logoSize.width() + interpolate(-85, -70, p);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const Logo& logo : logos) {
        onboarding::LayerLook look;
        look.centre = centre + QPointF(logo.place * step, 0);
        look.scale = interpolate(1, 1.05, p);
        look.rotation = interpolate(0, logo.hoveredRotation, p);
        look.shadowOpacity = interpolate(0.2, 0, p);
        look.shadowBlend = p;
        onboarding::paintLayer(painter,
                               onboarding::shadowedPicture(QString::fromLatin1(logo.asset), logoSize, 3, 4, dpr), look);
    }
}

} // namespace vantrel
