#include "support/service_steps.h"

#include "support/sync_wait.h"

namespace vantrel::testing {

Service importInto(const std::shared_ptr<TeamBundle>& team, const QString& source)
{
    return syncWait(VersioningService::import(VersioningServiceType::document, source, std::nullopt, std::nullopt,
                                              std::nullopt, QStringLiteral("Initial Commit"),
                                              DocumentApplication::none(), team, nullptr, nullptr));
}

Service reopenAs(const std::shared_ptr<TeamBundle>& team, const Service& service)
{
    team->poll();
    return syncWait(VersioningService::open(service->type(), service->id(), std::nullopt, std::nullopt, team, nullptr,
                                            nullptr, defaultS3Factory()));
}

QString checkOutItem(const Service& service, const QList<IdFor<VersionBundle>>& events, LockTakeover takeover)
{
    return syncWait(service->checkOut(events, {.takeover = takeover, .autoSave = false}, defaultS3Factory()));
}

} // namespace vantrel::testing
