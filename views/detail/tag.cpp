#include "views/detail/tag.h"

#include "design/palette.h"

#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace vantrel {

namespace {

constexpr int kVerticalPadding = 2;
constexpr int kHorizontalPadding = 4;

QFont tagFont()
{
    QFont font;
    font.setPixelSize(10);
    font.setWeight(QFont::Bold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, -0.43);
    return font;
}

} // namespace

Tag::Tag(const QString& title, QWidget* parent) : QWidget(parent), m_title(title)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

QSize Tag::sizeHint() const
{
    return size(m_title);
}

QSize Tag::size(const QString& title)
{
    const QFontMetrics metrics(tagFont());
    return {metrics.horizontalAdvance(title) + 2 * kHorizontalPadding + 1, metrics.height() + 2 * kVerticalPadding};
}

void Tag::paint(QPainter& painter, const QPoint& origin, const QString& title)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Plus);
    const QRect frame(origin, size(title));
    // The outline at 0.2 and the text at 0.4 of the same colour; neither dims the other.
    QPainterPath outline;
    outline.addRoundedRect(QRectF(frame).adjusted(0.5, 0.5, -0.5, -0.5), 3, 3);
    QPen pen(design::withOpacity(design::neutral(0), 0.2), 1, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);
    painter.setFont(tagFont());
    painter.setPen(design::withOpacity(design::neutral(0), 0.4));
    painter.drawText(frame, Qt::AlignCenter, title);
    painter.restore();
}

void Tag::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    paint(painter, QPoint(0, 0), m_title);
}

} // namespace vantrel
