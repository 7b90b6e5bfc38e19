#include "engine/version_bundles.h"

#include "engine/engine_errors.h"
#include "engine/team_bundle.h"
#include "engine/team_state.h"
#include "foundation/worker.h"

#include <algorithm>

namespace vantrel {

VersionBundlesIndex& VersionBundlesIndex::operator+=(const VersionBundlesIndex& other)
{
    const qsizetype offset = all.size();
    collections += other.collections;
    documents += other.documents;
    events += other.events;
    all += other.all;
    for (qsizetype i = offset; i < all.size(); ++i)
        m_positions.insert(all[i].id(), i);
    return *this;
}

std::optional<VersionBundle::Summary> VersionBundlesIndex::summary(const IdFor<VersionBundle>& id) const
{
    const qsizetype position = m_positions.value(id, -1);
    if (position >= 0 && position < all.size() && all[position].id() == id)
        return all[position];
    if (m_positions.size() == all.size() && position < 0)
        return std::nullopt;
    for (const auto& candidate : all) { // `all` was changed by hand
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

QList<VersionBundle::Summary>& VersionBundlesIndex::listOf(const DocumentType& type)
{
    if (type.isCollection())
        return collections;
    if (type.isEvent())
        return events;
    return documents;
}

void VersionBundlesIndex::append(const VersionBundle::Summary& summary)
{
    m_positions.insert(summary.id(), all.size());
    all.append(summary);
    listOf(summary.documentType()).append(summary);
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
    summary.activeContainers.reserve(state.parents.size());
    bool anyTrashed = false;
    for (const auto& parentId : state.parents) {
        if (const auto parent = snapshot.find(parentId)) {
            summary.activeContainers.append(info(*parent));
            anyTrashed = anyTrashed || parent->trashed;
        }
    }
    // Mostly the same list: then held once.
    if (!anyTrashed) {
        summary.activeContainersExcludingTrash = summary.activeContainers;
        return summary;
    }
    for (const auto& container : std::as_const(summary.activeContainers)) {
        if (!container.isTrashed)
            summary.activeContainersExcludingTrash.append(container);
    }
    return summary;
}

namespace {

using Summaries = QList<VersionBundle::Summary>;
using CreatedStamps = QHash<IdFor<VersionBundle>, JournalStamp>;

// Where a bundle created at `key` is, or belongs, in `list` (in creation order).
qsizetype positionIn(const Summaries& list, const JournalStamp& key, const CreatedStamps& created)
{
    const auto found = std::lower_bound(list.cbegin(), list.cend(), key,
                                        [&](const VersionBundle::Summary& summary, const JournalStamp& stamp) {
                                            return created.value(summary.id()) < stamp;
                                        });
    return found - list.cbegin();
}

} // namespace

void VersionBundles::rebuild(const TeamSnapshot& snapshot) const
{
    QList<std::shared_ptr<const BundleState>> states;
    states.reserve(snapshot.bundles.size());
    for (const auto& state : snapshot.bundles)
        states.append(state);
    std::sort(states.begin(), states.end(),
              [](const auto& a, const auto& b) { return a->createdStamp < b->createdStamp; });
    Cached cached;
    cached.created.reserve(states.size());
    // The lists are sized once: a large team's would otherwise be copied as they grow.
    QHash<QList<VersionBundle::Summary>*, qsizetype> sizes;
    for (const auto& state : std::as_const(states)) {
        Index& index = state->trashed ? cached.trash : cached.live;
        ++sizes[&index.all];
        ++sizes[&index.listOf(state->type)];
    }
    for (auto it = sizes.cbegin(); it != sizes.cend(); ++it)
        it.key()->reserve(it.value());
    cached.live.m_positions.reserve(cached.live.all.capacity());
    cached.trash.m_positions.reserve(cached.trash.all.capacity());
    for (const auto& state : std::as_const(states)) {
        (state->trashed ? cached.trash : cached.live).append(summary(snapshot, *state));
        cached.created.insert(state->id, state->createdStamp);
    }
    cached.valid = true;
    cached.generation = snapshot.generation;
    m_cached = std::move(cached);
}

void VersionBundles::take(const IdFor<VersionBundle>& id) const
{
    const auto key = m_cached.created.constFind(id);
    if (key == m_cached.created.cend())
        return;
    for (Index* index : {&m_cached.live, &m_cached.trash}) {
        const qsizetype at = index->m_positions.value(id, -1);
        if (at < 0)
            continue;
        const DocumentType type = index->all[at].documentType();
        Summaries& kind = index->listOf(type);
        const qsizetype inKind = positionIn(kind, *key, m_cached.created);
        if (inKind < kind.size() && kind[inKind].id() == id)
            kind.removeAt(inKind);
        index->all.removeAt(at);
        index->m_positions.remove(id);
        for (qsizetype i = at; i < index->all.size(); ++i)
            index->m_positions[index->all[i].id()] = i;
    }
    m_cached.created.erase(key);
}

void VersionBundles::place(const TeamSnapshot& snapshot, const BundleState& state) const
{
    Index& index = state.trashed ? m_cached.trash : m_cached.live;
    const qsizetype kept = index.m_positions.value(state.id, -1);
    const auto known = m_cached.created.constFind(state.id);
    VersionBundle::Summary fresh = summary(snapshot, state);
    // Still in the same index, of the same kind and created at the same time: in place.
    if (kept >= 0 && known != m_cached.created.cend() && *known == state.createdStamp
        && index.all[kept].documentType() == state.type) {
        Summaries& kind = index.listOf(state.type);
        const qsizetype inKind = positionIn(kind, state.createdStamp, m_cached.created);
        if (inKind < kind.size() && kind[inKind].id() == state.id) {
            kind[inKind] = fresh;
            index.all[kept] = std::move(fresh);
            return;
        }
    }
    take(state.id);
    m_cached.created.insert(state.id, state.createdStamp);
    Summaries& kind = index.listOf(state.type);
    kind.insert(positionIn(kind, state.createdStamp, m_cached.created), fresh);
    const qsizetype at = positionIn(index.all, state.createdStamp, m_cached.created);
    index.all.insert(at, std::move(fresh));
    for (qsizetype i = at; i < index.all.size(); ++i)
        index.m_positions[index.all[i].id()] = i;
}

void VersionBundles::update(const TeamSnapshot& snapshot) const
{
    if (m_cached.valid && m_cached.generation == snapshot.generation)
        return;
    const auto changed = m_cached.valid ? snapshot.changedSince(m_cached.generation) : std::nullopt;
    // A change to most of the team (the first fold of all) is as cheap to index anew.
    if (!changed || changed->size() > snapshot.bundles.size() / 4) {
        rebuild(snapshot);
        return;
    }
    // A bundle's summary names its containers: the bundles nested in a changed one change too.
    QSet<IdFor<VersionBundle>> affected = *changed;
    for (const auto& id : *changed) {
        if (const auto state = snapshot.find(id)) {
            for (const auto& child : state->children)
                affected.insert(child);
        }
    }
    for (const auto& id : std::as_const(affected)) {
        if (const auto state = snapshot.find(id))
            place(snapshot, *state);
        else
            take(id);
    }
    m_cached.generation = snapshot.generation;
}

VersionBundles::Index VersionBundles::liveIndex() const
{
    const auto snapshot = m_team.snapshot();
    std::lock_guard lock(m_mutex);
    update(*snapshot);
    return m_cached.live;
}

VersionBundles::Index VersionBundles::trashIndex() const
{
    const auto snapshot = m_team.snapshot();
    std::lock_guard lock(m_mutex);
    update(*snapshot);
    return m_cached.trash;
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
