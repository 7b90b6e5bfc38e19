#include "open_team/navigation_model.h"

#include "actions/alert_models.h"
#include "model/versioned_item.h"

namespace vantrel {

namespace {

template<typename Item>
std::shared_ptr<Item> withID(const QList<std::shared_ptr<Item>>& items, const IdFor<VersionBundle>& id)
{
    for (const auto& item : items) {
        if (item->id() == id)
            return item;
    }
    return nullptr;
}

// Absent values are equal; present ones compare by the items' own equality.
template<typename Item>
bool sameItem(const std::shared_ptr<Item>& a, const std::shared_ptr<Item>& b)
{
    if (!a || !b)
        return !a && !b;
    return a == b || *a == *b;
}

template<typename Item>
bool isNewSelection(const std::shared_ptr<Item>& selected, const std::shared_ptr<Item>& old)
{
    return selected && (!old || old->id() != selected->id());
}

// A new selection, or another object of the selected container that has not loaded its nested
// items yet: nothing else would load them, and its list would wait for them for ever.
template<typename Container>
bool needsReload(const std::shared_ptr<Container>& selected, const std::shared_ptr<Container>& old)
{
    return isNewSelection(selected, old) || (selected && selected != old && selected->isLoadingNestedItems());
}

QCoro::Task<> reloadCollection(std::shared_ptr<Collection> collection)
{
    collection->updateState();
    co_await collection->loadNestedItems();
}

QCoro::Task<> reloadDocument(std::shared_ptr<Document> document)
{
    co_await document->updateState();
    if (document->documentType().allowsNesting())
        co_await document->loadNestedEvents();
}

QCoro::Task<> reloadEvent(std::shared_ptr<Event> event)
{
    event->updateNameAndDate();
    event->updateLockState();
    co_await event->updateApplication();
}

} // namespace

NavigationModel::NavigationModel(QString urlScheme, AlertModel* alert, AllCollections allCollections,
                                 std::shared_ptr<KeyValueStorage> storage, QObject* parent)
    : ObservableObject(parent),
      m_urlScheme(std::move(urlScheme)),
      m_alert(alert),
      m_allCollections(std::move(allCollections)),
      m_itemSelection(std::nullopt, itemSelectionKey, std::move(storage))
{
}

NavigationModel::~NavigationModel() = default;

void NavigationModel::reportReloadFailures(TaskOperation operation)
{
    // Whatever failed, the user is told that the views could not be brought up to date.
    QPointer<AlertModel> alert = m_alert;
    startTask(std::nullopt, std::move(operation), handleError([alert](const Error&) {
                  if (alert)
                      alert->show(VersionedItemError());
              }));
}

void NavigationModel::setSelectedCollection(std::shared_ptr<Collection> collection)
{
    const auto old = std::exchange(m_selectedCollection, std::move(collection));
    Q_EMIT selectedCollectionChanged();
    setSelectedDocument(m_selectedCollection ? m_selectedCollection->selectedItem() : nullptr);
    if (needsReload(m_selectedCollection, old)) {
        auto selected = m_selectedCollection;
        reportReloadFailures([selected] { return reloadCollection(selected); });
    }
}

void NavigationModel::setSelectedDocument(std::shared_ptr<Document> document)
{
    const auto old = std::exchange(m_selectedDocument, std::move(document));
    Q_EMIT selectedDocumentChanged();
    if (m_selectedCollection)
        m_selectedCollection->setSelectedItem(m_selectedDocument);
    setSelectedEvent(m_selectedDocument ? m_selectedDocument->selectedItem() : nullptr);
    if (needsReload(m_selectedDocument, old)) {
        auto selected = m_selectedDocument;
        reportReloadFailures([selected] { return reloadDocument(selected); });
    }
}

void NavigationModel::setSelectedEvent(std::shared_ptr<Event> event)
{
    const auto old = m_selectedEvent();
    m_selectedEvent = std::move(event);
    const auto& selected = m_selectedEvent();
    if (m_selectedDocument)
        m_selectedDocument->setSelectedItem(selected);
    if (isNewSelection(selected, old)) {
        auto reloaded = selected;
        reportReloadFailures([reloaded] { return reloadEvent(reloaded); });
    }
    saveItemSelection();
    updateFocus();
}

std::shared_ptr<VersionedItem> NavigationModel::focusedItem() const
{
    switch (focus()) {
    case ContentViewFocus::trash:
    case ContentViewFocus::home:
        return nullptr;
    case ContentViewFocus::collectionList:
        return m_selectedCollection;
    case ContentViewFocus::documentList:
    case ContentViewFocus::checkinView:
        return m_selectedDocument;
    case ContentViewFocus::eventList:
        return m_selectedEvent();
    }
    return nullptr;
}

void NavigationModel::updateFocus()
{
    if (m_selectedEvent())
        m_focus = ContentViewFocus::eventList;
    else if (m_selectedDocument)
        m_focus = ContentViewFocus::documentList;
    else if (m_selectedCollection)
        m_focus = ContentViewFocus::collectionList;
    else
        m_focus = ContentViewFocus::home;
}

void NavigationModel::goBack()
{
    switch (focus()) {
    case ContentViewFocus::trash:
        updateFocus();
        break;
    case ContentViewFocus::home:
    case ContentViewFocus::collectionList:
        setSelectedCollection(nullptr);
        break;
    case ContentViewFocus::documentList:
    case ContentViewFocus::checkinView:
        setSelectedDocument(nullptr);
        break;
    case ContentViewFocus::eventList:
        setSelectedEvent(nullptr);
        break;
    }
}

void NavigationModel::goForward()
{
    switch (focus()) {
    case ContentViewFocus::trash:
        updateFocus();
        break;
    case ContentViewFocus::home: {
        const auto collections = m_allCollections ? m_allCollections() : QList<std::shared_ptr<Collection>>();
        setSelectedCollection(collections.isEmpty() ? nullptr : collections.first());
        break;
    }
    case ContentViewFocus::collectionList:
        if (m_selectedCollection) {
            const auto documents = m_selectedCollection->nestedItems();
            setSelectedDocument(documents.isEmpty() ? nullptr : documents.first());
        }
        break;
    case ContentViewFocus::documentList:
    case ContentViewFocus::checkinView:
        if (m_selectedDocument) {
            const auto events = m_selectedDocument->nestedItems();
            if (!events.isEmpty())
                setSelectedEvent(events.first());
        }
        break;
    case ContentViewFocus::eventList:
        break;
    }
}

void NavigationModel::deselect(const std::shared_ptr<Collection>& collection, const std::shared_ptr<Document>& document,
                               const std::shared_ptr<Event>& event)
{
    if (sameItem(collection, m_selectedCollection))
        setSelectedCollection(nullptr);
    else if (sameItem(document, m_selectedDocument))
        setSelectedDocument(nullptr);
    else if (sameItem(event, m_selectedEvent()))
        setSelectedEvent(nullptr);
    else if (!collection && !document && !event)
        setSelectedCollection(nullptr);
    updateFocus();
}

void NavigationModel::restoreSelection(std::optional<ItemSelection> selection, std::optional<ContentViewFocus> focus)
{
    QPointer<NavigationModel> self(this);
    QPointer<AlertModel> alert = m_alert;
    startTask(
        std::nullopt, [self, selection, focus] { return restore(self, selection, focus); },
        handleError([alert](const Error& error) {
            if (alert)
                alert->show(error);
        }));
}

QCoro::Task<> NavigationModel::restore(QPointer<NavigationModel> self, std::optional<ItemSelection> selection,
                                       std::optional<ContentViewFocus> focus)
{
    if (!self)
        co_return;
    if (!selection) {
        self->setSelectedCollection(nullptr);
    } else {
        const auto collection = co_await resolveSelection(self, *selection);
        if (!self)
            co_return;
        self->setSelectedCollection(collection);
    }
    if (focus)
        self->setFocus(*focus);
}

QCoro::Task<std::shared_ptr<Collection>> NavigationModel::resolveSelection(QPointer<NavigationModel> self,
                                                                           ItemSelection selection)
{
    const auto collections =
        self && self->m_allCollections ? self->m_allCollections() : QList<std::shared_ptr<Collection>>();
    const auto collection = withID(collections, selection.collection);
    if (!collection)
        co_return std::shared_ptr<Collection>();
    if (!selection.document) {
        collection->setSelectedItem(nullptr);
        co_return collection;
    }
    if (!withID(collection->nestedItems(), *selection.document))
        co_await collection->loadNestedItems();
    const auto document = withID(collection->nestedItems(), *selection.document);
    collection->setSelectedItem(document);
    if (!document)
        co_return collection;
    if (!selection.event) {
        document->setSelectedItem(nullptr);
        co_return collection;
    }
    if (!withID(document->nestedItems(), *selection.event))
        co_await document->loadNestedEvents();
    document->setSelectedItem(withID(document->nestedItems(), *selection.event));
    co_return collection;
}

void NavigationModel::restoreStoredSelection()
{
    restoreSelection(m_itemSelection.value(), std::nullopt);
}

ItemSelection NavigationModel::currentItemSelection() const
{
    ItemSelection selection;
    if (m_selectedCollection)
        selection.collection = m_selectedCollection->id();
    if (m_selectedDocument)
        selection.document = m_selectedDocument->id();
    if (const auto& event = m_selectedEvent())
        selection.event = event->id();
    return selection;
}

void NavigationModel::saveItemSelection()
{
    m_itemSelection.setValue(m_selectedCollection ? std::optional(currentItemSelection()) : std::nullopt);
}

std::optional<QUrl> NavigationModel::url(const Collection& collection) const
{
    QUrl url;
    url.setScheme(m_urlScheme);
    url.setHost(QStringLiteral("select"));
    url.setPath(QLatin1Char('/') + collection.id().toString());
    if (!url.isValid() || url.scheme().isEmpty())
        return std::nullopt;
    return url;
}

std::optional<QUrl> NavigationModel::url(const Event& event) const
{
    if (!m_selectedDocument || !m_selectedCollection)
        return std::nullopt;
    auto link = url(*m_selectedCollection);
    if (!link)
        return std::nullopt;
    link->setPath(link->path() + QLatin1Char('/') + m_selectedDocument->id().toString() + QLatin1Char('/')
                  + event.id().toString());
    return link;
}

} // namespace vantrel
