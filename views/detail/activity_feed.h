#pragma once

#include "engine/activity.h"
#include "foundation/cancellable.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QWidget>

#include <memory>
#include <optional>

class QLabel;
class QPropertyAnimation;
class QScrollArea;
class QVBoxLayout;

namespace vantrel {

class ActivityRow;
class ItemActions;
class NavigationModel;
class VersionedItem;

// The timeline of the item that has the focus: its title ("Activity", or "Event Activity" for
// an event) over one row per activity, in the order the engine delivers them, in a scroll area.
// Rows offer revert, a temporary copy and export of their version, and the first row of a
// document locked by somebody else offers to force the lock open. Every list the item publishes
// replaces the rows whole and scrolls, animated, to the top.
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
    const QList<ActivityRow*>& rows() const { return m_rows; }
    QLabel* title() const { return m_title; }
    QScrollArea* scrollArea() const { return m_scrollArea; }

    // Shows `activities`, delivered for `item`; dropped unless `item` is the one shown.
    void receive(const std::shared_ptr<VersionedItem>& item, const QList<ActivityInfo>& activities);

Q_SIGNALS:
    // After each list is shown (also after the rows were rebuilt for a change of the item).
    void rowsChanged();
    // After the application versions of a list were read and shown.
    void appVersionsChecked();

private:
    void followFocus();
    void clearRows();
    void rebuildRows();
    void scheduleRebuild();
    void scrollToTop();
    void showAppVersions();
    void checkAppVersions();
    void applyAppVersions(quint64 generation, const QHash<IdFor<Versions>, std::optional<QString>>& found);
    QWidget* makeActionButtons(const ActivityInfo& activity);
    QWidget* makeForceUnlock(const ActivityInfo& activity, bool isFirst);

    NavigationModel& m_navigation;
    ItemActions& m_actions;
    QLabel* m_title = nullptr;
    QScrollArea* m_scrollArea = nullptr;
    QWidget* m_list = nullptr;
    QVBoxLayout* m_rowsLayout = nullptr;
    QPropertyAnimation* m_scroll = nullptr;

    std::shared_ptr<VersionedItem> m_item;
    // Counts the items followed, so that late answers for an earlier one are recognised.
    quint64 m_generation = 0;
    Cancellable m_subscription;
    QMetaObject::Connection m_itemChanged;
    bool m_rebuildQueued = false;
    QList<ActivityInfo> m_activities;
    QList<ActivityRow*> m_rows;
    QHash<IdFor<Versions>, std::optional<QString>> m_appVersions;
    QSet<IdFor<Versions>> m_appVersionsPending;
};

} // namespace vantrel
