#include "views/detail/trash_table_model.h"

#include "actions/trash_manager.h"
#include "design/palette.h"
#include "model/strings.h"
#include "views/detail/detail_look.h"
#include "model/relative_date.h"
#include "views/detail/version_bundle_summary_label.h"

#include <QApplication>

#include <algorithm>
#include <array>

namespace vantrel {

namespace {

// Compares texts the way people read them: runs of digits by their value ("2" before "10"), the
// text between them with `collator`. The collator's own numeric mode is not enough: it is ignored
// in the C locale.
int naturalCompare(const QCollator& collator, QStringView a, QStringView b)
{
    const auto run = [](QStringView text, qsizetype from, bool digits) {
        qsizetype end = from;
        while (end < text.size() && text.at(end).isDigit() == digits)
            ++end;
        return text.mid(from, end - from);
    };
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitsA = a.at(i).isDigit();
        const bool digitsB = b.at(j).isDigit();
        const QStringView chunkA = run(a, i, digitsA);
        const QStringView chunkB = run(b, j, digitsB);
        i += chunkA.size();
        j += chunkB.size();
        int result = 0;
        if (digitsA && digitsB) {
            const auto significant = [](QStringView digits) {
                qsizetype k = 0;
                while (k + 1 < digits.size() && digits.at(k) == u'0')
                    ++k;
                return digits.mid(k);
            };
            const QStringView valueA = significant(chunkA);
            const QStringView valueB = significant(chunkB);
            result = valueA.size() != valueB.size() ? (valueA.size() < valueB.size() ? -1 : 1) : valueA.compare(valueB);
        } else {
            result = collator.compare(chunkA, chunkB);
        }
        if (result != 0)
            return result < 0 ? -1 : 1;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

} // namespace

TrashTableModel::TrashTableModel(TrashManager* trash, QObject* parent) : QAbstractTableModel(parent), m_trash(trash)
{
    m_collator.setNumericMode(true);
    m_collator.setCaseSensitivity(Qt::CaseInsensitive);
    if (trash)
        connect(trash, &TrashManager::contentChanged, this, &TrashTableModel::reload);
    reload();
}

int TrashTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TrashTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : columnCount_;
}

QVariant TrashTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const auto& summary = m_rows.at(index.row());
    switch (role) {
    case idRole:
        return summary.id().uuid();
    case isCollectionRole:
        return summary.documentType().isCollection();
    default:
        break;
    }
    switch (index.column()) {
    case nameColumn:
        if (role == Qt::DisplayRole)
            return VersionBundleSummaryLabel::nameText(summary, false);
        if (role == Qt::DecorationRole)
            return iconFor(summary);
        if (role == Qt::FontRole)
            return semiboldBodyFont(QApplication::font());
        if (role == Qt::ForegroundRole)
            return design::withOpacity(design::neutral(0), 0.85);
        break;
    case typeColumn:
        if (role == Qt::DisplayRole)
            return summary.documentType().shortDescription();
        break;
    case lastModifiedColumn:
        if (role == Qt::DisplayRole)
            return relativeDescription(summary.modificationDate());
        if (role == Qt::ToolTipRole)
            return QLocale().toString(summary.modificationDate().toLocalTime(), QLocale::LongFormat);
        break;
    default:
        break;
    }
    if (role == Qt::ForegroundRole)
        return design::neutral(1);
    return {};
}

QVariant TrashTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case nameColumn:
        return Strings::nameColumnTitle();
    case typeColumn:
        return Strings::typeColumnTitle();
    case lastModifiedColumn:
        return Strings::lastModifiedColumnTitle();
    default:
        return {};
    }
}

void TrashTableModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= columnCount_)
        return;
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QList<IdFor<VersionBundle>> idsBefore;
    for (const auto& index : before)
        idsBefore.append(m_rows.at(index.row()).id());
    m_sortColumn = column;
    m_sortOrder = order;
    this->order();
    QModelIndexList after;
    for (qsizetype i = 0; i < before.size(); ++i)
        after.append(this->index(rowOf(idsBefore.at(i)), before.at(i).column()));
    changePersistentIndexList(before, after);
    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int TrashTableModel::rowOf(const IdFor<VersionBundle>& id) const
{
    for (qsizetype row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).id() == id)
            return int(row);
    }
    return -1;
}

void TrashTableModel::reload()
{
    beginResetModel();
    m_rows = m_trash ? m_trash->content() : QList<VersionBundle::Summary>();
    order();
    endResetModel();
}

void TrashTableModel::order()
{
    // The clicked column decides in the clicked direction; the others break ties, ascending.
    std::array<int, columnCount_> keys{m_sortColumn, 0, 0};
    std::size_t next = 1;
    for (int column : {int(nameColumn), int(lastModifiedColumn), int(typeColumn)}) {
        if (column != m_sortColumn)
            keys[next++] = column;
    }
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    std::stable_sort(m_rows.begin(), m_rows.end(),
                     [this, keys, descending](const VersionBundle::Summary& a, const VersionBundle::Summary& b) {
                         for (std::size_t i = 0; i < keys.size(); ++i) {
                             const int result = compare(keys[i], a, b);
                             if (result != 0)
                                 return (i == 0 && descending) ? result > 0 : result < 0;
                         }
                         return a.id() < b.id();
                     });
}

int TrashTableModel::compare(int column, const VersionBundle::Summary& a, const VersionBundle::Summary& b) const
{
    switch (column) {
    case nameColumn:
        return naturalCompare(m_collator, a.name(), b.name());
    case typeColumn:
        return naturalCompare(m_collator, a.documentType().shortDescription(), b.documentType().shortDescription());
    case lastModifiedColumn:
        return a.modificationDate() < b.modificationDate() ? -1 : (b.modificationDate() < a.modificationDate() ? 1 : 0);
    default:
        return 0;
    }
}

QIcon TrashTableModel::iconFor(const VersionBundle::Summary& summary) const
{
    const QString name = summary.documentType().icon(summary.url());
    auto found = m_icons.constFind(name);
    if (found == m_icons.constEnd())
        found = m_icons.insert(name, itemIcon(name));
    return *found;
}

} // namespace vantrel
