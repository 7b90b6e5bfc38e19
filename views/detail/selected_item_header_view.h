#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace vantrel {

class Collection;
class Document;
class Event;
class NavigationModel;
class VersionedItem;
class VersionedItemHeaderView;

// Makes the button group shown under the header of the selected item; each is handed only its
// item. A missing maker leaves that row empty.
struct ItemButtonGroups {
    std::function<QWidget*(const std::shared_ptr<Collection>&)> collection;
    std::function<QWidget*(const std::shared_ptr<Document>&)> document;
    std::function<QWidget*(const std::shared_ptr<Event>&)> event;
};

// The head of the collection content: the header of the item the focused pane points at (a
// collection, a document or an event) with that item's button group below it, or nothing while
// the focus is on the trash or at home, or the focused level has nothing selected. It follows the
// navigation; the header and the buttons follow their item themselves.
class SelectedItemHeaderView final : public QWidget {
    Q_OBJECT
public:
    SelectedItemHeaderView(NavigationModel* navigation, ItemButtonGroups buttonGroups, QWidget* parent = nullptr);

    // The item shown; null while nothing is.
    std::shared_ptr<VersionedItem> shownItem() const { return m_shown; }
    VersionedItemHeaderView* header() const { return m_header; }
    QWidget* buttonGroup() const { return m_buttons; }

private:
    void refresh();

    QPointer<NavigationModel> m_navigation;
    ItemButtonGroups m_buttonGroups;
    std::shared_ptr<VersionedItem> m_shown;
    QPointer<VersionedItemHeaderView> m_header;
    QPointer<QWidget> m_buttons;
};

} // namespace vantrel
