#include "engine/team_bundle.h"

#include "engine/background_work.h"
#include "engine/locks/client_lease.h"
#include "engine/engine_errors.h"
#include "engine/file_names.h"
#include "engine/storage/fixed_length_files.h"
#include "engine/journal/journal_files.h"
#include "engine/share/reachability_probe.h"
#include "engine/share/share_probe.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/change_watcher.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/manifest.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/shared_folders.h"
#include "engine/storage/statcache.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"
#include "engine/system_services.h"
#include "engine/version_bundles.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScopeGuard>
#include <algorithm>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <thread>

namespace vantrel {

const QString TeamBundle::fileExtension = QStringLiteral("vantrelteam");
const QString TeamBundle::contentType = QStringLiteral("application/x-vantrel-team-bundle");
const QString TeamBundle::pathStorageKey = QStringLiteral("teamBundlePath");

namespace {

const char* const folders[] = {"objects", "journal", "locks", "attic", "logs"};

// How long a read of the marker may take before the share counts as unreachable: an answer from
// a share that works takes milliseconds, a hung mount may never answer.
constexpr auto reachabilityBound = std::chrono::milliseconds(2500);
// How old the last look for the marker may be before the heartbeat looks, for clients that poll
// every few seconds (a window): with the bound, an outage shows within about four seconds. While
// the bundle can't be reached it looks at every beat, so that its return shows at once.
constexpr auto heartbeatSpan = std::chrono::seconds(1);
constexpr auto heartbeatBeat = std::chrono::milliseconds(250);
constexpr auto heartbeatPollLimit = std::chrono::seconds(5);

QString markerPath(const QString& root)
{
    return root + QStringLiteral("/team.json");
}

void checkExtension(const QString& path)
{
    if (QFileInfo(path).suffix() != TeamBundle::fileExtension)
        throw TeamBundleError(TeamBundleError::Case::wrongExtension, path);
}

QString cleanRoot(const QString& path)
{
    QString root = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    return root;
}

// Makes the folder `path` of a team bundle, or checks the one there: a symbolic link (or
// anything but a folder) in its place is refused, so that nothing the engine writes into the
// team bundle lands outside it.
void ensureOwnFolder(const QString& path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(native.constData(), &status) != 0) {
        ensureDirectory(path);
        if (::lstat(native.constData(), &status) != 0)
            throw StorageError::fromErrno(errno, path, QStringLiteral("lstat"));
    }
    if (!S_ISDIR(status.st_mode))
        throw StorageError(
            StorageError::Kind::corrupt, path, QCoreApplication::translate("Engine", "“%1” isn’t a folder.").arg(path),
            QCoreApplication::translate("Engine", "A team bundle holds only files and folders, never links."),
            QCoreApplication::translate("Engine", "Remove the link from the team bundle, then try again."));
}

// Makes one of the folders of a team bundle being created (ensureDirectory() makes them only in a
// bundle that has its marker).
void makeOwnFolder(const QString& path)
{
    if (const int error = makeSharedFolder(path); error != 0 && error != EEXIST)
        throw StorageError::fromErrno(error, path, QStringLiteral("mkdir"));
}

// The marker names a sharing this version doesn't know ("GROUP", 1, null...): a problem of the
// bundle, saying what is made of it. Built in one pass: the value comes from the share.
QString unknownSharingProblem(const QString& root, const QJsonValue& value, FolderSharing used)
{
    QString shown = QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    shown = shown.mid(1, shown.size() - 2);
    if (shown.size() > 40)
        shown = shown.left(40) + QStringLiteral("…");
    return QStringLiteral("%1: its \"sharing\" is %2, which is neither \"group\" nor \"umask\": damaged. %3")
        .arg(markerPath(root), shown,
             used == FolderSharing::group
                 ? QStringLiteral("Its folder is group-writable or setgid, so what is made in it is the group's to "
                                  "read and write.")
                 : QStringLiteral("Its folder is neither group-writable nor setgid, so what is made in it gets the "
                                  "modes each user's umask gives."));
}

} // namespace

ClientIdentity ClientIdentity::current()
{
    return ClientIdentity{installationClientId(), UserIdentity::current()};
}

