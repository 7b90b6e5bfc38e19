#include "model/event.h"

namespace vantrel {

Event::Event(std::shared_ptr<VersioningService> service, std::optional<IdFor<VersionBundle>> containerID)
    : m_containerID(std::move(containerID)),
      m_versioningService(std::move(service))
{
    m_name = m_versioningService->name();
    m_modificationDate = m_versioningService->bundleInfo().modificationDate;
    m_initiatorID = m_containerID;
    m_documentType = m_versioningService->documentType();
    m_icon = m_documentType.icon(m_versioningService->versionBundleURL());
    m_visibleActiveContainers = m_versioningService->visibleActiveContainers();
    updateLockState();
    m_application = DocumentApplication::empty(m_documentType);
}

Event::~Event() = default;

std::shared_ptr<Event> Event::createListed(std::shared_ptr<VersioningService> service,
                                           std::optional<IdFor<VersionBundle>> containerID)
{
    return adoptItem(new Event(std::move(service), std::move(containerID)));
}

void Event::startFollowing()
{
    if (!std::exchange(m_following, true))
        subscribe(std::dynamic_pointer_cast<Event>(shared_from_this()));
}

std::shared_ptr<Event> Event::create(std::shared_ptr<VersioningService> service,
                                     std::optional<IdFor<VersionBundle>> containerID)
{
    auto event = createListed(std::move(service), std::move(containerID));
    event->startFollowing();
    const std::weak_ptr<Event> weak = event;
    startItemRefresh([weak] { return refreshAfterChange(weak); });
    return event;
}

void Event::subscribe(const std::shared_ptr<Event>& self)
{
    const std::weak_ptr<Event> weak = self;
    m_cancelOnRemoteDatabaseChange =
        m_versioningService->remoteDatabaseChanges().sink([weak](const RemoteDatabaseChange&) {
            startItemRefresh([weak] { return refreshAfterChange(weak); });
            if (const auto event = weak.lock())
                event->m_versioningService->activityStore().update();
        });
    m_cancelOnActivitiesChange = sinkTimelineChanges(
        *m_versioningService, [weak] { startItemRefresh([weak] { return refreshAfterChange(weak); }); });
}

QCoro::Task<> Event::refreshAfterChange(std::weak_ptr<Event> weak)
{
    const auto event = weak.lock();
    if (!event)
        co_return;
    event->readState();
    co_await event->updateApplication();
}

void Event::readState()
{
    updateNameAndDate();
    updateLockState();
}

void Event::readLoadedState()
{
    readState();
    m_visibleActiveContainers = m_versioningService->visibleActiveContainers();
}

void Event::updateNameAndDate()
{
    m_name = m_versioningService->name();
    m_modificationDate = m_versioningService->bundleInfo().modificationDate;
}

void Event::updateLockState()
{
    m_isLocked = m_versioningService->isLocked();
    m_allowsChanges = m_versioningService->allowsChanges();
    const LockHolder holder = m_versioningService->lockHolder();
    m_lockedByUser = holder.userName;
    m_lockedByHostName = holder.hostName;
    // The lock counts as ours when it belongs to our check-out of the library, never to the
    // event itself.
    if (!m_initiatorID)
        m_lockedByCurrentInitiator = false;
    else
        m_lockedByCurrentInitiator = m_versioningService->isLockedByCurrentInitiator(*m_initiatorID);
}

QCoro::Task<> Event::updateApplication()
{
    const auto self = std::dynamic_pointer_cast<Event>(shared_from_this());
    const auto service = m_versioningService;
    const auto application = co_await service->documentApplication(&s3Factory);
    self->m_application = application;
}

QCoro::Task<> Event::refresh()
{
    const auto self = std::dynamic_pointer_cast<Event>(shared_from_this());
    self->readState();
    co_await self->updateApplication();
}

bool Event::isSameSummary(const Event& a, const Event& b)
{
    return a.id() == b.id() && a.name() == b.name() && a.documentType() == b.documentType()
           && a.modificationDate() == b.modificationDate();
}

bool Event::isSameLockState(const Event& a, const Event& b)
{
    return a.m_initiatorID == b.m_initiatorID && a.isLocked() == b.isLocked() && a.allowsChanges() == b.allowsChanges()
           && a.lockedByUser() == b.lockedByUser() && a.lockedByHostName() == b.lockedByHostName()
           && a.lockedByCurrentInitiator() == b.lockedByCurrentInitiator();
}

bool operator==(const Event& a, const Event& b)
{
    return Event::isSameSummary(a, b) && a.m_containerID == b.m_containerID && Event::isSameLockState(a, b);
}

} // namespace vantrel
