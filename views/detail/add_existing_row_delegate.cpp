#include "views/detail/add_existing_row_delegate.h"

#include "design/palette.h"
#include "views/detail/add_existing_filter_model.h"
#include "views/detail/add_existing_list_model.h"
#include "views/detail/detail_look.h"
#include "views/detail/version_bundle_summary_label.h"

#include <QListView>
#include <QPainter>

namespace vantrel {

namespace {

// The first heading sits close under the search row; the others keep their groups apart.
constexpr int kFirstHeaderTop = 4;
constexpr int kHeaderTop = 16;
constexpr int kHeaderBottom = 8;

int headerTop(const QModelIndex& index)
{
    return index.row() == 0 ? kFirstHeaderTop : kHeaderTop;
}

} // namespace

AddExistingRowDelegate::AddExistingRowDelegate(QListView* view) : QStyledItemDelegate(view), m_view(view) {}

QFont AddExistingRowDelegate::headerFont(const QFont& base)
{
    QFont font = calloutMediumFont(base);
    font.setBold(true);
    return font;
}

void AddExistingRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                   const QModelIndex& index) const
{
    // The row's background (the selection) as the style draws it, without its text.
    QStyleOptionViewItem background(option);
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    m_view->style()->drawControl(QStyle::CE_ItemViewItem, &background, painter, m_view);

    const QRect content = option.rect.adjusted(horizontalPadding, 0, -horizontalPadding, 0);
    if (index.data(AddExistingListModel::IsHeaderRole).toBool()) {
        const QFont font = headerFont(option.font);
        const QFontMetrics metrics(font);
        const QRect line(content.left(), content.top() + headerTop(index), content.width(), metrics.height());
        painter->save();
        painter->setFont(font);
        painter->setPen(design::neutral(2));
        painter->drawText(line, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          metrics.elidedText(oneLine(index.data().toString()), Qt::ElideRight, line.width()));
        painter->restore();
        return;
    }
    const auto* rows = qobject_cast<const AddExistingFilterModel*>(index.model());
    const auto summary = rows ? rows->summary(index.row()) : std::nullopt;
    if (!summary)
        return;
    VersionBundleSummaryLabel::paint(*painter, content.adjusted(0, verticalPadding, 0, -verticalPadding), *summary,
                                     !m_trash, false, option.font);
}

QSize AddExistingRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.data(AddExistingListModel::IsHeaderRole).toBool())
        return {0, headerTop(index) + QFontMetrics(headerFont(option.font)).height() + kHeaderBottom};
    return {0, VersionBundleSummaryLabel::labelHeight(!m_trash) + 2 * verticalPadding};
}

} // namespace vantrel