TeamBundle::TeamBundle(QString root, std::shared_ptr<FileManaging> fileManager,
                       std::shared_ptr<WorkspaceInterfacing> workspace, ClientIdentity identity, QString teamId)
    : m_root(std::move(root)),
      m_name(QFileInfo(m_root).completeBaseName()),
      m_teamId(std::move(teamId)),
      m_identity(std::move(identity)),
      m_fileManager(std::move(fileManager)),
      m_workspace(std::move(workspace)),
      m_log(std::make_unique<Logger>(m_root + QStringLiteral("/logs"), m_identity.clientId, m_identity.user,
                                     localFolder(QStringLiteral("logs")))),
      m_contents(std::make_unique<ContentStore>(m_root + QStringLiteral("/objects"), m_identity.clientId)),
      m_journal(std::make_unique<Journal>(m_root + QStringLiteral("/journal"), m_identity.clientId)),
      m_locks(std::make_unique<LockTable>(m_root + QStringLiteral("/locks"), m_identity.clientId, m_identity.user)),
      m_checkouts(std::make_unique<CheckoutRegistry>(localFolder(QStringLiteral("checkouts")))),
      m_releases(std::make_unique<PendingReleases>(localFolder(QStringLiteral("releases")), *m_locks)),
      m_changeWatcher(ChangeWatcher::shared()),
      m_versionBundles(std::make_unique<VersionBundles>(*this)),
      m_markerProbe(std::make_unique<ReachabilityProbe>(markerPath(m_root), reachabilityBound))
{
    m_locks->setReachabilityCheck([this] { return checkReachable(); });
}

