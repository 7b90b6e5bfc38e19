#pragma once

#include "actions/add_existing_search.h"

#include <QAbstractListModel>
#include <QList>

#include <optional>

namespace vantrel {

// The rows of the add-existing picker's list: each group of candidates under its heading. A
// heading is text only; it cannot be selected.
class AddExistingListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { IsHeaderRole = Qt::UserRole + 1, IsFirstHeaderRole };

    explicit AddExistingListModel(QObject* parent = nullptr);

    // Replaces every row: a heading (the category's title followed by `headerSuffix`) then the
    // items of each section, in the sections' order.
    void setSections(const QList<CategorizedSearchResult>& sections, const QString& headerSuffix);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    bool isHeader(int row) const;
    // The candidate of an item row; absent for a heading or a row out of range.
    std::optional<VersionBundle::Summary> summary(int row) const;
    // The row of the candidate with `summary`'s id; -1 when it is not listed.
    int rowOf(const VersionBundle::Summary& summary) const;

private:
    struct Row {
        QString header;
        std::optional<VersionBundle::Summary> summary;
    };
    QList<Row> m_rows;
};

} // namespace vantrel
