#pragma once

#include "actions/item_actions.h"
#include "model/collection.h"

#include <QWidget>

#include <memory>

namespace vantrel {

namespace design {
class MenuButton;
}

// The button row under a selected collection's title: the "Add Document" menu, which makes a new
// library, adds existing documents, or imports a file as a new document.
class CollectionButtons final : public QWidget {
    Q_OBJECT
public:
    // `actions` must outlive the row.
    CollectionButtons(const std::shared_ptr<Collection>& collection, ItemActions* actions, QWidget* parent = nullptr);

    design::MenuButton* addDocumentMenu() const { return m_addDocumentMenu; }

private:
    std::weak_ptr<Collection> m_collection;
    ItemActions* m_actions;
    design::MenuButton* m_addDocumentMenu;
};

} // namespace vantrel
