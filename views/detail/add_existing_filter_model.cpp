#include "views/detail/add_existing_filter_model.h"

#include "views/detail/add_existing_list_model.h"

namespace vantrel {

namespace {

constexpr int kNoMatch = -1;
// Above every ranking a candidate can have, so that a heading stays first in its group.
constexpr int kHeading = 4;

} // namespace

AddExistingFilterModel::AddExistingFilterModel(AddExistingListModel* list, QObject* parent)
    : QSortFilterProxyModel(parent),
      m_list(list)
{
    // Marked before the proxy takes in the new rows, whatever order the reset's receivers run in.
    connect(list, &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_stale = true; });
    setSourceModel(list);
    sort(0);
}

void AddExistingFilterModel::setSearch(const QString& entry, IndexingOptions options)
{
    m_entry = SearchPattern(entry);
    m_options = options;
    m_stale = true;
    invalidate();
}

void AddExistingFilterModel::rankIfStale() const
{
    if (!m_stale)
        return;
    m_stale = false;
    const int rows = m_list->rowCount();
    m_rankings.assign(size_t(rows), kNoMatch);
    m_sectionShown.assign(size_t(rows), false);
    for (int row = 0; row < rows; ++row) {
        if (m_list->isHeader(row)) {
            m_rankings[size_t(row)] = kHeading;
            continue;
        }
        // Without an entry every candidate is listed, all equal.
        int ranking = 0;
        if (!m_entry.isEmpty()) {
            const auto ranked = rank(*m_list->summary(row), m_entry, m_options);
            ranking = ranked ? ranked->ranking : kNoMatch;
        }
        m_rankings[size_t(row)] = ranking;
        if (ranking != kNoMatch)
            m_sectionShown[size_t(m_list->section(row))] = true;
    }
}

int AddExistingFilterModel::ranking(int sourceRow) const
{
    rankIfStale();
    return sourceRow >= 0 && size_t(sourceRow) < m_rankings.size() ? m_rankings[size_t(sourceRow)] : kNoMatch;
}

bool AddExistingFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const
{
    if (!m_list->isHeader(sourceRow))
        return ranking(sourceRow) != kNoMatch;
    rankIfStale();
    const int section = m_list->section(sourceRow);
    return section >= 0 && size_t(section) < m_sectionShown.size() && m_sectionShown[size_t(section)];
}

bool AddExistingFilterModel::lessThan(const QModelIndex& left, const QModelIndex& right) const
{
    const int a = left.row();
    const int b = right.row();
    if (m_list->section(a) != m_list->section(b))
        return m_list->section(a) < m_list->section(b);
    if (ranking(a) != ranking(b))
        return ranking(a) > ranking(b);
    // The list holds equal rankings in name order already.
    return a < b;
}

bool AddExistingFilterModel::isHeader(int row) const
{
    return m_list->isHeader(mapToSource(index(row, 0)).row());
}

std::optional<VersionBundle::Summary> AddExistingFilterModel::summary(int row) const
{
    if (row < 0 || row >= rowCount())
        return std::nullopt;
    return m_list->summary(mapToSource(index(row, 0)).row());
}

int AddExistingFilterModel::rowOf(const VersionBundle::Summary& summary) const
{
    const int sourceRow = m_list->rowOf(summary);
    if (sourceRow < 0)
        return -1;
    return mapFromSource(m_list->index(sourceRow)).row();
}

} // namespace vantrel
