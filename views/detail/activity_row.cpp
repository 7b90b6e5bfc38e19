#include "views/detail/activity_row.h"

#include "views/detail/activity_content.h"
#include "views/detail/activity_date_line.h"
#include "views/detail/activity_line.h"
#include "views/detail/activity_spacer.h"

#include <QVBoxLayout>

namespace vantrel {

ActivityRow::ActivityRow(ActivityInfo activity, QWidget* actionButtons, QWidget* forceUnlock, bool isFirst, bool isLast,
                         QWidget* parent)
    : QWidget(parent),
      m_activity(std::move(activity)),
      m_isFirst(isFirst),
      m_isLast(isLast)
{
    setAttribute(Qt::WA_Hover);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    using Position = ActivitySpacer::Position;
    m_top = new ActivitySpacer(isFirst ? Position::top : Position::middle, this);
    m_line = new ActivityLine(m_activity, actionButtons, this);
    m_content = new ActivityContent(m_activity, forceUnlock, this);
    m_content->setVisible(!m_content->isEmpty());
    m_date = new ActivityDateLine(m_activity.date, m_activity.hostName, this);
    m_bottom = new ActivitySpacer(isLast ? Position::bottom : Position::middle, this);
    layout->addWidget(m_top, 0, Qt::AlignLeft);
    layout->addWidget(m_line);
    layout->addWidget(m_content);
    layout->addWidget(m_date);
    layout->addWidget(m_bottom, 0, Qt::AlignLeft);
}

void ActivityRow::setIncompatibleAppVersion(const std::optional<QString>& version)
{
    m_date->setVersion(version);
}

void ActivityRow::enterEvent(QEnterEvent*)
{
    setHover(true);
}

void ActivityRow::leaveEvent(QEvent*)
{
    setHover(false);
}

void ActivityRow::setHover(bool hover)
{
    m_hover = hover;
    m_line->setHover(hover);
}

} // namespace vantrel
