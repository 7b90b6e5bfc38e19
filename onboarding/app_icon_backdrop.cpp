#include "onboarding/app_icon_backdrop.h"

#include "design/palette.h"
#include "onboarding/soft_blur.h"
#include "packages/components/conditional_blur.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace vantrel {

namespace {

// Room around the icon's square for the softest blur.
constexpr int spread = blurSpread(AppIconBackdrop::maxRadius);

} // namespace

QPainterPath AppIconBackdrop::outline(QSizeF size)
{
    const auto p = [size](double x, double y) { return QPointF(x * size.width(), y * size.height()); };
    QPainterPath path;
    path.moveTo(p(0.36163, 0.11903));
    path.cubicTo(p(0.22134, 0.13069), p(0.14893, 0.38725), p(0.1444, 0.51553));
    path.cubicTo(p(0.1444, 0.72543), p(0.26207, 0.85373), p(0.39331, 0.77793));
    path.cubicTo(p(0.52455, 0.70213), p(0.62864, 0.88289), p(0.77798, 0.77793));
    path.cubicTo(p(0.92732, 0.67297), p(0.82323, 0.58551), p(0.77798, 0.51553));
    path.cubicTo(p(0.73272, 0.44555), p(0.66936, 0.48054), p(0.60148, 0.41057));
    path.cubicTo(p(0.5336, 0.3406), p(0.50192, 0.10737), p(0.36163, 0.11903));
    path.closeSubpath();
    return path;
}

double AppIconBackdrop::levelRadius(int level)
{
    const int clamped = std::clamp(level, 0, levelCount - 1);
    return minRadius + (maxRadius - minRadius) * clamped / (levelCount - 1);
}

int AppIconBackdrop::levelForRadius(double radius)
{
    const double step = (maxRadius - minRadius) / (levelCount - 1);
    const double level = std::round((radius - minRadius) / step);
    return std::isnan(level) ? 0 : static_cast<int>(std::clamp(level, 0.0, levelCount - 1.0));
}

AppIconBackdrop::AppIconBackdrop(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

QSize AppIconBackdrop::sizeHint() const
{
    return minimumSizeHint();
}

QSize AppIconBackdrop::minimumSizeHint() const
{
    return {static_cast<int>(iconSide + 2 * horizontalPadding), static_cast<int>(iconSide)};
}

QRectF AppIconBackdrop::iconFrame() const
{
    return {(width() - iconSide) / 2.0, 0, iconSide, iconSide};
}

double AppIconBackdrop::blurRadius() const
{
    return vantrel::blurRadius(m_pointer, QPointF(0, 0), minRadius, maxRadius, maxDistance);
}

int AppIconBackdrop::blurLevel() const
{
    return levelForRadius(blurRadius());
}

void AppIconBackdrop::trackPointer(QPointF position)
{
    const int before = blurLevel();
    m_pointer = position - iconFrame().center();
    if (blurLevel() != before)
        update(iconFrame().adjusted(-spread, -spread, spread, spread).toAlignedRect());
}

const QPixmap& AppIconBackdrop::levelPixmap(int level)
{
    const qreal ratio = devicePixelRatioF();
    if (ratio != m_levelRatio) {
        m_levels = {};
        m_levelRatio = ratio;
    }
    QPixmap& pixmap = m_levels.at(static_cast<std::size_t>(level));
    if (pixmap.isNull()) {
        // The outline fills the square below its top padding.
        const double side = iconSide + 2 * spread;
        QImage image(QSize(side, side) * ratio, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(ratio, ratio);
            painter.translate(spread, spread + iconTopPadding);
            painter.fillPath(outline({iconSide, iconSide - iconTopPadding}), design::brandColor());
        }
        QImage blurred = blurredImage(image, blurSigma(levelRadius(level)) * ratio);
        blurred.setDevicePixelRatio(ratio);
        pixmap = QPixmap::fromImage(blurred);
    }
    return pixmap;
}

void AppIconBackdrop::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    painter.setClipRegion(event->region());
    painter.setOpacity(opacity);
    painter.drawPixmap(iconFrame().topLeft() - QPointF(spread, spread), levelPixmap(blurLevel()));
}

void AppIconBackdrop::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    watchWindow();
}

void AppIconBackdrop::watchWindow()
{
    QWindow* handle = window()->windowHandle();
    if (handle == m_watched)
        return;
    if (m_watched)
        m_watched->removeEventFilter(this);
    m_watched = handle;
    if (m_watched)
        m_watched->installEventFilter(this);
}

bool AppIconBackdrop::eventFilter(QObject* watched, QEvent* event)
{
    // The window sees every move of the pointer over it, whichever widget lies under it.
    if (watched == m_watched && event->type() == QEvent::MouseMove) {
        const auto* pointer = static_cast<QSinglePointEvent*>(event);
        trackPointer(mapFromGlobal(pointer->globalPosition()));
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace vantrel
