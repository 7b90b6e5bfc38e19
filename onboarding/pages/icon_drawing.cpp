#include "onboarding/pages/icon_drawing.h"

#include "design/assets.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <map>
#include <vector>

namespace vantrel::onboarding {

namespace {

// The blur of a radius is a Gaussian of half that deviation, approximated by three box passes.
qreal deviation(qreal radius, qreal devicePixelRatio)
{
    return std::max(radius, 0.0) / 2.0 * devicePixelRatio;
}

int marginPixels(qreal radius, qreal devicePixelRatio)
{
    return int(std::ceil(3.0 * deviation(radius, devicePixelRatio)));
}

void boxPass(std::vector<int>& alpha, int width, int height, int half, bool horizontal)
{
    if (half <= 0)
        return;
    const int lines = horizontal ? height : width;
    const int length = horizontal ? width : height;
    const int stride = horizontal ? 1 : width;
    const int window = 2 * half + 1;
    std::vector<int> line(static_cast<std::size_t>(length));
    for (int l = 0; l < lines; ++l) {
        const int start = horizontal ? l * width : l;
        for (int i = 0; i < length; ++i)
            line[std::size_t(i)] = alpha[std::size_t(start + i * stride)];
        int sum = 0;
        for (int i = -half; i <= half; ++i)
            sum += (i >= 0 && i < length) ? line[std::size_t(i)] : 0;
        for (int i = 0; i < length; ++i) {
            alpha[std::size_t(start + i * stride)] = sum / window;
            const int out = i - half;
            const int in = i + half + 1;
            sum -= (out >= 0) ? line[std::size_t(out)] : 0;
            sum += (in < length) ? line[std::size_t(in)] : 0;
        }
    }
}

// A black picture of the shape of `image` (its alpha), blurred; `image` already has room around
// it for the blur.
QImage blurredShadow(QImage image, qreal sigma)
{
    const int width = image.width();
    const int height = image.height();
    std::vector<int> alpha(std::size_t(width) * std::size_t(height));
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x)
            alpha[std::size_t(y * width + x)] = qAlpha(row[x]);
    }
    const int half = int(std::lround((std::sqrt(4.0 * sigma * sigma + 1.0) - 1.0) / 2.0));
    for (int pass = 0; pass < 3; ++pass) {
        boxPass(alpha, width, height, half, true);
        boxPass(alpha, width, height, half, false);
    }
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = qRgba(0, 0, 0, alpha[std::size_t(y * width + x)]); // premultiplied black
    }
    return image;
}

// `picture` (pixels) blurred into black, with `margin` pixels of room on every side.
QPixmap shadowOf(const QImage& picture, int margin, qreal sigma, qreal devicePixelRatio)
{
    QImage room(picture.width() + 2 * margin, picture.height() + 2 * margin, QImage::Format_ARGB32_Premultiplied);
    room.fill(Qt::transparent);
    {
        QPainter painter(&room);
        painter.drawImage(margin, margin, picture);
    }
    QPixmap shadow = QPixmap::fromImage(blurredShadow(std::move(room), sigma));
    shadow.setDevicePixelRatio(devicePixelRatio);
    return shadow;
}

QString keyOf(const QString& name, QSizeF size, qreal a, qreal b, qreal devicePixelRatio)
{
    return QStringLiteral("%1|%2x%3|%4|%5|%6")
        .arg(name)
        .arg(size.width())
        .arg(size.height())
        .arg(a)
        .arg(b)
        .arg(devicePixelRatio);
}

} // namespace

namespace {

// Node-based: a reference handed out stays valid while more pictures are added.
std::map<QString, ShadowedPicture>& pictureCache()
{
    static std::map<QString, ShadowedPicture> cache;
    return cache;
}

const ShadowedPicture& withShadows(const QString& key, QPixmap picture, QSizeF size, qreal firstRadius,
                                   qreal secondRadius, qreal devicePixelRatio)
{
    ShadowedPicture made;
    made.size = size;
    made.picture = std::move(picture);
    const QImage pixels = made.picture.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const qreal radii[2] = {firstRadius, secondRadius};
    for (int i = 0; i < 2; ++i) {
        const int margin = marginPixels(radii[i], devicePixelRatio);
        made.margins[i] = margin / devicePixelRatio;
        if (!pixels.isNull() && radii[i] > 0.0)
            made.shadows[i] = shadowOf(pixels, margin, deviation(radii[i], devicePixelRatio), devicePixelRatio);
    }
    return pictureCache().insert_or_assign(key, std::move(made)).first->second;
}

} // namespace

