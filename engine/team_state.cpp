#include "engine/team_state.h"

#include "engine/parallel_for.h"

#include <QJsonArray>

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

namespace vantrel {

namespace {

// The texts are stored in every team bundle: they never change.
constexpr std::array<std::pair<VersionOrigin, QLatin1String>, 4> originTexts{{
    {VersionOrigin::imported, QLatin1String("imported")},
    {VersionOrigin::checkedIn, QLatin1String("checkedIn")},
    {VersionOrigin::created, QLatin1String("created")},
    {VersionOrigin::reverted, QLatin1String("reverted")},
}};

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

} // namespace

QString toText(VersionOrigin origin)
{
    for (const auto& [known, text] : originTexts) {
        if (known == origin)
            return text;
    }
    Q_UNREACHABLE();
}

std::optional<VersionOrigin> versionOriginFromText(const QString& text)
{
    for (const auto& [known, name] : originTexts) {
        if (text == name)
            return known;
    }
    return std::nullopt;
}

const VersionInfo* BundleState::version(const IdFor<Versions>& id) const
{
    for (const auto& candidate : versions) {
        if (candidate.id == id)
            return &candidate;
    }
    return nullptr;
}

const VersionInfo* BundleState::versionAt(const JournalStamp& stamp) const
{
    const VersionInfo* found = versions.isEmpty() ? nullptr : &versions.first();
    // Changes written in one record happened together, whatever their order inside it.
    JournalStamp sameRecord = stamp;
    sameRecord.sub = std::numeric_limits<int>::max();
    for (const auto& candidate : versions) {
        if (candidate.stamp <= sameRecord)
            found = &candidate;
    }
    return found;
}

void BundleMap::insert(const IdFor<VersionBundle>& id, State state)
{
    Shard& shard = m_shards[size_t(shardOf(id))];
    const qsizetype before = shard.size();
    shard.insert(id, std::move(state));
    m_size += shard.size() - before;
}

void BundleMap::remove(const IdFor<VersionBundle>& id)
{
    Shard& shard = m_shards[size_t(shardOf(id))];
    if (shard.contains(id)) {
        shard.remove(id);
        --m_size;
    }
}

BundleMap::const_iterator::const_iterator(const BundleMap* map, int shard) : m_map(map), m_shard(shard)
{
    if (m_shard < shardCount)
        m_position = m_map->m_shards[size_t(m_shard)].cbegin();
    settle();
}

void BundleMap::const_iterator::settle()
{
    while (m_shard < shardCount && m_position == m_map->m_shards[size_t(m_shard)].cend()) {
        if (++m_shard < shardCount)
            m_position = m_map->m_shards[size_t(m_shard)].cbegin();
    }
}

BundleMap::const_iterator& BundleMap::const_iterator::operator++()
{
    ++m_position;
    settle();
    return *this;
}

std::optional<QSet<IdFor<VersionBundle>>> TeamSnapshot::changedSince(quint64 since) const
{
    if (since == generation)
        return QSet<IdFor<VersionBundle>>();
    if (since > generation || recentChanges.isEmpty() || recentChanges.front().generation > since + 1)
        return std::nullopt;
    QSet<IdFor<VersionBundle>> changed;
    for (const auto& change : recentChanges) {
        if (change.generation > since)
            changed += *change.bundles;
    }
    return changed;
}

TeamModel::TeamModel() : m_snapshot(std::make_shared<TeamSnapshot>()) {}

std::shared_ptr<const TeamSnapshot> TeamModel::snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot;
}

bool TeamModel::isLive(const IdFor<VersionBundle>& id) const
{
    const auto found = m_bundles.find(id);
    return found != m_bundles.cend() && found->second.created && !found->second.deleted;
}

namespace {

// Where `key` is, or belongs, in `list`, sorted by `keyOf`.
template<typename T, typename Key, typename KeyOf>
qsizetype lowerBound(const QList<T>& list, const Key& key, KeyOf keyOf)
{
    const auto found =
        std::lower_bound(list.cbegin(), list.cend(), key, [&](const T& item, const Key& k) { return keyOf(item) < k; });
    return found - list.cbegin();
}

} // namespace

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

void TeamModel::intern(QString& text)
{
    if (text.isEmpty())
        return;
    // The changes of one record share their names: most are the ones interned just before.
    for (const auto& [seen, kept] : m_lastInterned) {
        if (text.isSharedWith(seen) && text.size() == seen.size()) {
            text = kept;
            return;
        }
    }
    const QString seen = text;
    const auto found = m_names.constFind(text);
    if (found != m_names.cend())
        text = *found;
    else
        m_names.insert(text);
    m_lastInterned[m_nextLast] = {seen, text};
    m_nextLast = (m_nextLast + 1) % m_lastInterned.size();
}

void TeamModel::intern(std::shared_ptr<const UserIdentity>& author)
{
    if (!author)
        return;
    // The changes of one record share their author: most are the one interned just before.
    if (author == m_lastAuthor.first) {
        author = m_lastAuthor.second;
        return;
    }
    const auto seen = author;
    auto& candidates = m_authors[author->userName];
    const auto same = std::find_if(candidates.cbegin(), candidates.cend(), [&](const auto& candidate) {
        return candidate->fullName == author->fullName && candidate->hostName == author->hostName;
    });
    if (same != candidates.cend()) {
        author = *same;
    } else {
        UserIdentity kept = *author;
        intern(kept.userName);
        intern(kept.fullName);
        intern(kept.hostName);
        author = std::make_shared<const UserIdentity>(std::move(kept));
        candidates.append(author);
    }
    m_lastAuthor = {seen, author};
}

QJsonValue TeamModel::sharedValue(QByteArrayView text)
{
    if (text.isEmpty())
        return QJsonValue(QJsonValue::Undefined);
    const auto found = m_values.constFind(QByteArray::fromRawData(text.data(), text.size()));
    if (found != m_values.cend())
        return *found;
    const QJsonValue value = json_scan::jsonValue(text);
    m_values.insert(text.toByteArray(), value);
    return value;
}

DocumentType TeamModel::sharedType(QByteArrayView text)
{
    const auto found = m_types.constFind(QByteArray::fromRawData(text.data(), text.size()));
    if (found != m_types.cend())
        return *found;
    DocumentType type = DocumentType::unknown(QString());
    try {
        type = DocumentType::fromJson(text.isEmpty() ? QJsonValue(QJsonValue::Undefined) : json_scan::jsonValue(text));
    } catch (const Error&) {
    }
    m_types.insert(text.toByteArray(), type);
    return type;
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
    next->recentChanges.append(
        {next->generation, std::make_shared<const QSet<IdFor<VersionBundle>>>(changed)});
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
