#include "views/detail/activity_content.h"

#include "design/palette.h"
#include "views/detail/activity_date_line.h"
#include "views/detail/activity_spacer.h"
#include "views/detail/detail_look.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QTextDocument>
#include <QTextOption>
#include <QVBoxLayout>
#include <QtMath>

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

constexpr int bubbleMargin = 8;
constexpr int bubbleSpacing = 8;
constexpr int textSpacing = 4;
constexpr int forceUnlockHeight = 32;

// The height a bubble's selectable text takes at `width`: laid out as a selectable label lays
// out its text (a document without margins, wrapped between words), without building one.
int textHeight(const QString& text, const QFont& font, int width)
{
    static QTextDocument* const document = [] {
        auto* made = new QTextDocument;
        made->setUndoRedoEnabled(false);
        made->setDocumentMargin(0);
        QTextOption option = made->defaultTextOption();
        option.setAlignment(Qt::AlignLeft | Qt::AlignTop);
        option.setWrapMode(QTextOption::WordWrap);
        made->setDefaultTextOption(option);
        return made;
    }();
    document->setDefaultFont(font);
    document->setPlainText(text);
    document->setTextWidth(std::max(0, width));
    return qCeil(document->size().height());
}

std::optional<std::pair<QString, std::optional<QDateTime>>> bubbleOf(const ActivityInfo& activity)
{
    using Kind = ActivityInfo::StateKind;
    switch (activity.state.kind) {
    case Kind::revert:
        if (activity.state.commitMessage && activity.state.modificationDate)
            return std::pair{*activity.state.commitMessage, activity.state.modificationDate};
        break;
    case Kind::newVersion:
    case Kind::imported:
    case Kind::created:
        return std::pair{activity.message, std::optional<QDateTime>()};
    default:
        break;
    }
    return std::nullopt;
}

} // namespace

int ActivityContent::heightFor(const ActivityInfo& activity, bool forceUnlock, int width, const QFont& base)
{
    if (activity.state.kind == ActivityInfo::StateKind::lock)
        return forceUnlock ? forceUnlockHeight : 0;
    const auto bubble = bubbleOf(activity);
    if (!bubble)
        return 0;
    const int textWidth = width - ActivitySpacer::width - bubbleSpacing - 2 * bubbleMargin;
    int height = 2 * bubbleMargin + textHeight(bubble->first, calloutFont(base), textWidth);
    if (bubble->second)
        height += textSpacing + textHeight(abbreviatedDateTime(*bubble->second), captionFont(base), textWidth);
    return std::max(ActivitySpacer::minimumLineHeight, height);
}

ActivityContent::ActivityContent(const ActivityInfo& activity, QWidget* forceUnlock, QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (activity.state.kind == ActivityInfo::StateKind::lock && forceUnlock) {
        m_forceUnlock = forceUnlock;
        m_forceUnlock->setParent(this);
        m_forceUnlock->setFixedHeight(forceUnlockHeight);
        layout->addWidget(m_forceUnlock);
        m_isEmpty = false;
        return;
    }
    if (const auto bubble = bubbleOf(activity))
        addBubble(bubble->first, bubble->second);
    delete forceUnlock;
}

void ActivityContent::addBubble(const QString& message, const std::optional<QDateTime>& date)
{
    m_isEmpty = false;
    auto* row = static_cast<QHBoxLayout*>(layout());
    row->setSpacing(bubbleSpacing);
    row->addWidget(new ActivitySpacer(ActivitySpacer::Position::middle, this));

    auto* bubble = new QFrame(this);
    bubble->setObjectName(QStringLiteral("activityBubble"));
    bubble->setStyleSheet(QStringLiteral("QFrame#activityBubble { background: %1; border-radius: 5px; }")
                              .arg(design::neutral(5).name(QColor::HexArgb)));
    auto* texts = new QVBoxLayout(bubble);
    texts->setContentsMargins(bubbleMargin, bubbleMargin, bubbleMargin, bubbleMargin);
    texts->setSpacing(textSpacing);
    m_message = selectableText(message, calloutFont(font()), design::neutral(1), bubble);
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
