#pragma once

#include <QStyledItemDelegate>

namespace vantrel {

// Draws the rows of an ItemListModel: a group header in muted bold text, or an item's label over
// the selection's rounded fill.
class ItemRowDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    ItemRowDelegate(qreal iconPadding, QObject* parent = nullptr);

    static constexpr int rowHeight = 28;
    static constexpr int horizontalInset = 8;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The font of the headers: the callout size, bold.
    static QFont headerFont(const QFont& base);

private:
    qreal m_iconPadding;
};

} // namespace vantrel
