#pragma once

#include "engine/version_bundle.h"

#include <QAbstractTableModel>
#include <QCollator>
#include <QHash>
#include <QIcon>
#include <QPointer>

namespace vantrel {

class TrashManager;

// The rows of the trash table: the trash's content, sorted by a clicked column with the other
// two columns breaking ties (name, then last modified, then type), and the id last of all, so
// the order never depends on the order the trash was read in. Names and types compare the way
// people read them: "Reel 2" before "Reel 10", case aside.
class TrashTableModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { nameColumn, typeColumn, lastModifiedColumn, columnCount_ };
    enum Role { idRole = Qt::UserRole + 1, isCollectionRole };

    explicit TrashTableModel(TrashManager* trash, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    const QList<VersionBundle::Summary>& rows() const { return m_rows; }
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    // The row of `id`; -1 when it is not in the table.
    int rowOf(const IdFor<VersionBundle>& id) const;

private:
    void reload();
    void order();
    int compare(int column, const VersionBundle::Summary& a, const VersionBundle::Summary& b) const;
    QIcon iconFor(const VersionBundle::Summary& summary) const;

    QPointer<TrashManager> m_trash;
    QList<VersionBundle::Summary> m_rows;
    int m_sortColumn = nameColumn;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    QCollator m_collator;
    mutable QHash<QString, QIcon> m_icons;
};

} // namespace vantrel
