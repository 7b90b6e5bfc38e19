// Check-in of a document or library: its working copy stored as new versions, then given up.

#include "engine/versioning_service.h"

#include "desktop/folder_users.h"
#include "engine/bounded_change.h"
#include "engine/check_in_base.h"
#include "engine/engine_errors.h"
#include "engine/late_changes.h"
#include "engine/share_outage.h"
#include "engine/storage/change_watcher.h"
#include "engine/storage/statcache.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"
#include "engine/team_bundle.h"
#include "engine/versioning_support.h"

#include <QFileInfo>

#include <future>

namespace vantrel {

using namespace versioning;

namespace {

// Keeps in the attic a working copy that is refused; a failure to keep it is logged, never
// reported in place of why it was refused. No second entry is written when it is the copy the
// check-out notes as kept last, and the copy kept is noted so. Whether it is kept (or there is
// nothing to keep).
bool keepRefusedWorkingCopy(TeamBundle& team, const IdFor<VersionBundle>& id, const QString& workingCopy)
{
    if (!QFileInfo::exists(workingCopy))
        return true;
    ContentHash kept;
    try {
        const auto checkout = team.checkouts().find(id);
        kept = team.keepInAttic(id, workingCopy, QStringLiteral("not checked in"), nullptr,
                                checkout ? ContentHash::fromHex(checkout->lastSavedManifest) : std::nullopt);
    } catch (const Error& error) {
        team.log().event(QStringLiteral("A working copy that could not be checked in was not kept: ")
                             + escapedForLog(error.debugDescription()),
                         QStringLiteral("checkIn"), Logger::Level::error);
        return false;
    }
    try {
        team.checkouts().update(id, [&kept](Checkout& saved) { saved.lastSavedManifest = kept.toHex(); });
    } catch (const Error&) {
        // Only a note: the next refusal keeps the same copy again.
    }
    return true;
}

// Reads the document's lock by name (a share may serve a stale listing and stale attributes of
// the lock files for many seconds) and keeps what was read in the lock table. When it is no
// longer ours, the check-out is given up as when a poll notices a force unlock (the working copy
// stays where it is, a copy of it goes to the attic), and lockLost names who holds it now. The
// copy kept when the loss was first noticed may be older than the edits made since: the working
// copy as it is now is kept too before the refusal says so, or the refusal names the folder it
// is in. A record that can't be read, or that is not found while the bundle can't be reached,
// throws as it is (the share went away): that is never a lost lock.
void requireOwnLock(TeamBundle& team, const BundleState& current, const QString& workingCopy)
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
    const bool kept = keepRefusedWorkingCopy(team, current.id, workingCopy);
    throw VersioningError::lockLost(current.name, holder ? displayName(holder->fullName, holder->userName) : QString(),
                                    holder && holder->forced, kept ? QString() : QFileInfo(workingCopy).path());
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
                                   const std::optional<JournalStamp>& earlier, ContentStore::Written& written)
{
    QStringList eventFolders;
    for (const auto& event : checkout.events)
        eventFolders << event.folder;
    ContentStore& store = team.contents();
    SnapshotOptions options;
    options.cache = &cache;
    options.base = baseTree(buildsOn(current, earlier));
    options.saveCache = false;
    options.written = &written;
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
        eventOptions.written = &written;
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

// The look refuseWhileInUse() makes, begun on a thread of its own for the working folder of
// `checkout` as it was when the check-in began.
class InUseLook {
public:
    InUseLook(const std::optional<Checkout>& checkout, WorkingCopyInUse inUse) : m_inUse(inUse)
    {
        if (!checkout || inUse != WorkingCopyInUse::refuse)
            return;
        m_folder = QFileInfo(checkout->workingCopy).path();
        m_users = std::async(std::launch::async, [folder = m_folder] {
            return QFileInfo::exists(folder) ? processesUsingFolder(folder) : QList<FolderUser>();
        });
    }

    // Refuses while an application uses the working copy of `checkout`: by the look begun,
    // unless the working copy is now somewhere else.
    void refuse(const QString& name, const Checkout& checkout)
    {
        if (!m_users.valid() || QFileInfo(checkout.workingCopy).path() != m_folder)
            return refuseWhileInUse(name, checkout.workingCopy, m_inUse);
        auto users = m_users.get();
        if (!users.isEmpty())
            throw WorkingCopyInUseError(name, std::move(users));
    }

private:
    WorkingCopyInUse m_inUse;
    QString m_folder;
    std::future<QList<FolderUser>> m_users;
};

} // namespace

QCoro::Task<CheckInOutcome> VersioningService::checkIn(QString commitMessage, S3Factory, WorkingCopyInUse inUse)
{
    auto self = shared_from_this();
    auto work = [self, commitMessage, inUse] {
        TeamBundle& team = *self->m_team;
        // The look for applications that use the working copy lists all of it and every
        // process: it goes on while the journals and the locks are read, and its answer is taken
        // when the check-in reaches the point where it refuses.
        InUseLook look(team.checkouts().find(self->m_id), inUse);
        team.poll();
        const auto current = self->state();
        auto checkout = team.checkouts().find(self->m_id);
        if (!checkout)
            throw VersioningError(VersioningError::Case::notCheckedOut, current->name);
        // The copy kept before the record, which the look after it keeps no second entry of.
        std::optional<ContentHash> keptBefore;
        // Going on while an application has it open: what it saves before the working copy is
        // removed is kept too.
        const auto keepStillOpen = [&] {
            if (inUse == WorkingCopyInUse::keepInAttic && QFileInfo::exists(checkout->workingCopy))
                keptBefore =
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
            // Giving up the watch of every folder takes a while in a large library: it is done
            // in the background, before the working copy is removed.
            const LateChangesOutcome late =
                removeCheckedInWorkingCopy(team, self->m_id, checkout->workingCopy, inUse == WorkingCopyInUse::refuse,
                                           leftOut, team.changeWatcher().release(checkout->workingCopy), keptBefore);
            team.announce(QSet<IdFor<VersionBundle>>(locked.begin(), locked.end()));
            return CheckInOutcome{late.late == LateChanges::kept, late.leftIn};
        };
        // A check-in interrupted after its versions were written only has to give up the locks,
        // once the bundle as it is now is seen to hold them whole, by name: it may have been
        // replaced by an older copy of itself meanwhile. Otherwise they are stored again.
        std::optional<JournalStamp> earlier;
        if (const auto written = IdFor<Versions>::fromString(checkout->checkingIn)) {
            if (const auto published = stampOfVersion(*current, *written)) {
                if (team.holdsWhole(*published, treesWrittenBy(*team.snapshot(), *current, *checkout, *published))) {
                    look.refuse(current->name, *checkout);
                    keepStillOpen();
                    ChangeToken::beginPublishing(team.rootPath());
                    return finish(*published);
                }
                team.log().event(QStringLiteral("The versions of %1 written by record %2 are not all in the team "
                                                "bundle as it is now; they are stored again.")
                                     .arg(escapedForLog(current->name), QString::number(published->seq)),
                                 QStringLiteral("checkIn"), Logger::Level::warning);
                earlier = published;
            }
        }
        requireOwnLock(team, *current, checkout->workingCopy);
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
        look.refuse(current->name, *checkout);

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
        // What is stored new goes again when the check-in fails before its record.
        ContentStore::Written written(team.contents());
        try {
            CheckedInVersions versions =
                storeWorkingCopy(team, *snapshot, *current, *checkout, newVersion, commitMessage, cache,
                                 watched ? std::optional(watched->folders) : std::nullopt, earlier, written);
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
                keptBefore =
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
            requireOwnLock(team, *current, checkout->workingCopy);
            team.poll();
            const auto latest = team.snapshot();
            if (const auto now = latest->find(self->m_id))
                refuseOutdated(*latest, *now);
            published = team.commit(versions.changes, &written).front().stamp;
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
            if (written.kept())
                throw;
            rethrowUnpublished(TeamBundleError::Attempt::checkIn);
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
    co_return co_await boundedChange(m_team, TeamBundleError::Attempt::checkIn, std::move(work), landed);
}

} // namespace vantrel
