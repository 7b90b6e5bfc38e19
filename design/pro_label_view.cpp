#include "design/pro_label_view.h"

#include "design/design_texts.h"
#include "design/palette.h"

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace vantrel::design {

namespace {

constexpr int kHorizontalPadding = 6;
constexpr int kVerticalPadding = 2;

} // namespace

StaticProLabelView::StaticProLabelView(bool opaque, QWidget* parent) : QWidget(parent), m_opaque(opaque)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TranslucentBackground);
}

QString StaticProLabelView::text() const
{
    return proBadgeText();
}

QFont StaticProLabelView::badgeFont() const
{
    QFont f = font();
    f.setPixelSize(10);
    f.setWeight(QFont::Bold);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    return f;
}

QSize StaticProLabelView::sizeHint() const
{
    const QFontMetrics metrics(badgeFont());
    return {metrics.horizontalAdvance(text()) + 2 * kHorizontalPadding, metrics.height() + 2 * kVerticalPadding};
}

QSize StaticProLabelView::minimumSizeHint() const
{
    return sizeHint();
}

void StaticProLabelView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const qreal radius = qMin(frame.height() / 2, 5.0);
    const QColor brand = brandColor();
    if (m_opaque) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(brand);
    } else {
        painter.setPen(QPen(withOpacity(brand, 0.85), 1));
        painter.setBrush(withOpacity(brand, 0.16));
    }
    painter.drawRoundedRect(frame, radius, radius);
    painter.setFont(badgeFont());
    painter.setPen(m_opaque ? neutral(9) : brand.lighter(135));
    painter.drawText(rect(), Qt::AlignCenter, text());
}

void StaticProLabelView::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        updateGeometry();
    QWidget::changeEvent(event);
}

} // namespace vantrel::design
