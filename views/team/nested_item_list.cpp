#include "views/team/nested_item_list.h"

#include "actions/item_actions.h"
#include "model/text_format.h"
#include "open_team/navigation_model.h"
#include "packages/components/in_progress_view.h"
#include "views/detail/placeholder_text.h"
#include "views/team/clipboard_link.h"
#include "views/team/item_list_view.h"

#include <QMenu>
#include <QStackedLayout>

namespace vantrel {

bool acceptsCheckOutByDoubleClick(const Document& document)
{
    if (SelectedItemCommands::isCheckOutBlocked(document) || !document.application().isInstalled())
        return false;
    return !document.isLocked() || document.lockedByCurrentInitiator();
}

NestedItemList::NestedItemList(Binding binding, NavigationModel& navigation, ItemActions& itemActions,
                               ContentViewFocus focusIdentifier, QWidget* parent)
    : QWidget(parent),
      m_binding(std::move(binding)),
      m_navigation(&navigation),
      m_itemActions(itemActions),
      m_stack(new QStackedLayout(this)),
      m_spinner(new InProgressView(ControlSize::small)),
      m_placeholder(new PlaceholderText(Strings::nothingFound())),
      m_view(new ItemListView(navigation, focusIdentifier, 0))
{
    auto* spinnerPage = new QWidget;
    auto* spinnerLayout = new QVBoxLayout(spinnerPage);
    spinnerLayout->addWidget(m_spinner, 0, Qt::AlignCenter);
    m_stack->addWidget(spinnerPage);
    m_stack->addWidget(m_placeholder);
    m_stack->addWidget(m_view);
    setFocusProxy(m_view);

    ItemListView::Hooks hooks;
    hooks.chosen = [this](std::optional<IdFor<VersionBundle>> id) {
        if (m_binding.select)
            m_binding.select(id ? m_binding.find(*id) : nullptr);
    };
    hooks.clicked = [this](int row) {
        if (const auto item = m_view->listModel().item(row))
            m_binding.select(item);
    };
    hooks.doubleClicked = [this](int row) {
        const auto item = m_view->listModel().item(row);
        if (item && m_binding.acceptsDoubleTap(*item))
            m_binding.onDoubleTap(item);
    };
    hooks.deleteRequested = [this] {
        if (const auto selected = m_binding.selectedItem())
            m_binding.removeOrDelete(selected);
    };
    hooks.menu = [this](int row, QWidget* parent) { return menu(row, parent); };
    m_view->setHooks(std::move(hooks));

    connect(m_binding.container, SIGNAL(nestedItemsChanged()), this, SLOT(reload()));
    connect(m_binding.container, SIGNAL(isLoadingNestedItemsChanged()), this, SLOT(updateContent()));
    connect(&navigation, &NavigationModel::selectedCollectionChanged, this, &NestedItemList::followContainer);
    connect(&navigation, &NavigationModel::selectedDocumentChanged, this, &NestedItemList::followContainer);
    connect(&navigation, &NavigationModel::selectedEventChanged, this, &NestedItemList::followContainer);
    reload();
}

NestedItemList::~NestedItemList() = default;

NestedItemList::Content NestedItemList::content() const
{
    if (m_binding.isLoading())
        return Content::loading;
    return m_view->listModel().itemCount() == 0 ? Content::empty : Content::list;
}

void NestedItemList::updateContent()
{
    switch (content()) {
    case Content::loading:
        m_stack->setCurrentIndex(0);
        break;
    case Content::empty:
        m_stack->setCurrentIndex(1);
        break;
    case Content::list:
        m_stack->setCurrentIndex(2);
        break;
    }
}

// A reload changes only the rows that differ; the selection stays on the item with the same id.
// A selected item that is no longer listed has gone (removed here or by a teammate) and is
// deselected.
void NestedItemList::reload()
{
    m_view->listModel().setGroups(m_binding.groups());
    updateContent();
    const auto selected = m_binding.selectedItem();
    if (selected && m_view->listModel().rowOf(selected->id()) < 0 && !m_binding.isLoading()) {
        m_binding.select(nullptr);
        return;
    }
    followContainer();
}

void NestedItemList::followContainer()
{
    const auto selected = m_binding.selectedItem();
    m_view->showSelection(selected ? std::optional(selected->id()) : std::nullopt);
}

QString NestedItemList::removeTitle(const VersionedItem& item) const
{
    const QString title = m_binding.isUsedElsewhere(item)
                              ? formatText(Strings::removeFromActionTitle(), m_binding.containerShortDescription)
                              : Strings::moveToTrashActionTitle();
    return title + QStringLiteral("...");
}

QMenu* NestedItemList::menu(int row, QWidget* parent)
{
    const auto item = m_view->listModel().item(row);
    if (!item)
        return nullptr;
    const std::weak_ptr<VersionedItem> weak = item;
    auto* menu = new QMenu(parent);
    auto* remove = menu->addAction(removeTitle(*item), [this, weak] {
        if (const auto target = weak.lock())
            m_binding.removeOrDelete(target);
    });
    remove->setObjectName(QStringLiteral("removeOrDelete"));
    auto* rename = menu->addAction(Strings::renameActionTitle() + QStringLiteral("..."), [this, weak] {
        if (const auto target = weak.lock())
            m_itemActions.rename()(target);
    });
    rename->setObjectName(QStringLiteral("rename"));
    menu->addSeparator();
    auto* copy = menu->addAction(Strings::copyLinkActionTitle(), [this, weak] {
        if (const auto target = weak.lock())
            copyLink(m_binding.itemLink(*target));
    });
    copy->setObjectName(QStringLiteral("copyLink"));
    return menu;
}

} // namespace vantrel
