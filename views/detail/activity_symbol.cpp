#include "views/detail/activity_symbol.h"

#include "design/icon_provider.h"
#include "design/palette.h"
#include "views/detail/activity_spacer.h"

#include <QPainter>

#include <array>
#include <utility>

namespace vantrel {

namespace {

constexpr std::array<std::pair<ActivityIconType, const char*>, 5> symbolNames{{
    {ActivityIconType::version, "bookmark.fill"},
    {ActivityIconType::editing, "pencil"},
    {ActivityIconType::locked, "lock.fill"},
    {ActivityIconType::status, "smallcircle.filled.circle"},
    {ActivityIconType::restored, "clock.arrow.2.circlepath"},
}};

constexpr int symbolSide = 14;

} // namespace

QString symbolName(ActivityIconType type)
{
    for (const auto& [candidate, name] : symbolNames) {
        if (candidate == type)
            return QString::fromLatin1(name);
    }
    return {};
}

std::optional<ActivityIconType> activityIconType(const QString& name)
{
    for (const auto& [type, candidate] : symbolNames) {
        if (name == QLatin1String(candidate))
            return type;
    }
    return std::nullopt;
}

ActivitySymbol::ActivitySymbol(std::optional<ActivityIconType> type, QWidget* parent) : QWidget(parent), m_type(type)
{
    setFixedSize(side, side);
}

void ActivitySymbol::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor timeline = activityTimelineColor();
    const QRectF box(0, 0, side, side);
    if (!m_type) {
        // A 12 by 12 ring joined to the line above and below.
        const QRectF ring(box.center().x() - 6, box.center().y() - 6, 12, 12);
        painter.fillRect(QRectF(box.center().x() - 1, 0, 2, ring.top()), timeline);
        painter.fillRect(QRectF(box.center().x() - 1, ring.bottom(), 2, side - ring.bottom()), timeline);
        painter.setPen(QPen(timeline, 2));
        painter.drawEllipse(ring.adjusted(1, 1, -1, -1));
        return;
    }
    const bool isVersion = *m_type == ActivityIconType::version;
    const QColor ringColor = isVersion ? design::brandColor() : timeline;
    if (isVersion) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(design::withOpacity(design::brandColor(), 0.25));
        painter.drawEllipse(box.adjusted(2, 2, -2, -2));
    }
    painter.setPen(QPen(ringColor, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(box.adjusted(1, 1, -1, -1));
    const QIcon icon = design::IconProvider::icon(symbolName(*m_type), design::neutral(1));
    const QRect symbolRect((side - symbolSide) / 2, (side - symbolSide) / 2, symbolSide, symbolSide);
    icon.paint(&painter, symbolRect);
}

} // namespace vantrel
