#include "views/detail/activity_content.h"

#include "design/palette.h"
#include "views/detail/activity_date_line.h"
#include "views/detail/activity_spacer.h"
#include "views/detail/detail_look.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace vantrel {

namespace {

QLabel* selectableText(const QString& text, const QFont& font, const QColor& color, QWidget* parent)
{
    auto* label = plainLabel(parent);
    label->setFont(font);
    label->setText(text);
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    label->setCursor(Qt::IBeamCursor);
    setTextColor(*label, color);
    return label;
}

} // namespace

ActivityContent::ActivityContent(const ActivityInfo& activity, QWidget* forceUnlock, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    using Kind = ActivityInfo::StateKind;
    switch (activity.state.kind) {
    case Kind::revert:
        if (activity.state.commitMessage && activity.state.modificationDate)
            addBubble(*activity.state.commitMessage, activity.state.modificationDate);
        break;
    case Kind::lock:
        if (forceUnlock) {
            m_forceUnlock = forceUnlock;
            m_forceUnlock->setParent(this);
            layout->addWidget(m_forceUnlock);
            m_isEmpty = false;
            return;
        }
        break;
    case Kind::newVersion:
    case Kind::imported:
    case Kind::created:
        addBubble(activity.message, std::nullopt);
        break;
    case Kind::editing:
    case Kind::descriptionChanged:
    case Kind::changesDiscarded:
    case Kind::deleted:
        break;
    }
    delete forceUnlock;
}

void ActivityContent::addBubble(const QString& message, const std::optional<QDateTime>& date)
{
    m_isEmpty = false;
    auto* row = static_cast<QHBoxLayout*>(layout());
    row->setSpacing(8);
    row->addWidget(new ActivitySpacer(ActivitySpacer::Position::middle, this));

    auto* bubble = new QFrame(this);
    bubble->setObjectName(QStringLiteral("activityBubble"));
    bubble->setStyleSheet(QStringLiteral("QFrame#activityBubble { background: %1; border-radius: 5px; }")
                              .arg(design::neutral(5).name(QColor::HexArgb)));
    auto* texts = new QVBoxLayout(bubble);
    texts->setContentsMargins(8, 8, 8, 8);
    texts->setSpacing(4);
    QFont callout = font();
    callout.setPixelSize(12);
    m_message = selectableText(message, callout, design::neutral(1), bubble);
    m_message->setObjectName(QStringLiteral("activityMessage"));
    texts->addWidget(m_message);
    if (date) {
        auto* when = selectableText(abbreviatedDateTime(*date), captionFont(font()), design::neutral(2), bubble);
        when->setObjectName(QStringLiteral("activityRevertDate"));
        texts->addWidget(when);
    }
    row->addWidget(bubble, 1);
}

} // namespace vantrel
