// Check-out, check-in and discard of a document or library.

#include "engine/versioning_service.h"

#include "desktop/folder_users.h"
#include "engine/check_in_base.h"
#include "engine/engine_errors.h"
#include "engine/file_names.h"
#include "engine/late_changes.h"
#include "engine/share_outage.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/change_watcher.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/manifest.h"
#include "engine/storage/statcache.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"
#include "engine/team_bundle.h"
#include "engine/versioning_support.h"
#include "foundation/worker.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <limits>

namespace vantrel {

using namespace versioning;

namespace {

// Keeps in the attic every file and folder in the working folder `folder` but the one named
// `except` (the working copy, when it is kept otherwise): what an earlier check-out left there, or what the
// editing application wrote beside the working copy. Links and sockets hold no work.
void keepWorkingFolderEntries(TeamBundle& team, const IdFor<VersionBundle>& id, const QString& folder,
                              const QString& except, const QString& reason)
{
    const QFileInfo info(folder);
    if (!info.exists() && !info.isSymLink())
        return;
    if (info.isSymLink() || !info.isDir())
        throw StorageError::fromErrno(ENOTDIR, folder, QStringLiteral("open"));
    for (const QFileInfo& entry :
         QDir(folder).entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot | QDir::Hidden)) {
        if (entry.isSymLink() || (!entry.isDir() && !entry.isFile()) || entry.fileName() == except)
            continue;
        team.keepInAttic(id, entry.absoluteFilePath(), reason);
    }
}

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

// Reads the document's lock by name (a share may serve a stale listing and stale attributes of
// the lock files for many seconds) and keeps what was read in the lock table. When it is no
// longer ours, the check-out is given up as when a poll notices a force unlock (the working copy
// stays where it is, a copy of it goes to the attic), and lockLost names who holds it now. A
// record that can't be read, or that is not found while the bundle can't be reached, throws as it
// is (the share went away): that is never a lost lock.
void requireOwnLock(TeamBundle& team, const BundleState& current)
{
    const auto holder = team.locks().readNow(current.id);
    if (holder && holder->clientId == team.clientId() && holder->initiator == current.id)
        return;
    try {
        team.poll();
    } catch (const Error& error) {
        team.log().event(QStringLiteral("A check-out whose lock was taken could not be given up: ")
                             + escapedForLog(error.debugDescription()),
                         QStringLiteral("checkIn"), Logger::Level::error);
    }
    throw VersioningError(VersioningError::Case::lockLost, current.name,
                          holder ? displayName(holder->fullName, holder->userName) : QString());
}

// The included events of the check-out whose lock was taken, read by name like requireOwnLock().
QSet<IdFor<VersionBundle>> takenEvents(TeamBundle& team, const BundleState& current, const Checkout& checkout)
{
    QSet<IdFor<VersionBundle>> taken;
    for (const auto& included : checkout.events) {
        if (!team.locks().isMineNow(included.id, current.id))
            taken.insert(included.id);
    }
    return taken;
}

// Keeps in the attic a working copy that is refused; a failure to keep it is logged, never
// reported in place of why it was refused.
void keepRefusedWorkingCopy(TeamBundle& team, const IdFor<VersionBundle>& id, const QString& workingCopy)
{
    try {
        if (QFileInfo::exists(workingCopy))
            team.keepInAttic(id, workingCopy, QStringLiteral("not checked in"));
    } catch (const Error& error) {
        team.log().event(QStringLiteral("A working copy that could not be checked in was not kept: ")
                             + escapedForLog(error.debugDescription()),
                         QStringLiteral("checkIn"), Logger::Level::error);
    }
}

// A working copy an application still uses is not taken away from it: whatever the application
// saves afterwards would have nowhere to go. Unless told to go on, the check-in, discard or
// check-out that would replace it is refused before anything is stored or recorded, naming the
// applications. `folder` is the working folder.
void refuseWhileFolderInUse(const QString& name, const QString& folder, WorkingCopyInUse inUse)
{
    if (inUse != WorkingCopyInUse::refuse || !QFileInfo::exists(folder))
        return;
    auto users = processesUsingFolder(folder);
    if (!users.isEmpty())
        throw WorkingCopyInUseError(name, std::move(users));
}

void refuseWhileInUse(const QString& name, const QString& workingCopy, WorkingCopyInUse inUse)
{
    refuseWhileFolderInUse(name, QFileInfo(workingCopy).path(), inUse);
}

// The folders of `changed` (relative to the working copy) that are `folder` or below it,
// relative to `folder`.
QSet<QString> changedBelow(const QSet<QString>& changed, const QString& folder)
{
    QSet<QString> below;
    const QString prefix = folder + u'/';
    for (const QString& path : changed) {
        if (path == folder)
            below.insert(QString());
        else if (path.startsWith(prefix))
            below.insert(path.mid(prefix.size()));
    }
    return below;
}

// The new versions a check-in of `current` records, their contents stored: `newVersion` of
// the document, and one of each included event that changed and is still held.
struct CheckedInVersions {
    std::vector<JournalChange> changes;
    bool eventsLeftOut = false; // an event folder is there whose changes can't be checked in
    QStringList leftOutFolders; // those event folders, relative to the working copy
};

CheckedInVersions storeWorkingCopy(TeamBundle& team, const TeamSnapshot& snapshot, const BundleState& current,
                                   const Checkout& checkout, const IdFor<Versions>& newVersion,
                                   const QString& commitMessage, StatCache& cache,
                                   const std::optional<QSet<QString>>& changed,
                                   const std::optional<JournalStamp>& earlier)
{
    QStringList eventFolders;
    for (const auto& event : checkout.events)
        eventFolders << event.folder;
    ContentStore& store = team.contents();
    SnapshotOptions options;
    options.cache = &cache;
    options.base = baseTree(buildsOn(current, earlier));
    options.saveCache = false;
    options.excludeDirectory = [eventFolders](const QString& relativePath) {
        return eventFolders.contains(relativePath);
    };
    // A working copy watched since its check-out: only the folders that changed are listed.
    if (changed && options.base)
        options.changedFolders = changed;
    const ContentHash tree = snapshotTree(checkout.workingCopy, store, options);
    const VersionInfo* previous = current.currentVersion();
    const QJsonObject application = previous ? previous->application : QJsonObject();
    CheckedInVersions versions;
    versions.changes.push_back({current.id, RecordKind::version,
                                versionFields(newVersion, tree, commitMessage, application, VersionOrigin::checkedIn)});
    for (const auto& included : checkout.events) {
        const QString folder = checkout.workingCopy + QLatin1Char('/') + included.folder;
        const auto event = snapshot.find(included.id);
        if (!event || !team.locks().isMine(included.id, current.id) || !QFileInfo(folder).isDir()) {
            if (QFileInfo(folder).isDir()) {
                versions.eventsLeftOut = true;
                versions.leftOutFolders << included.folder;
            }
            continue;
        }
        SnapshotOptions eventOptions;
        eventOptions.cache = &cache;
        eventOptions.base = baseTree(buildsOn(*event, earlier));
        eventOptions.saveCache = false;
        if (changed && eventOptions.base && event->currentVersion()->id == included.baseVersion)
            eventOptions.changedFolders = changedBelow(*changed, included.folder);
        const ContentHash eventHash = snapshotTree(folder, store, eventOptions);
        if (event->currentVersion() && event->currentVersion()->manifest == eventHash)
            continue; // unchanged
        versions.changes.push_back(
            {included.id, RecordKind::version,
             versionFields(IdFor<Versions>::make(), eventHash, commitMessage,
                           event->currentVersion() ? event->currentVersion()->application : QJsonObject(),
                           VersionOrigin::checkedIn)});
    }
    return versions;
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
        team.settleReleases(ids);
        team.locks().acquire(ids, self->m_id, options.takeover, names);

        QList<EventToWrite> included;
        try {
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
    auto worded = wordedForOutage(m_team, TeamBundleError::Attempt::checkOut, std::move(work));
    co_return co_await onWorker(std::move(worded));
}

QCoro::Task<CheckInOutcome> VersioningService::checkIn(QString commitMessage, S3Factory, WorkingCopyInUse inUse)
{
    auto self = shared_from_this();
    auto work = [self, commitMessage, inUse] {
        TeamBundle& team = *self->m_team;
        team.poll();
        const auto current = self->state();
        auto checkout = team.checkouts().find(self->m_id);
        if (!checkout)
            throw VersioningError(VersioningError::Case::notCheckedOut, current->name);
        // Going on while an application has it open: what it saves before the working copy is
        // removed is kept too.
        const auto keepStillOpen = [&] {
            if (inUse == WorkingCopyInUse::keepInAttic && QFileInfo::exists(checkout->workingCopy))
                team.keepInAttic(self->m_id, checkout->workingCopy, QStringLiteral("still open when checked in"));
        };
        QList<IdFor<VersionBundle>> locked{self->m_id};
        for (const auto& included : checkout->events)
            locked << included.id;
        // The next holder must read the record just published before it builds on these
        // bundles: the note naming it is left before the locks are given up.
        // Once the record is published the check-in is done: what follows never fails it.
        // An application may have opened the working copy after it was looked for, or saved
        // into it after it was stored: that is looked for again right before it is removed.
        const auto finish = [&](const JournalStamp& published, const QStringList& leftOut = {}) {
            team.endCheckout(self->m_id, locked, ReleaseNote{published.client, published.seq});
            const LateChanges late =
                keepLateChanges(team, self->m_id, checkout->workingCopy, inUse == WorkingCopyInUse::refuse, leftOut);
            // Giving up the watch of every folder takes a while in a large library: it is done
            // in the background, before the working copy is removed.
            auto released = team.changeWatcher().release(checkout->workingCopy);
            if (late != LateChanges::notKept)
                discardWorkingFolder(QFileInfo(checkout->workingCopy).path(), std::move(released));
            team.announce(QSet<IdFor<VersionBundle>>(locked.begin(), locked.end()));
            return CheckInOutcome{late != LateChanges::none};
        };
        // A check-in interrupted after its versions were written only has to give up the locks,
        // once the bundle as it is now is seen to hold them whole, by name: it may have been
        // replaced by an older copy of itself meanwhile. Otherwise they are stored again.
        std::optional<JournalStamp> earlier;
        if (const auto written = IdFor<Versions>::fromString(checkout->checkingIn)) {
            if (const auto published = stampOfVersion(*current, *written)) {
                if (team.holdsWhole(*published, treesWrittenBy(*team.snapshot(), *current, *checkout, *published))) {
                    refuseWhileInUse(current->name, checkout->workingCopy, inUse);
                    keepStillOpen();
                    return finish(*published);
                }
                team.log().event(QStringLiteral("The versions of %1 written by record %2 are not all in the team "
                                                "bundle as it is now; they are stored again.")
                                     .arg(escapedForLog(current->name), QString::number(published->seq)),
                                 QStringLiteral("checkIn"), Logger::Level::warning);
                earlier = published;
            }
        }
        requireOwnLock(team, *current);
        takenEvents(team, *current, *checkout); // read for what follows, which reads the table

        // A version saved since the check-out began is never replaced by a working copy that did
        // not start from it.
        const auto refuseOutdated = [&](const TeamSnapshot& snapshot, const BundleState& now) {
            if (const auto savedBy = newerVersionBy(team, snapshot, now, *checkout, earlier)) {
                keepRefusedWorkingCopy(team, self->m_id, checkout->workingCopy);
                throw VersioningError(VersioningError::Case::outdatedBase, now.name, *savedBy);
            }
        };
        const auto snapshot = team.snapshot();
        refuseOutdated(*snapshot, *current);
        // The refusals above leave the working copy where it is; from here on it is taken away.
        refuseWhileInUse(current->name, checkout->workingCopy, inUse);

        // Everything is read and stored first; the one record that makes the versions current
        // comes last, so a failure before it leaves the previous versions, the lock and the
        // working copy as they were.
        // Kept in memory since the check-out in this process: not read again.
        const auto sharedCache = team.statCache(self->m_id);
        StatCache& cache = *sharedCache;
        const auto newVersion = IdFor<Versions>::make();
        // What the watch saw change since the check-out is taken before anything is read; what
        // changes from now on is recorded anew, and the taken part counts again if this fails.
        ChangeWatcher& watcher = team.changeWatcher();
        auto watched = watcher.take(checkout->workingCopy);
        if (watched && watched->base != checkout->baseVersion.toString())
            watched.reset();
        if (!watched && QFileInfo(checkout->workingCopy).isDir())
            team.log().event(QStringLiteral("Checking in %1 by walking all of it: %2")
                                 .arg(escapedForLog(current->name),
                                      escapedForLog(watcher.whyNotWatched(checkout->workingCopy)
                                                        .value_or(QStringLiteral("not watched since its check-out")))),
                             QStringLiteral("checkIn"), Logger::Level::info);
        JournalStamp published;
        QStringList leftOut;
        try {
            CheckedInVersions versions =
                storeWorkingCopy(team, *snapshot, *current, *checkout, newVersion, commitMessage, cache,
                                 watched ? std::optional(watched->folders) : std::nullopt, earlier);
            // Storing a large library takes a while, and a lock may be taken meanwhile: an event
            // whose lock was taken is left to its new holder.
            const auto taken = takenEvents(team, *current, *checkout);
            const auto removed = std::erase_if(versions.changes, [&](const JournalChange& change) {
                return change.bundle != current->id && taken.contains(change.bundle);
            });
            versions.eventsLeftOut = versions.eventsLeftOut || removed > 0;
            for (const auto& included : checkout->events) {
                if (taken.contains(included.id))
                    versions.leftOutFolders << included.folder;
            }
            // Events whose changes can't be checked in (their lock was taken, or they left the
            // library) are kept with the whole working copy before it is removed, and so is what
            // the editing application wrote beside the working copy.
            if (versions.eventsLeftOut)
                team.keepInAttic(self->m_id, checkout->workingCopy, QStringLiteral("events not checked in"));
            else
                keepStillOpen();
            keepWorkingFolderEntries(team, self->m_id, QFileInfo(checkout->workingCopy).path(),
                                     QFileInfo(checkout->workingCopy).fileName(), QStringLiteral("left beside"));
            // Only this field: a poll may have found the lock taken meanwhile, and said so once.
            team.checkouts().update(self->m_id,
                                    [&newVersion](Checkout& saved) { saved.checkingIn = newVersion.toString(); });
            // The same for the document, right before the record that makes its version current;
            // and every client's journal is read again by name (their heads), so that a revert
            // published meanwhile is seen and this record's Lamport number is above it.
            requireOwnLock(team, *current);
            team.poll();
            const auto latest = team.snapshot();
            if (const auto now = latest->find(self->m_id))
                refuseOutdated(*latest, *now);
            published = team.commit(versions.changes).front().stamp;
            leftOut = versions.leftOutFolders;
        } catch (...) {
            // The working copy stays: what was read of it is kept for the next try. A check-in
            // that succeeds removes the working copy, so its records would serve nobody, and
            // the cache (which holds every file of the library) is not written again then.
            try {
                cache.save();
            } catch (const StorageError&) {
                // Only a cache: the next check-in reads the files again.
            }
            if (watched)
                watcher.putBack(checkout->workingCopy, *watched);
            throw;
        }
        if (watched)
            watcher.settle(checkout->workingCopy, *watched, newVersion.toString());
        return finish(published, leftOut);
    };
    // Once its record is published, a check-in is done whatever fails after it.
    const auto landed = [self] {
        const auto checkout = self->m_team->checkouts().find(self->m_id);
        const auto written = checkout ? IdFor<Versions>::fromString(checkout->checkingIn) : std::nullopt;
        const auto current = self->m_team->snapshot()->find(self->m_id);
        return !checkout || (written && current && stampOfVersion(*current, *written));
    };
    auto worded = wordedForOutage(m_team, TeamBundleError::Attempt::checkIn, std::move(work), landed);
    co_return co_await onWorker(std::move(worded));
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
        team.endCheckout(self->m_id, locked);
        discardWorkingFolder(QFileInfo(checkout->workingCopy).path(),
                             team.changeWatcher().release(checkout->workingCopy));
        team.announce(QSet<IdFor<VersionBundle>>(locked.begin(), locked.end()));
    };
    auto worded = wordedForOutage(m_team, TeamBundleError::Attempt::discard, std::move(work));
    co_await onWorker(std::move(worded));
}

} // namespace vantrel
