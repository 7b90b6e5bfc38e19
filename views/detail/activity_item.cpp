#include "views/detail/activity_item.h"

#include "views/detail/activity_action_buttons.h"
#include "views/detail/activity_content.h"
#include "views/detail/activity_date_line.h"
#include "views/detail/activity_line.h"
#include "views/detail/activity_spacer.h"

#include <QVBoxLayout>

namespace vantrel {

namespace {

using Position = ActivitySpacer::Position;

Position topPosition(bool isFirst)
{
    return isFirst ? Position::top : Position::middle;
}

Position bottomPosition(bool isLast)
{
    return isLast ? Position::bottom : Position::middle;
}

} // namespace

ActivityItem::ActivityItem(ActivityInfo activity, ActivityActionButtons* actionButtons, QWidget* forceUnlock,
                           bool isFirst, bool isLast, QWidget* parent)
    : QWidget(parent),
      m_activity(std::move(activity)),
      m_isFirst(isFirst),
      m_isLast(isLast),
      m_buttons(actionButtons)
{
    setAttribute(Qt::WA_Hover);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    m_top = new ActivitySpacer(topPosition(isFirst), this);
    m_top->setOverlap(ActivitySpacer::rowOverlap, 0);
    m_line = new ActivityLine(m_activity, actionButtons, this);
    m_content = new ActivityContent(m_activity, forceUnlock, this);
    m_content->setVisible(!m_content->isEmpty());
    m_hasForceUnlock = m_content->forceUnlock() != nullptr;
    m_date = new ActivityDateLine(m_activity.date, m_activity.hostName, this);
    m_bottom = new ActivitySpacer(bottomPosition(isLast), this);
    m_bottom->setOverlap(0, ActivitySpacer::rowOverlap);
    layout->addWidget(m_top, 0, Qt::AlignLeft);
    layout->addWidget(m_line);
    layout->addWidget(m_content);
    layout->addWidget(m_date);
    layout->addWidget(m_bottom, 0, Qt::AlignLeft);
}

int ActivityItem::heightFor(const Shape& shape, int width, const QFont& base)
{
    const int overlap = ActivitySpacer::rowOverlap;
    return ActivitySpacer::heightFor(topPosition(shape.isFirst), overlap, 0)
           + ActivityLine::heightFor(shape.activity, width, shape.buttonsWidth, base)
           + ActivityContent::heightFor(shape.activity, shape.forceUnlock, width, base)
           + ActivityDateLine::heightFor(shape.withTag, base)
           + ActivitySpacer::heightFor(bottomPosition(shape.isLast), 0, overlap);
}

void ActivityItem::setPlace(bool isFirst, bool isLast)
{
    m_isFirst = isFirst;
    m_isLast = isLast;
    m_top->setPosition(topPosition(isFirst));
    m_bottom->setPosition(bottomPosition(isLast));
}

void ActivityItem::setIncompatibleAppVersion(const std::optional<QString>& version)
{
    m_date->setVersion(version);
}

void ActivityItem::setRevertEnabled(bool enabled)
{
    if (m_buttons)
        m_buttons->setRevertEnabled(enabled);
}

void ActivityItem::enterEvent(QEnterEvent*)
{
    setHover(true);
}

void ActivityItem::leaveEvent(QEvent*)
{
    setHover(false);
}

void ActivityItem::setHover(bool hover)
{
    m_hover = hover;
    m_line->setHover(hover);
}

} // namespace vantrel
