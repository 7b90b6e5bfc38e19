// Imports, new versions from a file or package, and exports and copies of stored versions.

#include "engine/versioning_service.h"

#include "engine/bounded_change.h"
#include "engine/engine_errors.h"
#include "engine/file_names.h"
#include "engine/share_outage.h"
#include "engine/storage/atomic_file.h"
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

#include <cerrno>

namespace vantrel {

using namespace versioning;

QCoro::Task<std::shared_ptr<VersioningService>>
VersioningService::import(VersioningServiceType, QString source, std::optional<QString> newName, std::optional<QString>,
                          std::optional<QString>, QString commitMessage, DocumentApplication documentApplication,
                          std::shared_ptr<TeamBundle> teamBundle, std::shared_ptr<FileManaging>,
                          std::shared_ptr<WorkspaceInterfacing>)
{
    // What was stored new (`written`) goes again when the import fails before its record.
    auto work = [=](ContentStore::Written& written) mutable {
        const QFileInfo info(source);
        if (!info.exists())
            throw StorageError::fromErrno(ENOENT, source, QStringLiteral("import"));
        const DocumentType type = DocumentType::forPath(source);
        const QString name = nameForNewBundle(
            newName.value_or(info.isDir() || !info.suffix().isEmpty() ? info.completeBaseName() : info.fileName()),
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
        const auto cache = teamBundle->statCache(id);
        SnapshotOptions options;
        options.cache = cache.get();
        options.excludeDirectory = [eventFolders](const QString& relativePath) {
            return eventFolders.contains(relativePath);
        };
        options.written = &written;
        const ContentHash tree = snapshotTree(source, store, options);

        std::vector<JournalChange> changes{
            JournalChange{
                id,
                RecordKind::create,
                {{QStringLiteral("type"), type.toJson()},
                 {QStringLiteral("name"), name},
                 {QStringLiteral("extension"), info.isDir() && info.suffix().isEmpty() ? QString() : info.suffix()}}},
            JournalChange{id, RecordKind::version,
                          versionFields(IdFor<Versions>::make(), tree, commitMessage,
                                        documentApplication.toJson().toObject(), VersionOrigin::imported)}};
        SnapshotOptions eventOptions;
        eventOptions.written = &written;
        for (const QString& folder : std::as_const(eventFolders)) {
            const ContentHash eventTree = snapshotTree(source + QLatin1Char('/') + folder, store, eventOptions);
            const auto eventId = IdFor<VersionBundle>::make();
            const QFileInfo eventInfo(folder);
            changes.push_back({eventId,
                               RecordKind::create,
                               {{QStringLiteral("type"), DocumentType::event().toJson()},
                                {QStringLiteral("name"),
                                 eventInfo.completeBaseName().isEmpty() ? folder : eventInfo.completeBaseName()},
                                {QStringLiteral("extension"), eventInfo.suffix()},
                                {QStringLiteral("folder"), folder}}});
            changes.push_back({eventId, RecordKind::version,
                               versionFields(IdFor<Versions>::make(), eventTree, commitMessage,
                                             DocumentApplication::empty(DocumentType::event()).toJson().toObject(),
                                             VersionOrigin::imported)});
            changes.push_back({id, RecordKind::nest, {{QStringLiteral("child"), eventId.toString()}}});
        }
        teamBundle->commit(changes, &written);
        return bind(serviceType(type), id, teamBundle);
    };
    auto storing = storingOwnContents(teamBundle->contents(), TeamBundleError::Attempt::import, std::move(work));
    co_return co_await boundedChange(teamBundle, TeamBundleError::Attempt::import, std::move(storing));
}

QCoro::Task<IdFor<Versions>> VersioningService::storeVersion(QString source, QString message, VersionOrigin origin)
{
    auto self = shared_from_this();
    auto work = [self, source, message, origin] {
        const auto current = self->liveState();
        const auto sharedCache = self->m_team->statCache(self->m_id);
        StatCache& cache = *sharedCache;
        const QStringList eventFolders = current->type.isLibrary() ? eventFolderNames(source) : QStringList();
        SnapshotOptions options;
        options.cache = &cache;
        options.base = baseTree(current->currentVersion());
        options.excludeDirectory = [eventFolders](const QString& relativePath) {
            return eventFolders.contains(relativePath);
        };
        // What was stored new goes again when this fails before its record.
        ContentStore::Written written(self->m_team->contents());
        options.written = &written;
        const ContentHash tree = snapshotTree(source, self->m_team->contents(), options);
        const VersionInfo* previous = current->currentVersion();
        const QJsonObject application =
            previous ? previous->application : DocumentApplication::empty(current->type).toJson().toObject();
        const auto version = IdFor<Versions>::make();
        self->m_team->commit(
            {{self->m_id, RecordKind::version, versionFields(version, tree, message, application, origin)}}, &written);
        return version; // snapshotTree() has saved the stat cache
    };
    co_return co_await boundedChange(m_team, TeamBundleError::Attempt::change, std::move(work));
}

QString VersioningService::writeVersion(const BundleState& state, const VersionInfo& version,
                                        const QString& destination) const
{
    ContentStore& store = m_team->contents();
    const Manifest manifest = readTree(store, version.manifest);
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

QCoro::Task<QString> VersioningService::exportVersion(std::optional<IdFor<Versions>> versionID, QString folder,
                                                      S3Factory)
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
            const QString target =
                folder + QLatin1Char('/') + uniqueFileName(folder, safeFileName(current->name), QString());
            const QString temporary = folder + QStringLiteral("/.export-") + IdFor<Versions>::make().toString().left(8);
            ensureDirectory(temporary);
            try {
                QSet<QString> taken;
                for (const auto& childId : current->children) {
                    const auto child = snapshot->find(childId);
                    if (!child || !child->currentVersion())
                        continue;
                    const QString name =
                        uniqueFileName(temporary, safeFileName(child->name),
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
    auto worded = wordedForOutage(m_team, TeamBundleError::Attempt::copy, std::move(work));
    co_return co_await onWorker(std::move(worded));
}

QCoro::Task<QString> VersioningService::buildCopy(std::optional<IdFor<Versions>> version, std::optional<QString> folder,
                                                  S3Factory s3Factory)
{
    const QString target = folder.value_or(m_team->localFolder(QStringLiteral("copies")) + QLatin1Char('/')
                                           + IdFor<Versions>::make().toString());
    co_return co_await exportVersion(version, target, std::move(s3Factory));
}

} // namespace vantrel