std::shared_ptr<TeamBundle> TeamBundle::create(const QString& path, std::shared_ptr<FileManaging> fileManager,
                                               std::shared_ptr<WorkspaceInterfacing> workspace,
                                               const ClientIdentity& identity)
{
    checkExtension(path);
    const QString root = cleanRoot(path);
    // Held until open() has its own, so that nothing is created for a client that is in use.
    const ClientLease lease(identity.clientId, root);
    const QString parent = QFileInfo(root).path();
    if (!QFileInfo(parent).isDir())
        throw TeamBundleError(TeamBundleError::Case::missingFolder, parent);
    // A team's folder on a share is set up for its group (group-writable, setgid): so is the
    // bundle, for every client that opens it, whatever each user's umask.
    const FolderSharing sharing = sharingOfFolder(parent);
    const SharedFolder shared(root, sharing);
    // Claiming the folder with mkdir never overwrites anything, also against another client.
    if (const int error = makeSharedFolder(root)) {
        if (error == EEXIST)
            throw TeamBundleError(TeamBundleError::Case::alreadyExists, root);
        throw StorageError::fromErrno(error, root, QStringLiteral("create"));
    }
    if (sharing == FolderSharing::group)
        adoptGroupOf(root, parent);
    try {
        // Before anything is written: a share that can't keep the team's work refuses the team.
        probeShare(root, ProbePurpose::create);
        for (const char* folder : folders)
            makeOwnFolder(root + QLatin1Char('/') + QLatin1String(folder));
    } catch (...) {
        ::rmdir(QFile::encodeName(root).constData()); // only when nothing else is in it
        throw;
    }
    // The marker comes last: a folder without it is not a team bundle yet.
    const QJsonObject marker{{QStringLiteral("format"), currentFormat},
                             {QStringLiteral("id"), IdFor<VersionBundle>::make().toString()},
                             {QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
                             {QStringLiteral("sharing"), sharingName(sharing)}};
    writeFileAtomically(markerPath(root),
                        fixed_length::padded(QJsonDocument(marker).toJson(), fixed_length::teamMarker));
    return open(root, std::move(fileManager), std::move(workspace), identity);
}

std::shared_ptr<TeamBundle> TeamBundle::open(const QString& path, std::shared_ptr<FileManaging> fileManager,
                                             std::shared_ptr<WorkspaceInterfacing> workspace,
                                             const ClientIdentity& identity)
{
    checkExtension(path);
    const QString root = cleanRoot(path);
    // One process at a time acts as this client on this machine.
    auto lease = std::make_unique<ClientLease>(identity.clientId, root);
    const QFileInfo info(root);
    if (!info.exists())
        throw TeamBundleError(TeamBundleError::Case::missingFolder, root);
    if (!info.isDir())
        throw TeamBundleError(TeamBundleError::Case::notATeamBundle, root);

    QByteArray markerBytes;
    try {
        markerBytes = fixed_length::readSettled(
            markerPath(root), readLimits::teamMarker, fixed_length::teamMarker,
            [](QByteArrayView bytes) { return QJsonDocument::fromJson(bytes.toByteArray()).isObject(); });
    } catch (const StorageError& error) {
        if (error.kind() == StorageError::Kind::notFound)
            throw TeamBundleError(TeamBundleError::Case::notATeamBundle, root);
        throw;
    }
    const QJsonObject marker = QJsonDocument::fromJson(markerBytes).object();
    const int format = marker.value(QStringLiteral("format")).toInt(0);
    // The id names this bundle's local folders (working copies, caches): it must be an id and
    // nothing else, whatever the marker holds.
    if (format <= 0)
        throw TeamBundleError(TeamBundleError::Case::unreadable, root);
    if (format > currentFormat)
        throw TeamBundleError(TeamBundleError::Case::newerFormat, root);
    if (format < oldestFormat)
        throw TeamBundleError(TeamBundleError::Case::olderFormat, root);
    const auto parsedId = IdFor<VersionBundle>::fromString(marker.value(QStringLiteral("id")).toString());
    if (!parsedId || parsedId->isNil())
        throw TeamBundleError(TeamBundleError::Case::unreadable, root);
    const QString teamId = parsedId->toString();
    // Before anything is made in it, including the probe's scratch folder. A sharing this version
    // doesn't know is damage: the folder decides, so that nobody's umask takes files from a group.
    const QJsonValue recordedSharing = marker.value(QStringLiteral("sharing"));
    const std::optional<FolderSharing> sharing = sharingRecorded(recordedSharing);
    auto shared = std::make_unique<SharedFolder>(root, sharing ? *sharing : sharingOfFolder(root));
    QStringList ownFolders;
    for (const char* folder : folders)
        ownFolders << root + QLatin1Char('/') + QLatin1String(folder);
    const ShareProbeResult probe = probeShare(root);
    auto writeProblem = writeProblemOf(root, ownFolders << root + QStringLiteral("/objects/tmp"), probe.refusal);
    for (const char* folder : folders) {
        const QString ownFolder = root + QLatin1Char('/') + QLatin1String(folder);
        // A bundle this user may only read gets nothing made in it; a link is refused all the same.
        struct stat status {};
        if (writeProblem && ::lstat(QFile::encodeName(ownFolder).constData(), &status) != 0)
            continue;
        ensureOwnFolder(ownFolder);
    }
    // This client's own journal folder is written to (records, head) and tidied (packed records).
    const QString ownJournal = root + QStringLiteral("/journal/") + identity.clientId;
    if (QFileInfo(ownJournal).isSymLink())
        ensureOwnFolder(ownJournal); // refuses it

    std::shared_ptr<TeamBundle> team(
        new TeamBundle(root, std::move(fileManager), std::move(workspace), identity, teamId));
    team->m_clientLease = std::move(lease);
    team->m_sharedFolder = std::move(shared);
    team->m_writeProblem = std::move(writeProblem);
    team->m_shareOpenFiles = probe.openFiles;
    team->m_contents->setChunkedContents(format >= 3);
    if (team->m_writeProblem)
        team->m_log->event(escapedForLog(team->m_writeProblem->localizedDescription()), QStringLiteral("open"),
                           Logger::Level::warning);
    else if (!probe.openFiles.replacesOpenFiles())
        team->m_log->event(QStringLiteral("The share refuses to replace, move or remove a file held open (%1): "
                                          "such steps wait for the other client to let go.")
                               .arg(probe.openFiles.description()),
                           QStringLiteral("open"), Logger::Level::info);
    // What an earlier run of this client left half-written (a crash, a share gone meanwhile).
    if (!team->m_writeProblem)
        team->m_contents->removeOwnTemporaries();
    QStringList problems;
    if (!sharing)
        problems << unknownSharingProblem(root, recordedSharing, team->m_sharedFolder->sharing());
    // Client by client: the records of the whole team are never held twice at once.
    team->m_journal->readAll(problems, [&](std::vector<JournalRecord>&& records) { team->m_model.apply(records); });
#ifdef __GLIBC__
    // Reading a large team frees about as much as it keeps (packs, decoded records, the states
    // of the first folds), in every thread's heap: what is free goes back to the system.
    ::malloc_trim(0);
#endif
    team->m_locks->refresh();
    // What a previous run left to give up, before anybody waits for it any longer.
    team->finishReleases();
    if (!problems.isEmpty()) {
        std::lock_guard lock(team->m_problemsMutex);
        team->m_problems = problems;
        for (const auto& problem : problems)
            team->m_log->event(escapedForLog(problem), QStringLiteral("open"), Logger::Level::error);
    }
    team->start();
    return team;
}

TeamBundle::~TeamBundle()
{
    // A pack being written stops where it safely can; the records it would have removed stay
    // single until this client's next pack.
    m_journal->stopPacking();
    // Whoever opens the team bundle next can't know what changed meanwhile.
    m_changeWatcher->unwatchAll(this);
    {
        std::lock_guard lock(m_pollMutex);
        m_stopping = true;
    }
    m_pollWake.notify_all();
    if (m_heartbeat.joinable())
        m_heartbeat.join();
    if (m_poller.joinable()) {
        if (m_poller.get_id() == std::this_thread::get_id())
            detail::adoptFinishingThread(
                std::move(m_poller)); // released by its own poll: the loop ends as soon as this returns
        else
            m_poller.join();
    }
}

void TeamBundle::start()
{
    m_poller = std::thread([this, weakSelf = weak_from_this()] { pollLoop(weakSelf); });
    m_heartbeat = std::thread([this] { heartbeatLoop(); });
}

void TeamBundle::heartbeatLoop()
{
    std::unique_lock lock(m_pollMutex);
    while (!m_pollWake.wait_for(lock, heartbeatBeat, [this] { return m_stopping; })) {
        if (m_pollInterval > heartbeatPollLimit)
            continue;
        const auto last = std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(m_lastLook.load()));
        if (m_reachable && std::chrono::steady_clock::now() - last < heartbeatSpan)
            continue;
        lock.unlock();
        checkReachable();
        lock.lock();
    }
}

