#include "model/document.h"

#include "model/container_operations.h"
#include "model/own_lock_operations.h"
#include "model/strings.h"
#include "model/text_format.h"

namespace vantrel {

Document::Document(std::shared_ptr<VersioningService> service, std::optional<IdFor<VersionBundle>> containerID)
    : m_containerID(std::move(containerID)),
      m_versioningService(std::move(service))
{
    m_name = m_versioningService->name();
    m_modificationDate = m_versioningService->bundleInfo().modificationDate;
    m_documentType = m_versioningService->documentType();
    m_icon = m_documentType.icon(m_versioningService->versionBundleURL());
    m_visibleActiveContainers = m_versioningService->visibleActiveContainers();
    updateLockState();
    readIsCheckedOut();
    m_application = DocumentApplication::empty(m_documentType);
}

Document::~Document() = default;

std::shared_ptr<Document> Document::createListed(std::shared_ptr<VersioningService> service,
                                                 std::optional<IdFor<VersionBundle>> containerID)
{
    return adoptItem(new Document(std::move(service), std::move(containerID)));
}

std::shared_ptr<Document> Document::create(std::shared_ptr<VersioningService> service,
                                           std::optional<IdFor<VersionBundle>> containerID)
{
    auto document = createListed(std::move(service), std::move(containerID));
    document->startFollowing();
    const std::weak_ptr<Document> weak = document;
    startItemRefresh([weak] { return handleActivitiesChange(weak); });
    return document;
}

std::shared_ptr<Document> Document::self()
{
    return std::dynamic_pointer_cast<Document>(shared_from_this());
}

void Document::startFollowing()
{
    if (std::exchange(m_following, true))
        return;
    subscribe(self());
    followOwnLockOperations();
}

void Document::subscribe(const std::shared_ptr<Document>& self)
{
    const std::weak_ptr<Document> weak = self;
    m_cancelOnRemoteDatabaseChange =
        m_versioningService->remoteDatabaseChanges().sink([weak](const RemoteDatabaseChange& change) {
            startItemRefresh([weak, change] { return handleRemoteChange(weak, change); });
        });
    m_cancelOnActivitiesChange = sinkTimelineChanges(
        *m_versioningService, [weak] { startItemRefresh([weak] { return handleActivitiesChange(weak); }); });
}

QCoro::Task<> Document::handleRemoteChange(std::weak_ptr<Document> weak, RemoteDatabaseChange change)
{
    const auto document = weak.lock();
    if (!document)
        co_return;
    // The refresh, or one an activity change made just before, notes a check-out taken away.
    co_await document->updateState();
    if (std::exchange(document->m_checkOutTaken, false)) {
        document->setInvalidCheckoutState(change.forceUnlocked ? InvalidCheckoutState::forceUnlocked(change.name)
                                                               : InvalidCheckoutState::missedCheckout());
    }
    co_await document->loadNestedEvents();
}

QCoro::Task<> Document::handleActivitiesChange(std::weak_ptr<Document> weak)
{
    if (const auto document = weak.lock())
        co_await document->updateState();
}

void Document::readIsCheckedOut()
{
    const auto settled = OwnLockOperations::shared().settledSerial(id());
    const bool checkedOut = m_versioningService->isCheckedOut();
    // A check-out this program ends itself (a check-in or a discard, through this object or
    // another one of the document) is nobody else's doing. So it was taken away only when it
    // was seen here after this program's last locking operation on the document, and none ran
    // until the engine said it was gone.
    if (m_isCheckedOut() && !checkedOut && settled && m_isCheckedOutReadAt == settled)
        m_checkOutTaken = true;
    m_isCheckedOutReadAt = settled;
    m_isCheckedOut = checkedOut;
    // Checked out here after all (its lock read as ours again): what was said of it being taken
    // away is no longer so.
    if (checkedOut && m_invalidCheckoutState())
        setInvalidCheckoutState(std::nullopt);
}

void Document::followOwnLockOperations()
{
    OwnLockOperations& own = OwnLockOperations::shared();
    connect(&own, &OwnLockOperations::ended, this, [this](const IdFor<VersionBundle>& bundle) {
        if (bundle != id())
            return;
        // Whatever was noted before is this program's own doing, or the user has acted on it.
        m_checkOutTaken = false;
        try {
            readIsCheckedOut();
        } catch (const std::exception&) {
            m_isCheckedOutReadAt.reset(); // read again at the next refresh
            return;
        }
        // A new check-out: whatever was explained about an earlier one is over.
        if (isCheckedOut())
            setInvalidCheckoutState(std::nullopt);
    });
    connect(&own, &OwnLockOperations::lostCheckoutAcknowledged, this, [this](const IdFor<VersionBundle>& bundle) {
        if (bundle == id())
            setInvalidCheckoutState(std::nullopt);
    });
}

void Document::acknowledgeInvalidCheckout()
{
    OwnLockOperations::shared().acknowledgeLostCheckout(id());
}

void Document::updateNameAndDate()
{
    m_name = m_versioningService->name();
    m_modificationDate = m_versioningService->bundleInfo().modificationDate;
}

void Document::updateLockState()
{
    m_isLocked = m_versioningService->isLocked();
    m_allowsChanges = m_versioningService->allowsChanges();
    const LockHolder holder = m_versioningService->lockHolder();
    m_lockedByUser = holder.userName;
    m_lockedByHostName = holder.hostName;
    m_lockedByCurrentInitiator = m_versioningService->isLockedByCurrentInitiator(m_versioningService->id());
}

void Document::readState()
{
    updateNameAndDate();
    updateLockState();
    readIsCheckedOut();
    m_visibleActiveContainers = m_versioningService->visibleActiveContainers();
}

QCoro::Task<> Document::updateState()
{
    const auto keep = self();
    readState();
    const auto service = m_versioningService;
    const auto application = co_await service->documentApplication(&s3Factory);
    keep->m_application = application;
}

QCoro::Task<> Document::refreshAfterCheckOut()
{
    const auto keep = self();
    co_await keep->updateState();
    const auto events = keep->nestedItems();
    for (const auto& event : events)
        event->updateLockState();
}

QCoro::Task<> Document::refreshAfterCancelCheckout()
{
    const auto keep = self();
    co_await keep->refreshAfterCheckOut();
}

QCoro::Task<> Document::refresh()
{
    const auto keep = self();
    co_await keep->updateState();
    co_await keep->loadNestedEvents();
}

QCoro::Task<> Document::loadNestedEvents()
{
    co_await container_detail::loadNestedItems(self());
}

QCoro::Task<> Document::loadNestedItems()
{
    co_await container_detail::loadNestedItems(self());
}

QCoro::Task<> Document::addExistingNestedItem(IdFor<VersionBundle> id)
{
    co_await container_detail::addExistingNestedItem(self(), id);
}

QCoro::Task<> Document::createNestedItem(QString source)
{
    co_await container_detail::createNestedItem(self(), std::move(source));
}

DocumentBusyError::DocumentBusyError(const QString& documentName)
    : Error(formatText(Strings::documentBusy(), {documentName}))
{
}

QString DocumentBusyError::typeName() const
{
    return QStringLiteral("DocumentBusyError");
}

void Document::beginInitiating()
{
    // Marked before the first suspension, so that a second request (a double click) arriving
    // while the first waits for the engine is refused instead of running twice.
    if (isInitiating())
        throw DocumentBusyError(name());
    setIsInitiating(true);
}

QCoro::Task<QString> Document::checkOut(WorkingCopyInUse inUse)
{
    co_return co_await takeLock(CheckOutOptions{}, inUse);
}

QCoro::Task<QString> Document::forceUnlock(WorkingCopyInUse inUse)
{
    co_return co_await takeLock(CheckOutOptions{.takeover = LockTakeover::forceUnlock}, inUse);
}

template<typename T>
QCoro::Task<T> Document::whileInitiating(std::shared_ptr<Document> document, std::function<QCoro::Task<T>()> work)
{
    document->beginInitiating();
    const IdFor<VersionBundle> id = document->id();
    OwnLockOperations::shared().begin(id);
    std::exception_ptr failure;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result{};
    try {
        if constexpr (std::is_void_v<T>)
            co_await work();
        else
            result = co_await work();
    } catch (...) {
        failure = std::current_exception();
    }
    OwnLockOperations::shared().end(id);
    document->setIsInitiating(false);
    if (failure)
        std::rethrow_exception(failure);
    if constexpr (!std::is_void_v<T>)
        co_return std::move(*result);
}

QCoro::Task<QString> Document::takeLock(CheckOutOptions options, WorkingCopyInUse inUse)
{
    const auto keep = self();
    std::function<QCoro::Task<QString>()> work = [keep, options, inUse]() -> QCoro::Task<QString> {
        co_await keep->loadNestedEvents();
        QList<IdFor<VersionBundle>> included;
        for (const auto& event : keep->nestedItems()) {
            if (options.takeover == LockTakeover::forceUnlock || !event->isLocked())
                included.append(event->id());
        }
        const auto service = keep->m_versioningService;
        const QString workingCopy = co_await service->checkOut(included, options, &s3Factory, inUse);
        co_await keep->refreshAfterCheckOut();
        co_return workingCopy;
    };
    co_return co_await whileInitiating(keep, std::move(work));
}

QCoro::Task<> Document::cancelCheckout(WorkingCopyInUse inUse)
{
    const auto keep = self();
    std::function<QCoro::Task<>()> work = [keep, inUse]() -> QCoro::Task<> {
        const auto service = keep->m_versioningService;
        co_await service->cancelCheckout(&s3Factory, inUse);
        keep->setCommitMessage(QString());
        co_await keep->refreshAfterCancelCheckout();
    };
    co_await whileInitiating(keep, std::move(work));
}

QCoro::Task<CheckInOutcome> Document::checkIn(WorkingCopyInUse inUse)
{
    const auto keep = self();
    std::function<QCoro::Task<CheckInOutcome>()> work = [keep, inUse]() -> QCoro::Task<CheckInOutcome> {
        const auto service = keep->m_versioningService;
        const CheckInOutcome outcome = co_await service->checkIn(keep->commitMessage(), &s3Factory, inUse);
        keep->setCommitMessage(QString());
        co_await keep->updateState();
        co_await keep->loadNestedEvents();
        co_return outcome;
    };
    co_return co_await whileInitiating(keep, std::move(work));
}

// The rule of Event's equality: the summary, the container and the lock state, plus the events.
// A document's check-out is its own initiator, so its id stands for the initiator an event compares.
bool operator==(const Document& a, const Document& b)
{
    return a.id() == b.id() && a.name() == b.name() && a.documentType() == b.documentType()
           && a.modificationDate() == b.modificationDate() && equalItems(a.nestedItems(), b.nestedItems())
           && a.containerID() == b.containerID() && a.isLocked() == b.isLocked()
           && a.allowsChanges() == b.allowsChanges() && a.lockedByUser() == b.lockedByUser()
           && a.lockedByHostName() == b.lockedByHostName()
           && a.lockedByCurrentInitiator() == b.lockedByCurrentInitiator();
}

} // namespace vantrel
