#include "views/detail/activity_list_model.h"

#include <algorithm>

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

// The rows the new list shares with the old one at its start and at its end stay; what lies
// between is replaced. A new version comes in at the top, so a teammate's check-in inserts one
// row and touches at most the row that was first before.
void ActivityListModel::setActivities(const QList<ActivityInfo>& activities)
{
    const qsizetype oldCount = m_rows.size();
    const qsizetype newCount = activities.size();
    qsizetype prefix = 0;
    while (prefix < oldCount && prefix < newCount && m_rows.at(prefix).activity.id == activities.at(prefix).id)
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < oldCount - prefix && suffix < newCount - prefix
           && m_rows.at(oldCount - 1 - suffix).activity.id == activities.at(newCount - 1 - suffix).id)
        ++suffix;

    // Where the old first and last rows end up, if they stay.
    const qsizetype shift = newCount - oldCount;
    auto newPlace = [&](qsizetype oldRow) -> qsizetype {
        if (oldRow < prefix)
            return oldRow;
        if (oldRow >= oldCount - suffix)
            return oldRow + shift;
        return -1;
    };
    const qsizetype formerFirst = oldCount > 0 ? newPlace(0) : -1;
    const qsizetype formerLast = oldCount > 0 ? newPlace(oldCount - 1) : -1;

    replaceMiddle(prefix, oldCount - prefix - suffix, activities, newCount - prefix - suffix);

    QList<qsizetype> touched;
    auto kept = [&](qsizetype row) { return row >= 0 && row < newCount && (row < prefix || row >= newCount - suffix); };
    for (qsizetype row = 0; row < newCount; ++row) {
        if (!kept(row))
            continue;
        Row& current = m_rows[row];
        const bool differs = !(current.activity == activities.at(row));
        // The closures are the new list's: they read the state the engine has now.
        current.activity = activities.at(row);
        if (differs)
            touched.append(row);
    }
    for (qsizetype row : {formerFirst, formerLast, qsizetype(0), newCount - 1}) {
        if (!kept(row))
            continue;
        const bool wasFirst = row == formerFirst;
        const bool wasLast = row == formerLast;
        if (wasFirst != isFirst(int(row)) || wasLast != isLast(int(row)))
            touched.append(row);
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    for (qsizetype row : std::as_const(touched))
        changed(int(row));
}

void ActivityListModel::replaceMiddle(qsizetype from, qsizetype oldCount, const QList<ActivityInfo>& activities,
                                      qsizetype newCount)
{
    if (oldCount > 0) {
        beginRemoveRows({}, int(from), int(from + oldCount - 1));
        m_rows.remove(from, oldCount);
        endRemoveRows();
    }
    if (newCount > 0) {
        beginInsertRows({}, int(from), int(from + newCount - 1));
        QList<Row> inserted;
        inserted.reserve(newCount);
        for (qsizetype i = 0; i < newCount; ++i)
            inserted.append(Row{activities.at(from + i)});
        m_rows.insert(from, newCount, Row{});
        std::move(inserted.begin(), inserted.end(), m_rows.begin() + from);
        endInsertRows();
    }
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
