#pragma once

#include "actions/selected_item_commands.h"
#include "model/container_operations.h"
#include "model/content_view_focus.h"
#include "model/strings.h"
#include "views/team/item_list_model.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

class QMenu;
class QStackedLayout;

namespace vantrel {

class InProgressView;
class ItemActions;
class ItemListView;
class NavigationModel;
class PlaceholderText;

// The list of the items nested in one container: the documents of a collection or the events of
// a library. A spinner while the container loads, "Nothing found" when it holds nothing, else
// its items under one header per category. Its selection and the container's selected item
// follow each other (the creator's `select` closure records a choice in the navigation model);
// it takes the keyboard focus while the navigation model's focus names its pane. A reload of
// the container keeps the selection on the same item; a selected item that is no longer listed
// has gone and is deselected. Each row offers Move to Trash (or Remove from ...), Rename and Copy
// Link; the Delete key acts on the container's selected item; a double click selects the item
// and then runs `onDoubleTap` when the item allows it.
//
// Built through makeNestedItemList(), which binds it to a container of a given type.
class NestedItemList final : public QWidget {
    Q_OBJECT
public:
    // The container and the creator's closures, over VersionedItem.
    struct Binding {
        QObject* container = nullptr;
        std::function<QList<ItemListModel::Group>()> groups;
        std::function<bool()> isLoading;
        std::function<std::shared_ptr<VersionedItem>()> selectedItem;
        // The first nested item with the id.
        std::function<std::shared_ptr<VersionedItem>(const IdFor<VersionBundle>&)> find;
        std::function<bool(const VersionedItem&)> isUsedElsewhere;
        QString containerShortDescription;

        std::function<void(const std::shared_ptr<VersionedItem>&)> removeOrDelete;
        std::function<std::optional<QUrl>(const VersionedItem&)> itemLink;
        std::function<void(const std::shared_ptr<VersionedItem>&)> select;
        std::function<void(const std::shared_ptr<VersionedItem>&)> onDoubleTap;
        // Whether a double click may run onDoubleTap for the item.
        std::function<bool(const VersionedItem&)> acceptsDoubleTap;
    };

    NestedItemList(Binding binding, NavigationModel& navigation, ItemActions& itemActions,
                   ContentViewFocus focusIdentifier, QWidget* parent = nullptr);
    ~NestedItemList() override;

    enum class Content { loading, empty, list };
    Content content() const;
    ItemListView& view() const { return *m_view; }

    // The title of the row's first menu entry: "Move to Trash..." or "Remove from <type>...".
    QString removeTitle(const VersionedItem& item) const;

private Q_SLOTS:
    void reload();
    void updateContent();

private:
    void followContainer();
    QMenu* menu(int row, QWidget* parent);

    Binding m_binding;
    QPointer<NavigationModel> m_navigation;
    ItemActions& m_itemActions;
    QStackedLayout* m_stack;
    InProgressView* m_spinner;
    PlaceholderText* m_placeholder;
    ItemListView* m_view;
};

// The closures a creator gives a list of `Item`s.
template<typename Item>
struct NestedItemClosures {
    std::function<void(const std::shared_ptr<Item>&)> removeOrDelete;
    std::function<std::optional<QUrl>(const Item&)> itemLink;
    std::function<void(const std::shared_ptr<Item>&)> select;
    std::function<void(const std::shared_ptr<Item>&)> onDoubleTap;
};

// Whether a double click may check `document` out: not while it is blocked as "Open" is (an
// operation running, no application to open it, a bundle that refuses), and not while someone
// else holds its lock.
bool acceptsCheckOutByDoubleClick(const Document& document);

template<typename Container>
NestedItemList* makeNestedItemList(std::shared_ptr<Container> container,
                                   NestedItemClosures<typename Container::NestedItem> closures,
                                   NavigationModel& navigation, ItemActions& itemActions,
                                   ContentViewFocus focusIdentifier, QWidget* parent = nullptr)
{
    using Item = typename Container::NestedItem;
    const auto cast = [](const std::shared_ptr<VersionedItem>& item) { return std::dynamic_pointer_cast<Item>(item); };
    NestedItemList::Binding binding;
    binding.container = container.get();
    binding.groups = [container] {
        QList<ItemListModel::Group> groups;
        for (const auto& group : groupedByCategory(*container)) {
            ItemListModel::Group shown{group.category.title(), {}};
            for (const auto& item : group.items)
                shown.items.append(item);
            groups.append(std::move(shown));
        }
        return groups;
    };
    binding.isLoading = [container] { return container->isLoadingNestedItems(); };
    binding.selectedItem = [container]() -> std::shared_ptr<VersionedItem> { return container->selectedItem(); };
    binding.find = [container](const IdFor<VersionBundle>& id) -> std::shared_ptr<VersionedItem> {
        for (const auto& item : container->nestedItems()) {
            if (item->id() == id)
                return item;
        }
        return nullptr;
    };
    binding.isUsedElsewhere = [](const VersionedItem& item) {
        const auto* nestable = dynamic_cast<const NestableItem*>(&item);
        return nestable && nestable->isUsedInOtherContainers();
    };
    binding.containerShortDescription = container->documentType().shortDescription();
    binding.removeOrDelete = [cast, f = closures.removeOrDelete](const std::shared_ptr<VersionedItem>& item) {
        if (const auto typed = cast(item); typed && f)
            f(typed);
    };
    binding.itemLink = [f = closures.itemLink](const VersionedItem& item) -> std::optional<QUrl> {
        const auto* typed = dynamic_cast<const Item*>(&item);
        return typed && f ? f(*typed) : std::nullopt;
    };
    binding.select = [cast, f = closures.select](const std::shared_ptr<VersionedItem>& item) {
        if (f)
            f(cast(item));
    };
    binding.onDoubleTap = [cast, f = closures.onDoubleTap](const std::shared_ptr<VersionedItem>& item) {
        if (const auto typed = cast(item); typed && f)
            f(typed);
    };
    binding.acceptsDoubleTap = [](const VersionedItem& item) {
        if constexpr (std::is_same_v<Item, Document>) {
            const auto* document = dynamic_cast<const Document*>(&item);
            return document && acceptsCheckOutByDoubleClick(*document);
        } else {
            return true;
        }
    };
    return new NestedItemList(std::move(binding), navigation, itemActions, focusIdentifier, parent);
}

} // namespace vantrel
