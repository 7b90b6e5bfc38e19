#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

class QHBoxLayout;

namespace vantrel {

class ActivityFeed;
class AlertModel;
class CheckInView;
class Collection;
class ItemActions;
class NavigationModel;
class NestedItemList;
class SelectedItemHeaderView;

// The detail of a selected collection: the selected item's header with its buttons over a
// divider; under them the collection's documents on the left and, on the right, the check-in
// panel while the selected document is checked out, the events of a library and the activity of
// the focused item. The lists are a quarter of the pane wide, between 220 and 360.
class CollectionContentView final : public QWidget {
    Q_OBJECT
public:
    CollectionContentView(std::shared_ptr<Collection> collection, NavigationModel& navigation, ItemActions& itemActions,
                          AlertModel* alert, QWidget* parent = nullptr);
    ~CollectionContentView() override;

    static int listWidth(int paneWidth);

    const std::shared_ptr<Collection>& collection() const { return m_collection; }
    SelectedItemHeaderView* header() const { return m_header; }
    NestedItemList* documentList() const { return m_documents; }
    // Null while no document whose type holds events is selected.
    NestedItemList* eventList() const { return m_events; }
    // The places of the check-in panel (shown while the selected document is checked out) and of
    // the activity feed.
    QWidget* checkInArea() const { return m_checkInArea; }
    QWidget* activityArea() const { return m_activityArea; }
    // The panel of the selected document; null while no document is selected.
    CheckInView* checkInView() const { return m_checkIn; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void followSelectedDocument();
    void followCheckOut();
    void chainPanes();
    NestedItemList* makeDocumentList();
    NestedItemList* makeEventList();

    std::shared_ptr<Collection> m_collection;
    NavigationModel& m_navigation;
    ItemActions& m_itemActions;
    SelectedItemHeaderView* m_header = nullptr;
    NestedItemList* m_documents = nullptr;
    QWidget* m_checkInArea = nullptr;
    QHBoxLayout* m_checkInLayout = nullptr;
    CheckInView* m_checkIn = nullptr;
    QWidget* m_eventColumn = nullptr;
    QHBoxLayout* m_eventLayout = nullptr;
    NestedItemList* m_events = nullptr;
    QWidget* m_activityArea = nullptr;
    ActivityFeed* m_feed = nullptr;
    QMetaObject::Connection m_checkOutConnection;
};

} // namespace vantrel
