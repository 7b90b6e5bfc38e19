#include "views/team/item_list_model.h"

#include "foundation/observable_object.h"
#include "model/versioned_item.h"

#include <QMetaMethod>

#include <algorithm>
#include <utility>
#include <vector>

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

namespace {

// Which of `positions` (distinct) keep their order in a longest increasing run; the others are
// the fewest rows to move.
std::vector<bool> longestIncreasingRun(const std::vector<int>& positions)
{
    std::vector<int> tails; // index into positions of the smallest tail of each length
    std::vector<int> before(positions.size(), -1);
    for (int i = 0; i < static_cast<int>(positions.size()); ++i) {
        const auto at = std::lower_bound(tails.begin(), tails.end(), positions[i],
                                         [&positions](int index, int value) { return positions[index] < value; });
        if (at != tails.begin())
            before[i] = *(at - 1);
        if (at == tails.end())
            tails.push_back(i);
        else
            *at = i;
    }
    std::vector<bool> kept(positions.size(), false);
    for (int i = tails.empty() ? -1 : tails.back(); i >= 0; i = before[i])
        kept[i] = true;
    return kept;
}

} // namespace

// What identifies a row from one update to the next: a header's title, or an item's id with
// its occurrence (a list may show an id twice).
QStringList ItemListModel::keysOf(const QList<Row>& rows)
{
    QStringList keys;
    keys.reserve(rows.size());
    QHash<IdFor<VersionBundle>, int> seen;
    for (const Row& row : rows) {
        if (!row.item) {
            keys.append(QLatin1Char('#') + row.title);
            continue;
        }
        const auto id = row.item->id();
        keys.append(id.toString() + QLatin1Char('/') + QString::number(seen[id]++));
    }
    return keys;
}

// The rows change in place: gone rows are removed, new ones inserted and moved ones moved, so
// that the views keep their selection and their scroll position; a row that stays is announced
// as changed only when what it shows changed.
void ItemListModel::setRows(QList<Row> rows)
{
    Q_EMIT updating(true);
    // The items of rows that go stay alive until they are no longer followed.
    QList<std::shared_ptr<VersionedItem>> released;
    const QStringList wantedKeys = keysOf(rows);
    QStringList keys = keysOf(m_rows);
    const QSet<QString> wanted(wantedKeys.begin(), wantedKeys.end());
    for (int end = static_cast<int>(m_rows.size()); end > 0;) {
        if (wanted.contains(keys[end - 1])) {
            --end;
            continue;
        }
        int first = end - 1;
        while (first > 0 && !wanted.contains(keys[first - 1]))
            --first;
        beginRemoveRows({}, first, end - 1);
        for (int i = first; i < end; ++i)
            released.append(m_rows[i].item);
        m_rows.remove(first, end - first);
        keys.remove(first, end - first);
        endRemoveRows();
        end = first;
    }

    // The rows in their longest run of the new order stay; the others go to the end for now.
    QHash<QString, int> target;
    for (int i = 0; i < wantedKeys.size(); ++i)
        target.insert(wantedKeys[i], i);
    std::vector<int> positions;
    positions.reserve(keys.size());
    for (const QString& key : std::as_const(keys))
        positions.push_back(target.value(key));
    const auto stays = longestIncreasingRun(positions);
    for (int i = static_cast<int>(keys.size()) - 2; i >= 0; --i) {
        if (stays[i])
            continue;
        const int last = static_cast<int>(m_rows.size());
        beginMoveRows({}, i, i, {}, last);
        m_rows.move(i, last - 1);
        keys.move(i, last - 1);
        endMoveRows();
    }

    // Then in the new order: runs of new rows are inserted, the moved ones brought to their place.
    const QSet<QString> present(keys.begin(), keys.end());
    for (int i = 0; i < rows.size();) {
        if (!present.contains(wantedKeys[i])) {
            int end = i + 1;
            while (end < rows.size() && !present.contains(wantedKeys[end]))
                ++end;
            beginInsertRows({}, i, end - 1);
            m_rows.insert(i, end - i, Row{});
            keys.insert(i, end - i, QString());
            for (int j = i; j < end; ++j) {
                m_rows[j] = std::move(rows[j]);
                keys[j] = wantedKeys[j];
            }
            endInsertRows();
            i = end;
            continue;
        }
        if (keys[i] != wantedKeys[i]) {
            const int from = static_cast<int>(keys.indexOf(wantedKeys[i], i));
            beginMoveRows({}, from, from, {}, i);
            m_rows.move(from, i);
            keys.move(from, i);
            endMoveRows();
        }
        Row& row = m_rows[i];
        const bool shownChanged =
            row.item != rows[i].item || row.facts != rows[i].facts || row.firstHeader != rows[i].firstHeader;
        if (row.item != rows[i].item)
            released.append(row.item);
        row = std::move(rows[i]);
        if (shownChanged)
            Q_EMIT dataChanged(index(i), index(i));
        ++i;
    }
    followRows();
    Q_EMIT updating(false);
}

// Every write of a published field of an item is announced before it happens; the rows of the
// items that changed are read again once the writes of this turn of the event loop are done.
// (A list can hold many thousands of items: a change finds its rows through the hash, never by
// a scan or by asking which object sent it.)
void ItemListModel::followRows()
{
    QHash<const QObject*, QList<int>> rowsByObject;
    for (int i = 0; i < m_rows.size(); ++i) {
        if (m_rows[i].item)
            rowsByObject[m_rows[i].item->object()].append(i);
    }
    for (auto it = m_rowsByObject.cbegin(); it != m_rowsByObject.cend(); ++it) {
        if (!rowsByObject.contains(it.key()))
            const_cast<QObject*>(it.key())->disconnect(this);
    }
    for (auto it = rowsByObject.cbegin(); it != rowsByObject.cend(); ++it) {
        auto* observable = qobject_cast<ObservableObject*>(const_cast<QObject*>(it.key()));
        if (m_rowsByObject.contains(it.key()) || !observable)
            continue;
        const QObject* object = it.key();
        connect(observable, &ObservableObject::objectWillChange, this, [this, object] {
            m_changed.insert(object);
            if (!m_flushScheduled) {
                m_flushScheduled = true;
                QMetaObject::invokeMethod(this, &ItemListModel::refreshChangedRows, Qt::QueuedConnection);
            }
        });
    }
    m_rowsByObject = std::move(rowsByObject);
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
