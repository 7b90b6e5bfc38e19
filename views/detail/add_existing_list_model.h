#pragma once

#include "actions/add_existing_search.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>

#include <optional>

namespace vantrel {

// Every candidate of the add-existing picker under its heading, in the chosen name order and as
// if nothing were typed; AddExistingFilterModel picks and ranks the rows a search entry shows. A
// heading is text only; it cannot be selected.
class AddExistingListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { IsHeaderRole = Qt::UserRole + 1 };

    explicit AddExistingListModel(QObject* parent = nullptr);

    // Replaces every row: a heading (the category's title followed by `headerSuffix`) then the
    // items of each section, in the sections' order.
    void setSections(const QList<CategorizedSearchResult>& sections, const QString& headerSuffix);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    bool isHeader(int row) const;
    // Which heading a row stands under, counted from 0; -1 out of range.
    int section(int row) const;
    // The candidate of an item row; absent for a heading or a row out of range.
    std::optional<VersionBundle::Summary> summary(int row) const;
    // The row of the candidate with `summary`'s id; -1 when it is not listed.
    int rowOf(const VersionBundle::Summary& summary) const;

private:
    struct Row {
        QString header;
        int section = 0;
        std::optional<VersionBundle::Summary> summary;
    };
    QList<Row> m_rows;
    QHash<IdFor<VersionBundle>, int> m_rowOfId;
};

} // namespace vantrel
