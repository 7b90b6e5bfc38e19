#include "model/collections.h"

#include "engine/async_sequence.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "model/container_operations.h"
#include "model/name_order.h"

#include <QPointer>

namespace vantrel {

Collections::Collections(std::shared_ptr<TeamBundle> teamBundle, QObject* parent)
    : ObservableObject(parent),
      m_teamBundle(std::move(teamBundle))
{
}

Collections::~Collections() = default;

void Collections::setAll(QList<std::shared_ptr<Collection>> collections, bool animated)
{
    m_lastChangeAnimated = animated;
    m_all = std::move(collections);
}

QHash<IdFor<VersionBundle>, std::shared_ptr<Collection>> Collections::listedByID() const
{
    QHash<IdFor<VersionBundle>, std::shared_ptr<Collection>> listed;
    for (const auto& collection : m_all())
        listed.insert(collection->id(), collection);
    return listed;
}

QCoro::Task<> Collections::reload()
{
    QPointer<Collections> self(this);
    const quint64 reload = ++m_reloadsStarted;
    const quint64 edits = m_edits;
    const auto team = m_teamBundle;
    const auto index = team->versionBundles().liveIndex();
    // Only collections not listed yet are opened: the others keep their objects, and with them
    // their documents, the selection and the lists that show them.
    std::vector<VersionBundle::Summary> added;
    const auto before = listedByID();
    for (const auto& summary : index.collections) {
        if (!before.contains(summary.id()))
            added.push_back(summary);
    }
    auto open = [team](const VersionBundle::Summary& summary) { return Collection::open(summary.id(), team); };
    const auto opened = co_await asyncMap(added, open);
    // A reload that started later and already ended has listed a newer state of the bundle; a
    // collection created or deleted meanwhile is not in this index as it is now. (Their own
    // change of the bundle reloads again.)
    if (!self || reload < self->m_reloadApplied || edits != self->m_edits)
        co_return;
    self->m_reloadApplied = reload;
    const auto listed = self->listedByID();
    QHash<IdFor<VersionBundle>, std::shared_ptr<Collection>> fresh;
    for (const auto& collection : opened)
        fresh.insert(collection->id(), collection);
    QList<std::shared_ptr<Collection>> collections;
    collections.reserve(static_cast<qsizetype>(index.collections.size()));
    for (const auto& summary : index.collections) {
        // Listed meanwhile (by another reload or by create()): that object stays.
        if (auto kept = listed.value(summary.id())) {
            kept->updateState();
            collections.append(std::move(kept));
        } else if (auto made = fresh.value(summary.id())) {
            collections.append(std::move(made));
        }
    }
    self->setAll(sortedByName(uniquedByID(collections)), true);
}

QCoro::Task<> Collections::update(IdFor<VersionBundle> collectionID)
{
    QPointer<Collections> self(this);
    co_await reload();
    if (!self)
        co_return;
    std::shared_ptr<Collection> found;
    for (const auto& collection : self->all()) {
        if (collection->id() == collectionID) {
            found = collection;
            break;
        }
    }
    if (!found)
        co_return;
    co_await found->loadNestedItems();
    auto loadEvents = [](const std::shared_ptr<Document>& document) { return document->loadNestedItems(); };
    co_await asyncForEach(found->nestedItems(), loadEvents);
}

QCoro::Task<> Collections::create(QString name)
{
    QPointer<Collections> self(this);
    const auto team = m_teamBundle;
    auto collection = co_await Collection::create(std::move(name), team);
    if (!self)
        co_return;
    // A reload for the bundle's change may have listed the new collection already: that object
    // stays, as it may be selected by now.
    if (self->listedByID().contains(collection->id()))
        co_return;
    auto collections = self->all();
    collections.append(std::move(collection));
    ++self->m_edits;
    self->setAll(sortedByName(std::move(collections)));
}

QCoro::Task<> Collections::deleteCollection(std::shared_ptr<Collection> collection)
{
    QPointer<Collections> self(this);
    const auto service = collection->versioningService();
    co_await service->removeOrDelete(nullptr, &s3Factory);
    collection->setNestedItems({});
    if (!self)
        co_return;
    auto collections = self->all();
    for (qsizetype i = 0; i < collections.size(); ++i) {
        if (collections[i] == collection || *collections[i] == *collection) {
            collections.removeAt(i);
            ++self->m_edits;
            self->setAll(std::move(collections));
            break;
        }
    }
}

} // namespace vantrel
