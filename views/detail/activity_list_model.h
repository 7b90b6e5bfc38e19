#pragma once

#include "engine/activity.h"

#include <QAbstractListModel>
#include <QHash>
#include <QList>

#include <optional>

namespace vantrel {

// The activities the feed shows, one row each, in the order the engine delivers them. A new list
// is taken in by change: rows that stay keep their place and their data, new ones are inserted,
// gone ones removed, and only rows whose activity or place (first, last) changed report a change.
// Beside each activity the model keeps what the feed learns about it later (the application
// version that wrote it, whether the first row offers to force the lock open) and the height its
// row needs at the width it was last measured for.
class ActivityListModel final : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { activityIdRole = Qt::UserRole + 1 };

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Replaces the list by change, as described above.
    void setActivities(const QList<ActivityInfo>& activities);
    void clear();

    const ActivityInfo& activity(int row) const { return m_rows.at(row).activity; }
    QList<ActivityInfo> activities() const;
    bool isFirst(int row) const { return row == 0; }
    bool isLast(int row) const { return row == m_rows.size() - 1; }

    // The application version shown on a row's date line; absent for none.
    std::optional<QString> appVersion(int row) const;
    void setAppVersions(const QHash<IdFor<Versions>, std::optional<QString>>& versions);
    bool offersForceUnlock(int row) const { return row == 0 && m_forceUnlockOnFirst; }
    void setForceUnlockOnFirst(bool offered);

    // The height measured for `row` at `width`, if that was the last width it was measured at.
    std::optional<int> cachedHeight(int row, int width) const;
    void cacheHeight(int row, int width, int height) const;

private:
    struct Row {
        ActivityInfo activity;
        mutable int measuredWidth = -1;
        mutable int height = 0;
    };

    void changed(int row);
    void insertActivities(qsizetype at, const QList<ActivityInfo>& activities);

    QList<Row> m_rows;
    QHash<IdFor<Versions>, std::optional<QString>> m_appVersions;
    bool m_forceUnlockOnFirst = false;
};

} // namespace vantrel
