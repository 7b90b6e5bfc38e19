#pragma once

#include "actions/add_existing_search.h"

#include <QSortFilterProxyModel>

#include <optional>
#include <vector>

namespace vantrel {

class AddExistingListModel;

// The rows of the add-existing list that the search entry shows: the matching candidates of each
// heading, better matches first and otherwise in the list's order, and only the headings with a
// match under them. A keystroke ranks the candidates again and reorders these rows; the list
// model underneath, and whatever the view made for it, stays as it is.
class AddExistingFilterModel final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit AddExistingFilterModel(AddExistingListModel* list, QObject* parent = nullptr);

    // Ranks every candidate against `entry` (its own name and, for `options`, its containers'
    // names) and shows the ones that match.
    void setSearch(const QString& entry, IndexingOptions options);

    bool isHeader(int row) const;
    // The candidate shown at `row`; absent for a heading or a row out of range.
    std::optional<VersionBundle::Summary> summary(int row) const;
    // The row showing `summary`; -1 when it is not listed or the entry hides it.
    int rowOf(const VersionBundle::Summary& summary) const;

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;

private:
    // The ranking of each row of the list (a heading above every candidate), and which headings
    // have a match; worked out again after the list changed.
    void rankIfStale() const;
    int ranking(int sourceRow) const;

    AddExistingListModel* m_list;
    SearchPattern m_entry{QString()};
    IndexingOptions m_options = IndexingOptions::all();
    mutable bool m_stale = true;
    mutable std::vector<int> m_rankings;
    mutable std::vector<bool> m_sectionShown;
};

} // namespace vantrel
