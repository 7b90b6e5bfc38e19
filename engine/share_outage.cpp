#include "engine/share_outage.h"

#include "engine/storage/storage_error.h"
#include "engine/team_bundle.h"

namespace vantrel {

void throwIfShareGone(TeamBundle& team, TeamBundleError::Attempt attempt, const Error& error,
                      const std::function<bool()>& landed)
{
    bool gone = false;
    if (const auto* unreachable = dynamic_cast<const TeamBundleError*>(&error))
        gone = unreachable->kind() == TeamBundleError::Case::unreachable;
    else if (const auto* storage = dynamic_cast<const StorageError*>(&error))
        gone = (storage->kind() == StorageError::Kind::io || storage->kind() == StorageError::Kind::notFound)
               && !team.checkReachable();
    if (!gone || (landed && landed()))
        return;
    team.log().event(QStringLiteral("The share went away: ") + escapedForLog(error.debugDescription()),
                     QStringLiteral("outage"), Logger::Level::warning);
    throw TeamBundleError::unreachableDuring(attempt, team.rootPath());
}

} // namespace vantrel