void TeamBundle::pollLoop(std::weak_ptr<TeamBundle> weakSelf)
{
    std::chrono::steady_clock::time_point nextPoll;
    {
        std::lock_guard lock(m_pollMutex);
        nextPoll = std::chrono::steady_clock::now() + m_pollInterval;
    }
    for (;;) {
        bool pollNow = false;
        {
            std::unique_lock lock(m_pollMutex);
            for (;;) {
                const bool woken = m_pollWake.wait_until(
                    lock, nextPoll, [this] { return m_stopping || m_pollIntervalChanged || m_packRequested; });
                if (m_stopping)
                    return;
                if (m_pollIntervalChanged) {
                    // A new interval: wait again, for the new one.
                    m_pollIntervalChanged = false;
                    nextPoll = std::chrono::steady_clock::now() + m_pollInterval;
                    continue;
                }
                pollNow = !woken;
                break; // the interval has passed, or a pack is due
            }
            m_packRequested = false;
        }
        auto self = weakSelf.lock();
        if (!self)
            return;
        if (pollNow) {
            try {
                self->poll();
            } catch (const std::exception& error) {
                qWarning("Polling the team bundle failed: %s",
                         qUtf8Printable(escapedForLog(QString::fromUtf8(error.what()))));
            }
        }
        {
            std::lock_guard lock(m_pollMutex);
            if (m_stopping)
                return;
            if (pollNow)
                nextPoll = std::chrono::steady_clock::now() + m_pollInterval;
        }
        self.reset(); // may destroy the team bundle (see the destructor)
        if (weakSelf.expired())
            return;
        // Packing the journal is background work: commits only note that a pack is due. It runs
        // without holding the team bundle: closing it from another thread does not wait for the
        // last reference to go but stops the pack (see the destructor), which joins this thread.
        packJournal();
    }
}

void TeamBundle::requestPack()
{
    {
        std::lock_guard lock(m_pollMutex);
        m_packRequested = true;
    }
    m_pollWake.notify_all();
}

void TeamBundle::packJournal()
{
    try {
        m_journal->packIfDue();
    } catch (const Error& error) {
        // The records stay single and are packed later; nothing is lost.
        m_log->event(QStringLiteral("Packing the journal failed: ") + escapedForLog(error.localizedDescription()),
                     QStringLiteral("packJournal"), Logger::Level::warning);
    } catch (const std::exception& error) {
        qWarning("Packing the journal failed: %s", qUtf8Printable(escapedForLog(QString::fromUtf8(error.what()))));
    }
}

void TeamBundle::setPollInterval(std::chrono::milliseconds interval)
{
    {
        std::lock_guard lock(m_pollMutex);
        m_pollInterval = interval;
        m_pollIntervalChanged = true;
    }
    m_pollWake.notify_all();
}

void TeamBundle::setJournalListingLagForTesting(std::chrono::milliseconds lag)
{
    m_journal->setListingLagForTesting(lag);
}

void TeamBundle::setJournalPackThresholdForTesting(int threshold)
{
    m_journal->setPackThresholdForTesting(threshold);
}

void TeamBundle::setJournalPackObserverForTesting(std::function<void(int)> observe)
{
    m_journal->setPackObserverForTesting(std::move(observe));
}

void TeamBundle::setCommitObserverForTesting(std::function<void(CommitStep)> observe)
{
    m_commitObserver = std::move(observe);
}

QStringList TeamBundle::problems() const
{
    std::lock_guard lock(m_problemsMutex);
    return m_problems;
}

void TeamBundle::publish(const QSet<IdFor<VersionBundle>>& changed,
                         QHash<IdFor<VersionBundle>, QString> forceUnlockedBy)
{
    if (!changed.isEmpty() || !forceUnlockedBy.isEmpty())
        m_changes.send(TeamBundleChange{changed, std::move(forceUnlockedBy)});
}

void TeamBundle::announce(const QSet<IdFor<VersionBundle>>& changed)
{
    publish(changed);
}

void TeamBundle::endCheckout(const IdFor<VersionBundle>& bundle, const QList<IdFor<VersionBundle>>& locked,
                             const std::optional<ReleaseNote>& note)
{
    {
        std::lock_guard ending(m_endingMutex);
        m_ending.insert(bundle);
    }
    const auto ended = qScopeGuard([this, &bundle] {
        std::lock_guard ending(m_endingMutex);
        m_ending.remove(bundle);
    });
    // The lock first: the record outlives it, never the other way round (a lock of ours without
    // a record would wait for a force unlock, its working copy unknown to this client), unless
    // the lock is noted as to be given up.
    giveUpLocks(bundle, locked, note);
    m_checkouts->remove(bundle);
}

