#pragma once

#include <QPointer>
#include <QWidget>

#include <memory>

class QMenu;

namespace vantrel {

class Collection;
class Collections;
class ItemActions;
class ItemListView;
class NavigationModel;

// The sidebar's list of the team's collections. Its selection and the navigation model's
// selected collection follow each other; it takes the keyboard focus while the navigation
// model's focus is the collection list. A click on a collection selects it with no document
// (its remembered document is forgotten); moving the selection by keyboard keeps the collection's
// remembered document. Each row offers Copy Link, Rename, Export and Move to Trash; the Delete
// key moves the selected collection to the trash, after the question.
class CollectionList final : public QWidget {
    Q_OBJECT
public:
    CollectionList(Collections& collections, NavigationModel& navigation, ItemActions& itemActions,
                   QWidget* parent = nullptr);
    ~CollectionList() override;

    ItemListView& view() const { return *m_view; }
    // Asks whether to move `collection` to the trash; on "Yes" moves it, and once it has gone
    // deselects it. A refused move changes nothing but the alert.
    void requestTrash(const std::shared_ptr<Collection>& collection);

private:
    void reload();
    void followNavigation();
    std::shared_ptr<Collection> collectionAt(int row) const;
    QMenu* menu(int row, QWidget* parent);

    QPointer<Collections> m_collections;
    QPointer<NavigationModel> m_navigation;
    ItemActions& m_itemActions;
    ItemListView* m_view;
};

} // namespace vantrel
