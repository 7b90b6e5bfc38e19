#include "model/collection.h"

#include "engine/team_bundle.h"
#include "model/container_operations.h"

namespace vantrel {

Collection::Collection(std::shared_ptr<VersioningService> service, std::optional<QString> name)
    : m_versioningService(std::move(service))
{
    m_name = name ? *name : m_versioningService->name();
    m_modificationDate = m_versioningService->bundleInfo().modificationDate;
    m_documentType = m_versioningService->documentType();
    m_icon = m_documentType.icon(m_versioningService->versionBundleURL());
}

Collection::~Collection() = default;

std::shared_ptr<Collection> Collection::make(std::shared_ptr<VersioningService> service, std::optional<QString> name)
{
    auto collection = adoptItem(new Collection(std::move(service), std::move(name)));
    collection->subscribe(collection);
    return collection;
}

QCoro::Task<std::shared_ptr<Collection>> Collection::open(IdFor<VersionBundle> id,
                                                          std::shared_ptr<TeamBundle> teamBundle)
{
    auto service =
        co_await VersioningService::open(VersioningServiceType::collection, id, std::nullopt, std::nullopt, teamBundle,
                                         teamBundle->sharedFileManager(), teamBundle->sharedWorkspace(), &s3Factory);
    co_return make(std::move(service), std::nullopt);
}

QCoro::Task<std::shared_ptr<Collection>> Collection::create(QString collectionName,
                                                            std::shared_ptr<TeamBundle> teamBundle)
{
    auto service = co_await VersioningService::createCollection(
        collectionName, teamBundle, teamBundle->sharedFileManager(), teamBundle->sharedWorkspace());
    co_return make(std::move(service), collectionName);
}

std::shared_ptr<Collection> Collection::self()
{
    return std::dynamic_pointer_cast<Collection>(shared_from_this());
}

void Collection::subscribe(const std::shared_ptr<Collection>& self)
{
    const std::weak_ptr<Collection> weak = self;
    m_cancelOnRemoteDatabaseChange =
        m_versioningService->remoteDatabaseChanges().sink([weak](const RemoteDatabaseChange&) {
            const auto collection = weak.lock();
            if (!collection)
                return;
            startItemRefresh([weak] { return handleRemoteChange(weak); });
            collection->m_versioningService->activityStore().update();
        });
    m_cancelOnActivitiesChange = m_versioningService->activitiesPublisher().sink([weak](const QList<ActivityInfo>&) {
        if (!weak.expired())
            startItemRefresh([weak] { return handleActivitiesChange(weak); });
    });
}

void Collection::refreshSelectedLockState()
{
    if (const auto selected = selectedItem()) {
        try {
            selected->updateLockState();
        } catch (...) {
            // The next change tries again; the documents are still worth reloading.
        }
    }
}

QCoro::Task<> Collection::handleRemoteChange(std::weak_ptr<Collection> weak)
{
    const auto collection = weak.lock();
    if (!collection)
        co_return;
    collection->updateState();
    collection->refreshSelectedLockState();
    co_await collection->loadNestedItems();
}

QCoro::Task<> Collection::handleActivitiesChange(std::weak_ptr<Collection> weak)
{
    const auto collection = weak.lock();
    if (!collection)
        co_return;
    collection->updateState();
    collection->refreshSelectedLockState();
}

void Collection::updateState()
{
    m_name = m_versioningService->name();
    m_modificationDate = m_versioningService->bundleInfo().modificationDate;
}

QCoro::Task<> Collection::refresh()
{
    const auto keep = self();
    keep->updateState();
    co_await keep->loadNestedItems();
}

QCoro::Task<> Collection::loadNestedItems()
{
    co_await container_detail::loadNestedItems(self());
}

QCoro::Task<> Collection::addExistingNestedItem(IdFor<VersionBundle> id)
{
    co_await container_detail::addExistingNestedItem(self(), id);
}

QCoro::Task<> Collection::createNestedItem(QString source)
{
    co_await container_detail::createNestedItem(self(), std::move(source));
}

bool operator==(const Collection& a, const Collection& b)
{
    return a.id() == b.id() && a.name() == b.name() && a.documentType() == b.documentType()
           && a.modificationDate() == b.modificationDate() && equalItems(a.nestedItems(), b.nestedItems());
}

} // namespace vantrel