void TeamBundle::giveUpLocks(const IdFor<VersionBundle>& initiator, const QList<IdFor<VersionBundle>>& locked,
                             const std::optional<ReleaseNote>& note)
{
    const QString failure =
        m_releases->run(PendingRelease{initiator, locked, note}, std::chrono::milliseconds(m_releaseWaitMs.load()));
    if (!failure.isEmpty())
        m_log->event(QStringLiteral("The locks are given up as soon as the share allows it: ") + escapedForLog(failure),
                     QStringLiteral("giveUpLocks"), Logger::Level::warning);
}

void TeamBundle::setReleaseWaitForTesting(std::chrono::milliseconds wait)
{
    m_releaseWaitMs = wait.count();
}

void TeamBundle::settleReleases(const QList<IdFor<VersionBundle>>& ids)
{
    finishReleases();
    m_releases->keep(ids);
}

void TeamBundle::finishReleases()
{
    if (m_releases->isEmpty())
        return;
    // Short tries: the next poll tries again.
    for (const QString& failure : m_releases->finish(heldOpenBound::retriedByPoll))
        m_log->event(QStringLiteral("The locks are given up as soon as the share allows it: ") + escapedForLog(failure),
                     QStringLiteral("poll"), Logger::Level::warning);
}

QSet<IdFor<VersionBundle>> TeamBundle::rereadLocks(const QSet<IdFor<VersionBundle>>& named)
{
    // A lock taken or given up elsewhere shows in a listing of locks/ only once the share's
    // cache of it expires (20 s with sshfs's defaults); the records that go with it (a check-out,
    // a check-in, a discard) are read by name at once, and so are the lock files they name. A
    // lock is given up just after its record is written, so it is read again for a while; and
    // for as long as the listing does not show it as it is, lest the listing undo it.
    constexpr auto watchSpan = std::chrono::seconds(30);
    const auto now = std::chrono::steady_clock::now();
    QSet<IdFor<VersionBundle>> watched;
    {
        std::lock_guard lock(m_lockWatchMutex);
        for (const auto& id : named)
            m_lockWatch.insert(id, now + watchSpan);
        for (auto it = m_lockWatch.cbegin(); it != m_lockWatch.cend(); ++it)
            watched.insert(it.key());
    }
    const auto holderText = [this](const IdFor<VersionBundle>& id) {
        const auto holder = m_locks->holder(id);
        return holder ? holder->toJson() : QByteArray();
    };
    QHash<IdFor<VersionBundle>, QByteArray> before;
    for (const auto& id : std::as_const(watched))
        before.insert(id, holderText(id));
    const QSet<IdFor<VersionBundle>> listed = m_locks->refresh();
    m_locks->reread(watched);
    QSet<IdFor<VersionBundle>> changed = listed;
    std::lock_guard lock(m_lockWatchMutex);
    for (const auto& id : std::as_const(watched)) {
        if (holderText(id) != before.value(id))
            changed.insert(id);
        else
            changed.remove(id); // only the listing disagreed, and the file read by name won
        // Given up (or never taken: an import), or read for long enough, once the listing agrees.
        const auto until = m_lockWatch.constFind(id);
        if (until != m_lockWatch.cend() && (*until <= now || !m_locks->holder(id)) && !listed.contains(id))
            m_lockWatch.erase(until);
    }
    return changed;
}

QSet<IdFor<VersionBundle>> TeamBundle::refreshLocks(QHash<IdFor<VersionBundle>, QString>& forceUnlockedBy,
                                                    const QSet<IdFor<VersionBundle>>& named)
{
    QSet<IdFor<VersionBundle>> changed = rereadLocks(named);
    // A check-out of ours whose lock is no longer ours: somebody broke it. The working copy
    // stays where it is; a copy of it goes to the attic, once. A check-out this client is ending
    // has given up its lock itself, and one that has ended is gone: both are left alone.
    for (const Checkout& listed : m_checkouts->all()) {
        std::lock_guard ending(m_endingMutex);
        const auto checkout = m_checkouts->find(listed.bundle);
        const auto holder = checkout ? m_locks->holder(checkout->bundle) : std::nullopt;
        if (checkout && checkout->displaced && m_locks->isMine(checkout->bundle, checkout->bundle)
            && holder->date.isValid() && holder->date <= checkout->date) {
            // The lock this check-out took names it after all (it read otherwise for a while):
            // the check-out is ours again, its working copy where it was, and the copy in the
            // attic stays. A lock taken since (a new check-out under way) is not that lock.
            m_checkouts->update(checkout->bundle, [](Checkout& kept) { kept.displaced = false; });
            changed.insert(checkout->bundle);
            continue;
        }
        if (!checkout || checkout->displaced || m_ending.contains(checkout->bundle)
            || m_locks->isMine(checkout->bundle, checkout->bundle))
            continue;
        if (holder && holder->forced)
            forceUnlockedBy.insert(checkout->bundle, displayName(holder->fullName, holder->userName));
        changed.insert(checkout->bundle);
        try {
            if (QFileInfo::exists(checkout->workingCopy))
                keepInAttic(checkout->bundle, checkout->workingCopy, QStringLiteral("force unlocked"));
            m_checkouts->update(checkout->bundle, [](Checkout& kept) { kept.displaced = true; });
        } catch (const Error& error) {
            m_log->event(escapedForLog(error.localizedDescription()), QStringLiteral("refreshLocks"),
                         Logger::Level::error);
        }
    }
    return changed;
}

