#include "engine/check_in_base.h"

#include "engine/team_bundle.h"

namespace vantrel::versioning {

bool writtenBy(const VersionInfo* version, const std::optional<JournalStamp>& record)
{
    return version && record && version->stamp.client == record->client && version->stamp.seq == record->seq;
}

namespace {

// Whether the working copy starts from `now`: the version it was checked out from, or what an
// earlier try of this check-in left (its own versions, or this client's withdrawal of them, a
// revert to that same version).
bool startsFrom(TeamBundle& team, const VersionInfo* now, const IdFor<Versions>& base,
                const std::optional<JournalStamp>& earlier)
{
    if (!now || now->id == base || writtenBy(now, earlier))
        return true;
    return earlier && now->stamp.client == team.clientId() && now->revertedTo == base;
}

} // namespace

const VersionInfo* buildsOn(const BundleState& state, const std::optional<JournalStamp>& earlier)
{
    return earlier ? nullptr : state.currentVersion();
}

std::optional<QString> newerVersionBy(TeamBundle& team, const TeamSnapshot& snapshot, const BundleState& current,
                                      const Checkout& checkout, const std::optional<JournalStamp>& earlier)
{
    const VersionInfo* now = current.currentVersion();
    if (!now || !startsFrom(team, now, checkout.baseVersion, earlier))
        return now ? now->userName() : QString();
    for (const auto& included : checkout.events) {
        const auto event = snapshot.find(included.id);
        const VersionInfo* eventNow = event ? event->currentVersion() : nullptr;
        if (eventNow && !startsFrom(team, eventNow, included.baseVersion, earlier)
            && team.locks().isMine(included.id, current.id))
            return eventNow->userName();
    }
    return std::nullopt;
}

QSet<ContentHash> treesWrittenBy(const TeamSnapshot& snapshot, const BundleState& current, const Checkout& checkout,
                                 const JournalStamp& record)
{
    QSet<ContentHash> trees;
    const auto collect = [&](const BundleState& state) {
        for (const auto& version : state.versions) {
            if (writtenBy(&version, record))
                trees.insert(version.manifest);
        }
    };
    collect(current);
    for (const auto& included : checkout.events) {
        if (const auto event = snapshot.find(included.id))
            collect(*event);
    }
    return trees;
}

} // namespace vantrel::versioning
