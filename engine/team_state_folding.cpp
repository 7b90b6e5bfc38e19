// Folding journal records into bundle states: each record into the model's registers and
// sets, then a new snapshot with a new state for each bundle the records touched.

#include "engine/team_state.h"

#include "engine/storage/parallel_for.h"

#include <QJsonArray>

#include <algorithm>

namespace vantrel {

namespace {

// The value of the last member named `key` (a repeated key's last value counts); empty when none.
QByteArrayView member(const json_scan::Members& members, const char* key)
{
    for (auto it = members.crbegin(); it != members.crend(); ++it) {
        if (it->is(QLatin1StringView(key)))
            return it->value;
    }
    return {};
}

QString text(QByteArrayView value)
{
    return json_scan::stringValue(value).value_or(QString());
}

std::optional<IdFor<VersionBundle>> bundleField(const JournalRecord& record, const char* key)
{
    return IdFor<VersionBundle>::fromString(record.fields.string(QLatin1StringView(key)));
}

// Where `key` is, or belongs, in `list`, sorted by `keyOf`.
template<typename T, typename Key, typename KeyOf>
qsizetype lowerBound(const QList<T>& list, const Key& key, KeyOf keyOf)
{
    const auto found =
        std::lower_bound(list.cbegin(), list.cend(), key, [&](const T& item, const Key& k) { return keyOf(item) < k; });
    return found - list.cbegin();
}

} // namespace

bool TeamModel::isLive(const IdFor<VersionBundle>& id) const
{
    const auto found = m_bundles.find(id);
    return found != m_bundles.cend() && found->second.created && !found->second.deleted;
}

const TeamModel::Edge* TeamModel::edge(const IdFor<VersionBundle>& parent, const IdFor<VersionBundle>& child) const
{
    const auto found = m_bundles.find(parent);
    if (found == m_bundles.cend())
        return nullptr;
    const auto& edges = found->second.children;
    const qsizetype at = lowerBound(edges, child, [](const Edge& e) { return e.child; });
    return at < edges.size() && edges[at].child == child ? &edges[at] : nullptr;
}

void TeamModel::writeEdge(const IdFor<VersionBundle>& parent, const IdFor<VersionBundle>& child,
                          const JournalStamp& stamp, bool nested, QSet<IdFor<VersionBundle>>& changed)
{
    auto& edges = m_bundles[parent].children;
    const qsizetype at = lowerBound(edges, child, [](const Edge& e) { return e.child; });
    if (at == edges.size() || !(edges[at].child == child))
        edges.insert(at, Edge{child, {}});
    if (!edges[at].nested.write(stamp, nested))
        return;
    auto& parents = m_bundles[child].parentCandidates;
    const qsizetype position = lowerBound(parents, parent, [](const IdFor<VersionBundle>& id) { return id; });
    if (position == parents.size() || !(parents[position] == parent))
        parents.insert(position, parent);
    changed << parent << child;
}

void TeamModel::applyOne(const JournalRecord& record, QSet<IdFor<VersionBundle>>& changed)
{
    Bundle& bundle = m_bundles[record.bundle];
    const JournalStamp& stamp = record.stamp;
    // Records arrive mostly in order: the new one usually goes last.
    qsizetype at = bundle.history.size();
    if (at > 0 && !(bundle.history.last().stamp < stamp)) {
        at = lowerBound(bundle.history, stamp, [](const JournalRecord& r) { return r.stamp; });
        if (at < bundle.history.size() && bundle.history[at].stamp == stamp)
            return; // already folded
    }
    bundle.history.insert(at, record);
    JournalRecord& kept = bundle.history[at];
    intern(kept.stamp.client);
    intern(kept.author);
    if (!bundle.modified.isValid() || bundle.modified < record.date)
        bundle.modified = record.date;
    changed << record.bundle;
    const RecordKind kind = record.kind;
    // The fields are read in one pass, for the kinds that read several.
    const json_scan::Members members =
        kind == RecordKind::create || kind == RecordKind::version || kind == RecordKind::revert
            ? record.fields.members()
            : json_scan::Members();

    // Whether a bundle is there decides whether its containers and nested bundles list it.
    const auto touchPartners = [&](const Bundle& partner) {
        for (const auto& edge : partner.children)
            changed << edge.child;
        for (const auto& parent : partner.parentCandidates)
            changed << parent;
    };
    switch (kind) {
    case RecordKind::create:
        if (!bundle.created && !bundle.deleted)
            touchPartners(bundle);
        if (!bundle.created || stamp < bundle.createdStamp) {
            bundle.created = true;
            bundle.createdStamp = stamp;
            bundle.createdDate = record.date;
            bundle.type = sharedType(member(members, "type"));
        }
        bundle.name.write(stamp, text(member(members, "name")));
        break;
    case RecordKind::version:
    case RecordKind::revert: {
        VersionInfo version;
        const auto id = IdFor<Versions>::fromString(text(member(members, "version")));
        const auto manifest = ContentHash::fromHex(text(member(members, "manifest")));
        if (!id || !manifest)
            return;
        version.id = *id;
        version.manifest = *manifest;
        version.message = text(member(members, "message"));
        intern(version.message); // "Initial Commit", mostly
        version.date = record.date;
        version.author = kept.author;
        version.application = sharedValue(member(members, "application")).toObject();
        version.origin = versionOriginFromText(text(member(members, "origin")))
                             .value_or(kind == RecordKind::revert ? VersionOrigin::reverted : VersionOrigin::checkedIn);
        version.revertedTo = IdFor<Versions>::fromString(text(member(members, "target")));
        version.stamp = stamp;
        const qsizetype position = lowerBound(bundle.versions, stamp, [](const VersionInfo& v) { return v.stamp; });
        bundle.versions.insert(position, std::move(version));
        break;
    }
    case RecordKind::rename:
        bundle.name.write(stamp, record.fields.string(QLatin1StringView("name")));
        break;
    case RecordKind::nest:
    case RecordKind::unnest:
        if (const auto child = bundleField(record, "child")) {
            const bool nested = kind == RecordKind::nest;
            writeEdge(record.bundle, *child, stamp, nested, changed);
            if (nested && m_bundles[*child].trashed.write(stamp, false))
                changed << *child; // adding a trashed bundle takes it out of the trash
        }
        break;
    case RecordKind::trash:
        bundle.trashed.write(stamp, true);
        for (const QJsonValue& parent : record.fields.value(QStringLiteral("unnestFrom")).toArray()) {
            if (const auto id = IdFor<VersionBundle>::fromString(parent.toString()))
                writeEdge(*id, record.bundle, stamp, false, changed);
        }
        break;
    case RecordKind::restore:
        bundle.trashed.write(stamp, false);
        break;
    case RecordKind::deletePermanently:
        if (bundle.created && !bundle.deleted)
            touchPartners(bundle);
        bundle.deleted = true;
        break;
    case RecordKind::lock:
    case RecordKind::editing:
    case RecordKind::discard:
    case RecordKind::unknown:
        break; // activity, or a kind of a newer client: it only joins the history
    }
}

QSet<IdFor<VersionBundle>> TeamModel::apply(const std::vector<JournalRecord>& records)
{
    std::lock_guard lock(m_mutex);
    QSet<IdFor<VersionBundle>> changed;
    for (const auto& record : records)
        applyOne(record, changed);
    if (changed.isEmpty())
        return changed;

    // Only the bundles the records touched get a new state; the others are shared with the
    // previous snapshot.
    auto next = std::make_shared<TeamSnapshot>(*m_snapshot);
    next->generation = m_snapshot->generation + 1;
    const QList<IdFor<VersionBundle>> ids = changed.values();
    for (const auto& id : ids) {
        // The lists grew one record at a time; the states share them as they are now.
        // A list with room to spare grew in this fold, so the model alone holds it; the others
        // may be shared with published states and stay as they are.
        if (const auto found = m_bundles.find(id); found != m_bundles.end()) {
            Bundle& bundle = found->second;
            if (bundle.history.capacity() > bundle.history.size())
                bundle.history.squeeze();
            if (bundle.versions.capacity() > bundle.versions.size())
                bundle.versions.squeeze();
        }
    }
    // Building a state only reads the model: an open builds tens of thousands at once.
    std::vector<std::shared_ptr<const BundleState>> states(size_t(ids.size()));
    parallelFor(ids.size(), 256, [&](qsizetype i) { states[size_t(i)] = build(ids[i]); });
    for (qsizetype i = 0; i < ids.size(); ++i) {
        if (states[size_t(i)])
            next->bundles.insert(ids[i], std::move(states[size_t(i)]));
        else
            next->bundles.remove(ids[i]);
    }
    next->recentChanges.append({next->generation, std::make_shared<const QSet<IdFor<VersionBundle>>>(changed)});
    if (next->recentChanges.size() > TeamSnapshot::recentChangesKept)
        next->recentChanges.removeFirst();
    m_snapshot = std::move(next);
    return changed;
}

std::shared_ptr<const BundleState> TeamModel::build(const IdFor<VersionBundle>& id) const
{
    if (!isLive(id))
        return nullptr;
    const Bundle& bundle = m_bundles.find(id)->second;
    auto state = std::make_shared<BundleState>();
    state->id = id;
    state->type = bundle.type;
    state->name = bundle.name.value;
    state->created = bundle.createdDate;
    state->createdStamp = bundle.createdStamp;
    state->trashed = bundle.trashed.set && bundle.trashed.value;
    state->modified = std::max(state->created, bundle.modified);
    state->history = bundle.history;   // shared, not copied
    state->versions = bundle.versions; // shared, not copied

    const auto byStamp = [](QList<std::pair<JournalStamp, IdFor<VersionBundle>>>& nested) {
        std::sort(nested.begin(), nested.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        QList<IdFor<VersionBundle>> ids;
        ids.reserve(nested.size());
        for (const auto& entry : nested)
            ids.append(entry.second);
        return ids;
    };
    QList<std::pair<JournalStamp, IdFor<VersionBundle>>> children;
    for (const auto& edge : bundle.children) {
        if (edge.nested.value && isLive(edge.child))
            children.append({edge.nested.stamp, edge.child});
    }
    state->children = byStamp(children);
    QList<std::pair<JournalStamp, IdFor<VersionBundle>>> parents;
    for (const auto& parent : bundle.parentCandidates) {
        const Edge* link = edge(parent, id);
        if (link && link->nested.value && isLive(parent))
            parents.append({link->nested.stamp, parent});
    }
    state->parents = byStamp(parents);
    return state;
}

} // namespace vantrel
