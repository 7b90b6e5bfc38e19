#include "design/menu_button.h"

#include "design/icon_provider.h"
#include "design/palette.h"

#include <QFontMetricsF>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace vantrel::design {

MenuButton::MenuButton(const QString& title, const QString& symbolName, QWidget* parent)
    : QPushButton(title, parent),
      m_symbolName(symbolName)
{
    QFont titleFont = font();
    titleFont.setPixelSize(13);
    titleFont.setWeight(QFont::Medium);
    setFont(titleFont);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    setLook(Look{withOpacity(neutral(9), 0.2), withOpacity(neutral(9), 0.1)});
}

void MenuButton::setLook(const Look& look)
{
    m_look = look;
    setFixedHeight(look.height);
    updateGeometry();
    update();
}

int MenuButton::decorationWidth() const
{
    const int icon = m_symbolName.isEmpty() ? 0 : kIconSize + kSpacing;
    return 2 * m_look.horizontalPadding + icon + kSpacing + kChevronSize;
}

QSize MenuButton::sizeHint() const
{
    // One line of text, as wide as the title: a long title widens the button, never its height.
    // Rounded up, and a pixel more, so that eliding never cuts a title that was given its room.
    return {decorationWidth() + qCeil(QFontMetricsF(font()).horizontalAdvance(text())) + 1, m_look.height};
}

QSize MenuButton::minimumSizeHint() const
{
    return {decorationWidth() + fontMetrics().horizontalAdvance(QStringLiteral("…")), m_look.height};
}

void MenuButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    if (!isEnabled())
        painter.setOpacity(m_look.disabledOpacity);

    const QRectF bounds = QRectF(rect());
    QPainterPath shape;
    shape.addRoundedRect(bounds, m_look.cornerRadius, m_look.cornerRadius);
    painter.fillPath(shape, m_look.fill);
    if (isEnabled() && (isDown() || (menu() && menu()->isVisible())))
        painter.fillPath(shape, withOpacity(neutral(9), 0.12));
    else if (isEnabled() && underMouse())
        painter.fillPath(shape, withOpacity(neutral(9), 0.06));

    // The outline lies inside the shape, like a stroke of the inset border.
    const QRectF inset = bounds.adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(hasFocus() ? withOpacity(neutral(9), 0.45) : m_look.outline, 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(inset, m_look.cornerRadius - 0.5, m_look.cornerRadius - 0.5);

    const QColor foreground = neutral(0);
    const int middle = height() / 2;
    int x = m_look.horizontalPadding;
    if (!m_symbolName.isEmpty()) {
        IconProvider::icon(m_symbolName, foreground)
            .paint(&painter, QRect(x, middle - kIconSize / 2, kIconSize, kIconSize));
        x += kIconSize + kSpacing;
    }
    const int chevronX = width() - m_look.horizontalPadding - kChevronSize;
    const QRect titleRect(x, 0, qMax(0, chevronX - kSpacing - x), height());
    painter.setPen(foreground);
    painter.setFont(font());
    painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                     fontMetrics().elidedText(text(), Qt::ElideRight, titleRect.width()));
    IconProvider::icon(QStringLiteral("chevron.down"), withOpacity(foreground, 0.8))
        .paint(&painter, QRect(chevronX, middle - kChevronSize / 2, kChevronSize, kChevronSize));
}

} // namespace vantrel::design