const ShadowedPicture& shadowedPicture(const QString& asset, QSizeF size, qreal firstRadius, qreal secondRadius,
                                       qreal devicePixelRatio)
{
    const QString key = keyOf(asset, size, firstRadius, secondRadius, devicePixelRatio);
    if (const auto found = pictureCache().find(key); found != pictureCache().end())
        return found->second;
    return withShadows(key, design::Assets::pixmap(asset, size.toSize(), devicePixelRatio), size, firstRadius,
                       secondRadius, devicePixelRatio);
}

const ShadowedPicture& shadowedPicture(const QString& key, const QPixmap& picture, QSizeF size, qreal firstRadius,
                                       qreal secondRadius, qreal devicePixelRatio)
{
    const QString fullKey = keyOf(QStringLiteral("pixmap:") + key, size, firstRadius, secondRadius, devicePixelRatio);
    if (const auto found = pictureCache().find(fullKey); found != pictureCache().end())
        return found->second;
    return withShadows(fullKey, picture, size, firstRadius, secondRadius, devicePixelRatio);
}

const QPixmap& blurredRoundedRect(QSizeF size, qreal cornerRadius, const QColor& color, qreal blurRadius,
                                  qreal devicePixelRatio, qreal* margin)
{
    static std::map<QString, QPixmap> cache;
    const int marginPx = marginPixels(blurRadius, devicePixelRatio);
    *margin = marginPx / devicePixelRatio;
    const QString key = keyOf(color.name(QColor::HexArgb), size, cornerRadius, blurRadius, devicePixelRatio);
    if (const auto found = cache.find(key); found != cache.end())
        return found->second;

    const QSize pixels = (size * devicePixelRatio).toSize();
    QImage shape(pixels.width() + 2 * marginPx, pixels.height() + 2 * marginPx, QImage::Format_ARGB32_Premultiplied);
    shape.fill(Qt::transparent);
    {
        QPainter painter(&shape);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawRoundedRect(QRectF(QPointF(marginPx, marginPx), QSizeF(pixels)), cornerRadius * devicePixelRatio,
                                cornerRadius * devicePixelRatio);
    }
    QImage glow = blurredShadow(std::move(shape), deviation(blurRadius, devicePixelRatio));
    {
        // Colour the blurred shape, keeping its alpha.
        QPainter painter(&glow);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(glow.rect(), color);
    }
    QPixmap pixmap = QPixmap::fromImage(glow);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return cache.insert_or_assign(key, std::move(pixmap)).first->second;
}

void drawCentred(QPainter& painter, const QPixmap& pixmap, QSizeF size)
{
    painter.drawPixmap(QRectF(QPointF(-size.width() / 2.0, -size.height() / 2.0), size), pixmap, QRectF(pixmap.rect()));
}

void paintLayer(QPainter& painter, const ShadowedPicture& picture, const LayerLook& look)
{
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(look.centre);
    painter.rotate(look.rotation);
    painter.scale(look.scale, look.scale);
    const qreal weights[2] = {1.0 - std::clamp(look.shadowBlend, 0.0, 1.0), std::clamp(look.shadowBlend, 0.0, 1.0)};
    for (int i = 0; i < 2; ++i) {
        const qreal strength = look.opacity * look.shadowOpacity * weights[i];
        if (strength <= 0.0 || picture.shadows[i].isNull())
            continue;
        painter.setOpacity(std::min(strength, 1.0));
        const qreal m = picture.margins[i];
        painter.save();
        painter.translate(look.shadowOffset);
        drawCentred(painter, picture.shadows[i], picture.size + QSizeF(2 * m, 2 * m));
        painter.restore();
    }
    painter.setOpacity(std::clamp(look.opacity, 0.0, 1.0));
    drawCentred(painter, picture.picture, picture.size);
    painter.restore();
}

} // namespace vantrel::onboarding
