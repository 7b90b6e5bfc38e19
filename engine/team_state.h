#pragma once

#include "engine/document_type.h"
#include "engine/journal.h"
#include "engine/storage/content_hash.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QSet>

#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace vantrel {

// How a version came to be.
enum class VersionOrigin { imported, checkedIn, created, reverted };

// The text a version record stores for `origin` (its "origin" member).
QString toText(VersionOrigin origin);
// The origin `text` names; none for any other text.
std::optional<VersionOrigin> versionOriginFromText(const QString& text);

struct VersionInfo {
    IdFor<Versions> id = IdFor<Versions>(QUuid());
    ContentHash manifest;
    QString message;
    QDateTime date;
    QString userName;
    QString hostName;
    QJsonObject application; // the DocumentApplication that was recorded with it
    VersionOrigin origin = VersionOrigin::imported;
    std::optional<IdFor<Versions>> revertedTo;
    JournalStamp stamp;
};

// The state of one bundle, folded from its records. Immutable once published.
struct BundleState {
    IdFor<VersionBundle> id = IdFor<VersionBundle>(QUuid());
    DocumentType type = DocumentType::collection();
    QString name;
    QDateTime created;
    QDateTime modified;
    QList<VersionInfo> versions; // oldest first; the last is the current one
    bool trashed = false;
    QList<IdFor<VersionBundle>> children; // nested bundles, in the order they were nested
    QList<IdFor<VersionBundle>> parents;  // containers, in the order the bundle was nested in them
    JournalStamp createdStamp;
    QList<JournalRecord> history; // every record of the bundle, oldest first

    const VersionInfo* currentVersion() const { return versions.isEmpty() ? nullptr : &versions.last(); }
    const VersionInfo* version(const IdFor<Versions>& id) const;
    // The version that was current when `stamp` was written (the first one when none was).
    const VersionInfo* versionAt(const JournalStamp& stamp) const;
};

// Every live or trashed bundle of a team bundle at one moment. Immutable once published.
struct TeamSnapshot {
    QHash<IdFor<VersionBundle>, std::shared_ptr<const BundleState>> bundles;
    QList<IdFor<VersionBundle>> order; // creation order, which is the engine's order of lists
    quint64 generation = 0;

    std::shared_ptr<const BundleState> find(const IdFor<VersionBundle>& id) const { return bundles.value(id); }
};

// Folds journal records into bundle states. Every field is either a last-writer-wins register
// (by journal stamp) or a growing set, so the result does not depend on the order in which
// records arrive. Thread-safe.
class TeamModel {
public:
    TeamModel();

    // Folds `records` in and returns the bundles whose state changed.
    QSet<IdFor<VersionBundle>> apply(const std::vector<JournalRecord>& records);
    std::shared_ptr<const TeamSnapshot> snapshot() const;

private:
    template<typename T>
    struct Register {
        JournalStamp stamp;
        T value{};
        bool set = false;
        bool write(const JournalStamp& at, T newValue)
        {
            if (set && at <= stamp)
                return false;
            stamp = at;
            value = std::move(newValue);
            set = true;
            return true;
        }
    };
    struct Bundle {
        std::optional<JournalRecord> create;
        Register<QString> name;
        Register<bool> trashed;
        bool deleted = false;
        std::map<JournalStamp, VersionInfo> versions;
        std::map<JournalStamp, JournalRecord> history;
        QSet<IdFor<VersionBundle>> childCandidates;
        QSet<IdFor<VersionBundle>> parentCandidates;
    };
    using Edge = QPair<IdFor<VersionBundle>, IdFor<VersionBundle>>; // parent, child

    void applyOne(const JournalRecord& record, QSet<IdFor<VersionBundle>>& changed);
    void writeEdge(const IdFor<VersionBundle>& parent, const IdFor<VersionBundle>& child, const JournalStamp& stamp,
                   bool nested, QSet<IdFor<VersionBundle>>& changed);
    std::shared_ptr<const BundleState> build(const IdFor<VersionBundle>& id) const;
    bool isLive(const IdFor<VersionBundle>& id) const;

    mutable std::mutex m_mutex;
    QHash<IdFor<VersionBundle>, Bundle> m_bundles;
    QHash<Edge, Register<bool>> m_edges;
    std::shared_ptr<const TeamSnapshot> m_snapshot;
};

} // namespace vantrel
