#include "model/versioned_item.h"

#include "foundation/task_starter.h"
#include "model/name_order.h"
#include "model/strings.h"

#include <QStringList>

namespace vantrel {

QCoro::Task<std::shared_ptr<S3Service>> s3Factory(S3Location)
{
    co_return std::make_shared<S3Service>();
}

VersionedItemError::VersionedItemError(Case which) : Error(Strings::viewUpdateError()), m_case(which) {}

QString VersionedItemError::typeName() const
{
    return QStringLiteral("VersionedItemError.updateViewsFailed");
}

VersionedItem::~VersionedItem() = default;

QCoro::Task<> VersionedItem::revert(IdFor<Versions> versionID)
{
    const auto self = shared_from_this();
    const auto service = versioningService();
    co_await service->revertVersionBundle(versionID, &s3Factory);
    co_await self->refresh();
}

QCoro::Task<> VersionedItem::rename(QString name)
{
    const auto service = versioningService();
    co_await service->rename(std::move(name));
}

QCoro::Task<QString> VersionedItem::exportVersion(std::optional<IdFor<Versions>> version, QString destination)
{
    const auto service = versioningService();
    co_return co_await service->exportVersion(std::move(version), std::move(destination), &s3Factory);
}

AnyPublisher<QList<ActivityInfo>> VersionedItem::activitiesPublisher() const
{
    return versioningService()->activitiesPublisher();
}

bool NestableItem::isUsedInOtherContainers() const
{
    const auto& container = containerID();
    const auto containers = visibleActiveContainers();
    for (const auto& info : containers) {
        if (!container || info.id != *container)
            return true;
    }
    return false;
}

QString NestableItem::usedInContainerNames() const
{
    QStringList names;
    for (const auto& info : visibleActiveContainers())
        names.append(info.name);
    return sortedByName(names, [](const QString& name) { return name; }).join(QStringLiteral(", "));
}

Lockable::~Lockable() = default;

AppVersionAware::~AppVersionAware() = default;

std::optional<QString> AppVersionAware::differingAppVersion(const IdFor<Versions>& versionID) const
{
    std::optional<QString> versionAppVersion;
    try {
        versionAppVersion = versioningService()->documentApplicationForVersion(versionID).writerVersion;
    } catch (...) {
        // A version whose record cannot be read has no known application version.
    }
    const auto installed = application().installed;
    if (!installed)
        return versionAppVersion;
    if (!versionAppVersion)
        return std::nullopt;
    if (!installed->version)
        return versionAppVersion;
    if (*installed->version == *versionAppVersion)
        return std::nullopt;
    return versionAppVersion;
}

void startItemRefresh(std::function<QCoro::Task<>()> operation)
{
    startTask(std::nullopt, std::move(operation), handleError([](const Error&) {}));
}

Cancellable sinkTimelineChanges(const VersioningService& service, std::function<void()> changed)
{
    return service.activityStore().changes().sink([changed](const QList<ActivityInfo>&) { changed(); });
}

} // namespace vantrel
