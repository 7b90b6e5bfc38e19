#include "views/team/item_list_model.h"

#include "foundation/observable_object.h"
#include "model/versioned_item.h"

#include <QMetaMethod>

#include <utility>

namespace vantrel {

ItemListModel::ItemListModel(QObject* parent) : QAbstractListModel(parent) {}

ItemListModel::~ItemListModel() = default;

void ItemListModel::setItems(const QList<std::shared_ptr<VersionedItem>>& items)
{
    QList<Row> rows;
    for (const auto& item : items)
        rows.append(Row{QString(), item, VersionedItemFacts::of(*item)});
    setRows(std::move(rows));
}

void ItemListModel::setGroups(const QList<Group>& groups)
{
    QList<Row> rows;
    for (const auto& group : groups) {
        rows.append(Row{group.title, nullptr, {}, rows.isEmpty()});
        for (const auto& item : group.items)
            rows.append(Row{QString(), item, VersionedItemFacts::of(*item)});
    }
    setRows(std::move(rows));
}

void ItemListModel::setRows(QList<Row> rows)
{
    beginResetModel();
    for (const auto& row : std::as_const(m_rows)) {
        if (row.item)
            row.item->object()->disconnect(this);
    }
    m_rows = std::move(rows);
    m_rowsByObject.clear();
    m_changed.clear();
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].item)
            follow(*m_rows[i].item, i);
    }
    endResetModel();
}

// Every write of a published field of an item is announced before it happens; the rows of the
// items that changed are read again once the writes of this turn of the event loop are done.
// (A list can hold many thousands of items: a change finds its rows through the hash, never by
// a scan or by asking which object sent it.)
void ItemListModel::follow(VersionedItem& item, int row)
{
    QObject* object = item.object();
    const bool first = !m_rowsByObject.contains(object);
    m_rowsByObject[object].append(row);
    auto* observable = qobject_cast<ObservableObject*>(object);
    if (!first || !observable)
        return;
    connect(observable, &ObservableObject::objectWillChange, this, [this, object] {
        m_changed.insert(object);
        if (!m_flushScheduled) {
            m_flushScheduled = true;
            QMetaObject::invokeMethod(this, &ItemListModel::refreshChangedRows, Qt::QueuedConnection);
        }
    });
}

void ItemListModel::refreshChangedRows()
{
    m_flushScheduled = false;
    const QSet<const QObject*> changed = std::exchange(m_changed, {});
    for (const QObject* object : changed) {
        for (const int i : m_rowsByObject.value(object)) {
            Row& row = m_rows[i];
            auto facts = VersionedItemFacts::of(*row.item);
            if (facts == row.facts)
                continue;
            row.facts = std::move(facts);
            Q_EMIT dataChanged(index(i), index(i));
        }
    }
}

int ItemListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant ItemListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const Row& row = m_rows[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return row.item ? row.facts.name : row.title;
    case factsRole:
        return row.item ? QVariant::fromValue(row.facts) : QVariant();
    case isHeaderRole:
        return !row.item;
    case isFirstHeaderRole:
        return row.firstHeader;
    default:
        return {};
    }
}

Qt::ItemFlags ItemListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid() || isHeader(index.row()))
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

bool ItemListModel::isHeader(int row) const
{
    return row >= 0 && row < m_rows.size() && !m_rows[row].item;
}

std::shared_ptr<VersionedItem> ItemListModel::item(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows[row].item : nullptr;
}

const VersionedItemFacts* ItemListModel::facts(int row) const
{
    return row >= 0 && row < m_rows.size() && m_rows[row].item ? &m_rows[row].facts : nullptr;
}

int ItemListModel::rowOf(const IdFor<VersionBundle>& id) const
{
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].item && m_rows[i].item->id() == id)
            return i;
    }
    return -1;
}

int ItemListModel::itemCount() const
{
    return static_cast<int>(std::count_if(m_rows.begin(), m_rows.end(), [](const Row& row) { return row.item; }));
}

} // namespace vantrel
