#include "views/team/item_row_delegate.h"

#include "design/palette.h"
#include "views/detail/versioned_item_label.h"
#include "views/team/item_list_model.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QPainter>
#include <QToolTip>

namespace vantrel {

namespace {

constexpr int kHeaderBottom = 8;
constexpr int kHeaderTopAfterFirst = 16;

QRect labelRect(const QRect& row)
{
    return row.adjusted(ItemRowDelegate::horizontalInset, 0, -ItemRowDelegate::horizontalInset, 0);
}

} // namespace

ItemRowDelegate::ItemRowDelegate(qreal iconPadding, QObject* parent)
    : QStyledItemDelegate(parent),
      m_iconPadding(iconPadding)
{
}

QFont ItemRowDelegate::headerFont(const QFont& base)
{
    QFont font = base;
    font.setPointSizeF(base.pointSizeF() - 1);
    font.setWeight(QFont::Bold);
    return font;
}

void ItemRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    painter->save();
    if (index.data(ItemListModel::isHeaderRole).toBool()) {
        const QRect text = option.rect.adjusted(horizontalInset, 0, -horizontalInset, -kHeaderBottom);
        painter->setFont(headerFont(option.font));
        painter->setPen(design::neutral(2));
        painter->drawText(text, Qt::AlignLeft | Qt::AlignBottom | Qt::TextSingleLine, index.data().toString());
        painter->restore();
        return;
    }
    if (option.state & QStyle::State_Selected) {
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(Qt::NoPen);
        const bool active = option.state & QStyle::State_HasFocus || option.state & QStyle::State_Active;
        painter->setBrush(active ? design::style(13) : design::neutral(5));
        painter->drawRoundedRect(QRectF(option.rect).adjusted(2, 1, -2, -1), 5, 5);
    }
    const auto facts = index.data(ItemListModel::factsRole).value<VersionedItemFacts>();
    VersionedItemLabel::paint(*painter, labelRect(option.rect), facts, m_iconPadding, option.font);
    painter->restore();
}

QSize ItemRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.data(ItemListModel::isHeaderRole).toBool()) {
        const int top = index.data(ItemListModel::isFirstHeaderRole).toBool() ? 0 : kHeaderTopAfterFirst;
        return {0, top + QFontMetrics(headerFont(option.font)).height() + kHeaderBottom};
    }
    return {0, rowHeight};
}

bool ItemRowDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                const QModelIndex& index)
{
    if (event->type() != QEvent::ToolTip || index.data(ItemListModel::isHeaderRole).toBool())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const auto facts = index.data(ItemListModel::factsRole).value<VersionedItemFacts>();
    const QString tip = VersionedItemLabel::toolTip(labelRect(option.rect), event->pos(), facts, option.font);
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(event->globalPos(), tip, view);
    return true;
}

} // namespace vantrel