bool TeamBundle::checkReachable()
{
    // Opened and read, never only looked at: a share answers a file's attributes from a cache
    // (sshfs for 20 s) long after its server stopped.
    const bool reachable = m_markerProbe->check();
    {
        std::lock_guard lock(m_reachabilityMutex);
        m_lastLook = std::chrono::steady_clock::now().time_since_epoch().count();
        if (m_reachable.exchange(reachable) == reachable)
            return reachable;
        m_reachabilityChanges.send(reachable);
    }
    // Last, and without the mutex: the log is written to the share, which may hang.
    m_log->event(reachable ? QStringLiteral("The team bundle can be reached again.")
                           : QStringLiteral("The team bundle can't be reached."),
                 QStringLiteral("poll"), reachable ? Logger::Level::info : Logger::Level::warning);
    return reachable;
}

void TeamBundle::poll()
{
    if (!checkReachable())
        return;
    // Temporary files this client could not remove while the share was gone.
    m_contents->removeOwnTemporaries();
    confirmUnconfirmed();
    QStringList problems;
    const auto records = m_journal->readNew(problems);
    const QStringList withdrawn = m_journal->withdrawnProblems();
    if (!problems.isEmpty() || !withdrawn.isEmpty()) {
        std::lock_guard lock(m_problemsMutex);
        for (const auto& problem : withdrawn) {
            if (m_problems.removeAll(problem) > 0)
                m_log->event(QStringLiteral("No longer so: ") + escapedForLog(problem), QStringLiteral("poll"),
                             Logger::Level::info);
        }
        for (const auto& problem : std::as_const(problems)) {
            if (!m_problems.contains(problem)) {
                m_problems << problem;
                m_log->event(escapedForLog(problem), QStringLiteral("poll"), Logger::Level::error);
            }
        }
    }
    // The locks that new records say were taken or given up, with those of the bundles nested
    // in them (a library's check-out holds its events' locks too).
    QSet<IdFor<VersionBundle>> named;
    const auto snapshot = m_model.snapshot();
    for (const auto& record : records) {
        if (record.kind != RecordKind::lock && record.kind != RecordKind::discard && record.kind != RecordKind::version)
            continue;
        named.insert(record.bundle);
        if (const auto state = snapshot->find(record.bundle))
            named.unite(QSet<IdFor<VersionBundle>>(state->children.cbegin(), state->children.cend()));
    }
    QHash<IdFor<VersionBundle>, QString> forceUnlockedBy;
    QSet<IdFor<VersionBundle>> changed = refreshLocks(forceUnlockedBy, named);
    changed += m_model.apply(records);
    publish(changed, std::move(forceUnlockedBy));
    finishReleases();
    autoSave();
}

void TeamBundle::autoSave()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    for (Checkout checkout : m_checkouts->all()) {
        if (!checkout.autoSave || checkout.displaced || checkout.autoSaveInterval <= 0
            || checkout.lastAutoSave.secsTo(now) < checkout.autoSaveInterval
            || !m_locks->isMine(checkout.bundle, checkout.bundle) || !QFileInfo::exists(checkout.workingCopy))
            continue;
        try {
            // Only a working copy that changed since the last save is kept, and only its new
            // contents take space; the team sees who is working on what.
            const auto cache = statCache(checkout.bundle);
            QStringList eventFolders;
            for (const auto& event : checkout.events)
                eventFolders << event.folder;
            QStringList skipped;
            SnapshotOptions options;
            options.cache = cache.get();
            options.skippedSpecialFiles = &skipped;
            options.excludeDirectory = [eventFolders](const QString& path) { return eventFolders.contains(path); };
            // Built on the last copy kept: only what changed since is read and stored.
            options.base = ContentHash::fromHex(checkout.lastSavedManifest);
            const ContentHash tree = snapshotTree(checkout.workingCopy, *m_contents, options);
            checkout.lastAutoSave = now;
            if (tree.toHex() != checkout.lastSavedManifest) {
                writeAtticEntry(checkout.bundle, QFileInfo(checkout.workingCopy).fileName(), tree,
                                QStringLiteral("auto-saved"), skipped);
                commit(RecordKind::editing, checkout.bundle,
                       {{QStringLiteral("message"), QStringLiteral("is editing this document")}});
                checkout.lastSavedManifest = tree.toHex();
            }
            // Only what the auto-save keeps: a check-in may be writing the check-out meanwhile,
            // or may have ended it.
            m_checkouts->update(checkout.bundle, [&checkout](Checkout& saved) {
                saved.lastAutoSave = checkout.lastAutoSave;
                saved.lastSavedManifest = checkout.lastSavedManifest;
            });
        } catch (const Error& error) {
            m_log->event(escapedForLog(error.localizedDescription()), QStringLiteral("autoSave"),
                         Logger::Level::warning);
        }
    }
}

