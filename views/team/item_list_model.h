#pragma once

#include "engine/id_for.h"
#include "views/detail/versioned_item_label.h"

#include <QAbstractListModel>
#include <QHash>
#include <QSet>

#include <memory>
#include <optional>

namespace vantrel {

class VersionedItem;

// The rows of one of the team window's lists: items, optionally under group headers. Each item
// row keeps the facts its label shows, read when the items are set and again whenever an item
// publishes a change. Setting the items again changes only the rows that differ (rows are the
// same by their item's id, headers by their title). Headers are neither selectable nor enabled.
class ItemListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { factsRole = Qt::UserRole + 1, isHeaderRole, isFirstHeaderRole };

    struct Group {
        QString title;
        QList<std::shared_ptr<VersionedItem>> items;
    };

    explicit ItemListModel(QObject* parent = nullptr);
    ~ItemListModel() override;

    // Items without headers.
    void setItems(const QList<std::shared_ptr<VersionedItem>>& items);
    // One header per group, then its items.
    void setGroups(const QList<Group>& groups);

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    bool isHeader(int row) const;
    // Null for a header or a row out of range.
    std::shared_ptr<VersionedItem> item(int row) const;
    const VersionedItemFacts* facts(int row) const;
    // The first item row of `id`; -1 when none.
    int rowOf(const IdFor<VersionBundle>& id) const;
    int itemCount() const;

Q_SIGNALS:
    // Around every change of the rows by setItems() and setGroups().
    void updating(bool updating);

private:
    struct Row {
        QString title; // headers only
        std::shared_ptr<VersionedItem> item;
        VersionedItemFacts facts;
        bool firstHeader = false;
    };
    static QStringList keysOf(const QList<Row>& rows);
    void setRows(QList<Row> rows);
    void followRows();
    void refreshChangedRows();

    QList<Row> m_rows;
    QHash<const QObject*, QList<int>> m_rowsByObject;
    QSet<const QObject*> m_changed;
    bool m_flushScheduled = false;
};

} // namespace vantrel

Q_DECLARE_METATYPE(vantrel::VersionedItemFacts)
