#include "views/team/collection_content_view.h"

#include "actions/item_actions.h"
#include "actions/selected_item_commands.h"
#include "design/palette.h"
#include "model/collection.h"
#include "model/document.h"
#include "model/event.h"
#include "open_team/navigation_model.h"
#include "views/detail/activity_feed.h"
#include "views/detail/check_in_view.h"
#include "views/detail/collection_buttons.h"
#include "views/detail/document_buttons.h"
#include "views/detail/event_buttons.h"
#include "views/detail/gradient_divider.h"
#include "views/detail/selected_item_header_view.h"
#include "views/detail/versioned_item_header_view.h"
#include "views/team/item_list_view.h"
#include "views/team/nested_item_list.h"
#include "views/team/shaded_column.h"

#include <QHBoxLayout>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace vantrel {

namespace {

QWidget* makeDivider(QWidget* parent)
{
    auto* divider = new QWidget(parent);
    divider->setFixedHeight(2);
    divider->setAutoFillBackground(true);
    QPalette palette = divider->palette();
    palette.setColor(QPalette::Window, design::neutral(5));
    divider->setPalette(palette);
    return divider;
}

} // namespace

CollectionContentView::CollectionContentView(std::shared_ptr<Collection> collection, NavigationModel& navigation,
                                             ItemActions& itemActions, AlertModel* alert, QWidget* parent)
    : QWidget(parent),
      m_collection(std::move(collection)),
      m_navigation(navigation),
      m_itemActions(itemActions)
{
    setObjectName(QStringLiteral("collectionContent"));
    ItemActions* actions = &itemActions;
    ItemButtonGroups buttons;
    buttons.collection = [actions](const std::shared_ptr<Collection>& item) -> QWidget* {
        return new CollectionButtons(item, actions);
    };
    buttons.document = [actions, alert](const std::shared_ptr<Document>& item) -> QWidget* {
        return new DocumentButtons(item, actions, alert);
    };
    buttons.event = [](const std::shared_ptr<Event>&) -> QWidget* { return new EventButtons; };
    m_header = new SelectedItemHeaderView(&navigation, std::move(buttons), this);

    m_documents = makeDocumentList();
    m_checkInArea = new QWidget(this);
    m_checkInArea->setObjectName(QStringLiteral("checkInArea"));
    m_checkInArea->hide();
    m_checkInLayout = new QHBoxLayout(m_checkInArea);
    m_checkInLayout->setContentsMargins(16, 0, 16, 0);
    m_eventColumn = new QWidget(this);
    m_eventLayout = new QHBoxLayout(m_eventColumn);
    m_eventLayout->setContentsMargins(0, 0, 0, 0);
    m_eventLayout->setSpacing(0);
    // The feed stands 32 from the divider on a shaded ground that runs from the divider to the
    // pane's edge.
    auto* shade = new ShadedColumn(this);
    auto* shadeLayout = new QHBoxLayout(shade);
    shadeLayout->setContentsMargins(32, 0, 0, 0);
    m_activityArea = new QWidget(shade);
    m_activityArea->setObjectName(QStringLiteral("activityArea"));
    auto* activityLayout = new QVBoxLayout(m_activityArea);
    activityLayout->setContentsMargins(0, 0, 0, 0);
    m_feed = new ActivityFeed(m_navigation, m_itemActions, m_activityArea);
    activityLayout->addWidget(m_feed);
    shadeLayout->addWidget(m_activityArea);

    auto* activityColumn = new QHBoxLayout;
    activityColumn->setContentsMargins(16, 0, 0, 0);
    activityColumn->setSpacing(0);
    activityColumn->addWidget(new GradientDivider(this));
    activityColumn->addWidget(shade, 1);

    auto* lower = new QHBoxLayout;
    lower->setSpacing(0);
    lower->addWidget(m_eventColumn);
    lower->addLayout(activityColumn, 1);

    auto* right = new QVBoxLayout;
    right->setSpacing(20);
    right->addWidget(m_checkInArea);
    right->addLayout(lower, 1);

    auto* content = new QHBoxLayout;
    content->setSpacing(0);
    content->addWidget(m_documents);
    content->addLayout(right, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 0, 0, 0);
    layout->setSpacing(24);
    auto* top = new QVBoxLayout;
    top->setContentsMargins(0, 0, 16, 0);
    top->setSpacing(24);
    top->addWidget(m_header);
    top->addWidget(makeDivider(this));
    layout->addLayout(top);
    layout->addLayout(content, 1);

    connect(&navigation, &NavigationModel::selectedDocumentChanged, this,
            &CollectionContentView::followSelectedDocument);
    followSelectedDocument();
}

CollectionContentView::~CollectionContentView() = default;

int CollectionContentView::listWidth(int paneWidth)
{
    return std::max(220, std::min(360, paneWidth / 4));
}

