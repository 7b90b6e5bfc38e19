#pragma once

#include <QColor>
#include <QPixmap>
#include <QPointF>
#include <QSizeF>
#include <QString>

class QPainter;

namespace vantrel::onboarding {

// A picture of the artwork with two soft black shadows of its shape (one per blur radius, so a
// shadow whose radius changes during a motion is drawn as a blend of the two). Rendered once per
// asset, size, radii and pixel ratio and kept for the life of the process.
struct ShadowedPicture {
    QPixmap picture;
    QPixmap shadows[2];
    // How far each shadow spreads beyond the picture on every side, in points.
    qreal margins[2] = {0.0, 0.0};
    QSizeF size;
};

const ShadowedPicture& shadowedPicture(const QString& asset, QSizeF size, qreal firstRadius, qreal secondRadius,
                                       qreal devicePixelRatio);
// The same for a picture of another source, kept under `key` (which must name the picture and
// its size); `picture` is rendered for `devicePixelRatio` at `size` points.
const ShadowedPicture& shadowedPicture(const QString& key, const QPixmap& picture, QSizeF size, qreal firstRadius,
                                       qreal secondRadius, qreal devicePixelRatio);

// A rounded rectangle of `color` blurred by `blurRadius`, as a glow; rendered once per look and
// pixel ratio. `margin` receives how far the blur spreads beyond the rectangle, in points.
const QPixmap& blurredRoundedRect(QSizeF size, qreal cornerRadius, const QColor& color, qreal blurRadius,
                                  qreal devicePixelRatio, qreal* margin);

// Where and how one layer of an icon is drawn at a moment of its motion. The shadow is placed,
// turned and scaled with the picture; `opacity` dims both.
struct LayerLook {
    QPointF centre;
    qreal scale = 1.0;
    qreal rotation = 0.0; // degrees, clockwise
    qreal opacity = 1.0;
    qreal shadowOpacity = 0.0;
    qreal shadowBlend = 0.0; // 0: the first radius, 1: the second
    QPointF shadowOffset{0.0, 2.0};
};

void paintLayer(QPainter& painter, const ShadowedPicture& picture, const LayerLook& look);

// Draws `pixmap` (of `size` points) centred on the painter's origin.
void drawCentred(QPainter& painter, const QPixmap& pixmap, QSizeF size);

} // namespace vantrel::onboarding
