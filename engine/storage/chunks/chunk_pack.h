// Packs of chunks (format 4): the chunks of a large file written back to back into a few large
// files of the store instead of one object each (see engine/README.md, "Chunked contents").
#pragma once

#include "engine/storage/chunks/chunk_list.h"
#include "engine/storage/content_store.h"
#include "engine/storage/content_store_temporary.h"

#include <QHash>

#include <condition_variable>
#include <exception>
#include <future>
#include <mutex>
#include <optional>
#include <vector>

namespace vantrel {

namespace chunk_pack {

// A pack is the chunks' bytes back to back, then its index (per chunk its SHA-256, 32 bytes, its
// offset, u64, and its size, u32, little-endian), then a footer: the magic "VPCK", the format
// (u32, 1), the number of chunks (u32) and the index's length (u32). Its name is the SHA-256 of
// its index, from hashes computed anyway: nothing hashes its bytes a second time.
constexpr qint64 indexEntrySize = 44;
constexpr qint64 footerSize = 16;

inline QString folder(const QString& storeFolder)
{
    return storeFolder + QStringLiteral("/packs");
}

// Beside a pack that a copy-out found damaged (empty): no check-in reuses anything from it.
inline const QString damagedSuffix = QStringLiteral(".damaged");

} // namespace chunk_pack

// Writes one file's chunks into packs in the file's order, from the threads that hashed them:
// place() waits for the chunks before it, so that a copy-out reads each pack front to back. A
// chunk the base names where its pack is seen at least that long is relied on there; any other
// is appended to the open pack, which is closed at chunking::packSize and at finish(), and handed
// to the batch like any new object (on disk and confirmed before anything names it).
class PackWriter {
public:
    PackWriter(ContentStore& store, ContentStore::Batch& batch, const ContentStore::KnownChunks& known);
    ~PackWriter() = default;

    // Chunk `index` of the file, hashed; sets where it lies. Whether it was written.
    bool place(qsizetype index, ChunkList::Chunk& chunk, const QByteArray& bytes);
    // The packs the chunks lie in, by the indices place() gave them; the last pack closed.
    QList<ContentHash> finish();
    // Ends the writing after a failure: nobody waits for a turn any more.
    void abandon();

private:
    // Whether the base's pack may be relied on for a chunk ending at `end`: opened once per pack.
    bool usable(const ContentHash& pack, qint64 end);
    qint32 indexOf(const ContentHash& pack);
    void append(ChunkList::Chunk& chunk, const QByteArray& bytes);
    void close();
    // Hands the oldest closed pack to the batch once its flush is done.
    void handOver();

    // A pack written whole, on its way to the disk while the next one is written: handed to the
    // batch (which flushes it again, quickly now, before its rename) by finish().
    struct Closed {
        ContentStore::Temporary temporary;
        ContentHash name;
        qint64 size = 0;
        std::future<void> flushed; // last: waited for before the file goes
    };

    ContentStore& m_store;
    ContentStore::Batch& m_batch;
    const ContentStore::KnownChunks& m_known;
    std::mutex m_mutex;
    std::condition_variable m_turn;
    qsizetype m_next = 0;
    bool m_abandoned = false;
    std::exception_ptr m_failure; // what ended the writing, for the chunks still waiting
    QList<ContentHash> m_packs;
    QHash<ContentHash, qint64> m_seen; // base packs opened: their size, or -1
    std::optional<ContentStore::Temporary> m_open;
    QByteArray m_index;
    qint64 m_written = 0;
    qint32 m_openIndex = -1;
    std::vector<Closed> m_closed;
};

} // namespace vantrel
