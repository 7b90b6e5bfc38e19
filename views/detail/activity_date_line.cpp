#include "views/detail/activity_date_line.h"

#include "design/palette.h"
#include "model/relative_date.h"
#include "views/detail/activity_spacer.h"
#include "views/detail/detail_look.h"
#include "views/detail/tag.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>

namespace vantrel {

namespace {

const QString bullet = QStringLiteral(" \u2022 ");
constexpr int badgePadding = 4;

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
    m_text = abbreviatedDateTime(date) + bullet + hostName;
    m_date = plainLabel(this);
    m_date->setObjectName(QStringLiteral("activityDate"));
    m_date->setFont(caption);
    m_date->setText(m_text);
    m_date->setToolTip(relativeDescription(date));
    m_date->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_date->setCursor(Qt::IBeamCursor);
    // As wide as its text where there is room, narrower (elided) where there is not; a long
    // host name never widens the feed.
    m_date->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_date->setMinimumWidth(1);
    m_date->setMaximumWidth(QFontMetrics(caption).horizontalAdvance(m_text) + 2);
    m_date->installEventFilter(this);
    setTextColor(*m_date, design::neutral(2));

    m_badge = new QWidget(this);
    m_badgeLayout = new QHBoxLayout(m_badge);
    m_badgeLayout->setSpacing(0);
    m_badgeLayout->setContentsMargins(0, badgePadding, 0, badgePadding);
    auto* separator = plainLabel(m_badge);
    separator->setFont(caption);
    separator->setText(bullet);
    setTextColor(*separator, design::neutral(2));
    m_badgeLayout->addWidget(separator);
    m_badge->hide();

    auto* texts = new QHBoxLayout;
    texts->setSpacing(0);
    texts->addWidget(m_date, 1);
    texts->addWidget(m_badge);
    texts->addStretch(0);
    layout->addLayout(texts, 1);
}

int ActivityDateLine::heightFor(bool withTag, const QFont& base)
{
    return measuredOnce(base.key() + (withTag ? QStringLiteral("/date+tag") : QStringLiteral("/date")), [&] {
        QWidget holder;
        holder.setFont(base);
        ActivityDateLine line({}, QString(), &holder);
        if (withTag)
            line.setVersion(QStringLiteral("0"));
        return line.sizeHint().height();
    });
}

void ActivityDateLine::setVersion(const std::optional<QString>& version)
{
    const bool shown = version && !version->isEmpty();
    if (m_tag && (!shown || m_tag->title() != *version)) {
        delete m_tag;
        m_tag = nullptr;
    }
    if (shown && !m_tag) {
        m_tag = new Tag(*version, m_badge);
        m_tag->setObjectName(QStringLiteral("activityVersion"));
        m_badgeLayout->addWidget(m_tag);
    }
    m_badge->setVisible(shown);
}

std::optional<QString> ActivityDateLine::version() const
{
    if (!m_tag)
        return std::nullopt;
    return m_tag->title();
}

bool ActivityDateLine::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_date && (event->type() == QEvent::Resize || event->type() == QEvent::FontChange))
        elide();
    return QWidget::eventFilter(watched, event);
}

void ActivityDateLine::elide()
{
    const QString shown = QFontMetrics(m_date->font()).elidedText(m_text, Qt::ElideRight, m_date->width());
    if (shown != m_date->text())
        m_date->setText(shown);
}

} // namespace vantrel
