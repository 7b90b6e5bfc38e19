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

QCoro::Task<> Collections::reload()
{
    QPointer<Collections> self(this);
    const auto team = m_teamBundle;
    const auto index = team->versionBundles().liveIndex();
    auto open = [team](const VersionBundle::Summary& summary) { return Collection::open(summary.id(), team); };
    const auto opened = co_await asyncMap(index.collections, open);
    if (!self)
        co_return;
    QList<std::shared_ptr<Collection>> collections(opened.begin(), opened.end());
    self->setAll(sortedByName(std::move(collections)), true);
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
    // A reload for the bundle's change may have listed the new collection already.
    auto collections = self->all();
    const auto id = collection->id();
    collections.removeIf([&id](const std::shared_ptr<Collection>& listed) { return listed->id() == id; });
    collections.append(std::move(collection));
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
            self->setAll(std::move(collections));
            break;
        }
    }
}

} // namespace vantrel
