#include "views/detail/activity_line.h"

#include "design/palette.h"
#include "model/strings.h"
#include "views/detail/activity_spacer.h"
#include "views/detail/detail_look.h"

#include <QLabel>
#include <QPainter>

namespace vantrel {

using Kind = ActivityInfo::StateKind;

namespace {

constexpr int spacing = 8;
constexpr int textSpacing = 4;
// Room a selectable name needs beyond its advance, so that it is not elided by rounding.
constexpr int nameSlack = 2;

QFont boldFont(const QFont& base)
{
    QFont bold = bodyFont(base);
    bold.setBold(true);
    return bold;
}

// Where the texts go in a line `width` wide.
struct Placement {
    int height = ActivityLine::minimumHeight;
    QRect name;
    QRect kind;
};

Placement place(const QString& user, const QString& kind, int width, int buttonsWidth, const QFont& base)
{
    const QFontMetrics nameMetrics(boldFont(base));
    const QFontMetrics kindMetrics(bodyFont(base));
    const int left = ActivitySymbol::side + spacing;
    const int right = buttonsWidth > 0 ? width - buttonsWidth - spacing : width;
    const int room = std::max(0, right - left);
    const int nameWidth =
        measuredOnce(base.key() + QStringLiteral("/name/") + user, [&] { return nameMetrics.horizontalAdvance(user); })
        + nameSlack;
    const int kindWidth =
        measuredOnce(base.key() + QStringLiteral("/kind/") + kind, [&] { return kindMetrics.horizontalAdvance(kind); });
    Placement placement;
    int shownName = nameWidth;
    if (nameWidth + textSpacing + kindWidth > room)
        shownName = std::min(nameWidth, room / 2);
    const int kindRoom = std::max(1, room - shownName - textSpacing);
    // The line keeps its height whatever the texts: what does not fit ends in an ellipsis.
    const int kindHeight = kind.isEmpty() ? 0 : kindMetrics.height();
    placement.height = std::max({ActivityLine::minimumHeight, kindHeight, nameMetrics.height()});
    const int nameHeight = nameMetrics.height();
    placement.name = QRect(left, (placement.height - nameHeight) / 2, shownName, nameHeight);
    placement.kind = QRect(left + shownName + textSpacing, (placement.height - kindHeight) / 2, kindRoom, kindHeight);
    return placement;
}

} // namespace

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
      m_activity(activity),
      m_actionButtons(actionButtons)
{
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    m_symbol = new ActivitySymbol(activityIconType(activity), this);

    m_userName = plainLabel(this);
    m_userName->setObjectName(QStringLiteral("activityUser"));
    m_userName->setFont(boldFont(font()));
    setElidedText(*m_userName, activity.userName);
    m_userName->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    m_userName->setCursor(Qt::IBeamCursor);
    setTextColor(*m_userName, design::neutral(0));

    m_kind = plainLabel(this);
    m_kind->setObjectName(QStringLiteral("activityKind"));
    m_kind->setFont(bodyFont(font()));
    m_kind->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setElidedText(*m_kind, kindDescription(activity));
    setTextColor(*m_kind, design::neutral(1));

    if (m_actionButtons) {
        m_actionButtons->setParent(this);
        m_actionButtons->hide();
    }
}

int ActivityLine::heightFor(const ActivityInfo& activity, int width, int buttonsWidth, const QFont& base)
{
    return place(activity.userName, kindDescription(activity), width, buttonsWidth, base).height;
}

int ActivityLine::buttonsWidth() const
{
    return m_actionButtons ? m_actionButtons->sizeHint().width() : 0;
}

int ActivityLine::heightForWidth(int width) const
{
    return heightFor(m_activity, width, buttonsWidth(), font());
}

QSize ActivityLine::sizeHint() const
{
    return {width(), heightForWidth(width())};
}

QSize ActivityLine::minimumSizeHint() const
{
    return {ActivitySymbol::side, minimumHeight};
}

void ActivityLine::resizeEvent(QResizeEvent*)
{
    const Placement placement = place(m_activity.userName, fullText(*m_kind), width(), buttonsWidth(), font());
    const int middle = height() / 2;
    m_symbol->move(0, middle - ActivitySymbol::side / 2);
    m_userName->setGeometry(placement.name);
    m_kind->setGeometry(placement.kind);
    if (m_actionButtons) {
        const QSize buttons = m_actionButtons->sizeHint();
        m_actionButtons->setGeometry(width() - buttons.width(), middle - buttons.height() / 2, buttons.width(),
                                     buttons.height());
    }
}

// A line taller than its symbol carries the timeline on above and below it.
void ActivityLine::paintEvent(QPaintEvent*)
{
    const int top = m_symbol->y();
    const int bottom = top + ActivitySymbol::side;
    if (top <= 0 && bottom >= height())
        return;
    QPainter painter(this);
    const qreal centre = ActivitySpacer::width / 2.0;
    painter.fillRect(QRectF(centre - 1, 0, 2, top), activityTimelineColor());
    painter.fillRect(QRectF(centre - 1, bottom, 2, height() - bottom), activityTimelineColor());
}

void ActivityLine::setHover(bool hover)
{
    if (m_actionButtons)
        m_actionButtons->setVisible(hover);
}

} // namespace vantrel
