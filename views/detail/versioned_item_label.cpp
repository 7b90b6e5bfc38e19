#include "views/detail/versioned_item_label.h"

#include "design/icon_provider.h"
#include "design/palette.h"
#include "model/strings.h"
#include "model/text_format.h"
#include "model/versioned_item.h"
#include "views/detail/detail_look.h"
#include "views/detail/tag.h"

#include <QFontMetrics>
#include <QIcon>
#include <QPainter>

namespace vantrel {

namespace {

constexpr QSize kLinkSize{14, 16};
constexpr int kBadgePadding = 6;

} // namespace

VersionedItemFacts VersionedItemFacts::of(VersionedItem& item)
{
    VersionedItemFacts facts;
    facts.name = item.name();
    facts.iconName = item.icon();
    if (const auto* lockable = dynamic_cast<const Lockable*>(&item)) {
        facts.isLocked = lockable->isLocked();
        facts.lockedByCurrentInitiator = lockable->lockedByCurrentInitiator();
    }
    if (const auto* aware = dynamic_cast<const AppVersionAware*>(&item))
        facts.incompatibleVersion = aware->application().incompatibleVersion();
    if (const auto* nestable = dynamic_cast<const NestableItem*>(&item)) {
        facts.isUsedInOtherContainers = nestable->isUsedInOtherContainers();
        if (facts.isUsedInOtherContainers)
            facts.usedInContainerNames = nestable->usedInContainerNames();
    }
    return facts;
}

QFont VersionedItemLabel::nameFont(const QFont& base)
{
    QFont font = base;
    font.setWeight(QFont::DemiBold);
    return font;
}

VersionedItemLabel::Layout VersionedItemLabel::layout(const QRect& rect, const VersionedItemFacts& facts, const QFont&)
{
    Layout parts;
    const int top = rect.top() + (rect.height() - height) / 2;
    parts.icon = QRect(rect.left(), top, iconSize, iconSize);
    QSize trailing;
    if (facts.incompatibleVersion)
        trailing = Tag::size(*facts.incompatibleVersion);
    else if (facts.isUsedInOtherContainers)
        trailing = kLinkSize;
    if (trailing.isValid()) {
        parts.trailing =
            QRect(QPoint(rect.right() + 1 - trailing.width(), top + (height - trailing.height()) / 2), trailing);
    }
    const int nameLeft = parts.icon.right() + 1 + spacing;
    const int nameRight = trailing.isValid() ? parts.trailing.left() - spacing : rect.right() + 1;
    parts.name = QRect(nameLeft, top, std::max(0, nameRight - nameLeft), height);
    return parts;
}

void VersionedItemLabel::paint(QPainter& painter, const QRect& rect, const VersionedItemFacts& facts, qreal iconPadding,
                               const QFont& base)
{
    const Layout parts = layout(rect, facts, base);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);

    // A locked item's icon is dimmed whoever holds the lock; the badge says who.
    const QRectF iconRect = QRectF(parts.icon).adjusted(iconPadding, iconPadding, -iconPadding, -iconPadding);
    painter.setOpacity(facts.isLocked ? 0.3 : 1.0);
    static const bool themed = [] {
        design::IconProvider::installIconTheme();
        return true;
    }();
    Q_UNUSED(themed);
    QIcon::fromTheme(facts.iconName).paint(&painter, iconRect.toRect());
    if (facts.isLocked) {
        const QString symbol = facts.lockedByCurrentInitiator ? QStringLiteral("pencil") : QStringLiteral("lock.fill");
        painter.setOpacity(0.98);
        design::IconProvider::icon(symbol, design::neutral(0))
            .paint(&painter, parts.icon.adjusted(kBadgePadding, kBadgePadding, -kBadgePadding, -kBadgePadding));
    }

    painter.setOpacity(0.85);
    const QFont font = nameFont(base);
    painter.setFont(font);
    painter.setPen(design::neutral(0));
    const QString shown = QFontMetrics(font).elidedText(oneLine(facts.name), Qt::ElideMiddle, parts.name.width());
    painter.drawText(parts.name, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, shown);

    painter.setOpacity(1.0);
    if (facts.incompatibleVersion) {
        Tag::paint(painter, parts.trailing.topLeft(), *facts.incompatibleVersion);
    } else if (facts.isUsedInOtherContainers) {
        painter.setCompositionMode(QPainter::CompositionMode_Plus);
        design::IconProvider::icon(QStringLiteral("link"), design::withOpacity(design::neutral(0), 0.2))
            .paint(&painter, parts.trailing);
    }
    painter.restore();
}

QString VersionedItemLabel::toolTip(const QRect& rect, const QPoint& position, const VersionedItemFacts& facts,
                                    const QFont& base)
{
    const Layout parts = layout(rect, facts, base);
    if (!facts.incompatibleVersion && facts.isUsedInOtherContainers && parts.trailing.contains(position))
        return formatText(Strings::usedInList(), facts.usedInContainerNames);
    if (parts.name.contains(position))
        return oneLine(facts.name);
    return QString();
}

} // namespace vantrel
