#include "engine/version_bundles.h"

#include "engine/bounded_change.h"
#include "engine/engine_errors.h"
#include "engine/team_bundle.h"
#include "engine/team_state.h"

#include <algorithm>

namespace vantrel {

VersionBundlesIndex& VersionBundlesIndex::operator+=(const VersionBundlesIndex& other)
{
    const qsizetype offset = all.size();
    const bool intact = kindsMatchAll();
    releaseKinds();
    all += other.all;
    for (qsizetype i = offset; i < all.size(); ++i)
        m_positions.insert(all[i].id(), i);
    if (!intact) {
        sortOutKinds();
        return *this;
    }
    for (auto [mine, theirs] : {std::pair{&collections, &other.collections}, std::pair{&documents, &other.documents},
                                std::pair{&events, &other.events}}) {
        for (const auto& summary : *theirs) {
            // The other index's `all` may have been changed by hand since its lists were made.
            const qsizetype at = m_positions.value(summary.id(), -1);
            if (at >= offset)
                mine->m_positions.append(at);
        }
    }
    shareKinds();
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

SummaryList& VersionBundlesIndex::listOf(const DocumentType& type)
{
    if (type.isCollection())
        return collections;
    if (type.isEvent())
        return events;
    return documents;
}

bool VersionBundlesIndex::kindsMatchAll() const
{
    // Changing `all` by hand detaches it from the copy the lists of kinds share.
    const QList<VersionBundle::Summary>& shared = collections.m_all;
    return shared.size() == all.size() && (all.isEmpty() || shared.constData() == all.constData());
}

void VersionBundlesIndex::releaseKinds()
{
    for (SummaryList* kind : {&collections, &documents, &events})
        kind->m_all = QList<VersionBundle::Summary>();
}

void VersionBundlesIndex::shareKinds()
{
    for (SummaryList* kind : {&collections, &documents, &events})
        kind->m_all = all;
}

void VersionBundlesIndex::sortOutKinds()
{
    for (SummaryList* kind : {&collections, &documents, &events})
        kind->m_positions.clear();
    for (qsizetype i = 0; i < all.size(); ++i)
        listOf(all[i].documentType()).m_positions.append(i);
    for (SummaryList* kind : {&collections, &documents, &events})
        kind->m_positions.squeeze();
    shareKinds();
}

void VersionBundlesIndex::append(const VersionBundle::Summary& summary)
{
    const bool intact = kindsMatchAll();
    releaseKinds();
    m_positions.insert(summary.id(), all.size());
    all.append(summary);
    if (!intact) {
        sortOutKinds();
        return;
    }
    listOf(summary.documentType()).m_positions.append(all.size() - 1);
    shareKinds();
}

VersionBundles::VersionBundles(TeamBundle& team) : m_team(team) {}

VersionBundle::Info VersionBundles::info(const BundleState& state)
{
    return VersionBundle::Info{state.id, state.name, state.type, state.modified, state.trashed};
}

QString VersionBundles::bundleUrl(const IdFor<VersionBundle>& id) const
{
    return VersionBundle::Summary{m_team.rootPath(), {id}, {}, {}}.url();
}

namespace {

// The containers of bundles, by container, while one index is built: the bundles of one
// container share one list.
using ContainerLists = QHash<IdFor<VersionBundle>, QList<VersionBundle::Info>>;

VersionBundle::Summary summaryOf(const QString& teamPath, const TeamSnapshot& snapshot, const BundleState& state,
                                 ContainerLists* shared)
{
    VersionBundle::Summary summary{teamPath, VersionBundles::info(state), {}, {}};
    const bool single = shared && state.parents.size() == 1;
    if (single) {
        if (const auto known = shared->constFind(state.parents.front()); known != shared->cend()) {
            summary.activeContainers = *known;
            summary.activeContainersExcludingTrash = known->front().isTrashed ? QList<VersionBundle::Info>() : *known;
            return summary;
        }
    }
    summary.activeContainers.reserve(state.parents.size());
    bool anyTrashed = false;
    for (const auto& parentId : state.parents) {
        if (const auto parent = snapshot.find(parentId)) {
            summary.activeContainers.append(VersionBundles::info(*parent));
            anyTrashed = anyTrashed || parent->trashed;
        }
    }
    if (single && summary.activeContainers.size() == 1)
        shared->insert(state.parents.front(), summary.activeContainers);
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

} // namespace

VersionBundle::Summary VersionBundles::summary(const TeamSnapshot& snapshot, const BundleState& state) const
{
    return summaryOf(m_team.rootPath(), snapshot, state, nullptr);
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
    // The old indexes go first: a large team's would otherwise be held twice.
    m_cached = Cached();
    Cached cached;
    cached.created.reserve(states.size());
    // The lists are sized once: a large team's would otherwise be copied as they grow.
    qsizetype trashed = 0;
    for (const auto& state : std::as_const(states))
        trashed += state->trashed ? 1 : 0;
    cached.live.all.reserve(states.size() - trashed);
    cached.trash.all.reserve(trashed);
    cached.live.m_positions.reserve(states.size() - trashed);
    cached.trash.m_positions.reserve(trashed);
    ContainerLists containers;
    for (const auto& state : std::as_const(states)) {
        Index& index = state->trashed ? cached.trash : cached.live;
        index.m_positions.insert(state->id, index.all.size());
        index.all.append(summaryOf(m_team.rootPath(), snapshot, *state, &containers));
        cached.created.insert(state->id, state->createdStamp);
    }
    cached.live.sortOutKinds();
    cached.trash.sortOutKinds();
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
        index->all.removeAt(at);
        index->m_positions.remove(id);
        for (qsizetype i = at; i < index->all.size(); ++i)
            index->m_positions[index->all[i].id()] = i;
    }
    m_cached.created.erase(key);
}

bool VersionBundles::place(const TeamSnapshot& snapshot, const BundleState& state) const
{
    Index& index = state.trashed ? m_cached.trash : m_cached.live;
    const qsizetype kept = index.m_positions.value(state.id, -1);
    const auto known = m_cached.created.constFind(state.id);
    VersionBundle::Summary fresh = summary(snapshot, state);
    // Still in the same index, of the same kind and created at the same time: in place.
    if (kept >= 0 && known != m_cached.created.cend() && *known == state.createdStamp
        && index.all[kept].documentType() == state.type) {
        index.all[kept] = std::move(fresh);
        return true;
    }
    take(state.id);
    m_cached.created.insert(state.id, state.createdStamp);
    const qsizetype at = positionIn(index.all, state.createdStamp, m_cached.created);
    index.all.insert(at, std::move(fresh));
    for (qsizetype i = at; i < index.all.size(); ++i)
        index.m_positions[index.all[i].id()] = i;
    return false;
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
    // The lists of kinds let go of `all`, so that the changes below copy nothing they share.
    m_cached.live.releaseKinds();
    m_cached.trash.releaseKinds();
    bool moved = false; // whether a bundle came, went, changed kind or its place in the order
    for (const auto& id : std::as_const(affected)) {
        if (const auto state = snapshot.find(id)) {
            if (!place(snapshot, *state))
                moved = true;
        } else if (m_cached.created.contains(id)) {
            take(id);
            moved = true;
        }
    }
    for (Index* index : {&m_cached.live, &m_cached.trash}) {
        if (moved)
            index->sortOutKinds();
        else
            index->shareKinds();
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
    co_await boundedChange(team, TeamBundleError::Attempt::change, std::move(work));
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
