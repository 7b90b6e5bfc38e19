#include "views/detail/selected_item_header_view.h"

#include "open_team/navigation_model.h"
#include "views/detail/versioned_item_header_view.h"

#include <QVBoxLayout>

namespace vantrel {

namespace {

struct Content {
    std::shared_ptr<VersionedItem> item;
    std::function<QWidget*()> makeButtons;
};

template<typename Item>
Content contentFor(const std::shared_ptr<Item>& item,
                   const std::function<QWidget*(const std::shared_ptr<Item>&)>& makeButtons)
{
    if (!item)
        return {};
    Content content{item, {}};
    if (makeButtons)
        content.makeButtons = [item, makeButtons] { return makeButtons(item); };
    return content;
}

} // namespace

SelectedItemHeaderView::SelectedItemHeaderView(NavigationModel* navigation, ItemButtonGroups buttonGroups,
                                               QWidget* parent)
    : QWidget(parent),
      m_navigation(navigation),
      m_buttonGroups(std::move(buttonGroups))
{
    auto* rows = new QVBoxLayout(this);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(16);
    if (navigation) {
        connect(navigation, &NavigationModel::focusChanged, this, &SelectedItemHeaderView::refresh);
        connect(navigation, &NavigationModel::selectedCollectionChanged, this, &SelectedItemHeaderView::refresh);
        connect(navigation, &NavigationModel::selectedDocumentChanged, this, &SelectedItemHeaderView::refresh);
        connect(navigation, &NavigationModel::selectedEventChanged, this, &SelectedItemHeaderView::refresh);
    }
    refresh();
}

void SelectedItemHeaderView::refresh()
{
    Content content;
    if (m_navigation) {
        switch (m_navigation->focus()) {
        case ContentViewFocus::trash:
        case ContentViewFocus::home:
            break;
        case ContentViewFocus::collectionList:
            content = contentFor(m_navigation->selectedCollection(), m_buttonGroups.collection);
            break;
        case ContentViewFocus::documentList:
        case ContentViewFocus::checkinView:
            content = contentFor(m_navigation->selectedDocument(), m_buttonGroups.document);
            break;
        case ContentViewFocus::eventList:
            content = contentFor(m_navigation->selectedEvent(), m_buttonGroups.event);
            break;
        }
    }
    // The same item keeps its header and buttons, and whatever state they hold.
    if (content.item == m_shown && (m_header || !m_shown))
        return;

    m_shown = content.item;
    for (QWidget* old : {static_cast<QWidget*>(m_header), m_buttons.data()}) {
        if (old) {
            old->hide();
            old->deleteLater();
        }
    }
    m_header = nullptr;
    m_buttons = nullptr;
    if (!m_shown) {
        updateGeometry();
        return;
    }
    m_header = new VersionedItemHeaderView(m_shown, this);
    layout()->addWidget(m_header);
    if (content.makeButtons) {
        m_buttons = content.makeButtons();
        if (m_buttons) {
            m_buttons->setParent(this);
            layout()->addWidget(m_buttons);
        }
    }
    // Shown at once when this view is on screen already; otherwise with it.
    m_header->setVisible(true);
    if (m_buttons)
        m_buttons->setVisible(true);
    updateGeometry();
}

} // namespace vantrel
