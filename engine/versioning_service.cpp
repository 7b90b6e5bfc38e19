#include "engine/versioning_service.h"

#include "engine/engine_errors.h"
#include "engine/file_names.h"
#include "foundation/worker.h"
#include "engine/storage/atomic_file.h"
#include "engine/storage/manifest.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"
#include "engine/storage/statcache.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "engine/versioning_support.h"

#include <QDir>
#include <QThreadPool>
#include <QFileInfo>
#include <QJsonArray>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

namespace vantrel {

using namespace versioning;

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
        teamBundle->commit(RecordKind::create, id,
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
    team->commit({JournalChange{id, RecordKind::create,
                                {{QStringLiteral("type"), type.toJson()},
                                 {QStringLiteral("name"), name},
                                 {QStringLiteral("extension"), type.preferredExtension()}}},
                  JournalChange{id, RecordKind::version,
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
        StatCache cache(teamBundle->statCacheFile(id));
        SnapshotOptions options;
        options.cache = &cache;
        options.excludeDirectory = [eventFolders](const QString& relativePath) { return eventFolders.contains(relativePath); };
        const Manifest manifest = snapshotTree(source, store, options);

        std::vector<JournalChange> changes{
            JournalChange{id, RecordKind::create,
                          {{QStringLiteral("type"), type.toJson()},
                           {QStringLiteral("name"), name},
                           {QStringLiteral("extension"), info.isDir() && info.suffix().isEmpty() ? QString() : info.suffix()}}},
            JournalChange{id, RecordKind::version,
                          versionFields(IdFor<Versions>::make(), *ContentHash::fromHex(storedManifest(store, manifest)),
                                        commitMessage, documentApplication.toJson().toObject(), VersionOrigin::imported)}};
        for (const QString& folder : std::as_const(eventFolders)) {
            const Manifest eventManifest = snapshotTree(source + QLatin1Char('/') + folder, store);
            const auto eventId = IdFor<VersionBundle>::make();
            const QFileInfo eventInfo(folder);
            changes.push_back({eventId, RecordKind::create,
                               {{QStringLiteral("type"), DocumentType::event().toJson()},
                                {QStringLiteral("name"), eventInfo.completeBaseName().isEmpty() ? folder : eventInfo.completeBaseName()},
                                {QStringLiteral("extension"), eventInfo.suffix()},
                                {QStringLiteral("folder"), folder}}});
            changes.push_back({eventId, RecordKind::version,
                               versionFields(IdFor<Versions>::make(), *ContentHash::fromHex(storedManifest(store, eventManifest)),
                                             commitMessage, DocumentApplication::empty(DocumentType::event()).toJson().toObject(),
                                             VersionOrigin::imported)});
            changes.push_back({id, RecordKind::nest, {{QStringLiteral("child"), eventId.toString()}}});
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
    return LockHolder{displayName(holder->fullName, holder->userName), holder->hostName};
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
        self->m_team->commit(RecordKind::nest, self->m_id, {{QStringLiteral("child"), child->id.toString()}});
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
        self->m_team->commit(RecordKind::revert, self->m_id, fields);
    };
    co_await onWorker(std::move(work));
}

QCoro::Task<> VersioningService::rename(QString newName)
{
    auto self = shared_from_this();
    auto work = [self, newName] {
        const auto current = self->state();
        nameForNewBundle(newName, current->name);
        self->m_team->commit(RecordKind::rename, self->m_id, {{QStringLiteral("name"), newName}});
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
                self->m_team->commit(RecordKind::unnest, parentId, {{QStringLiteral("child"), self->m_id.toString()}});
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
        self->m_team->commit(RecordKind::trash, self->m_id, {{QStringLiteral("unnestFrom"), unnestFrom}});
    };
    co_await onWorker(std::move(work));
}

QCoro::Task<IdFor<Versions>> VersioningService::storeVersion(QString source, QString message, VersionOrigin origin)
{
    auto self = shared_from_this();
    auto work = [self, source, message, origin] {
        const auto current = self->liveState();
        StatCache cache(self->m_team->statCacheFile(self->m_id));
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
        self->m_team->commit(RecordKind::version, self->m_id,
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

} // namespace vantrel
