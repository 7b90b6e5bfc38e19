#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <optional>

class QPainter;

namespace vantrel {

class VersionedItem;

// What the one-line label of an item shows. The lists read it from the item when they load it
// and again whenever the item publishes a change, never while painting.
struct VersionedItemFacts {
    QString name;
    QString iconName;
    // Documents and events have a lock; collections none.
    bool isLocked = false;
    bool lockedByCurrentInitiator = false;
    // The version of the application that wrote the item, when it differs from the one here.
    std::optional<QString> incompatibleVersion;
    // Whether a container besides the item's own shows it too, and the names of all that do.
    bool isUsedInOtherContainers = false;
    QString usedInContainerNames;

    static VersionedItemFacts of(VersionedItem& item);

    friend bool operator==(const VersionedItemFacts&, const VersionedItemFacts&) = default;
};

// The one-line label of a collection, document or event in the team window's lists, drawn by
// the lists' delegates: the type's icon, dimmed while the item is locked, with a badge saying who
// holds the lock ("pencil" here, "lock.fill" someone else); the name on one line, shortened in
// the middle; at the trailing end the tag of an incompatible application version or, for an item
// used in several containers, a link symbol whose tooltip names them.
class VersionedItemLabel final {
public:
    VersionedItemLabel() = delete;

    static constexpr int height = 24;
    static constexpr int iconSize = 24;
    static constexpr int spacing = 4;

    // Where the parts of the label go in `rect`.
    struct Layout {
        QRect icon;
        QRect name;
        QRect trailing;
    };
    static Layout layout(const QRect& rect, const VersionedItemFacts& facts, const QFont& font);

    // The font of the name: the body font, semibold.
    static QFont nameFont(const QFont& base);
    static void paint(QPainter& painter, const QRect& rect, const VersionedItemFacts& facts, qreal iconPadding,
                      const QFont& base);
    // The help at `position`: the full name over the name, "Used in: ..." over the link symbol;
    // empty elsewhere.
    static QString toolTip(const QRect& rect, const QPoint& position, const VersionedItemFacts& facts,
                           const QFont& base);
};

} // namespace vantrel
