#pragma once

#include "engine/journal/journal.h"
#include "engine/journal/record_kind.h"
#include "engine/version_bundle.h"
#include "foundation/publisher.h"

#include <QCoroTask>

#include <chrono>
#include <memory>
#include <mutex>

namespace vantrel {

class TeamBundle;
struct BundleState;
struct TeamSnapshot;
struct TeamBundleChange;

// The store of a team bundle's version bundles: its live and trash indexes, restoring and
// deleting for good.
class VersionBundles {
public:
    using Index = VersionBundlesIndex;

    explicit VersionBundles(TeamBundle& team);

    // Every bundle not in the trash. From memory; cheap to call often.
    Index liveIndex() const;
    // Every bundle in the trash.
    Index trashIndex() const;

    // Takes a bundle out of the trash; a restored collection has its documents back.
    QCoro::Task<> restore(VersionBundle::Summary summary);
    // Removes a bundle for good. Its contents are collected later, once nothing uses them.
    QCoro::Task<> deletePermanently(VersionBundle::Summary summary);

    AnyPublisher<TeamBundleChange> changes() const;

    static VersionBundle::Info info(const BundleState& state);
    VersionBundle::Summary summary(const TeamSnapshot& snapshot, const BundleState& state) const;
    QString bundleUrl(const IdFor<VersionBundle>& id) const;

private:
    // The indexes as of one snapshot. Each fold updates only the summaries of the bundles it
    // changed and of the bundles nested in those (their summaries name their containers).
    struct Cached {
        bool valid = false;
        quint64 generation = 0;
        Index live;
        Index trash;
        QHash<IdFor<VersionBundle>, JournalStamp> created; // the order key of every bundle indexed
    };
    // Brings m_cached up to `snapshot`. Called with m_mutex held.
    void update(const TeamSnapshot& snapshot) const;
    void rebuild(const TeamSnapshot& snapshot) const;
    void take(const IdFor<VersionBundle>& id) const;
    // Returns whether the summary was replaced where it was (same index, kind and place).
    bool place(const TeamSnapshot& snapshot, const BundleState& state) const;
    // Writes `kind` ("restore" or "delete") for a bundle that must be in the trash.
    QCoro::Task<> changeTrashed(VersionBundle::Summary summary, RecordKind kind);

    TeamBundle& m_team;
    mutable std::mutex m_mutex;
    mutable Cached m_cached;
};

} // namespace vantrel
