#include "engine/team_state.h"

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

std::optional<IdFor<VersionBundle>> bundleField(const JournalRecord& record, const char* key)
{
    return IdFor<VersionBundle>::fromString(record.fields.value(QLatin1String(key)).toString());
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

TeamModel::TeamModel() : m_snapshot(std::make_shared<TeamSnapshot>()) {}

std::shared_ptr<const TeamSnapshot> TeamModel::snapshot() const
{
    std::lock_guard lock(m_mutex);
    return m_snapshot;
}

bool TeamModel::isLive(const IdFor<VersionBundle>& id) const
{
    const auto found = m_bundles.constFind(id);
    return found != m_bundles.cend() && found->create && !found->deleted;
}

void TeamModel::writeEdge(const IdFor<VersionBundle>& parent, const IdFor<VersionBundle>& child,
                          const JournalStamp& stamp, bool nested, QSet<IdFor<VersionBundle>>& changed)
{
    if (m_edges[Edge(parent, child)].write(stamp, nested)) {
        m_bundles[parent].childCandidates.insert(child);
        m_bundles[child].parentCandidates.insert(parent);
        changed << parent << child;
    }
}

void TeamModel::applyOne(const JournalRecord& record, QSet<IdFor<VersionBundle>>& changed)
{
    Bundle& bundle = m_bundles[record.bundle];
    if (!bundle.history.emplace(record.stamp, record).second)
        return; // already folded
    changed << record.bundle;
    const RecordKind kind = record.kind;
    const JournalStamp& stamp = record.stamp;

    switch (kind) {
    case RecordKind::create:
        if (!bundle.create || stamp < bundle.create->stamp)
            bundle.create = record;
        bundle.name.write(stamp, record.fields.value(QStringLiteral("name")).toString());
        break;
    case RecordKind::version:
    case RecordKind::revert: {
        VersionInfo version;
        const auto id = IdFor<Versions>::fromString(record.fields.value(QStringLiteral("version")).toString());
        const auto manifest = ContentHash::fromHex(record.fields.value(QStringLiteral("manifest")).toString());
        if (!id || !manifest)
            return;
        version.id = *id;
        version.manifest = *manifest;
        version.message = record.fields.value(QStringLiteral("message")).toString();
        version.date = record.date;
        version.userName = record.userName;
        version.hostName = record.hostName;
        version.application = record.fields.value(QStringLiteral("application")).toObject();
        version.origin = versionOriginFromText(record.fields.value(QStringLiteral("origin")).toString())
                             .value_or(kind == RecordKind::revert ? VersionOrigin::reverted : VersionOrigin::checkedIn);
        version.revertedTo = IdFor<Versions>::fromString(record.fields.value(QStringLiteral("target")).toString());
        version.stamp = stamp;
        bundle.versions.emplace(stamp, std::move(version));
        break;
    }
    case RecordKind::rename:
        bundle.name.write(stamp, record.fields.value(QStringLiteral("name")).toString());
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
        bundle.deleted = true;
        changed += bundle.childCandidates;
        changed += bundle.parentCandidates;
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

    auto next = std::make_shared<TeamSnapshot>(*m_snapshot);
    next->generation = m_snapshot->generation + 1;
    bool orderChanged = false;
    for (const auto& id : changed) {
        const bool wasThere = next->bundles.contains(id);
        if (auto state = build(id)) {
            next->bundles.insert(id, std::move(state));
            orderChanged |= !wasThere;
        } else if (wasThere) {
            next->bundles.remove(id);
            orderChanged = true;
        }
    }
    if (orderChanged) {
        QList<std::pair<JournalStamp, IdFor<VersionBundle>>> byCreation;
        byCreation.reserve(next->bundles.size());
        for (const auto& state : std::as_const(next->bundles))
            byCreation.append({state->createdStamp, state->id});
        std::sort(byCreation.begin(), byCreation.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        next->order.clear();
        next->order.reserve(byCreation.size());
        for (const auto& entry : byCreation)
            next->order.append(entry.second);
    }
    m_snapshot = std::move(next);
    return changed;
}

std::shared_ptr<const BundleState> TeamModel::build(const IdFor<VersionBundle>& id) const
{
    if (!isLive(id))
        return nullptr;
    const Bundle& bundle = *m_bundles.constFind(id);
    auto state = std::make_shared<BundleState>();
    state->id = id;
    try {
        state->type = DocumentType::fromJson(bundle.create->fields.value(QStringLiteral("type")));
    } catch (const Error&) {
        state->type = DocumentType::unknown(QString());
    }
    state->name = bundle.name.value;
    state->created = bundle.create->date;
    state->createdStamp = bundle.create->stamp;
    state->trashed = bundle.trashed.set && bundle.trashed.value;
    state->modified = state->created;
    for (const auto& [stamp, record] : bundle.history) {
        state->modified = std::max(state->modified, record.date);
        state->history.append(record);
    }
    for (const auto& [stamp, version] : bundle.versions)
        state->versions.append(version);

    const auto related = [this](const QSet<IdFor<VersionBundle>>& candidates, bool asParent,
                                const IdFor<VersionBundle>& self) {
        QList<std::pair<JournalStamp, IdFor<VersionBundle>>> nested;
        for (const auto& other : candidates) {
            const auto edge = m_edges.constFind(asParent ? Edge(self, other) : Edge(other, self));
            if (edge != m_edges.cend() && edge->value && isLive(other))
                nested.append({edge->stamp, other});
        }
        std::sort(nested.begin(), nested.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        QList<IdFor<VersionBundle>> ids;
        for (const auto& entry : nested)
            ids.append(entry.second);
        return ids;
    };
    state->children = related(bundle.childCandidates, true, id);
    state->parents = related(bundle.parentCandidates, false, id);
    return state;
}

} // namespace vantrel
