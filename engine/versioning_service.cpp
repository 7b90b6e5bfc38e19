// A versioning service's life: binding to a bundle, new bundles, and the changes that are one
// record each (nesting, revert, rename, removal). Reads are in versioning_queries.cpp, imports,
// new versions and exports in versioning_import_export.cpp, check-out and check-in in
// versioning_checkout.cpp.

#include "engine/versioning_service.h"

#include "engine/bounded_change.h"
#include "engine/engine_errors.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/manifest.h"
#include "engine/team_bundle.h"
#include "engine/version_bundles.h"
#include "engine/versioning_support.h"
#include "foundation/worker.h"

#include <QJsonArray>

#include <algorithm>

namespace vantrel {

using namespace versioning;

VersioningService::VersioningService(VersioningServiceType type, IdFor<VersionBundle> id, DocumentType documentType,
                                     std::shared_ptr<TeamBundle> team)
    : m_type(type),
      m_id(std::move(id)),
      m_documentType(std::move(documentType)),
      m_team(std::move(team))
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

QCoro::Task<std::shared_ptr<VersioningService>>
VersioningService::open(VersioningServiceType type, IdFor<VersionBundle> id, std::optional<QString>,
                        std::optional<QString>, std::shared_ptr<TeamBundle> teamBundle, std::shared_ptr<FileManaging>,
                        std::shared_ptr<WorkspaceInterfacing>, S3Factory)
{
    auto work = [type, id, teamBundle] { return bind(type, id, teamBundle); };
    co_return co_await onWorker(std::move(work));
}

QCoro::Task<std::shared_ptr<VersioningService>>
VersioningService::createCollection(QString collectionName, std::shared_ptr<TeamBundle> teamBundle,
                                    std::shared_ptr<FileManaging>, std::shared_ptr<WorkspaceInterfacing>)
{
    auto work = [collectionName, teamBundle] {
        nameForNewBundle(collectionName, DocumentType::collection().description());
        const auto id = IdFor<VersionBundle>::make();
        teamBundle->commit(
            RecordKind::create, id,
            {{QStringLiteral("type"), DocumentType::collection().toJson()}, {QStringLiteral("name"), collectionName}});
        return bind(VersioningServiceType::collection, id, teamBundle);
    };
    co_return co_await boundedChange(teamBundle, TeamBundleError::Attempt::change, std::move(work));
}

namespace {

std::shared_ptr<VersioningService>
createEmptyPackage(const DocumentType& type, const QString& name, const std::shared_ptr<TeamBundle>& team,
                   VersioningServiceType serviceType,
                   std::shared_ptr<VersioningService> (*bind)(VersioningServiceType, const IdFor<VersionBundle>&,
                                                              const std::shared_ptr<TeamBundle>&))
{
    Manifest empty;
    empty.rootKind = Manifest::RootKind::directory;
    const QString manifest = storedManifest(team->contents(), empty);
    const auto id = IdFor<VersionBundle>::make();
    team->commit(
        {JournalChange{id,
                       RecordKind::create,
                       {{QStringLiteral("type"), type.toJson()},
                        {QStringLiteral("name"), name},
                        {QStringLiteral("extension"), type.preferredExtension()}}},
         JournalChange{id, RecordKind::version,
                       versionFields(IdFor<Versions>::make(), *ContentHash::fromHex(manifest), QString(),
                                     DocumentApplication::empty(type).toJson().toObject(), VersionOrigin::created)}});
    return bind(serviceType, id, team);
}

} // namespace

QCoro::Task<std::shared_ptr<VersioningService>> VersioningService::createLibrary(QString newLibraryName,
                                                                                 std::shared_ptr<TeamBundle> teamBundle,
                                                                                 std::shared_ptr<FileManaging>,
                                                                                 std::shared_ptr<WorkspaceInterfacing>)
{
    return createEmpty(DocumentType::library(), VersioningServiceType::library, std::move(newLibraryName),
                       std::move(teamBundle));
}

QCoro::Task<std::shared_ptr<VersioningService>> VersioningService::createEvent(QString newEventName,
                                                                               std::shared_ptr<TeamBundle> teamBundle,
                                                                               std::shared_ptr<FileManaging>,
                                                                               std::shared_ptr<WorkspaceInterfacing>)
{
    return createEmpty(DocumentType::event(), VersioningServiceType::event, std::move(newEventName),
                       std::move(teamBundle));
}

QCoro::Task<std::shared_ptr<VersioningService>> VersioningService::createEmpty(DocumentType type,
                                                                               VersioningServiceType serviceType,
                                                                               QString name,
                                                                               std::shared_ptr<TeamBundle> team)
{
    auto work = [type, serviceType, name, team] {
        return createEmptyPackage(type, nameForNewBundle(name, type.description()), team, serviceType,
                                  &VersioningService::bind);
    };
    co_return co_await boundedChange(team, TeamBundleError::Attempt::change, std::move(work));
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
    co_await boundedChange(m_team, TeamBundleError::Attempt::change, std::move(work));
}

QCoro::Task<> VersioningService::revertVersionBundle(IdFor<Versions> versionID, S3Factory)
{
    auto self = shared_from_this();
    auto work = [self, versionID] {
        TeamBundle& team = *self->m_team;
        const auto targetIn = [&versionID](const BundleState& state) {
            const VersionInfo* target = state.version(versionID);
            if (!target)
                throw VersioningError(VersioningError::Case::versionNotFound, state.name);
            return target;
        };
        auto current = self->liveState();
        targetIn(*current);
        // Whoever holds the lock would check in over the revert without having seen it. (A
        // check-out of this installation's own is refused its check-in instead: it no longer
        // starts from the current version.)
        const auto holder = team.locks().readNow(self->m_id);
        if (holder && holder->clientId != team.clientId())
            throw VersioningError(VersioningError::Case::itemLocked, current->name, holder->holderDescription());
        // Nobody holds it: the revert holds it while it is made, so that no check-out begins
        // before the revert is published (it would check in over it unseen), and the next holder
        // reads the revert before building on the bundle (the release note names it). The revert
        // itself builds on the last check-in: its Lamport number comes after it.
        const bool taken = !holder;
        const QList<IdFor<VersionBundle>> ids{self->m_id};
        // A revert that fails gives the lock it took back at once; one that is published gives it
        // up the way a check-in does, leaving the note that names the revert, and never fails
        // after that (what the share refuses now is finished later).
        const auto giveBack = [&] {
            team.giveUpLocks(self->m_id, ids);
            team.announce({self->m_id});
        };
        if (taken) {
            // A release of an earlier check-out of ours still under way is not given this lock.
            team.settleReleases(ids, self->m_id);
            team.locks().acquire(ids, self->m_id, LockTakeover::none, {{self->m_id, current->name}});
        }
        std::optional<JournalStamp> published;
        try {
            if (taken) {
                QList<ReleaseNote> notes;
                if (const auto note = team.locks().releaseNote(self->m_id))
                    notes << *note;
                team.poll();
                team.awaitRecords(notes, current->name);
                current = self->liveState();
            }
            const VersionInfo* target = targetIn(*current);
            // The stored tree must still be readable before it becomes the current version.
            readTree(team.contents(), target->manifest);
            QJsonObject fields = versionFields(IdFor<Versions>::make(), target->manifest, target->message,
                                               target->application, VersionOrigin::reverted);
            fields.insert(QStringLiteral("target"), target->id.toString());
            published = team.commit(RecordKind::revert, self->m_id, fields).front().stamp;
        } catch (...) {
            if (taken)
                giveBack();
            throw;
        }
        if (taken) {
            team.giveUpLocks(self->m_id, ids, ReleaseNote{published->client, published->seq});
            team.announce({self->m_id});
        }
    };
    co_await boundedChange(m_team, TeamBundleError::Attempt::change, std::move(work));
}

QCoro::Task<> VersioningService::rename(QString newName)
{
    auto self = shared_from_this();
    auto work = [self, newName] {
        const auto current = self->state();
        nameForNewBundle(newName, current->name);
        self->m_team->commit(RecordKind::rename, self->m_id, {{QStringLiteral("name"), newName}});
    };
    co_await boundedChange(m_team, TeamBundleError::Attempt::change, std::move(work));
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
        if (const auto holder = self->m_team->locks().readNow(self->m_id))
            throw VersioningError(VersioningError::Case::itemLocked, current->name, holder->holderDescription());

        if (parentVersioningService) {
            const auto& parentId = parentVersioningService->id();
            const auto visible =
                self->m_team->versionBundles().summary(*snapshot, *current).activeContainersExcludingTrash;
            const bool usedElsewhere =
                std::any_of(visible.begin(), visible.end(),
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
    co_await boundedChange(m_team, TeamBundleError::Attempt::change, std::move(work));
}

} // namespace vantrel
