// What a fold publishes, as its readers ask it: version origins, a bundle's versions, the
// bundle map that snapshots share, and what changed between two snapshots.

#include "engine/team_state.h"

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

} // namespace vantrel
