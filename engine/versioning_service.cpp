#include "engine/versioning_service.h"

#include "engine/engine_errors.h"
#include "engine/file_names.h"
#include "engine/foundation/worker.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/manifest.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"
#include "engine/storage/statcache.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"

#include <QDir>
#include <QThreadPool>
#include <QFileInfo>
#include <QJsonArray>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace vantrel {

namespace {

const QString eventFolderExtension = QStringLiteral("videoevent");

QString originName(VersionOrigin origin)
{
    switch (origin) {
    case VersionOrigin::imported:
        return QStringLiteral("imported");
    case VersionOrigin::checkedIn:
        return QStringLiteral("checkedIn");
    case VersionOrigin::created:
        return QStringLiteral("created");
    case VersionOrigin::reverted:
        return QStringLiteral("reverted");
    }
    Q_UNREACHABLE();
}

QJsonObject versionFields(const IdFor<Versions>& version, const ContentHash& manifest, const QString& message,
                          const QJsonObject& application, VersionOrigin origin)
{
    return QJsonObject{{QStringLiteral("version"), version.toString()},
                       {QStringLiteral("manifest"), manifest.toHex()},
                       {QStringLiteral("message"), message},
                       {QStringLiteral("application"), application},
                       {QStringLiteral("origin"), originName(origin)}};
}

// The fields of the record that created the bundle.
QJsonObject creationFields(const BundleState& state)
{
    for (const auto& record : state.history) {
        if (record.kind == QLatin1String("create"))
            return record.fields;
    }
    return {};
}

QString storedManifest(ContentStore& store, const Manifest& manifest)
{
    return store.storeBytes(manifest.toJson()).toHex();
}

void renameInto(const QString& from, const QString& to)
{
    if (std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw StorageError::fromErrno(errno, to, QStringLiteral("rename"));
}

QString nameForNewBundle(const QString& name, const QString& what)
{
    if (name.trimmed().isEmpty())
        throw VersioningError(VersioningError::Case::invalidName, what);
    return name;
}

// The event folders of a library package: its direct sub-folders with the event extension.
QStringList eventFolderNames(const QString& package)
{
    QStringList names;
    for (const QFileInfo& child : QDir(package).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name)) {
        if (!child.isSymLink() && child.suffix().compare(eventFolderExtension, Qt::CaseInsensitive) == 0)
            names << child.fileName();
    }
    return names;
}

// Records the files of a freshly written working copy in the stat cache, so that a check-in
// reads only what the user changed. Each file's modification time is set a few seconds back,
// which lets the cache trust the record at once: any later edit gives the file a new time.
void recordWrittenTree(StatCache& cache, const Manifest& manifest, const QString& root)
{
    const qint64 recorded = QDateTime::currentMSecsSinceEpoch() * 1'000'000;
    const struct timespec back[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(recorded / 1'000'000'000 - 5), 0}};
    for (const auto& entry : manifest.entries) {
        if (entry.kind != ManifestEntry::Kind::file)
            continue;
        const QString path = entry.path.isEmpty() ? root : root + QLatin1Char('/') + entry.path;
        const QByteArray native = QFile::encodeName(path);
        struct stat status {};
        if (::utimensat(AT_FDCWD, native.constData(), back, AT_SYMLINK_NOFOLLOW) != 0
            || ::lstat(native.constData(), &status) != 0)
            continue;
        StatCache::Entry recordedEntry = StatCache::Entry::fromStat(status);
        recordedEntry.hash = entry.hash;
        recordedEntry.recordedNs = recorded;
        cache.record(path, recordedEntry);
    }
}

// Removes a working copy that is no longer needed without making the caller wait: it is moved
// aside at once and deleted in the background.
void discardWorkingFolder(const QString& folder)
{
    const QString aside = QFileInfo(folder).path() + QStringLiteral("/.removed-") + IdFor<Versions>::make().toString();
    const QString doomed = std::rename(QFile::encodeName(folder).constData(), QFile::encodeName(aside).constData()) == 0
                               ? aside
                               : folder;
    QThreadPool::globalInstance()->start([doomed] { QDir(doomed).removeRecursively(); });
}

// The contents the given versions use. A version being replaced keeps them referenced, so
// they need no touch to survive garbage collection while the new version is written.
QSet<ContentHash> contentsInUse(const ContentStore& store, const QList<const VersionInfo*>& versions)
{
    QSet<ContentHash> hashes;
    for (const VersionInfo* version : versions) {
        if (!version)
            continue;
        try {
            hashes += Manifest::fromJson(store.readBytes(version->manifest)).contentHashes();
        } catch (const Error&) {
            // Then those contents are touched as usual.
        }
    }
    return hashes;
}

struct EventToWrite {
    std::shared_ptr<const BundleState> event;
    const VersionInfo* version;
};

// Writes events into `package`, which already holds the library's own tree. Each keeps the
// folder name it was imported with while its name is unchanged; otherwise its name, made safe
// and unique. Returns the folder of each event, in order.
QStringList writeEvents(const ContentStore& store, const Manifest& library, const QString& package,
                        const QList<EventToWrite>& events)
{
    QSet<QString> taken;
    for (const auto& entry : library.entries) {
        if (!entry.path.contains(u'/'))
            taken.insert(entry.path.toCaseFolded());
    }
    QStringList folders;
    for (const auto& [event, version] : events) {
        const QString original = creationFields(*event).value(QStringLiteral("folder")).toString();
        const QString base = safeFileName(event->name);
        QString folder;
        if (!original.isEmpty() && QFileInfo(original).completeBaseName() == base && !taken.contains(original.toCaseFolded())) {
            folder = original;
            taken.insert(original.toCaseFolded());
        } else {
            folder = uniqueFileName(QString(), base, eventFolderExtension, &taken);
        }
        writeTree(Manifest::fromJson(store.readBytes(version->manifest)), store, package + QLatin1Char('/') + folder);
        folders << folder;
    }
    return folders;
}

} // namespace

VersioningService::VersioningService(VersioningServiceType type, IdFor<VersionBundle> id, DocumentType documentType,
                                     std::shared_ptr<TeamBundle> team)
    : m_type(type), m_id(std::move(id)), m_documentType(std::move(documentType)), m_team(std::move(team))
{
}

VersioningService::~VersioningService() = default;

VersioningServiceType VersioningService::serviceType(const DocumentType& type)
{
    if (type.isCollection())
        return VersioningServiceType::collection;
    if (type.isLibrary())
        return VersioningServiceType::library;
    if (type.isEvent())
        return VersioningServiceType::event;
    return VersioningServiceType::document;
}

std::shared_ptr<VersioningService> VersioningService::bind(VersioningServiceType type, const IdFor<VersionBundle>& id,
                                                           const std::shared_ptr<TeamBundle>& team)
{
    auto state = team->snapshot()->find(id);
    if (!state) {
        team->poll(); // made by another client a moment ago
        state = team->snapshot()->find(id);
    }
    if (!state)
        throw VersioningError(VersioningError::Case::itemNotFound, id.toString());
    // A library asked for as a plain document is still served as a library, so that its events
    // can be listed and nested.
    if (type == VersioningServiceType::document && state->type.isLibrary())
        type = VersioningServiceType::library;
    return std::shared_ptr<VersioningService>(new VersioningService(type, id, state->type, team));
}

QCoro::Task<std::shared_ptr<VersioningService>> VersioningService::open(
    VersioningServiceType type, IdFor<VersionBundle> id, std::optional<QString>, std::optional<QString>,
    std::shared_ptr<TeamBundle> teamBundle, std::shared_ptr<FileManaging>, std::shared_ptr<WorkspaceInterfacing>,
    S3Factory)
{
    auto work = [type, id, teamBundle] { return bind(type, id, teamBundle); };
    co_return co_await onWorker(std::move(work));
}

QCoro::Task<std::shared_ptr<VersioningService>> VersioningService::createCollection(
    QString collectionName, std::shared_ptr<TeamBundle> teamBundle, std::shared_ptr<FileManaging>,
    std::shared_ptr<WorkspaceInterfacing>)
{
    auto work = [collectionName, teamBundle] {
        nameForNewBundle(collectionName, DocumentType::collection().description());
        const auto id = IdFor<VersionBundle>::make();
        teamBundle->commit(QStringLiteral("create"), id,
                           {{QStringLiteral("type"), DocumentType::collection().toJson()},
                            {QStringLiteral("name"), collectionName}});
        return bind(VersioningServiceType::collection, id, teamBundle);
    };
    co_return co_await onWorker(std::move(work));
}

namespace {

std::shared_ptr<VersioningService> createEmptyPackage(const DocumentType& type, const QString& name,
                                                      const std::shared_ptr<TeamBundle>& team,
                                                      VersioningServiceType serviceType,
                                                      std::shared_ptr<VersioningService> (*bind)(VersioningServiceType,
                                                                                                 const IdFor<VersionBundle>&,
                                                                                                 const std::shared_ptr<TeamBundle>&))
{
    Manifest empty;
    empty.rootKind = Manifest::RootKind::directory;
    const QString manifest = storedManifest(team->contents(), empty);
    const auto id = IdFor<VersionBundle>::make();
    team->commit({JournalChange{id, QStringLiteral("create"),
                                {{QStringLiteral("type"), type.toJson()},
                                 {QStringLiteral("name"), name},
                                 {QStringLiteral("extension"), type.preferredExtension()}}},
                  JournalChange{id, QStringLiteral("version"),
                                versionFields(IdFor<Versions>::make(), *ContentHash::fromHex(manifest), QString(),
                                              DocumentApplication::empty(type).toJson().toObject(),
                                              VersionOrigin::created)}});
    return bind(serviceType, id, team);
}

} // namespace

QCoro::Task<std::shared_ptr<VersioningService>> VersioningService::createLibrary(
    QString newLibraryName, std::shared_ptr<TeamBundle> teamBundle, std::shared_ptr<FileManaging>,
    std::shared_ptr<WorkspaceInterfacing>)
{
    return createEmpty(DocumentType::library(), VersioningServiceType::library, std::move(newLibraryName), std::move(teamBundle));
}

QCoro::Task<std::shared_ptr<VersioningService>> VersioningService::createEvent(
    QString newEventName, std::shared_ptr<TeamBundle> teamBundle, std::shared_ptr<FileManaging>,
    std::shared_ptr<WorkspaceInterfacing>)
{
    return createEmpty(DocumentType::event(), VersioningServiceType::event, std::move(newEventName), std::move(teamBundle));
}

QCoro::Task<std::shared_ptr<VersioningService>> VersioningService::createEmpty(DocumentType type, VersioningServiceType serviceType,
                                                                               QString name, std::shared_ptr<TeamBundle> team)
{
    auto work = [type, serviceType, name, team] {
        return createEmptyPackage(type, nameForNewBundle(name, type.description()), team, serviceType, &VersioningService::bind);
    };
    co_return co_await onWorker(std::move(work));
}

QCoro::Task<std::shared_ptr<VersioningService>> VersioningService::import(
    VersioningServiceType, QString source, std::optional<QString> newName, std::optional<QString>,
    std::optional<QString>, QString commitMessage, DocumentApplication documentApplication,
    std::shared_ptr<TeamBundle> teamBundle, std::shared_ptr<FileManaging>, std::shared_ptr<WorkspaceInterfacing>)
{
    auto work = [=]() mutable {
        const QFileInfo info(source);
        if (!info.exists())
            throw StorageError::fromErrno(ENOENT, source, QStringLiteral("import"));
        const DocumentType type = DocumentType::forPath(source);
        const QString name = nameForNewBundle(newName.value_or(info.isDir() || !info.suffix().isEmpty() ? info.completeBaseName()
                                                                                                         : info.fileName()),
                                              type.description());
        if (!documentApplication.writerVersion && info.isFile())
            documentApplication.writerVersion = readWriterVersion(type, source);
        if (!documentApplication.name && !type.appName().isEmpty())
            documentApplication.name = type.appName();
        ContentStore& store = teamBundle->contents();

        // Every content is stored first; the one record that makes the import visible comes last.
        const QStringList eventFolders = type.isLibrary() && info.isDir() ? eventFolderNames(source) : QStringList();
        // The stat cache recorded now lets the next version from the same place skip what did
        // not change.
        const auto id = IdFor<VersionBundle>::make();
        const QString cacheFolder = teamBundle->localFolder(QStringLiteral("cache"));
        ensureDirectory(cacheFolder);
        StatCache cache(cacheFolder + QLatin1Char('/') + id.toString() + QStringLiteral(".statcache"));
        SnapshotOptions options;
        options.cache = &cache;
        options.excludeDirectory = [eventFolders](const QString& relativePath) { return eventFolders.contains(relativePath); };
        const Manifest manifest = snapshotTree(source, store, options);

        std::vector<JournalChange> changes{
            JournalChange{id, QStringLiteral("create"),
                          {{QStringLiteral("type"), type.toJson()},
                           {QStringLiteral("name"), name},
                           {QStringLiteral("extension"), info.isDir() && info.suffix().isEmpty() ? QString() : info.suffix()}}},
            JournalChange{id, QStringLiteral("version"),
                          versionFields(IdFor<Versions>::make(), *ContentHash::fromHex(storedManifest(store, manifest)),
                                        commitMessage, documentApplication.toJson().toObject(), VersionOrigin::imported)}};
        for (const QString& folder : std::as_const(eventFolders)) {
            const Manifest eventManifest = snapshotTree(source + QLatin1Char('/') + folder, store);
            const auto eventId = IdFor<VersionBundle>::make();
            const QFileInfo eventInfo(folder);
            changes.push_back({eventId, QStringLiteral("create"),
                               {{QStringLiteral("type"), DocumentType::event().toJson()},
                                {QStringLiteral("name"), eventInfo.completeBaseName().isEmpty() ? folder : eventInfo.completeBaseName()},
                                {QStringLiteral("extension"), eventInfo.suffix()},
                                {QStringLiteral("folder"), folder}}});
            changes.push_back({eventId, QStringLiteral("version"),
                               versionFields(IdFor<Versions>::make(), *ContentHash::fromHex(storedManifest(store, eventManifest)),
                                             commitMessage, DocumentApplication::empty(DocumentType::event()).toJson().toObject(),
                                             VersionOrigin::imported)});
            changes.push_back({id, QStringLiteral("nest"), {{QStringLiteral("child"), eventId.toString()}}});
        }
        teamBundle->commit(changes);
        return bind(serviceType(type), id, teamBundle);
    };
    co_return co_await onWorker(std::move(work));
}

std::shared_ptr<const BundleState> VersioningService::state() const
{
    auto state = m_team->snapshot()->find(m_id);
    if (!state)
        throw VersioningError(VersioningError::Case::itemNotFound, m_id.toString());
    return state;
}

std::shared_ptr<const BundleState> VersioningService::liveState() const
{
    auto current = state();
    if (current->trashed)
        throw VersioningError(VersioningError::Case::itemInTrash, current->name);
    return current;
}

QString VersioningService::versionBundleURL() const { return m_team->versionBundles().bundleUrl(m_id); }

QString VersioningService::name() const { return state()->name; }

BundleInfo VersioningService::bundleInfo() const
{
    const auto current = state();
    return BundleInfo{current->created, current->modified};
}

QList<VersionBundle::Info> VersioningService::visibleActiveContainers() const
{
    const auto snapshot = m_team->snapshot();
    const auto current = snapshot->find(m_id);
    if (!current)
        throw VersioningError(VersioningError::Case::itemNotFound, m_id.toString());
    return m_team->versionBundles().summary(*snapshot, *current).activeContainersExcludingTrash;
}

bool VersioningService::isLocked() const { return m_team->locks().holder(m_id).has_value(); }

bool VersioningService::allowsChanges() const
{
    const auto holder = m_team->locks().holder(m_id);
    return !holder || holder->clientId == m_team->clientId();
}

LockHolder VersioningService::lockHolder() const
{
    const auto holder = m_team->locks().holder(m_id);
    if (!holder)
        return {};
    return LockHolder{holder->fullName.isEmpty() ? holder->userName : holder->fullName, holder->hostName};
}

bool VersioningService::isLockedByCurrentInitiator(const IdFor<VersionBundle>& initiator) const
{
    return m_team->locks().isMine(m_id, initiator);
}

bool VersioningService::isCheckedOut() const
{
    return m_team->checkouts().find(m_id).has_value() && m_team->locks().isMine(m_id, m_id);
}

bool VersioningService::canCheckout() const
{
    if (m_type != VersioningServiceType::document && m_type != VersioningServiceType::library)
        return false;
    const auto current = m_team->snapshot()->find(m_id);
    return current && !current->trashed && current->currentVersion() && allowsChanges();
}

bool VersioningService::canCreateFCPEvent() const
{
    if (m_type != VersioningServiceType::library)
        return false;
    const auto current = m_team->snapshot()->find(m_id);
    return current && !current->trashed && allowsChanges();
}

std::optional<VersioningServiceType> VersioningService::nestedType() const
{
    switch (m_type) {
    case VersioningServiceType::collection:
        return VersioningServiceType::document;
    case VersioningServiceType::library:
        return VersioningServiceType::event;
    default:
        return std::nullopt;
    }
}

QList<IdFor<Versions>> VersioningService::versionIDs() const
{
    QList<IdFor<Versions>> ids;
    for (const auto& version : state()->versions)
        ids.append(version.id);
    return ids;
}

std::optional<IdFor<Versions>> VersioningService::currentVersionID() const
{
    const auto current = state();
    if (const auto* version = current->currentVersion())
        return version->id;
    return std::nullopt;
}

DocumentApplication VersioningService::documentApplicationForVersion(const IdFor<Versions>& versionID) const
{
    const auto current = state();
    const VersionInfo* version = current->version(versionID);
    if (!version)
        throw VersioningError(VersioningError::Case::versionNotFound, current->name);
    DocumentApplication application = DocumentApplication::fromJson(version->application);
    application.documentType = current->type;
    return application;
}

QCoro::Task<DocumentApplication> VersioningService::documentApplication(S3Factory)
{
    auto self = shared_from_this();
    auto work = [self] {
        const auto current = self->state();
        DocumentApplication application = DocumentApplication::empty(current->type);
        if (const VersionInfo* version = current->currentVersion()) {
            try {
                application = DocumentApplication::fromJson(version->application);
                application.documentType = current->type;
            } catch (const Error&) {
                // An application record we cannot read is no reason to refuse the item.
            }
        }
        static const ApplicationLocator locator;
        application.installed = locator.find(current->type);
        if (!application.name && application.installed)
            application.name = application.installed->name;
        return application;
    };
    co_return co_await onWorker(std::move(work));
}

QCoro::Task<std::vector<std::shared_ptr<VersioningService>>> VersioningService::latestNestedVersioningServices(S3Factory)
{
    auto self = shared_from_this();
    auto work = [self] {
        std::vector<std::shared_ptr<VersioningService>> nested;
        if (!self->m_documentType.allowsNesting())
            return nested;
        const auto snapshot = self->m_team->snapshot();
        const auto current = snapshot->find(self->m_id);
        if (!current)
            throw VersioningError(VersioningError::Case::itemNotFound, self->m_id.toString());
        for (const auto& childId : current->children) {
            if (const auto child = snapshot->find(childId))
                nested.push_back(std::shared_ptr<VersioningService>(
                    new VersioningService(serviceType(child->type), childId, child->type, self->m_team)));
        }
        return nested;
    };
    co_return co_await onWorker(std::move(work));
}

QCoro::Task<> VersioningService::addNestedVersionBundle(std::shared_ptr<VersioningService> nestedVersioningService,
                                                        QString, S3Factory)
{
    auto self = shared_from_this();
    auto work = [self, nestedVersioningService] {
        const auto container = self->liveState();
        const auto child = nestedVersioningService->state();
        if (!self->m_documentType.canNest(child->type))
            throw TurfNestingError(child->type.description(), self->m_documentType.description());
        self->m_team->commit(QStringLiteral("nest"), self->m_id, {{QStringLiteral("child"), child->id.toString()}});
    };
    co_await onWorker(std::move(work));
}

QCoro::Task<> VersioningService::revertVersionBundle(IdFor<Versions> versionID, S3Factory)
{
    auto self = shared_from_this();
    auto work = [self, versionID] {
        const auto current = self->liveState();
        const VersionInfo* target = current->version(versionID);
        if (!target)
            throw VersioningError(VersioningError::Case::versionNotFound, current->name);
        // The stored tree must still be readable before it becomes the current version.
        Manifest::fromJson(self->m_team->contents().readBytes(target->manifest));
        QJsonObject fields = versionFields(IdFor<Versions>::make(), target->manifest, target->message,
                                           target->application, VersionOrigin::reverted);
        fields.insert(QStringLiteral("target"), target->id.toString());
        self->m_team->commit(QStringLiteral("revert"), self->m_id, fields);
    };
    co_await onWorker(std::move(work));
}

QCoro::Task<> VersioningService::rename(QString newName)
{
    auto self = shared_from_this();
    auto work = [self, newName] {
        const auto current = self->state();
        nameForNewBundle(newName, current->name);
        self->m_team->commit(QStringLiteral("rename"), self->m_id, {{QStringLiteral("name"), newName}});
    };
    co_await onWorker(std::move(work));
}

QString VersioningService::writeVersion(const BundleState& state, const VersionInfo& version,
                                        const QString& destination) const
{
    ContentStore& store = m_team->contents();
    const Manifest manifest = Manifest::fromJson(store.readBytes(version.manifest));
    if (!state.type.isLibrary() || state.children.isEmpty()) {
        writeTreeAtomically(manifest, store, destination);
        return destination;
    }

    // A library comes back together with its events, each as it was when this version was made.
    const QFileInfo target(destination);
    const QString temporary = target.path() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".tmp-")
        + IdFor<Versions>::make().toString().left(8);
    try {
        writeTree(manifest, store, temporary);
        const auto snapshot = m_team->snapshot();
        QList<EventToWrite> events;
        for (const auto& childId : state.children) {
            const auto event = snapshot->find(childId);
            if (event && event->type.isEvent() && event->versionAt(version.stamp))
                events.append({event, event->versionAt(version.stamp)});
        }
        writeEvents(store, manifest, temporary, events);
        renameInto(temporary, destination);
    } catch (...) {
        QDir(temporary).removeRecursively();
        throw;
    }
    return destination;
}

QCoro::Task<QString> VersioningService::exportVersion(std::optional<IdFor<Versions>> versionID, QString folder, S3Factory)
{
    auto self = shared_from_this();
    auto work = [self, versionID, folder] {
        const auto snapshot = self->m_team->snapshot();
        const auto current = snapshot->find(self->m_id);
        if (!current)
            throw VersioningError(VersioningError::Case::itemNotFound, self->m_id.toString());
        ensureDirectory(folder);

        if (current->type.isCollection()) {
            // A collection is exported as a folder of its documents' current versions.
            const QString target = folder + QLatin1Char('/') + uniqueFileName(folder, safeFileName(current->name), QString());
            const QString temporary = folder + QStringLiteral("/.export-") + IdFor<Versions>::make().toString().left(8);
            ensureDirectory(temporary);
            try {
                QSet<QString> taken;
                for (const auto& childId : current->children) {
                    const auto child = snapshot->find(childId);
                    if (!child || !child->currentVersion())
                        continue;
                    const QString name = uniqueFileName(temporary, safeFileName(child->name),
                                                        creationFields(*child).value(QStringLiteral("extension")).toString(), &taken);
                    self->writeVersion(*child, *child->currentVersion(), temporary + QLatin1Char('/') + name);
                }
                renameInto(temporary, target);
            } catch (...) {
                QDir(temporary).removeRecursively();
                throw;
            }
            return target;
        }

        const VersionInfo* version = versionID ? current->version(*versionID) : current->currentVersion();
        if (!version)
            throw VersioningError(versionID ? VersioningError::Case::versionNotFound : VersioningError::Case::noVersion,
                                  current->name);
        const QString name = uniqueFileName(folder, safeFileName(current->name),
                                            creationFields(*current).value(QStringLiteral("extension")).toString());
        return self->writeVersion(*current, *version, folder + QLatin1Char('/') + name);
    };
    co_return co_await onWorker(std::move(work));
}

QCoro::Task<QString> VersioningService::buildCopy(std::optional<IdFor<Versions>> version, std::optional<QString> folder,
                                                  S3Factory s3Factory)
{
    const QString target = folder.value_or(m_team->localFolder(QStringLiteral("copies")) + QLatin1Char('/')
                                           + IdFor<Versions>::make().toString());
    co_return co_await exportVersion(version, target, std::move(s3Factory));
}

QCoro::Task<> VersioningService::removeOrDelete(std::shared_ptr<VersioningService> parentVersioningService, S3Factory)
{
    auto self = shared_from_this();
    auto work = [self, parentVersioningService] {
        self->m_team->poll();
        const auto snapshot = self->m_team->snapshot();
        const auto current = snapshot->find(self->m_id);
        if (!current)
            throw VersioningError(VersioningError::Case::itemNotFound, self->m_id.toString());

        // Nobody's working copy is orphaned by a colleague's click.
        if (const auto holder = self->m_team->locks().holder(self->m_id))
            throw VersioningError(VersioningError::Case::itemLocked, current->name, holder->holderDescription());

        if (parentVersioningService) {
            const auto& parentId = parentVersioningService->id();
            const auto visible = self->m_team->versionBundles().summary(*snapshot, *current).activeContainersExcludingTrash;
            const bool usedElsewhere = std::any_of(visible.begin(), visible.end(),
                                                   [&](const VersionBundle::Info& container) { return container.id != parentId; });
            if (usedElsewhere) {
                self->m_team->commit(QStringLiteral("unnest"), parentId, {{QStringLiteral("child"), self->m_id.toString()}});
                return;
            }
        }
        // To the trash. A collection keeps its documents, so that restoring it brings them back;
        // anything else leaves every container, so that it shows as trashed and can be added again.
        QJsonArray unnestFrom;
        if (!current->type.isCollection()) {
            for (const auto& parent : current->parents)
                unnestFrom.append(parent.toString());
        }
        self->m_team->commit(QStringLiteral("trash"), self->m_id, {{QStringLiteral("unnestFrom"), unnestFrom}});
    };
    co_await onWorker(std::move(work));
}

QCoro::Task<IdFor<Versions>> VersioningService::storeVersion(QString source, QString message, VersionOrigin origin)
{
    auto self = shared_from_this();
    auto work = [self, source, message, origin] {
        const auto current = self->liveState();
        const QString cacheFolder = self->m_team->localFolder(QStringLiteral("cache"));
        ensureDirectory(cacheFolder);
        StatCache cache(cacheFolder + QLatin1Char('/') + self->m_id.toString() + QStringLiteral(".statcache"));
        cache.load();
        const QStringList eventFolders = current->type.isLibrary() ? eventFolderNames(source) : QStringList();
        const QSet<ContentHash> inUse = contentsInUse(self->m_team->contents(), {current->currentVersion()});
        SnapshotOptions options;
        options.cache = &cache;
        options.inUse = &inUse;
        options.excludeDirectory = [eventFolders](const QString& relativePath) { return eventFolders.contains(relativePath); };
        const Manifest manifest = snapshotTree(source, self->m_team->contents(), options);
        const QString manifestHash = storedManifest(self->m_team->contents(), manifest);
        const VersionInfo* previous = current->currentVersion();
        const QJsonObject application = previous ? previous->application
                                                 : DocumentApplication::empty(current->type).toJson().toObject();
        const auto version = IdFor<Versions>::make();
        self->m_team->commit(QStringLiteral("version"), self->m_id,
                             versionFields(version, *ContentHash::fromHex(manifestHash), message, application, origin));
        return version; // snapshotTree() has saved the stat cache
    };
    co_return co_await onWorker(std::move(work));
}

AnyPublisher<RemoteDatabaseChange> VersioningService::remoteDatabaseChanges() const
{
    const auto id = m_id;
    return m_team->changes()
        .filter([id](const TeamBundleChange& change) {
            return change.bundles.contains(id) || change.forceUnlockedBy.contains(id);
        })
        .map([id](const TeamBundleChange& change) {
            const auto breaker = change.forceUnlockedBy.constFind(id);
            return breaker == change.forceUnlockedBy.cend() ? RemoteDatabaseChange{}
                                                            : RemoteDatabaseChange{true, *breaker};
        });
}

ActivityStore& VersioningService::activityStore() const
{
    // Asked for from the interface thread and from the threads that deliver changes.
    std::call_once(m_activityStoreOnce, [this] { m_activityStore = std::make_shared<ActivityStore>(m_team, m_id); });
    return *m_activityStore;
}

AnyPublisher<QList<ActivityInfo>> VersioningService::activitiesPublisher() const { return activityStore().publisher(); }

QCoro::Task<QString> VersioningService::checkOut(QList<IdFor<VersionBundle>> includedNestedVersionBundles, bool forceUnlock,
                                                 bool autoSaveEnabled, int autoSaveInterval, S3Factory)
{
    auto self = shared_from_this();
    auto work = [self, includedNestedVersionBundles, forceUnlock, autoSaveEnabled, autoSaveInterval] {
        TeamBundle& team = *self->m_team;
        team.poll();
        const auto snapshot = team.snapshot();
        const auto current = snapshot->find(self->m_id);
        if (!current)
            throw VersioningError(VersioningError::Case::itemNotFound, self->m_id.toString());
        if (current->trashed)
            throw VersioningError(VersioningError::Case::itemInTrash, current->name);
        if (self->m_type != VersioningServiceType::document && self->m_type != VersioningServiceType::library)
            throw VersioningError(VersioningError::Case::wrongKind, current->name);
        const VersionInfo* version = current->currentVersion();
        if (!version)
            throw VersioningError(VersioningError::Case::noVersion, current->name);

        // Already ours: the same working copy, as the user left it.
        if (const auto existing = team.checkouts().find(self->m_id);
            existing && !existing->displaced && team.locks().isMine(self->m_id, self->m_id)
            && QFileInfo::exists(existing->workingCopy))
            return existing->workingCopy;

        QList<IdFor<VersionBundle>> ids{self->m_id};
        QHash<IdFor<VersionBundle>, QString> names{{self->m_id, current->name}};
        QList<std::shared_ptr<const BundleState>> events;
        for (const auto& eventId : includedNestedVersionBundles) {
            const auto event = snapshot->find(eventId);
            if (!event || !current->children.contains(eventId) || !event->currentVersion())
                continue;
            ids << eventId;
            names.insert(eventId, event->name);
            events << event;
        }
        team.locks().acquire(ids, self->m_id, forceUnlock, names);

        const QString folder = team.localFolder(QStringLiteral("working")) + QLatin1Char('/') + self->m_id.toString();
        try {
            // What an earlier check-out left behind (after a crash, say) is kept, not overwritten.
            if (QFileInfo::exists(folder)) {
                for (const QFileInfo& left : QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
                    team.keepInAttic(self->m_id, left.absoluteFilePath(), QStringLiteral("left behind"));
                QDir(folder).removeRecursively();
            }
            ensureDirectory(folder);
            const QString extension = creationFields(*current).value(QStringLiteral("extension")).toString();
            const QString workingCopy = folder + QLatin1Char('/') + uniqueFileName(folder, safeFileName(current->name), extension);
            ContentStore& store = team.contents();
            Checkout checkout;
            checkout.bundle = self->m_id;
            checkout.workingCopy = workingCopy;
            checkout.baseVersion = version->id;
            checkout.date = QDateTime::currentDateTimeUtc();
            checkout.autoSave = autoSaveEnabled;
            checkout.autoSaveInterval = autoSaveInterval;
            checkout.lastAutoSave = checkout.date;
            checkout.lastSavedManifest = version->manifest.toHex();
            const Manifest manifest = Manifest::fromJson(store.readBytes(version->manifest));
            writeTree(manifest, store, workingCopy);
            QList<EventToWrite> included;
            for (const auto& event : std::as_const(events))
                included.append({event, event->currentVersion()});
            const QStringList folders = writeEvents(store, manifest, workingCopy, included);
            const QString cacheFolder = team.localFolder(QStringLiteral("cache"));
            ensureDirectory(cacheFolder);
            StatCache cache(cacheFolder + QLatin1Char('/') + self->m_id.toString() + QStringLiteral(".statcache"));
            cache.load();
            recordWrittenTree(cache, manifest, workingCopy);
            for (qsizetype i = 0; i < included.size(); ++i) {
                checkout.events.append({included[i].event->id, folders[i], included[i].version->id});
                recordWrittenTree(cache, Manifest::fromJson(store.readBytes(included[i].version->manifest)),
                                  workingCopy + QLatin1Char('/') + folders[i]);
            }
            cache.save();
            team.checkouts().save(checkout);
            QJsonObject fields{{QStringLiteral("message"), forceUnlock ? QStringLiteral("force unlocked this document")
                                                                        : QStringLiteral("checked out this document")},
                               {QStringLiteral("forced"), forceUnlock}};
            std::vector<JournalChange> changes{{self->m_id, QStringLiteral("lock"), fields}};
            team.commit(changes);
            QSet<IdFor<VersionBundle>> locked(ids.begin(), ids.end());
            team.announce(locked);
            return workingCopy;
        } catch (...) {
            team.checkouts().remove(self->m_id);
            QDir(folder).removeRecursively();
            team.locks().release(ids, self->m_id);
            throw;
        }
    };
    co_return co_await onWorker(std::move(work));
}

QCoro::Task<> VersioningService::checkIn(QString commitMessage, S3Factory)
{
    auto self = shared_from_this();
    auto work = [self, commitMessage] {
        TeamBundle& team = *self->m_team;
        team.poll();
        const auto current = self->state();
        auto checkout = team.checkouts().find(self->m_id);
        if (!checkout)
            throw VersioningError(VersioningError::Case::notCheckedOut, current->name);
        QList<IdFor<VersionBundle>> locked{self->m_id};
        for (const auto& included : checkout->events)
            locked << included.id;
        const auto finish = [&] {
            team.locks().release(locked, self->m_id);
            team.checkouts().remove(self->m_id);
            discardWorkingFolder(QFileInfo(checkout->workingCopy).path());
            team.announce(QSet<IdFor<VersionBundle>>(locked.begin(), locked.end()));
        };
        // A check-in interrupted after its versions were written only has to give up the locks.
        if (const auto written = IdFor<Versions>::fromString(checkout->checkingIn); written && current->version(*written)) {
            finish();
            return;
        }
        if (!team.locks().isMine(self->m_id, self->m_id)) {
            const auto holder = team.locks().holder(self->m_id);
            throw VersioningError(VersioningError::Case::lockLost, current->name,
                                  holder ? (holder->fullName.isEmpty() ? holder->userName : holder->fullName) : QString());
        }
        // Everything is read and stored first; the one record that makes the versions current
        // comes last, so a failure before it leaves the previous versions, the lock and the
        // working copy as they were.
        const QString cacheFolder = team.localFolder(QStringLiteral("cache"));
        ensureDirectory(cacheFolder);
        StatCache cache(cacheFolder + QLatin1Char('/') + self->m_id.toString() + QStringLiteral(".statcache"));
        cache.load();
        QStringList eventFolders;
        for (const auto& event : checkout->events)
            eventFolders << event.folder;
        ContentStore& store = team.contents();
        const auto before = team.snapshot();
        QList<const VersionInfo*> baseVersions{current->currentVersion()};
        for (const auto& included : checkout->events) {
            if (const auto event = before->find(included.id))
                baseVersions << event->currentVersion();
        }
        const QSet<ContentHash> inUse = contentsInUse(store, baseVersions);
        SnapshotOptions options;
        options.cache = &cache;
        options.inUse = &inUse;
        options.saveCache = false;
        options.excludeDirectory = [eventFolders](const QString& relativePath) { return eventFolders.contains(relativePath); };
        const Manifest manifest = snapshotTree(checkout->workingCopy, store, options);
        const VersionInfo* previous = current->currentVersion();
        const QJsonObject application = previous ? previous->application : QJsonObject();
        const auto newVersion = IdFor<Versions>::make();
        std::vector<JournalChange> changes{
            {self->m_id, QStringLiteral("version"),
             versionFields(newVersion, store.storeBytes(manifest.toJson()), commitMessage, application,
                           VersionOrigin::checkedIn)}};
        const auto snapshot = team.snapshot();
        for (const auto& included : checkout->events) {
            const QString folder = checkout->workingCopy + QLatin1Char('/') + included.folder;
            const auto event = snapshot->find(included.id);
            if (!event || !team.locks().isMine(included.id, self->m_id) || !QFileInfo(folder).isDir())
                continue;
            const Manifest eventManifest = snapshotTree(folder, store, SnapshotOptions{{}, &cache, {}, &inUse, false});
            const ContentHash eventHash = store.storeBytes(eventManifest.toJson());
            if (event->currentVersion() && event->currentVersion()->manifest == eventHash)
                continue; // unchanged
            changes.push_back({included.id, QStringLiteral("version"),
                               versionFields(IdFor<Versions>::make(), eventHash, commitMessage,
                                             event->currentVersion() ? event->currentVersion()->application : QJsonObject(),
                                             VersionOrigin::checkedIn)});
        }
        try {
            cache.save();
        } catch (const StorageError&) {
            // Only a cache: the next check-in reads the files again.
        }
        checkout->checkingIn = newVersion.toString();
        team.checkouts().save(*checkout);
        team.commit(changes);
        finish();
    };
    co_await onWorker(std::move(work));
}

QCoro::Task<> VersioningService::cancelCheckout(S3Factory)
{
    auto self = shared_from_this();
    auto work = [self] {
        TeamBundle& team = *self->m_team;
        team.poll();
        const auto current = self->state();
        const auto checkout = team.checkouts().find(self->m_id);
        if (!checkout)
            throw VersioningError(VersioningError::Case::notCheckedOut, current->name);
        // The changes being discarded are kept in the attic: nothing is deleted unseen.
        if (QFileInfo::exists(checkout->workingCopy) && !checkout->displaced)
            team.keepInAttic(self->m_id, checkout->workingCopy, QStringLiteral("discarded"));
        QList<IdFor<VersionBundle>> locked{self->m_id};
        for (const auto& included : checkout->events)
            locked << included.id;
        const bool wasMine = team.locks().isMine(self->m_id, self->m_id);
        if (wasMine)
            team.commit(QStringLiteral("discard"), self->m_id, {{QStringLiteral("message"), QStringLiteral("discarded changes")}});
        team.locks().release(locked, self->m_id);
        team.checkouts().remove(self->m_id);
        discardWorkingFolder(QFileInfo(checkout->workingCopy).path());
        team.announce(QSet<IdFor<VersionBundle>>(locked.begin(), locked.end()));
    };
    co_await onWorker(std::move(work));
}

} // namespace vantrel
