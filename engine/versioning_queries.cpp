// The reads of a versioning service, from memory, and what it publishes.

#include "engine/versioning_service.h"

#include "desktop/application_locator.h"
#include "engine/engine_errors.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "foundation/worker.h"

namespace vantrel {

QString VersioningService::versionBundleURL() const
{
    return m_team->versionBundles().bundleUrl(m_id);
}

QString VersioningService::name() const
{
    return state()->name;
}

BundleInfo VersioningService::bundleInfo() const
{
    const auto current = state();
    return BundleInfo{current->created, current->modified};
}

QList<VersionBundle::Info> VersioningService::visibleActiveContainers() const
{
    const auto snapshot = m_team->snapshot();
    const auto current = snapshot->find(m_id);
    if (!current)
        throw VersioningError(VersioningError::Case::itemNotFound, m_id.toString());
    return m_team->versionBundles().summary(*snapshot, *current).activeContainersExcludingTrash;
}

bool VersioningService::isLocked() const
{
    return m_team->locks().holder(m_id).has_value();
}

bool VersioningService::allowsChanges() const
{
    const auto holder = m_team->locks().holder(m_id);
    return !holder || holder->clientId == m_team->clientId();
}

LockHolder VersioningService::lockHolder() const
{
    const auto holder = m_team->locks().holder(m_id);
    if (!holder)
        return {};
    return LockHolder{displayName(holder->fullName, holder->userName), holder->hostName};
}

bool VersioningService::isLockedByCurrentInitiator(const IdFor<VersionBundle>& initiator) const
{
    return m_team->locks().isMine(m_id, initiator);
}

bool VersioningService::isCheckedOut() const
{
    return m_team->checkouts().find(m_id).has_value() && m_team->locks().isMine(m_id, m_id);
}

bool VersioningService::canCheckout() const
{
    if (m_type != VersioningServiceType::document && m_type != VersioningServiceType::library)
        return false;
    const auto current = m_team->snapshot()->find(m_id);
    return current && !current->trashed && current->currentVersion() && allowsChanges();
}

bool VersioningService::canCreateFCPEvent() const
{
    if (m_type != VersioningServiceType::library)
        return false;
    const auto current = m_team->snapshot()->find(m_id);
    return current && !current->trashed && allowsChanges();
}

std::optional<VersioningServiceType> VersioningService::nestedType() const
{
    switch (m_type) {
    case VersioningServiceType::collection:
        return VersioningServiceType::document;
    case VersioningServiceType::library:
        return VersioningServiceType::event;
    default:
        return std::nullopt;
    }
}

QList<IdFor<Versions>> VersioningService::versionIDs() const
{
    QList<IdFor<Versions>> ids;
    for (const auto& version : state()->versions)
        ids.append(version.id);
    return ids;
}

std::optional<IdFor<Versions>> VersioningService::currentVersionID() const
{
    const auto current = state();
    if (const auto* version = current->currentVersion())
        return version->id;
    return std::nullopt;
}

DocumentApplication VersioningService::documentApplicationForVersion(const IdFor<Versions>& versionID) const
{
    const auto current = state();
    const VersionInfo* version = current->version(versionID);
    if (!version)
        throw VersioningError(VersioningError::Case::versionNotFound, current->name);
    DocumentApplication application = DocumentApplication::fromJson(version->application);
    application.documentType = current->type;
    return application;
}

DocumentApplication VersioningService::currentDocumentApplication() const
{
    const auto current = state();
    DocumentApplication application = DocumentApplication::empty(current->type);
    if (const VersionInfo* version = current->currentVersion()) {
        try {
            application = DocumentApplication::fromJson(version->application);
            application.documentType = current->type;
        } catch (const Error&) {
            // An application record we cannot read is no reason to refuse the item.
        }
    }
    application.installed = ApplicationLocator::desktop().find(current->type.mimeTypes());
    if (!application.name && application.installed)
        application.name = application.installed->name;
    return application;
}

QCoro::Task<DocumentApplication> VersioningService::documentApplication(S3Factory)
{
    auto self = shared_from_this();
    auto work = [self] { return self->currentDocumentApplication(); };
    co_return co_await onWorker(std::move(work));
}

QCoro::Task<std::vector<std::shared_ptr<VersioningService>>>
VersioningService::latestNestedVersioningServices(S3Factory)
{
    auto self = shared_from_this();
    auto work = [self] {
        std::vector<std::shared_ptr<VersioningService>> nested;
        if (!self->m_documentType.allowsNesting())
            return nested;
        const auto snapshot = self->m_team->snapshot();
        const auto current = snapshot->find(self->m_id);
        if (!current)
            throw VersioningError(VersioningError::Case::itemNotFound, self->m_id.toString());
        for (const auto& childId : current->children) {
            if (const auto child = snapshot->find(childId))
                nested.push_back(std::shared_ptr<VersioningService>(
                    new VersioningService(serviceType(child->type), childId, child->type, self->m_team)));
        }
        return nested;
    };
    co_return co_await onWorker(std::move(work));
}

AnyPublisher<RemoteDatabaseChange> VersioningService::remoteDatabaseChanges() const
{
    const auto id = m_id;
    return m_team->changes()
        .filter([id](const TeamBundleChange& change) {
            return change.bundles.contains(id) || change.forceUnlockedBy.contains(id);
        })
        .map([id](const TeamBundleChange& change) {
            const auto breaker = change.forceUnlockedBy.constFind(id);
            return breaker == change.forceUnlockedBy.cend() ? RemoteDatabaseChange{}
                                                            : RemoteDatabaseChange{true, *breaker};
        });
}

ActivityStore& VersioningService::activityStore() const
{
    // Asked for from the interface thread and from the threads that deliver changes.
    std::call_once(m_activityStoreOnce, [this] { m_activityStore = std::make_shared<ActivityStore>(m_team, m_id); });
    return *m_activityStore;
}

AnyPublisher<QList<ActivityInfo>> VersioningService::activitiesPublisher() const
{
    return activityStore().publisher();
}

} // namespace vantrel