void CollectionContentView::resizeEvent(QResizeEvent* event)
{
    const int width = listWidth(this->width());
    m_documents->setFixedWidth(width);
    if (m_events)
        m_events->setFixedWidth(width);
    QWidget::resizeEvent(event);
}

NestedItemList* CollectionContentView::makeDocumentList()
{
    NavigationModel* navigation = &m_navigation;
    ItemActions* actions = &m_itemActions;
    const std::weak_ptr<Collection> weakCollection = m_collection;
    NestedItemClosures<Document> closures;
    closures.removeOrDelete = [actions, weakCollection](const std::shared_ptr<Document>& document) {
        if (const auto collection = weakCollection.lock())
            actions->removeOrDelete()(document, collection);
    };
    closures.itemLink = [navigation](const Document& document) -> std::optional<QUrl> {
        const auto selected = navigation->selectedCollection();
        auto link = selected ? navigation->url(*selected) : std::nullopt;
        if (link)
            link->setPath(link->path() + QLatin1Char('/') + document.id().toString());
        return link;
    };
    closures.select = [navigation](const std::shared_ptr<Document>& document) {
        if (document)
            document->setSelectedItem(nullptr);
        navigation->setSelectedDocument(document);
    };
    closures.onDoubleTap = [actions](const std::shared_ptr<Document>& document) {
        SelectedItemCommands::checkOut(document, actions->checkOut());
    };
    auto* list = makeNestedItemList(m_collection, std::move(closures), m_navigation, m_itemActions,
                                    ContentViewFocus::documentList, this);
    list->setObjectName(QStringLiteral("documentList"));
    list->setFixedWidth(listWidth(width()));
    return list;
}

NestedItemList* CollectionContentView::makeEventList()
{
    const auto document = m_navigation.selectedDocument();
    NavigationModel* navigation = &m_navigation;
    ItemActions* actions = &m_itemActions;
    const std::weak_ptr<Document> weakDocument = document;
    NestedItemClosures<Event> closures;
    closures.removeOrDelete = [actions, weakDocument](const std::shared_ptr<Event>& event) {
        if (const auto container = weakDocument.lock())
            actions->removeOrDelete()(event, container);
    };
    closures.itemLink = [navigation](const Event& event) { return navigation->url(event); };
    closures.select = [navigation](const std::shared_ptr<Event>& event) { navigation->setSelectedEvent(event); };
    closures.onDoubleTap = closures.select;
    auto* list = makeNestedItemList(document, std::move(closures), m_navigation, m_itemActions,
                                    ContentViewFocus::eventList, m_eventColumn);
    list->setObjectName(QStringLiteral("eventList"));
    list->setFixedWidth(listWidth(width()));
    return list;
}

void CollectionContentView::followSelectedDocument()
{
    // The events list belongs to the document selected when it was built.
    const auto document = m_navigation.selectedDocument();
    while (QLayoutItem* item = m_eventLayout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    m_events = nullptr;
    if (document && document->documentType().allowsNesting()) {
        auto* divider = new GradientDivider(m_eventColumn);
        m_eventLayout->addSpacing(16);
        m_eventLayout->addWidget(divider);
        m_eventLayout->addSpacing(16);
        m_events = makeEventList();
        m_eventLayout->addWidget(m_events);
    }
    m_eventColumn->setVisible(m_events != nullptr);

    // So does the check-in panel.
    if (m_checkIn) {
        m_checkIn->hide();
        m_checkIn->deleteLater();
        m_checkIn = nullptr;
    }
    if (document) {
        m_checkIn = new CheckInView(document, m_navigation, m_itemActions, m_checkInArea);
        m_checkInLayout->addWidget(m_checkIn);
    }

    disconnect(m_checkOutConnection);
    if (document)
        m_checkOutConnection =
            connect(document.get(), &Document::isCheckedOutChanged, this, &CollectionContentView::followCheckOut);
    followCheckOut();
    chainPanes();
}

// Tab goes through the panes as they stand from left to right: the documents, the check-in
// panel, the events and the activity. The panel and the events are made anew for each
// document, after the feed, so the order is set again each time.
void CollectionContentView::chainPanes()
{
    QList<QWidget*> panes{&m_documents->view()};
    if (m_checkIn)
        panes << m_checkIn->editor() << m_checkIn->discardButton() << m_checkIn->saveButton();
    if (m_events)
        panes << &m_events->view();
    panes << m_feed->list();
    for (qsizetype i = 1; i < panes.size(); ++i)
        QWidget::setTabOrder(panes.at(i - 1), panes.at(i));
}

void CollectionContentView::followCheckOut()
{
    const auto document = m_navigation.selectedDocument();
    m_checkInArea->setVisible(document && document->isCheckedOut());
}

} // namespace vantrel
