#include "engine/share_outage.h"

#include "engine/storage/storage_error.h"
#include "engine/team_bundle.h"

#include <QCoreApplication>

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

void rethrowUnpublished(TeamBundleError::Attempt attempt)
{
    try {
        throw;
    } catch (const StorageError& error) {
        const auto tr = [](const char* text) { return QCoreApplication::translate("Engine", text); };
        const bool full = error.mayBeFull();
        const QString told = error.localizedDescription();
        const std::optional<QString> recovery =
            full ? std::optional(tr("Make room on the share, then try again.")) : error.recoverySuggestion();
        switch (attempt) {
        case TeamBundleError::Attempt::import:
            throw error.reworded(
                full ? tr("Nothing was imported. %1 The share may be full: make room on it, then import again.")
                           .arg(told)
                     : tr("Nothing was imported. %1").arg(told),
                recovery);
        case TeamBundleError::Attempt::checkIn:
            throw error.reworded(
                full ? tr("Nothing was checked in. %1 The share may be full: make room on it, then "
                          "check in again. Your working copy and your message are kept.")
                           .arg(told)
                     : tr("Nothing was checked in. %1 Your working copy and your message are kept.").arg(told),
                recovery);
        default:
            throw;
        }
    }
}

} // namespace vantrel
