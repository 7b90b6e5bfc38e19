#include "views/detail/add_existing_list_model.h"

namespace vantrel {

AddExistingListModel::AddExistingListModel(QObject* parent) : QAbstractListModel(parent) {}

void AddExistingListModel::setSections(const QList<CategorizedSearchResult>& sections, const QString& headerSuffix)
{
    beginResetModel();
    m_rows.clear();
    for (const auto& section : sections) {
        m_rows.append(Row{section.category.title() + headerSuffix, std::nullopt});
        for (const auto& ranked : section.items)
            m_rows.append(Row{QString(), ranked.item});
    }
    endResetModel();
}

int AddExistingListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant AddExistingListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row& row = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return row.summary ? row.summary->name() : row.header;
    case IsHeaderRole:
        return !row.summary.has_value();
    case IsFirstHeaderRole:
        return index.row() == 0;
    default:
        return {};
    }
}

Qt::ItemFlags AddExistingListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid() || isHeader(index.row()))
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

bool AddExistingListModel::isHeader(int row) const
{
    return row >= 0 && row < m_rows.size() && !m_rows.at(row).summary;
}

std::optional<VersionBundle::Summary> AddExistingListModel::summary(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return std::nullopt;
    return m_rows.at(row).summary;
}

int AddExistingListModel::rowOf(const VersionBundle::Summary& summary) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).summary && m_rows.at(row).summary->id() == summary.id())
            return row;
    }
    return -1;
}

} // namespace vantrel
