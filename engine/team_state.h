#pragma once

#include "engine/document_type.h"
#include "engine/journal/journal.h"
#include "engine/storage/content_hash.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QJsonValue>
#include <QSet>

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <utility>

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
    // Who made it: the author of its record, shared with it.
    std::shared_ptr<const UserIdentity> author;
    QJsonObject application; // the DocumentApplication that was recorded with it
    VersionOrigin origin = VersionOrigin::imported;
    std::optional<IdFor<Versions>> revertedTo;
    JournalStamp stamp;

    QString userName() const { return author ? author->userName : QString(); }
    QString hostName() const { return author ? author->hostName : QString(); }
};

// The state of one bundle, folded from its records. Immutable once published. Its lists of
// versions and records are the model's own, shared (not copied) until the bundle changes again.
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

// The bundle states of a snapshot by id. Snapshots share what did not change between them:
// copying a map copies its shards' handles only, and changing a bundle copies the one shard
// that holds it (a few hundred entries in a team of 50,000 bundles).
class BundleMap {
public:
    using State = std::shared_ptr<const BundleState>;
    static constexpr int shardCount = 256;

    State value(const IdFor<VersionBundle>& id) const { return shard(id).value(id); }
    bool contains(const IdFor<VersionBundle>& id) const { return shard(id).contains(id); }
    qsizetype size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }
    void insert(const IdFor<VersionBundle>& id, State state);
    void remove(const IdFor<VersionBundle>& id);

    // Iterates the states, in no particular order.
    class const_iterator {
    public:
        using value_type = State;
        using difference_type = std::ptrdiff_t;
        const State& operator*() const { return m_position.value(); }
        const_iterator& operator++();
        const_iterator operator++(int) { auto before = *this; ++*this; return before; }
        friend bool operator==(const const_iterator& a, const const_iterator& b)
        {
            return a.m_shard == b.m_shard && (a.m_shard == shardCount || a.m_position == b.m_position);
        }

    private:
        friend class BundleMap;
        const_iterator(const BundleMap* map, int shard);
        void settle();
        const BundleMap* m_map = nullptr;
        int m_shard = 0;
        QHash<IdFor<VersionBundle>, State>::const_iterator m_position;
    };
    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, shardCount); }

private:
    using Shard = QHash<IdFor<VersionBundle>, State>; // implicitly shared: copied on first change
    static int shardOf(const IdFor<VersionBundle>& id) { return int(qHash(id) % shardCount); }
    const Shard& shard(const IdFor<VersionBundle>& id) const { return m_shards[size_t(shardOf(id))]; }

    std::array<Shard, shardCount> m_shards;
    qsizetype m_size = 0;
};

// Every live or trashed bundle of a team bundle at one moment. Immutable once published.
struct TeamSnapshot {
    // The bundles one fold changed (their state, or their being there), as TeamModel::apply()
    // returned them.
    struct Change {
        quint64 generation = 0;
        std::shared_ptr<const QSet<IdFor<VersionBundle>>> bundles;
    };
    // How many folds `recentChanges` goes back.
    static constexpr int recentChangesKept = 64;

    BundleMap bundles;
    quint64 generation = 0;
    // The latest folds, oldest first: a reader that knows the snapshot of a recent generation
    // updates what it derived from it instead of deriving it all again.
    QList<Change> recentChanges;

    std::shared_ptr<const BundleState> find(const IdFor<VersionBundle>& id) const { return bundles.value(id); }
    // The bundles changed since `generation`; none when it lies further back than the changes
    // kept (or is not an earlier generation of this model).
    std::optional<QSet<IdFor<VersionBundle>>> changedSince(quint64 generation) const;
};

// Folds journal records into bundle states. Every field is either a last-writer-wins register
// (by journal stamp) or a growing set, so the result does not depend on the order in which
// records arrive. Each record is kept once: the published states share the model's lists.
// Thread-safe.
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
    // A container's link to one bundle nested in it: the last nest or un-nest of the pair wins.
    struct Edge {
        IdFor<VersionBundle> child;
        Register<bool> nested;
    };
    struct Bundle {
        bool created = false;
        JournalStamp createdStamp;
        QDateTime createdDate;
        DocumentType type = DocumentType::unknown(QString());
        QDateTime modified; // the newest date of its records
        Register<QString> name;
        Register<bool> trashed;
        bool deleted = false;
        QList<VersionInfo> versions;              // by stamp
        QList<JournalRecord> history;             // by stamp
        QList<Edge> children;                     // by child id
        QList<IdFor<VersionBundle>> parentCandidates; // by id: containers that have an edge to it
    };

    void applyOne(const JournalRecord& record, QSet<IdFor<VersionBundle>>& changed);
    // The one copy of `text` the model keeps: the same names recur in every record.
    void intern(QString& text);
    // The one copy of a record's author the model keeps: a team has few.
    void intern(std::shared_ptr<const UserIdentity>& author);
    // The value of the JSON `text` (a bundle's type, a version's application), one copy per
    // distinct text; undefined for no text.
    QJsonValue sharedValue(QByteArrayView text);
    // The type the JSON `text` describes (an unknown type without extension when it describes
    // none), one copy per distinct text: the types of a team are few.
    DocumentType sharedType(QByteArrayView text);
    void writeEdge(const IdFor<VersionBundle>& parent, const IdFor<VersionBundle>& child, const JournalStamp& stamp,
                   bool nested, QSet<IdFor<VersionBundle>>& changed);
    const Edge* edge(const IdFor<VersionBundle>& parent, const IdFor<VersionBundle>& child) const;
    std::shared_ptr<const BundleState> build(const IdFor<VersionBundle>& id) const;
    bool isLive(const IdFor<VersionBundle>& id) const;

    mutable std::mutex m_mutex;
    struct IdHash {
        size_t operator()(const IdFor<VersionBundle>& id) const noexcept { return qHash(id); }
    };
    // One node per bundle: a table of large values held in place would keep room for many more.
    std::unordered_map<IdFor<VersionBundle>, Bundle, IdHash> m_bundles;
    std::shared_ptr<const TeamSnapshot> m_snapshot;
    QSet<QString> m_names;
    std::array<std::pair<QString, QString>, 4> m_lastInterned; // a text as read, and its one copy
    size_t m_nextLast = 0;
    QHash<QByteArray, QJsonValue> m_values;
    // The authors the model keeps, by user name; the last one interned, as read and as kept.
    QHash<QString, QList<std::shared_ptr<const UserIdentity>>> m_authors;
    std::pair<std::shared_ptr<const UserIdentity>, std::shared_ptr<const UserIdentity>> m_lastAuthor;
    QHash<QByteArray, DocumentType> m_types;
};

} // namespace vantrel
