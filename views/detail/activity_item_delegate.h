#pragma once

#include <QStyledItemDelegate>

#include <functional>

class QAbstractItemView;

namespace vantrel {

class ActivityItem;
class ActivityListModel;

// Sizes and places the rows of the activity feed. A row's height is worked out from its activity
// and width (ActivityItem::heightFor) and kept by the model until the row or the width changes,
// so laying out a long timeline builds nothing. The rows in view are ActivityItem widgets, opened
// by the feed as persistent editors and made by `make`; the delegate draws nothing itself.
class ActivityItemDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    // Room kept free to the right of every row.
    static constexpr int trailingMargin = 32;

    using Make = std::function<ActivityItem*(int row, QWidget* parent)>;

    ActivityItemDelegate(ActivityListModel& model, QAbstractItemView& view, Make make, QObject* parent = nullptr);

    // Whether rows with version actions carry the share menu (the item is a document).
    void setShareMenu(bool shown) { m_shareMenu = shown; }
    // The width of a row's widget: the list's own width less the margin, the same whether or not
    // the scroll bar shows (it shows in the margin). A long timeline is measured as it is first
    // laid out, before the bar appears; were the rows narrowed by the bar, every height would be
    // out of date and the next change would measure the whole timeline again.
    int rowWidth() const;
    // Takes `height` as the right one for `row` at the current width, when a built row says so.
    void correctHeight(int row, int height);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const override;

private:
    int height(int row, int width) const;

    ActivityListModel& m_model;
    QAbstractItemView& m_view;
    Make m_make;
    bool m_shareMenu = false;
};

} // namespace vantrel