void TeamBundle::setRecordWaitLimit(std::chrono::milliseconds limit)
{
    m_recordWaitLimitMs = limit.count();
}

void TeamBundle::awaitRecords(const QList<ReleaseNote>& notes, const QString& itemName)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_recordWaitLimitMs.load());
    auto pause = std::chrono::milliseconds(50);
    // A client new to this computer is read by name before a listing of the journal shows it.
    for (const auto& note : notes)
        m_journal->lookFor(note.clientId);
    for (;;) {
        bool missing = false;
        for (const auto& note : notes) {
            switch (m_journal->recordState(note.clientId, note.seq)) {
            case RecordState::read:
                break;
            case RecordState::damaged:
                m_log->event(
                    QStringLiteral("The record %1 of %2 that last changed %3 is damaged; checking out without it.")
                        .arg(note.seq)
                        .arg(escapedForLog(note.clientId), escapedForLog(itemName)),
                    QStringLiteral("awaitRecords"), Logger::Level::error);
                break;
            case RecordState::notYet:
                missing = true;
                break;
            }
        }
        if (!missing)
            return;
        if (std::chrono::steady_clock::now() >= deadline)
            throw VersioningError(VersioningError::Case::changesNotArrived, itemName);
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(1000));
        poll();
    }
}

void TeamBundle::keepInAttic(const IdFor<VersionBundle>& id, const QString& path, const QString& reason,
                             StatCache* cache)
{
    // Sockets and pipes an application left in a working copy can't be kept; they are listed in
    // the entry and never a reason to lose the rest.
    QStringList skipped;
    SnapshotOptions options;
    options.cache = cache;
    options.skippedSpecialFiles = &skipped;
    // Most of a working copy is what its bundle's current version holds.
    if (const auto state = snapshot()->find(id); state && state->currentVersion())
        options.base = state->currentVersion()->manifest;
    const ContentHash tree = snapshotTree(path, *m_contents, options);
    writeAtticEntry(id, QFileInfo(path).fileName(), tree, reason, skipped);
}

void TeamBundle::writeAtticEntry(const IdFor<VersionBundle>& id, const QString& name, const ContentHash& tree,
                                 const QString& reason, const QStringList& skipped)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    QJsonObject entry{{QStringLiteral("reason"), reason},
                      {QStringLiteral("name"), name},
                      {QStringLiteral("manifest"), tree.toHex()},
                      {QStringLiteral("user"), m_identity.user.userName},
                      {QStringLiteral("host"), m_identity.user.hostName},
                      {QStringLiteral("date"), now.toString(Qt::ISODateWithMs)}};
    if (!skipped.isEmpty())
        entry.insert(QStringLiteral("skipped"), QJsonArray::fromStringList(skipped));
    const QString folder = m_root + QStringLiteral("/attic/") + id.toString();
    ensureOwnFolder(folder);
    writeFileAtomically(folder + QLatin1Char('/') + now.toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"))
                            + QLatin1Char('-') + IdFor<Versions>::make().toString().left(8) + QStringLiteral(".json"),
                        QJsonDocument(entry).toJson());
}

QString TeamBundle::atticPath(const IdFor<VersionBundle>& id) const
{
    const QString path = m_root + QStringLiteral("/attic/") + id.toString();
    ensureOwnFolder(path);
    return path;
}

