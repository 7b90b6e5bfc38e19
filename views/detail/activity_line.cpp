#include "views/detail/activity_line.h"

#include "design/palette.h"
#include "model/strings.h"
#include "views/detail/detail_look.h"

#include <QHBoxLayout>
#include <QLabel>

namespace vantrel {

using Kind = ActivityInfo::StateKind;

std::optional<ActivityIconType> activityIconType(const ActivityInfo& activity)
{
    switch (activity.state.kind) {
    case Kind::revert:
        return ActivityIconType::restored;
    case Kind::editing:
        return ActivityIconType::editing;
    case Kind::lock:
        return ActivityIconType::locked;
    case Kind::newVersion:
    case Kind::imported:
    case Kind::created:
        return ActivityIconType::version;
    case Kind::descriptionChanged:
    case Kind::changesDiscarded:
    case Kind::deleted:
        break;
    }
    return std::nullopt;
}

QString kindDescription(const ActivityInfo& activity)
{
    switch (activity.state.kind) {
    case Kind::revert:
        return Strings::revertedToVersion();
    case Kind::editing:
    case Kind::lock:
        return activity.message;
    case Kind::newVersion:
    case Kind::imported:
    case Kind::created:
        return Strings::createdNewVersion();
    case Kind::descriptionChanged:
        return Strings::changedDescription();
    case Kind::changesDiscarded:
        return Strings::discardedChanges();
    case Kind::deleted:
        return Strings::deletedDocument();
    }
    return {};
}

ActivityLine::ActivityLine(const ActivityInfo& activity, QWidget* actionButtons, QWidget* parent)
    : QWidget(parent),
      m_actionButtons(actionButtons)
{
    setFixedHeight(28);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(new ActivitySymbol(activityIconType(activity), this));

    QFont body = font();
    body.setPixelSize(13);
    m_userName = plainLabel(this);
    m_userName->setObjectName(QStringLiteral("activityUser"));
    QFont bold = body;
    bold.setBold(true);
    m_userName->setFont(bold);
    m_userName->setText(activity.userName);
    m_userName->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_userName->setCursor(Qt::IBeamCursor);
    setTextColor(*m_userName, design::neutral(0));

    m_kind = plainLabel(this);
    m_kind->setObjectName(QStringLiteral("activityKind"));
    m_kind->setFont(body);
    m_kind->setMinimumWidth(0);
    m_kind->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    setElidedText(*m_kind, kindDescription(activity));
    setTextColor(*m_kind, design::neutral(1));

    auto* texts = new QHBoxLayout;
    texts->setSpacing(4);
    texts->addWidget(m_userName);
    texts->addWidget(m_kind, 1);
    layout->addLayout(texts, 1);
    if (m_actionButtons) {
        m_actionButtons->setParent(this);
        QSizePolicy policy = m_actionButtons->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        m_actionButtons->setSizePolicy(policy);
        m_actionButtons->hide();
        layout->addWidget(m_actionButtons);
    }
}

void ActivityLine::setHover(bool hover)
{
    if (m_actionButtons)
        m_actionButtons->setVisible(hover);
}

} // namespace vantrel
