#include "views/detail/activity_date_line.h"

#include "design/palette.h"
#include "model/relative_date.h"
#include "views/detail/activity_spacer.h"
#include "views/detail/detail_look.h"
#include "views/detail/tag.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>

namespace vantrel {

namespace {

const QString bullet = QStringLiteral(" \u2022 ");

} // namespace

QString abbreviatedDateTime(const QDateTime& date)
{
    if (!date.isValid())
        return {};
    const QLocale locale;
    const QDateTime local = date.toLocalTime();
    // Hours and minutes only, in the order and clock of the locale.
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    timeFormat.remove(QStringLiteral(":ss"));
    return locale.toString(local.date(), QStringLiteral("MMM d, yyyy")) + QStringLiteral(", ")
           + locale.toString(local.time(), timeFormat);
}

ActivityDateLine::ActivityDateLine(const QDateTime& date, const QString& hostName, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new ActivitySpacer(ActivitySpacer::Position::middle, this));

    const QFont caption = captionFont(font());
    m_date = plainLabel(this);
    m_date->setObjectName(QStringLiteral("activityDate"));
    m_date->setFont(caption);
    m_date->setText(abbreviatedDateTime(date) + bullet + hostName);
    m_date->setToolTip(relativeDescription(date));
    m_date->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_date->setCursor(Qt::IBeamCursor);
    m_date->setMinimumWidth(1); // a long host name is cut rather than widening the feed
    setTextColor(*m_date, design::neutral(2));

    m_separator = plainLabel(this);
    m_separator->setFont(caption);
    m_separator->setText(bullet);
    setTextColor(*m_separator, design::neutral(2));
    m_separator->hide();

    m_texts = new QHBoxLayout;
    m_texts->setSpacing(0);
    m_texts->setContentsMargins(0, 4, 0, 4);
    m_texts->addWidget(m_date);
    m_texts->addWidget(m_separator);
    m_texts->addStretch(1);
    layout->addLayout(m_texts, 1);
}

void ActivityDateLine::setVersion(const std::optional<QString>& version)
{
    const bool shown = version && !version->isEmpty();
    if (m_tag && (!shown || m_tag->title() != *version)) {
        delete m_tag;
        m_tag = nullptr;
    }
    if (shown && !m_tag) {
        m_tag = new Tag(*version, this);
        m_tag->setObjectName(QStringLiteral("activityVersion"));
        m_texts->insertWidget(m_texts->indexOf(m_separator) + 1, m_tag);
        m_tag->show();
    }
    m_separator->setVisible(shown);
}

std::optional<QString> ActivityDateLine::version() const
{
    if (!m_tag)
        return std::nullopt;
    return m_tag->title();
}

} // namespace vantrel
