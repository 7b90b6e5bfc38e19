#include "engine/version_bundles.h"

#include "engine/engine_errors.h"
#include "engine/team_bundle.h"
#include "foundation/worker.h"

namespace vantrel {

VersionBundlesIndex& VersionBundlesIndex::operator+=(const VersionBundlesIndex& other)
{
    collections += other.collections;
    documents += other.documents;
    events += other.events;
    all += other.all;
    return *this;
}

std::optional<VersionBundle::Summary> VersionBundlesIndex::summary(const IdFor<VersionBundle>& id) const
{
    for (const auto& candidate : all) {
        if (candidate.id() == id)
            return candidate;
    }
    return std::nullopt;
}

QList<VersionBundle::Summary> VersionBundlesIndex::summaries(const QList<IdFor<VersionBundle>>& ids) const
{
    QList<VersionBundle::Summary> found;
    for (const auto& id : ids) {
        if (auto summary = this->summary(id))
            found.append(*summary);
    }
    return found;
}

void VersionBundlesIndex::append(const VersionBundle::Summary& summary)
{
    all.append(summary);
    const DocumentType& type = summary.documentType();
    if (type.isCollection())
        collections.append(summary);
    else if (type.isEvent())
        events.append(summary);
    else
        documents.append(summary);
}

VersionBundles::VersionBundles(TeamBundle& team) : m_team(team) {}

VersionBundle::Info VersionBundles::info(const BundleState& state)
{
    return VersionBundle::Info{state.id, state.name, state.type, state.modified, state.trashed};
}

QString VersionBundles::bundleUrl(const IdFor<VersionBundle>& id) const
{
    return m_team.rootPath() + QStringLiteral("/bundles/") + id.toString();
}

VersionBundle::Summary VersionBundles::summary(const TeamSnapshot& snapshot, const BundleState& state) const
{
    VersionBundle::Summary summary{bundleUrl(state.id), info(state), {}, {}};
    for (const auto& parentId : state.parents) {
        if (const auto parent = snapshot.find(parentId)) {
            const auto parentInfo = info(*parent);
            summary.activeContainers.append(parentInfo);
            if (!parent->trashed)
                summary.activeContainersExcludingTrash.append(parentInfo);
        }
    }
    return summary;
}

VersionBundles::Cached VersionBundles::indexes() const
{
    const auto snapshot = m_team.snapshot();
    std::lock_guard lock(m_mutex);
    if (m_cached.live && m_cached.generation == snapshot->generation)
        return m_cached;
    auto live = std::make_shared<Index>();
    auto trash = std::make_shared<Index>();
    for (const auto& id : snapshot->order) {
        const auto state = snapshot->find(id);
        if (!state)
            continue;
        (state->trashed ? *trash : *live).append(summary(*snapshot, *state));
    }
    m_cached = Cached{snapshot->generation, std::move(live), std::move(trash)};
    return m_cached;
}

VersionBundles::Index VersionBundles::liveIndex() const
{
    return *indexes().live;
}

VersionBundles::Index VersionBundles::trashIndex() const
{
    return *indexes().trash;
}

QCoro::Task<> VersionBundles::changeTrashed(VersionBundle::Summary summary, RecordKind kind)
{
    auto team = m_team.shared_from_this();
    auto work = [team, summary, kind] {
        team->poll();
        const auto state = team->snapshot()->find(summary.id());
        if (!state)
            throw VersioningError(VersioningError::Case::itemNotFound, summary.name());
        if (!state->trashed)
            throw VersioningError(VersioningError::Case::itemNotInTrash, state->name);
        team->commit(kind, state->id, {});
        if (kind == RecordKind::deletePermanently) {
            try {
                team->collectGarbage();
            } catch (const Error& error) {
                team->log().event(escapedForLog(error.localizedDescription()), QStringLiteral("deletePermanently"),
                                  Logger::Level::warning);
            }
        }
    };
    co_await onWorker(std::move(work));
}

QCoro::Task<> VersionBundles::restore(VersionBundle::Summary summary)
{
    return changeTrashed(std::move(summary), RecordKind::restore);
}

QCoro::Task<> VersionBundles::deletePermanently(VersionBundle::Summary summary)
{
    return changeTrashed(std::move(summary), RecordKind::deletePermanently);
}

AnyPublisher<TeamBundleChange> VersionBundles::changes() const
{
    return m_team.changes();
}

} // namespace vantrel
