#pragma once

#include "engine/storage/content_hash.h"

#include <QHash>
#include <QMutex>
#include <QString>

#include <optional>

struct stat;

namespace vantrel {

// What was known about files when they were last stored: their state (size, modification and
// change times, inode, device) and the hash of their contents. A file still in the same state
// need not be read again. Kept in a local file, one per installation; thread-safe.
class StatCache {
public:
    struct Entry {
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        quint64 inode = 0;
        quint64 device = 0;
        ContentHash hash;
        // Wall-clock time (ns since the epoch) at which the state was observed, before reading.
        qint64 recordedNs = 0;

        // The state in `status`, without hash and time.
        static Entry fromStat(const struct ::stat& status);
        bool sameState(const Entry& other) const;
        friend bool operator==(const Entry&, const Entry&) = default;
    };

    // How long after its last modification a file's state must have been recorded to be
    // trusted: a file written again within the same timestamp tick (coarse on network file
    // systems) as the recording would otherwise look unchanged.
    static constexpr qint64 settleTimeNs = 2'000'000'000;
    // At most this many files are remembered; the oldest records go first.
    static constexpr qsizetype capacity = 500'000;

    explicit StatCache(QString filePath);

    const QString& filePath() const { return m_filePath; }

    // Reads the cache file. A missing or damaged file gives an empty cache: it is only a cache.
    void load();
    // Writes the cache file atomically (its folder is created); throws StorageError.
    void save() const;

    std::optional<Entry> lookup(const QString& absolutePath) const;
    void record(const QString& absolutePath, const Entry& entry);
    void forget(const QString& absolutePath);
    qsizetype size() const;

    // The hash recorded for `absolutePath` if the file is still in the state `current` and the
    // record was made at least settleTimeNs after the file's last modification.
    std::optional<ContentHash> unchangedHash(const QString& absolutePath, const Entry& current) const;

private:
    QString m_filePath;
    mutable QMutex m_mutex;
    QHash<QString, Entry> m_entries;
};

} // namespace vantrel
