#include "onboarding/pages/teams_icon.h"

#include "onboarding/pages/icon_drawing.h"

#include <QPainter>

namespace vantrel {

using onboarding::LayerLook;

namespace {

constexpr QSizeF cardSize(120, 84);
// The deck's own bounds: the front card with a padding of 16 around it.
constexpr qreal deckPadding = 16;
// The flashes fill the front card's height; the two behind keep 2 points of room around them.
constexpr QSizeF flashBackSize(57, 80);
constexpr qreal flashBackBox = 57 + 4;
constexpr QSizeF flashFrontSize(60, 84);

// The icon's shadow, the same for every card.
LayerLook cardLook(QPointF centre, qreal scale)
{
    LayerLook look;
    look.centre = centre;
    look.scale = scale;
    look.shadowOpacity = 0.6;
    return look;
}

} // namespace

TeamsIcon::TeamsIcon(QWidget* parent, Clock& clock) : HoverIcon(QSize(132, 132), 0.5, 0.7, clock, parent) {}

QPointF TeamsIcon::backCardCentre() const
{
    return QPointF(width() / 2.0, height() / 2.0 + interpolate(-65, 40, hoverProgress()));
}

void TeamsIcon::paintEvent(QPaintEvent*)
{
    const double p = hoverProgress();
    const qreal dpr = devicePixelRatioF();
    const QPointF centre(width() / 2.0, height() / 2.0);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QSizeF deck = cardSize + QSizeF(2 * deckPadding, 2 * deckPadding);
    painter.setClipRect(QRectF(centre - QPointF(deck.width() / 2, deck.height() / 2), deck));

    const auto card = [&](const char* asset) {
        return onboarding::shadowedPicture(QString::fromLatin1(asset), cardSize, 3, 3, dpr);
    };
    onboarding::paintLayer(painter, card("CardThree"), cardLook(backCardCentre(), 0.56));
    onboarding::paintLayer(painter, card("CardTwo"), cardLook(centre + QPointF(0, interpolate(-25, -12, p)), 0.78));
    const qreal frontScale = interpolate(1, 1.05, p);
    onboarding::paintLayer(painter, card("CardOne"), cardLook(centre, frontScale));

    // The flash on the front card, scaled with it: three flashes in a row that overlap almost
    // completely at rest and fan out hovered.
    painter.translate(centre);
    painter.scale(frontScale, frontScale);
    const qreal spacing = interpolate(-60, -45, p);
    const qreal rowWidth = 2 * flashBackBox + flashFrontSize.width() + 2 * spacing;
    const qreal left = -rowWidth / 2;
    const auto& back = onboarding::shadowedPicture(QStringLiteral("FlashBackground"), flashBackSize, 2, 4, dpr);
    const auto& front = onboarding::shadowedPicture(QStringLiteral("FlashForeground"), flashFrontSize, 3, 4, dpr);

    LayerLook first;
    first.centre = QPointF(left + flashBackBox / 2, 0);
    first.scale = interpolate(0.8, 0.9, p);
    first.shadowOpacity = 0.5;
    onboarding::paintLayer(painter, back, first);

    LayerLook second;
    second.centre = QPointF(left + flashBackBox + spacing + flashBackBox / 2, 0);
    second.scale = first.scale;
    second.shadowOpacity = interpolate(0.5, 1.0, p);
    second.shadowBlend = p;
    second.shadowOffset = QPointF(0, interpolate(2, 4, p));
    onboarding::paintLayer(painter, back, second);

    LayerLook third;
    third.centre = QPointF(left + 2 * (flashBackBox + spacing) + flashFrontSize.width() / 2, 0);
    third.scale = interpolate(1, 1.2, p);
    third.shadowOpacity = interpolate(0.7, 1.0, p);
    third.shadowBlend = p;
    third.shadowOffset = QPointF(0, interpolate(2, 4, p));
    onboarding::paintLayer(painter, front, third);
}

} // namespace vantrel
