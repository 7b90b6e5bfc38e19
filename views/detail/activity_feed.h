#pragma once

#include "engine/activity.h"
#include "foundation/cancellable.h"

#include <QHash>
#include <QList>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QListView;
class QPropertyAnimation;

namespace vantrel {

class ActivityActionButtons;
class ActivityItem;
class ActivityItemDelegate;
class ActivityListModel;
class ItemActions;
class NavigationModel;
class VersionedItem;

// The timeline of the item that has the focus: its title ("Activity", or "Event Activity" for
// an event) over one row per activity, in the order the engine delivers them, in a list view.
// Rows offer revert, a temporary copy and export of their version, and the first row of a
// document locked by somebody else offers to force the lock open. Every list the item publishes
// is taken in by change (a new version inserts one row; rows that stay are left alone) and the
// list scrolls, animated, to the top.
//
// A timeline can be thousands of entries long: only the rows in view (and one either side) are
// built, as ActivityItem widgets, and the others cost only their measured height. A change of the
// item that leaves its list alone (its commit message being typed, its lock) touches only the
// controls of the rows in view, and only where their state changed.
//
// When the focus moves to another item the rows go at once, and a list still on its way for the
// previous item is dropped, so no row acts on an item it was not built for. The application
// versions of the listed versions are read once per list off the interface thread and kept by
// version; the date lines show them when they arrive.
class ActivityFeed final : public QWidget {
    Q_OBJECT
public:
    ActivityFeed(NavigationModel& navigation, ItemActions& itemActions, QWidget* parent = nullptr);
    ~ActivityFeed() override;

    // The item whose timeline is shown; null while nothing has the focus.
    const std::shared_ptr<VersionedItem>& item() const { return m_item; }
    ActivityListModel& model() const { return *m_model; }
    QListView* list() const { return m_list; }
    QLabel* title() const { return m_title; }
    // The built rows, in list order: those in view.
    QList<ActivityItem*> shownRows() const;
    // The built row at `row`; null when it is out of view.
    ActivityItem* shownRow(int row) const;
    // Scrolls `row` into view and builds it.
    ActivityItem* showRow(int row);

    // Shows `activities`, delivered for `item`; dropped unless `item` is the one shown.
    void receive(const std::shared_ptr<VersionedItem>& item, const QList<ActivityInfo>& activities);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

Q_SIGNALS:
    // After each list is shown.
    void rowsChanged();
    // After the application versions of a list were read and shown.
    void appVersionsChecked();

private:
    void followFocus();
    void scheduleRefresh();
    void refreshState();
    void refreshForceUnlock();
    void syncRows();
    void openRow(int row);
    void closeAllRows();
    void scrollToTop();
    void checkAppVersions();
    void applyAppVersions(quint64 generation, const QHash<IdFor<Versions>, std::optional<QString>>& found);
    ActivityItem* makeRow(int row, QWidget* parent);
    bool revertEnabled(const ActivityInfo& activity) const;
    bool offersForceUnlock(const ActivityInfo& activity) const;
    ActivityActionButtons* makeActionButtons(const ActivityInfo& activity);

    NavigationModel& m_navigation;
    ItemActions& m_actions;
    QLabel* m_title = nullptr;
    ActivityListModel* m_model = nullptr;
    ActivityItemDelegate* m_delegate = nullptr;
    QListView* m_list = nullptr;
    QPropertyAnimation* m_scroll = nullptr;
    // The rows built, by place in the model.
    QList<QPersistentModelIndex> m_shown;

    std::shared_ptr<VersionedItem> m_item;
    // Counts the items followed, so that late answers for an earlier one are recognised.
    quint64 m_generation = 0;
    Cancellable m_subscription;
    QMetaObject::Connection m_itemChanged;
    bool m_refreshQueued = false;
    // Set by End until the list is scrolled elsewhere.
    bool m_keepEnd = false;
    QSet<IdFor<Versions>> m_appVersionsKnown;
    QSet<IdFor<Versions>> m_appVersionsPending;
};

} // namespace vantrel
