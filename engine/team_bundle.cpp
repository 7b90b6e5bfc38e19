// Creating, opening and closing a team bundle: its marker and format, the probe of its share,
// its own folders, and the folders it has on this computer.

#include "engine/team_bundle.h"

#include "desktop/system_services.h"
#include "engine/background_work.h"
#include "engine/engine_errors.h"
#include "engine/locks/client_lease.h"
#include "engine/share/reachability_probe.h"
#include "engine/share/share_probe.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/change_watcher.h"
#include "engine/storage/chunks/chunk_cache.h"
#include "engine/storage/fixed_length_files.h"
#include "engine/storage/read_limits.h"
#include "engine/storage/shared_folders.h"
#include "engine/storage/statcache.h"
#include "engine/storage/storage_error.h"
#include "engine/version_bundles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
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

void TeamBundle::ensureOwnFolder(const QString& path)
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
      m_releases(std::make_unique<PendingReleases>(
          localFolder(QStringLiteral("releases")), *m_locks,
          [this](const QString& dropped) {
              m_log->event(escapedForLog(dropped), QStringLiteral("giveUpLocks"), Logger::Level::warning);
          })),
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
    // Within a time limit: a mount whose server hangs never answers, and one that gave up says
    // ENOTCONN or EIO. Either can't be reached; only a folder that isn't there is not found.
    checkFolderToCreateIn(parent);
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
    team->m_contents->setPackedChunks(format >= 4);
    team->m_contents->setWritable(!team->m_writeProblem);
    // Chunks this computer stored or read are kept in its cache folder, so that a later version
    // of a large file comes over the network only for what changed. A bundle on the cache's own
    // disk gains nothing from it, and would have every chunk written twice.
    if (format >= 3 && !team->m_fileManager->cacheFolder().isEmpty()) {
        const QString chunks = ChunkCache::folderFor(team->m_fileManager->cacheFolder(), teamId);
        if (ChunkCache::sparesReadsOf(root, chunks))
            team->m_contents->setChunkSource(std::make_shared<ChunkCache>(chunks, ChunkCache::defaultBound(chunks)));
    }
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

QCoro::Task<> TeamBundle::showInFileManager() const
{
    return m_workspace->revealInFileManager(m_root);
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
