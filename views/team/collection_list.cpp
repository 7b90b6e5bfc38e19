#include "views/team/collection_list.h"

#include "actions/item_actions.h"
#include "design/palette.h"
#include "design/scroll_bars.h"
#include "model/collections.h"
#include "model/strings.h"
#include "open_team/navigation_model.h"
#include "views/team/clipboard_link.h"
#include "views/team/item_list_model.h"
#include "views/team/item_list_view.h"

#include <QMenu>
#include <QScrollBar>
#include <QVBoxLayout>

namespace vantrel {

namespace {

std::shared_ptr<Collection> listed(const Collections& collections, const IdFor<VersionBundle>& id)
{
    for (const auto& collection : collections.all()) {
        if (collection->id() == id)
            return collection;
    }
    return nullptr;
}

} // namespace

CollectionList::CollectionList(Collections& collections, NavigationModel& navigation, ItemActions& itemActions,
                               QWidget* parent)
    : QWidget(parent),
      m_collections(&collections),
      m_navigation(&navigation),
      m_itemActions(itemActions),
      m_view(new ItemListView(navigation, ContentViewFocus::collectionList, 2, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_view);
    setFocusProxy(m_view);
    // Unlike the nested lists, the sidebar shows where it is scrolled to: a slim bar over the
    // dark background, only while the collections do not fit.
    m_view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_view->verticalScrollBar()->setObjectName(QStringLiteral("collectionScrollBar"));
    design::makeSlim(*m_view->verticalScrollBar());

    ItemListView::Hooks hooks;
    hooks.chosen = [this](std::optional<IdFor<VersionBundle>> id) {
        // The keyboard's way: the collection's remembered document is selected again with it.
        if (m_navigation && m_collections)
            m_navigation->setSelectedCollection(id ? listed(*m_collections, *id) : nullptr);
    };
    hooks.clicked = [this](int row) {
        const auto collection = collectionAt(row);
        if (!collection || !m_navigation)
            return;
        collection->setSelectedItem(nullptr);
        m_navigation->setSelectedCollection(collection);
    };
    hooks.deleteRequested = [this] {
        if (m_navigation && m_navigation->selectedCollection())
            requestTrash(m_navigation->selectedCollection());
    };
    hooks.menu = [this](int row, QWidget* parent) { return menu(row, parent); };
    m_view->setHooks(std::move(hooks));

    connect(&collections, &Collections::allChanged, this, &CollectionList::reload);
    connect(&navigation, &NavigationModel::selectedCollectionChanged, this, &CollectionList::followNavigation);
    reload();
}

CollectionList::~CollectionList() = default;

std::shared_ptr<Collection> CollectionList::collectionAt(int row) const
{
    return std::dynamic_pointer_cast<Collection>(m_view->listModel().item(row));
}

// A reload changes only the rows that differ, so the selection and the scroll position stay. A
// selected collection that is no longer listed has gone, and is deselected.
void CollectionList::reload()
{
    QList<std::shared_ptr<VersionedItem>> items;
    for (const auto& collection : m_collections->all())
        items.append(collection);
    m_view->listModel().setItems(items);
    const auto selected = m_navigation ? m_navigation->selectedCollection() : nullptr;
    if (selected && m_view->listModel().rowOf(selected->id()) < 0)
        m_navigation->deselect(selected, nullptr, nullptr);
    followNavigation();
}

void CollectionList::followNavigation()
{
    const auto selected = m_navigation ? m_navigation->selectedCollection() : nullptr;
    m_view->showSelection(selected ? std::optional(selected->id()) : std::nullopt);
}

void CollectionList::requestTrash(const std::shared_ptr<Collection>& collection)
{
    const auto action = m_itemActions.deleteCollection();
    const std::weak_ptr<Collection> weak = collection;
    QPointer<NavigationModel> navigation = m_navigation;
    QPointer<Collections> collections = m_collections;
    auto remove = [action, weak, navigation, collections] {
        const auto target = weak.lock();
        if (!target)
            return;
        const auto id = target->id();
        action(target, [id, navigation, collections] {
            // Deselected only once it has really gone; a refusal leaves the selection alone.
            if (!navigation || !collections || listed(*collections, id))
                return;
            const auto selected = navigation->selectedCollection();
            if (selected && selected->id() == id)
                navigation->deselect(selected, nullptr, nullptr);
        });
    };
    action.showConfirmation(ConfirmationDialog::ConfirmDelete{collection, nullptr, std::move(remove)});
}

QMenu* CollectionList::menu(int row, QWidget* parent)
{
    const auto collection = collectionAt(row);
    if (!collection)
        return nullptr;
    const std::weak_ptr<Collection> weak = collection;
    auto* menu = new QMenu(parent);
    auto* copy = menu->addAction(Strings::copyLinkActionTitle(), [this, weak] {
        if (const auto target = weak.lock(); target && m_navigation)
            copyLink(m_navigation->url(*target));
    });
    copy->setObjectName(QStringLiteral("copyLink"));
    auto* rename = menu->addAction(Strings::renameActionTitle() + QStringLiteral("..."), [this, weak] {
        if (const auto target = weak.lock())
            m_itemActions.rename()(target);
    });
    rename->setObjectName(QStringLiteral("rename"));
    menu->addSeparator();
    auto* exportAction = menu->addAction(Strings::exportActionTitle() + QStringLiteral("..."), [this, weak] {
        if (const auto target = weak.lock())
            m_itemActions.exportVersion()(target, std::nullopt);
    });
    exportAction->setObjectName(QStringLiteral("export"));
    menu->addSeparator();
    auto* trash = menu->addAction(Strings::moveToTrashActionTitle() + QStringLiteral("..."), [this, weak] {
        if (const auto target = weak.lock())
            requestTrash(target);
    });
    trash->setObjectName(QStringLiteral("moveToTrash"));
    return menu;
}

} // namespace vantrel
