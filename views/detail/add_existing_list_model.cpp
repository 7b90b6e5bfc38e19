#include "views/detail/add_existing_list_model.h"

namespace vantrel {

AddExistingListModel::AddExistingListModel(QObject* parent) : QAbstractListModel(parent) {}

void AddExistingListModel::setSections(const QList<CategorizedSearchResult>& sections, const QString& headerSuffix)
{
    beginResetModel();
    m_rows.clear();
    m_rowOfId.clear();
    for (int section = 0; section < sections.size(); ++section) {
        m_rows.append(Row{sections.at(section).category.title() + headerSuffix, section, std::nullopt});
        for (const auto& ranked : sections.at(section).items) {
            if (!m_rowOfId.contains(ranked.item.id()))
                m_rowOfId.insert(ranked.item.id(), int(m_rows.size()));
            m_rows.append(Row{QString(), section, ranked.item});
        }
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

int AddExistingListModel::section(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row).section : -1;
}

std::optional<VersionBundle::Summary> AddExistingListModel::summary(int row) const
{
    if (row < 0 || row >= m_rows.size())
        return std::nullopt;
    return m_rows.at(row).summary;
}

int AddExistingListModel::rowOf(const VersionBundle::Summary& summary) const
{
    return m_rowOfId.value(summary.id(), -1);
}

} // namespace vantrel