int TeamBundle::collectGarbage(std::chrono::seconds gracePeriod)
{
    poll();
    QSet<ContentHash> referenced;
    QSet<ContentHash> manifests;
    for (const auto& state : std::as_const(snapshot()->bundles)) {
        for (const auto& version : state->versions)
            manifests.insert(version.manifest);
    }
    // What the attic keeps is never collected, whatever became of its bundle.
    QDirIterator attic(m_root + QStringLiteral("/attic"), {QStringLiteral("*.json")}, QDir::Files,
                       QDirIterator::Subdirectories);
    while (attic.hasNext()) {
        const QString entry = attic.next();
        std::optional<ContentHash> hash;
        try {
            hash = ContentHash::fromHex(QJsonDocument::fromJson(readWholeFile(entry, readLimits::atticEntry))
                                            .object()
                                            .value(QStringLiteral("manifest"))
                                            .toString());
        } catch (const Error&) {
        }
        if (!hash) {
            m_log->event(QStringLiteral("Stored contents were not collected: unreadable attic entry ")
                             + escapedForLog(entry),
                         QStringLiteral("collectGarbage"), Logger::Level::warning);
            return 0;
        }
        manifests.insert(*hash);
    }
    // Trees that versions share are read once; whatever they name is kept.
    TreeReader reader(*m_contents, false);
    QSet<ContentHash> visited;
    for (const auto& hash : std::as_const(manifests)) {
        try {
            collectTreeReferences(reader, hash, visited, referenced);
        } catch (const Error& error) {
            m_log->event(QStringLiteral("Stored contents were not collected: ")
                             + escapedForLog(error.localizedDescription()),
                         QStringLiteral("collectGarbage"), Logger::Level::warning);
            return 0;
        }
    }
    return m_contents->collectGarbage(referenced, gracePeriod);
}

QCoro::Task<> TeamBundle::showInFileManager() const
{
    return m_workspace->revealInFileManager(m_root);
}

QString TeamBundle::materializeAttic(const IdFor<VersionBundle>& id) const
{
    const QString folder = localFolder(QStringLiteral("attic")) + QLatin1Char('/') + id.toString();
    ensureDirectory(folder);
    const QDir entries(m_root + QStringLiteral("/attic/") + id.toString());
    for (const QString& entryName : entries.entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name)) {
        const QString entryPath = entries.filePath(entryName);
        QJsonObject entry;
        try {
            entry = QJsonDocument::fromJson(readWholeFile(entryPath, readLimits::atticEntry)).object();
        } catch (const StorageError& error) {
            // Damaged (not a file, far too large) like one that is not JSON: the others are kept.
            // A file that can't be read at all right now fails the whole operation.
            if (error.kind() != StorageError::Kind::corrupt)
                throw;
        }
        const auto manifest = ContentHash::fromHex(entry.value(QStringLiteral("manifest")).toString());
        const QString name = safeFileName(entry.value(QStringLiteral("name")).toString());
        if (!manifest || name.isEmpty()) {
            m_log->event(QStringLiteral("Unreadable attic entry ") + escapedForLog(entryPath),
                         QStringLiteral("materializeAttic"), Logger::Level::warning);
            continue;
        }
        // "20261208-101500-123-ABCDEF12 force unlocked/Cut.kdenlive": one folder per kept copy.
        const QString copyFolder = folder + QLatin1Char('/') + QFileInfo(entryName).completeBaseName()
                                   + QLatin1Char(' ') + safeFileName(entry.value(QStringLiteral("reason")).toString());
        const QString destination = copyFolder + QLatin1Char('/') + name;
        if (QFileInfo::exists(destination))
            continue;
        ensureDirectory(copyFolder);
        writeStoredTreeAtomically(*m_contents, *manifest, destination);
    }
    return folder;
}

QString TeamBundle::localFolder(const QString& kind) const
{
    const QString base =
        kind == QLatin1String("copies") ? m_fileManager->cacheFolder() : m_fileManager->userDataFolder();
    return base + QLatin1Char('/') + kind + QLatin1Char('/') + m_teamId;
}

std::shared_ptr<StatCache> TeamBundle::statCache(const IdFor<VersionBundle>& id)
{
    // The records kept in memory over all bundles, at most (a few hundred bytes each).
    constexpr qsizetype recordsKept = 200'000;
    std::lock_guard lock(m_statCachesMutex);
    const auto found =
        std::find_if(m_statCaches.begin(), m_statCaches.end(), [&](const auto& entry) { return entry.first == id; });
    std::shared_ptr<StatCache> cache;
    if (found != m_statCaches.end()) {
        cache = found->second;
        m_statCaches.erase(found);
    } else {
        cache = std::make_shared<StatCache>(statCacheFile(id));
        cache->load();
    }
    m_statCaches.insert(m_statCaches.begin(), {id, cache});
    qsizetype total = 0;
    for (auto entry = m_statCaches.begin(); entry != m_statCaches.end();) {
        total += entry->second->size();
        if (entry != m_statCaches.begin() && total > recordsKept)
            entry = m_statCaches.erase(entry);
        else
            ++entry;
    }
    return cache;
}

QString TeamBundle::statCacheFile(const IdFor<VersionBundle>& id) const
{
    const QString folder = localFolder(QStringLiteral("cache"));
    ensureDirectory(folder);
    return folder + QLatin1Char('/') + id.toString() + QStringLiteral(".statcache");
}

} // namespace vantrel
