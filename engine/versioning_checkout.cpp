// Check-out of a document or library, and giving a check-out up (discarding its changes).

#include "engine/versioning_service.h"

#include "engine/bounded_change.h"
#include "engine/engine_errors.h"
#include "engine/file_names.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/change_watcher.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/manifest.h"
#include "engine/storage/statcache.h"
#include "engine/storage/tree_snapshot.h"
#include "engine/team_bundle.h"
#include "engine/versioning_support.h"

#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace vantrel {

using namespace versioning;

namespace {

// What an earlier check-out left in `folder` (after a crash, or a check-out that was taken over)
// goes to the attic before the folder is removed. When anything can't be kept, the folder stays
// exactly as it is and the check-out fails naming it.
void keepLeftBehind(TeamBundle& team, const IdFor<VersionBundle>& id, const QString& name, const QString& folder)
{
    try {
        keepWorkingFolderEntries(team, id, folder, QString(), QStringLiteral("left behind"));
    } catch (const Error& error) {
        team.log().event(QStringLiteral("An earlier working copy of %1 could not be kept: %2")
                             .arg(escapedForLog(name), escapedForLog(error.debugDescription())),
                         QStringLiteral("checkOut"), Logger::Level::error);
        throw VersioningError(VersioningError::Case::workNotKept, name, folder, error.localizedDescription());
    }
    posix::removeTreeQuietly(folder);
}

// Gives the locks of a check-out that failed back; a failure to do so is logged, never reported
// in place of what made the check-out fail, and the poll tries again.
void giveBack(TeamBundle& team, const QList<IdFor<VersionBundle>>& ids, const IdFor<VersionBundle>& initiator)
{
    team.giveUpLocks(initiator, ids);
}

// Writes the working copy of `current` and its `included` events into `folder` from the stored
// versions, records what was written in the stat cache, and saves the check-out. The path of the
// working copy.
QString writeWorkingCopy(TeamBundle& team, const IdFor<VersionBundle>& id, const BundleState& current,
                         const QList<EventToWrite>& included, const QString& folder, const CheckOutOptions& options)
{
    ensureDirectory(folder);
    const VersionInfo* version = current.currentVersion();
    const QString extension = creationFields(current).value(QStringLiteral("extension")).toString();
    const QString workingCopy = folder + QLatin1Char('/') + uniqueFileName(folder, current.name, extension);
    ContentStore& store = team.contents();
    Checkout checkout;
    checkout.bundle = id;
    checkout.workingCopy = workingCopy;
    checkout.baseVersion = version->id;
    checkout.date = QDateTime::currentDateTimeUtc();
    checkout.autoSave = options.autoSave;
    checkout.autoSaveInterval = static_cast<int>(std::clamp<std::chrono::seconds::rep>(
        options.autoSaveInterval.count(), std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    checkout.lastAutoSave = checkout.date;
    checkout.lastSavedManifest = version->manifest.toHex();
    const Manifest manifest = readTree(store, version->manifest);
    writeTree(manifest, store, workingCopy);
    QList<Manifest> eventTrees;
    const QStringList folders = writeEvents(store, manifest, workingCopy, included, &eventTrees);
    const auto sharedCache = team.statCache(id);
    StatCache& cache = *sharedCache;
    recordWrittenTree(cache, manifest, workingCopy);
    for (qsizetype i = 0; i < included.size(); ++i) {
        checkout.events.append({included[i].event->id, folders[i], included[i].version->id});
        recordWrittenTree(cache, eventTrees.at(i), workingCopy + QLatin1Char('/') + folders[i]);
    }
    cache.save();
    team.checkouts().save(checkout);
    // The working copy is now exactly the versions it was written from, and nobody has been
    // told where it is: from here on the watch sees every change made to it.
    if (manifest.rootKind == Manifest::RootKind::directory)
        team.changeWatcher().watch(workingCopy, version->id.toString(), &team);
    return workingCopy;
}

} // namespace

QCoro::Task<QString> VersioningService::checkOut(QList<IdFor<VersionBundle>> includedNestedVersionBundles,
                                                 CheckOutOptions options, S3Factory, WorkingCopyInUse inUse)
{
    auto self = shared_from_this();
    auto work = [self, includedNestedVersionBundles, options, inUse] {
        const bool forceUnlock = options.takeover == LockTakeover::forceUnlock;
        TeamBundle& team = *self->m_team;
        const auto checkable = [&self](const std::shared_ptr<const BundleState>& state) {
            if (!state)
                throw VersioningError(VersioningError::Case::itemNotFound, self->m_id.toString());
            if (state->trashed)
                throw VersioningError(VersioningError::Case::itemInTrash, state->name);
            if (self->m_type != VersioningServiceType::document && self->m_type != VersioningServiceType::library)
                throw VersioningError(VersioningError::Case::wrongKind, state->name);
            if (!state->currentVersion())
                throw VersioningError(VersioningError::Case::noVersion, state->name);
            return state;
        };
        team.poll();
        auto current = checkable(team.snapshot()->find(self->m_id));

        // Already ours: the same working copy, as the user left it.
        if (const auto existing = team.checkouts().find(self->m_id); existing && !existing->displaced
                                                                     && QFileInfo::exists(existing->workingCopy)
                                                                     && team.locks().isMineNow(self->m_id, self->m_id))
            return existing->workingCopy;

        QList<IdFor<VersionBundle>> ids{self->m_id};
        QHash<IdFor<VersionBundle>, QString> names{{self->m_id, current->name}};
        for (const auto& eventId : includedNestedVersionBundles) {
            const auto event = team.snapshot()->find(eventId);
            if (!event || !current->children.contains(eventId) || !event->currentVersion())
                continue;
            ids << eventId;
            names.insert(eventId, event->name);
        }
        // A working copy left in the folder (its lock was taken, or a crash) is replaced below:
        // an editor that still has it open would save its stale text over the new one. Asked
        // before any lock is taken, so that a refusal changes nothing.
        const QString folder = team.localFolder(QStringLiteral("working")) + QLatin1Char('/') + self->m_id.toString();
        refuseWhileFolderInUse(current->name, folder, inUse);
        // A lock of ours still to be given up after an earlier check-out is held again.
        team.settleReleases(ids, self->m_id);
        team.locks().acquire(ids, self->m_id, options.takeover, names);

        QList<EventToWrite> included;
        try {
            // Taking the locks may have waited for a share that stopped answering: a check-out no
            // longer waited for gives them back at once.
            ChangeToken::stopIfAbandoned(team.rootPath());
            // The working copy is made from what is current now that the lock is held, and only
            // once this client has read what the last holder checked in before giving it up.
            QList<ReleaseNote> notes;
            for (const auto& id : std::as_const(ids)) {
                if (const auto note = team.locks().releaseNote(id))
                    notes << *note;
            }
            team.poll();
            team.awaitRecords(notes, current->name);
            const auto snapshot = team.snapshot();
            current = checkable(snapshot->find(self->m_id));
            for (const auto& eventId : ids.mid(1)) {
                const auto event = snapshot->find(eventId);
                if (event && current->children.contains(eventId) && event->currentVersion())
                    included.append({event, event->currentVersion()});
            }
            keepLeftBehind(team, self->m_id, current->name, folder);
        } catch (...) {
            giveBack(team, ids, self->m_id);
            throw;
        }

        // From here on the folder holds only what this check-out writes from stored versions.
        QString workingCopy;
        try {
            workingCopy = writeWorkingCopy(team, self->m_id, *current, included, folder, options);
            QJsonObject fields{{QStringLiteral("message"), forceUnlock ? QStringLiteral("force unlocked this document")
                                                                       : QStringLiteral("checked out this document")},
                               {QStringLiteral("forced"), forceUnlock}};
            team.commit({{self->m_id, RecordKind::lock, fields}});
            team.announce(QSet<IdFor<VersionBundle>>(ids.begin(), ids.end()));
            return workingCopy;
        } catch (...) {
            if (!workingCopy.isEmpty())
                team.changeWatcher().unwatch(workingCopy);
            team.checkouts().remove(self->m_id);
            posix::removeTreeQuietly(folder);
            giveBack(team, ids, self->m_id);
            throw;
        }
    };
    co_return co_await boundedChange(m_team, TeamBundleError::Attempt::checkOut, std::move(work));
}

QCoro::Task<> VersioningService::cancelCheckout(S3Factory, WorkingCopyInUse inUse)
{
    auto self = shared_from_this();
    auto work = [self, inUse] {
        TeamBundle& team = *self->m_team;
        team.poll();
        const auto current = self->state();
        const auto checkout = team.checkouts().find(self->m_id);
        if (!checkout)
            throw VersioningError(VersioningError::Case::notCheckedOut, current->name);
        // Going on anyway changes nothing here: the working copy is kept in the attic below.
        refuseWhileInUse(current->name, checkout->workingCopy, inUse);
        // The changes being discarded are kept in the attic: nothing is deleted unseen. A copy
        // taken over by somebody else was kept when that was noticed, but may have been edited
        // since, so it is kept again (only what changed takes space).
        if (QFileInfo::exists(checkout->workingCopy))
            team.keepInAttic(self->m_id, checkout->workingCopy, QStringLiteral("discarded"));
        keepWorkingFolderEntries(team, self->m_id, QFileInfo(checkout->workingCopy).path(),
                                 QFileInfo(checkout->workingCopy).fileName(), QStringLiteral("left beside"));
        QList<IdFor<VersionBundle>> locked{self->m_id};
        for (const auto& included : checkout->events)
            locked << included.id;
        const bool wasMine = team.locks().isMineNow(self->m_id, self->m_id);
        if (wasMine)
            team.commit(RecordKind::discard, self->m_id,
                        {{QStringLiteral("message"), QStringLiteral("discarded changes")}});
        // Without a record (the lock was no longer ours), ending the check-out is what publishes
        // the discard.
        ChangeToken::beginPublishing(team.rootPath());
        team.endCheckout(self->m_id, locked);
        discardWorkingFolder(QFileInfo(checkout->workingCopy).path(),
                             team.changeWatcher().release(checkout->workingCopy));
        team.announce(QSet<IdFor<VersionBundle>>(locked.begin(), locked.end()));
    };
    co_await boundedChange(m_team, TeamBundleError::Attempt::discard, std::move(work));
}

} // namespace vantrel
