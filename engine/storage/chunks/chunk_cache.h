// A bounded cache of chunks on this computer's disk, so that reading a version fetches from the
// share only what this computer does not already hold.

#pragma once

#include "engine/storage/chunks/chunk_source.h"
#include "engine/storage/content_hash.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

#include <sys/types.h>

namespace vantrel {

// Chunks kept by their SHA-256 in `<folder>/ab/<64 hex>` (ab: the first two digits), one folder
// per team (folderFor()). Only ever a copy of what the team bundle holds: every entry taken is
// checked against its hash, and a damaged, missing or wrong-sized one is dropped and reported as
// absent, so that the caller reads the share instead. Deleting the folder, or any entry in it,
// costs time only. Nothing here throws: a failure to keep a chunk is logged and forgotten.
//
// Entries are written by a thread of the cache's own, so that keeping a chunk costs the caller
// (a check-in, a copy-out) nothing but handing it over; a chunk handed over and not yet written
// is served from memory. What waits to be written is bounded: keep() waits while it is full; what
// still waits when the cache is destroyed is dropped.
// The folders are this user's alone (0700): the names in them say which chunks the user holds.
// Entries go through a temporary file in `<folder>/tmp/` and are renamed into place, so a reader
// never sees one half written; they are not synced (a crash may leave a damaged entry, which the
// hash check drops). A chunk taken gets its modification time set to now: the entries not used
// for longest go first when the folder holds more than the bound. That is done by another
// background thread once the bytes kept since it last ran may have taken the folder over the
// bound; it lists the folder and drops the oldest entries until a tenth of the bound is free
// again, so the folder is listed once per tenth of the bound written, never for each call. It
// also runs once when the cache is made, to learn what the folder holds, and each run removes
// temporary files left there for an hour. Several processes may share one folder. Thread-safe.
class ChunkCache : public ChunkSource {
public:
    // Entries larger than this are neither kept nor read.
    static constexpr qint64 largestEntry = 64 * 1024 * 1024;
    // The bytes handed to keep() and not yet written that it holds at most.
    static constexpr qint64 queueBound = 4 * 1024 * 1024;

    // `bound`: the bytes of entries the folder may hold; it goes over it only until the
    // background trim has caught up.
    ChunkCache(QString folder, qint64 bound);
    ~ChunkCache() override;
    ChunkCache(const ChunkCache&) = delete;
    ChunkCache& operator=(const ChunkCache&) = delete;

    // `<cacheFolder>/chunks/<team id>`; a team id that is not a plain name (letters, digits,
    // '-' and '_', at most 64) is replaced by the hexadecimal SHA-256 of it, since it was read
    // from the share.
    static QString folderFor(const QString& cacheFolder, const QString& teamId);
    // Whether a cache in `cacheFolder` can spare reads of the team bundle at `bundleRoot`: not when
    // both are on one file system, where reading the cache costs what reading the bundle does.
    static bool sparesReadsOf(const QString& bundleRoot, const QString& cacheFolder);
    // A tenth of the size of the disk holding `folder` (or its nearest existing parent), at most
    // 50 GiB and at least 256 MiB; 5 GiB when the size of the disk can't be read.
    static qint64 defaultBound(const QString& folder);

    // The chunk of `hash`, when an entry of exactly `size` bytes holding it is here.
    std::optional<QByteArray> take(const ContentHash& hash, qint64 size) override;
    bool checksTaken() const override { return true; }
    // Keeps `bytes` as the chunk of `hash` (which the caller has checked): written soon, by the
    // cache's own thread.
    void keep(const ContentHash& hash, const QByteArray& bytes) override;

    const QString& folder() const { return m_folder; }
    qint64 bound() const { return m_bound; }
    // Waits until every chunk handed to keep() is written and no trim is running or asked for.
    void waitUntilIdle();

    // Takes from others any access to the folder `folder` (not followed when it is a link).
    static void makePrivate(const QByteArray& folder);

private:
    QString entryPath(const ContentHash& hash) const;
    void remove(const QString& path, ino_t expected) const;
    void writeLoop();
    void write(const ContentHash& hash, const QByteArray& bytes);
    bool writeEntry(const QString& path, QByteArrayView bytes);
    void added(qint64 bytes);
    void trimLoop();
    void trim();

    const QString m_folder;
    const qint64 m_bound;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    qint64 m_estimate = -1; // bytes held by the folder at the last trim plus those kept since; -1: unknown
    qint64 m_keptDuringTrim = 0;
    qint64 m_threshold = 0; // a trim is asked for when the estimate goes over it: the bound, or more
    bool m_trimWanted = false;
    bool m_trimming = false;
    bool m_stopping = false;
    std::thread m_trimmer;

    // Handed to keep() and not yet written: their order, and their bytes by hash (for take() too).
    std::deque<ContentHash> m_queue;
    QHash<ContentHash, QByteArray> m_queued;
    qint64 m_queuedBytes = 0;
    std::condition_variable m_queueChanged;
    std::thread m_writer;
};

} // namespace vantrel
