#include "views/detail/activity_spacer.h"

#include "design/palette.h"

#include <QPainter>
#include <QPainterPath>

namespace vantrel {

namespace {

constexpr int dashWidth = 16;
constexpr int dashHeight = 2;
constexpr int topDashInset = 4;
constexpr int bottomSpace = 20;

int capsHeight(ActivitySpacer::Position position)
{
    switch (position) {
    case ActivitySpacer::Position::top:
        return topDashInset + dashHeight;
    case ActivitySpacer::Position::bottom:
        return dashHeight + bottomSpace;
    case ActivitySpacer::Position::middle:
        break;
    }
    return 0;
}

} // namespace

QColor activityTimelineColor()
{
    static const QColor color = design::withOpacity(design::neutral(0), 0.1);
    return color;
}

ActivitySpacer::ActivitySpacer(Position position, QWidget* parent) : QWidget(parent), m_position(position)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

QSize ActivitySpacer::sizeHint() const
{
    return minimumSizeHint();
}

QSize ActivitySpacer::minimumSizeHint() const
{
    return {width, heightFor(m_position, m_above, m_below)};
}

int ActivitySpacer::heightFor(Position position, int above, int below)
{
    return minimumLineHeight + capsHeight(position) - above - below;
}

void ActivitySpacer::setPosition(Position position)
{
    if (position == m_position)
        return;
    m_position = position;
    updateGeometry();
    update();
}

void ActivitySpacer::setOverlap(int above, int below)
{
    m_above = above;
    m_below = below;
    updateGeometry();
    update();
}

void ActivitySpacer::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = activityTimelineColor();
    const qreal centre = width / 2.0;
    // Drawn as the whole segment, shifted up by the part that lies above the widget.
    const int whole = height() + m_above + m_below;
    painter.translate(0, -m_above);
    int lineTop = 0;
    int lineBottom = whole;
    QList<QRectF> dashes;
    if (m_position == Position::top) {
        dashes.append(QRectF(centre - dashWidth / 2.0, topDashInset, dashWidth, dashHeight));
        lineTop = topDashInset + dashHeight;
    } else if (m_position == Position::bottom) {
        lineBottom = whole - bottomSpace - dashHeight;
        dashes.append(QRectF(centre - dashWidth / 2.0, lineBottom, dashWidth, dashHeight));
    }
    painter.fillRect(QRectF(centre - 1, lineTop, 2, std::max(0, lineBottom - lineTop)), color);
    for (const QRectF& dash : dashes) {
        QPainterPath path;
        path.addRoundedRect(dash, 1, 1);
        painter.fillPath(path, color);
    }
}

} // namespace vantrel
