#include "onboarding/onboarding_button.h"

#include "onboarding/soft_blur.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace vantrel {

namespace {

constexpr double shadowRadius = 1;
constexpr QPointF shadowOffset{0, 1};
constexpr int shadowSpread = blurSpread(shadowRadius);

QPainterPath pill(const QRectF& rect)
{
    QPainterPath path;
    path.addRoundedRect(rect, OnboardingButton::cornerRadius, OnboardingButton::cornerRadius);
    return path;
}

} // namespace

std::optional<OnboardingButton::Height> OnboardingButton::heightForPoints(double points)
{
    if (points == 42)
        return Height::tall;
    if (points == 32)
        return Height::compact;
    return std::nullopt;
}

QColor OnboardingButton::fillColor()
{
    static const QColor color = QColor::fromRgbF(0.7f, 0.72f, 0.79f);
    return color;
}

QColor OnboardingButton::shadowColor()
{
    static const QColor color = QColor::fromRgbF(0, 0, 0, 0.15f);
    return color;
}

double OnboardingButton::fillOpacity(bool pressed, bool enabled)
{
    return (pressed ? 0.4 : 0.2) * (enabled ? 1.0 : 0.09);
}

OnboardingButton::OnboardingButton(const QString& text, Height height, QWidget* parent)
    : QPushButton(text, parent),
      m_height(height)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
}

QMargins OnboardingButton::shadowMargins()
{
    return {shadowSpread, 0, shadowSpread, shadowSpread + static_cast<int>(shadowOffset.y())};
}

QRectF OnboardingButton::pillRect() const
{
    return QRectF(rect().marginsRemoved(shadowMargins()));
}

bool OnboardingButton::hitButton(const QPoint& position) const
{
    return pill(pillRect()).contains(position);
}

QSize OnboardingButton::sizeHint() const
{
    const QFontMetrics metrics = fontMetrics();
    int label = metrics.horizontalAdvance(text());
    if (!icon().isNull())
        label += iconSize().width() + (text().isEmpty() ? 0 : metrics.horizontalAdvance(QLatin1Char(' ')));
    const QSize pillSize(std::max(minimumWidth, label + 2 * horizontalPadding), static_cast<int>(m_height));
    return pillSize.grownBy(shadowMargins());
}

const QPixmap& OnboardingButton::shadowPixmap()
{
    const qreal ratio = devicePixelRatioF();
    const QSizeF pillSize = pillRect().size();
    const QSize wanted = (pillSize + QSizeF(2 * shadowSpread, 2 * shadowSpread)).toSize();
    if (m_shadow.isNull() || m_shadow.deviceIndependentSize().toSize() != wanted
        || m_shadow.devicePixelRatio() != ratio) {
        QImage image(wanted * ratio, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(ratio, ratio);
            painter.fillPath(pill(QRectF(QPointF(shadowSpread, shadowSpread), pillSize)), shadowColor());
        }
        QImage blurred = blurredImage(image, blurSigma(shadowRadius) * ratio);
        blurred.setDevicePixelRatio(ratio);
        m_shadow = QPixmap::fromImage(blurred);
    }
    return m_shadow;
}

void OnboardingButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = pillRect();
    const QPainterPath shape = pill(bounds);

    // Behind everything, a one-point line just inside the edge.
    painter.setPen(QPen(QColor::fromRgbF(1, 1, 1, 0.05f), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(pill(bounds.adjusted(0.5, 0.5, -0.5, -0.5)));

    // The shadow shows below the pill, not through its tint.
    painter.save();
    QPainterPath outside;
    outside.addRect(rect());
    painter.setClipPath(outside.subtracted(shape));
    painter.drawPixmap(bounds.topLeft() + shadowOffset - QPointF(shadowSpread, shadowSpread), shadowPixmap());
    painter.restore();

    QColor fill = fillColor();
    fill.setAlphaF(static_cast<float>(fillOpacity(isDown(), isEnabled())));
    painter.fillPath(shape, fill);

    // The label, centred and cut to the pill.
    painter.setClipPath(shape);
    const QRect content =
        bounds.toRect().adjusted(horizontalPadding, verticalPadding, -horizontalPadding, -verticalPadding);
    const QFontMetrics metrics = fontMetrics();
    const bool hasIcon = !icon().isNull();
    const int gap = hasIcon && !text().isEmpty() ? metrics.horizontalAdvance(QLatin1Char(' ')) : 0;
    const int iconWidth = hasIcon ? iconSize().width() : 0;
    const int labelWidth = iconWidth + gap + metrics.horizontalAdvance(text());
    int x = content.x() + (content.width() - labelWidth) / 2;
    if (hasIcon) {
        const QRect iconRect(x, content.y() + (content.height() - iconSize().height()) / 2, iconWidth,
                             iconSize().height());
        icon().paint(&painter, iconRect, Qt::AlignCenter, isEnabled() ? QIcon::Normal : QIcon::Disabled);
        x += iconWidth + gap;
    }
    painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
    painter.setFont(font());
    painter.drawText(QRect(x, content.y(), content.right() - x + 1, content.height()),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
}

} // namespace vantrel
