#include "views/detail/activity_item_delegate.h"

#include "views/detail/activity_action_buttons.h"
#include "views/detail/activity_item.h"
#include "views/detail/activity_list_model.h"

#include <QAbstractItemView>

#include <algorithm>

namespace vantrel {

ActivityItemDelegate::ActivityItemDelegate(ActivityListModel& model, QAbstractItemView& view, Make make,
                                           QObject* parent)
    : QStyledItemDelegate(parent),
      m_model(model),
      m_view(view),
      m_make(std::move(make))
{
    // A row whose activity, place or tag changed may change its height.
    connect(&m_model, &ActivityListModel::dataChanged, this,
            [this](const QModelIndex& topLeft, const QModelIndex& bottomRight) {
                for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
                    emit sizeHintChanged(m_model.index(row));
            });
}

int ActivityItemDelegate::rowWidth() const
{
    return std::max(1, m_view.contentsRect().width() - trailingMargin);
}

int ActivityItemDelegate::height(int row, int width) const
{
    if (const auto cached = m_model.cachedHeight(row, width))
        return *cached;
    const ActivityInfo& activity = m_model.activity(row);
    const auto version = m_model.appVersion(row);
    const ActivityItem::Shape shape{
        .activity = activity,
        .buttonsWidth =
            activity.allowsVersionActions ? ActivityActionButtons::widthFor(m_shareMenu, m_view.viewport()->font()) : 0,
        .forceUnlock = m_model.offersForceUnlock(row),
        .isFirst = m_model.isFirst(row),
        .isLast = m_model.isLast(row),
        .withTag = version && !version->isEmpty(),
    };
    const int height = ActivityItem::heightFor(shape, width, m_view.viewport()->font());
    m_model.cacheHeight(row, width, height);
    return height;
}

void ActivityItemDelegate::correctHeight(int row, int height)
{
    const int width = rowWidth();
    if (m_model.cachedHeight(row, width) == height)
        return;
    m_model.cacheHeight(row, width, height);
    emit sizeHintChanged(m_model.index(row));
}

QSize ActivityItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const int width = rowWidth();
    // No wider than the viewport, which the scroll bar narrows: the list never scrolls sideways.
    return {std::min(width + trailingMargin, m_view.viewport()->width()), height(index.row(), width)};
}

void ActivityItemDelegate::paint(QPainter*, const QStyleOptionViewItem&, const QModelIndex&) const {}

QWidget* ActivityItemDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                            const QModelIndex& index) const
{
    return m_make(index.row(), parent);
}

void ActivityItemDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    auto* item = qobject_cast<ActivityItem*>(editor);
    if (!item)
        return;
    item->setPlace(m_model.isFirst(index.row()), m_model.isLast(index.row()));
    item->setIncompatibleAppVersion(m_model.appVersion(index.row()));
}

void ActivityItemDelegate::setModelData(QWidget*, QAbstractItemModel*, const QModelIndex&) const {}

void ActivityItemDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                                const QModelIndex&) const
{
    editor->setGeometry(option.rect.x(), option.rect.y(), rowWidth(), option.rect.height());
}

} // namespace vantrel
