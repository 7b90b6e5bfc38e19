#include "views/detail/activity_list_model.h"

#include <QSet>

namespace vantrel {

int ActivityListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant ActivityListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const ActivityInfo& activity = m_rows.at(index.row()).activity;
    switch (role) {
    case Qt::DisplayRole:
        return activity.userName;
    case activityIdRole:
        return activity.id.toString();
    default:
        return {};
    }
}

QList<ActivityInfo> ActivityListModel::activities() const
{
    QList<ActivityInfo> list;
    list.reserve(m_rows.size());
    for (const Row& row : m_rows)
        list.append(row.activity);
    return list;
}

void ActivityListModel::clear()
{
    if (m_rows.isEmpty() && m_appVersions.isEmpty() && !m_forceUnlockOnFirst)
        return;
    beginResetModel();
    m_rows.clear();
    m_appVersions.clear();
    m_forceUnlockOnFirst = false;
    endResetModel();
}

// Walks the old and the new list side by side: an entry in both stays where it is (its row
// reports a change only if its activity or its place, first or last, changed), a run of new
// entries is inserted, a run of entries gone is removed. A teammate's check-in inserts one row
// at the top and touches at most the row that was first before.
void ActivityListModel::setActivities(const QList<ActivityInfo>& activities)
{
    const qsizetype oldCount = m_rows.size();
    const qsizetype newCount = activities.size();
    QSet<IdFor<States>> oldIds;
    oldIds.reserve(oldCount);
    for (const Row& row : std::as_const(m_rows))
        oldIds.insert(row.activity.id);
    QSet<IdFor<States>> newIds;
    newIds.reserve(newCount);
    for (const ActivityInfo& activity : activities)
        newIds.insert(activity.id);

    QList<int> touched;
    qsizetype oldAt = 0; // in the old list
    qsizetype newAt = 0; // in the new list, and the row in the model
    while (oldAt < oldCount || newAt < newCount) {
        const bool oldLeft = oldAt < oldCount;
        const bool newLeft = newAt < newCount;
        if (oldLeft && newLeft && m_rows.at(newAt).activity.id == activities.at(newAt).id) {
            Row& row = m_rows[newAt];
            const bool placeChanged =
                (oldAt == 0) != (newAt == 0) || (oldAt == oldCount - 1) != (newAt == newCount - 1);
            if (placeChanged || !(row.activity == activities.at(newAt)))
                touched.append(int(newAt));
            // The closures are the new list's: they read the state the engine has now.
            row.activity = activities.at(newAt);
            ++oldAt;
            ++newAt;
        } else if (newLeft && (!oldLeft || !oldIds.contains(activities.at(newAt).id))) {
            qsizetype end = newAt + 1;
            while (end < newCount && (!oldLeft || !oldIds.contains(activities.at(end).id)))
                ++end;
            insertActivities(newAt, activities.mid(newAt, end - newAt));
            newAt = end;
        } else {
            // Gone, or moved (taken out here, put in where the new list has it).
            qsizetype end = oldAt + 1;
            const auto gone = [&](qsizetype old) {
                const qsizetype row = newAt + (old - oldAt);
                return newAt >= newCount || !newIds.contains(m_rows.at(row).activity.id);
            };
            while (end < oldCount && gone(end))
                ++end;
            beginRemoveRows({}, int(newAt), int(newAt + end - oldAt - 1));
            m_rows.remove(newAt, end - oldAt);
            endRemoveRows();
            oldAt = end;
        }
    }
    for (int row : std::as_const(touched))
        changed(row);
}

void ActivityListModel::insertActivities(qsizetype at, const QList<ActivityInfo>& activities)
{
    beginInsertRows({}, int(at), int(at + activities.size() - 1));
    QList<Row> inserted;
    inserted.reserve(activities.size());
    for (const ActivityInfo& activity : activities)
        inserted.append(Row{activity});
    m_rows.insert(at, activities.size(), Row{});
    std::move(inserted.begin(), inserted.end(), m_rows.begin() + at);
    endInsertRows();
}

std::optional<QString> ActivityListModel::appVersion(int row) const
{
    return m_appVersions.value(m_rows.at(row).activity.versionID);
}

void ActivityListModel::setAppVersions(const QHash<IdFor<Versions>, std::optional<QString>>& versions)
{
    QHash<IdFor<Versions>, std::optional<QString>> before;
    for (auto it = versions.begin(); it != versions.end(); ++it) {
        before.insert(it.key(), m_appVersions.value(it.key()));
        m_appVersions.insert(it.key(), it.value());
    }
    for (int row = 0; row < m_rows.size(); ++row) {
        const auto it = before.constFind(m_rows.at(row).activity.versionID);
        if (it != before.cend() && it.value() != versions.value(it.key()))
            changed(row);
    }
}

void ActivityListModel::setForceUnlockOnFirst(bool offered)
{
    if (m_forceUnlockOnFirst == offered)
        return;
    m_forceUnlockOnFirst = offered;
    if (!m_rows.isEmpty())
        changed(0);
}

std::optional<int> ActivityListModel::cachedHeight(int row, int width) const
{
    const Row& entry = m_rows.at(row);
    if (entry.measuredWidth != width)
        return std::nullopt;
    return entry.height;
}

void ActivityListModel::cacheHeight(int row, int width, int height) const
{
    const Row& entry = m_rows.at(row);
    entry.measuredWidth = width;
    entry.height = height;
}

void ActivityListModel::changed(int row)
{
    m_rows[row].measuredWidth = -1;
    const QModelIndex at = index(row);
    emit dataChanged(at, at);
}

} // namespace vantrel
