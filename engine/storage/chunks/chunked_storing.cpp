// Storing a large file in chunks: read once, cut where its bytes say, each chunk hashed and, when
// new, stored on a worker thread while the reading goes on.

#include "engine/storage/chunks/chunk_pack.h"
#include "engine/storage/chunks/chunker.h"
#include "engine/storage/content_store.h"
#include "engine/storage/content_store_temporary.h"
#include "engine/storage/chunks/ordered_hasher.h"
#include "engine/storage/parallel_jobs.h"
#include "engine/storage/storage_error.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QThreadPool>

#include <fcntl.h>
#include <sys/mman.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <new>
#include <semaphore>

namespace vantrel {

using namespace posix;

namespace {

// Read at once, and cut on several threads; the next block is asked of the disk meanwhile.
constexpr size_t readSize = 4 << 20;

// Hands chunks to a few threads, holding at most a few more in memory than there are threads:
// reading waits while they are all busy (a slow share then paces the reading). Each chunk also
// takes one of `held`, shared by every file its store stores at once.
class ChunkWorkers {
public:
    using Work = std::function<void(qsizetype, ChunkList::Chunk&, const QByteArray&)>;

    ChunkWorkers(std::counting_semaphore<>& held, Work work)
        : m_work(std::move(work)),
          m_held(held),
          m_limit(storageWorkerCount() + 2)
    {
        m_pool.setMaxThreadCount(storageWorkerCount());
    }
    ~ChunkWorkers() { m_pool.waitForDone(); }

    void add(QByteArray bytes)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_running < m_limit || m_failure; });
        if (m_failure)
            std::rethrow_exception(m_failure);
        lock.unlock();
        // Not while holding the lock: this file's workers need it to end and give slots back.
        m_held.acquire();
        lock.lock();
        const qsizetype index = qsizetype(m_chunks.size());
        m_chunks.push_back({{}, bytes.size()});
        ChunkList::Chunk* chunk = &m_chunks.back(); // a deque keeps it where it is
        ++m_running;
        lock.unlock();
        // Started in order, so taken by the pool in order: a chunk waiting for the ones before
        // it (PackWriter::place()) never waits for one without a thread.
        m_pool.start([this, index, chunk, bytes = std::move(bytes)] {
            std::exception_ptr failure;
            try {
                m_work(index, *chunk, bytes);
            } catch (...) {
                failure = std::current_exception();
            }
            m_held.release();
            const std::lock_guard lock(m_mutex);
            if (failure && !m_failure)
                m_failure = failure;
            --m_running;
            m_changed.notify_all();
        });
    }

    // Every chunk, in order, once all are done.
    QList<ChunkList::Chunk> finish()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_running == 0; });
        if (m_failure)
            std::rethrow_exception(m_failure);
        return QList<ChunkList::Chunk>(m_chunks.begin(), m_chunks.end());
    }

private:
    const Work m_work;
    std::counting_semaphore<>& m_held;
    const int m_limit;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<ChunkList::Chunk> m_chunks;
    int m_running = 0;
    std::exception_ptr m_failure;
    QThreadPool m_pool; // last: waited for before the rest goes
};

StorageError tooManyChunks(const QString& path)
{
    return StorageError(StorageError::Kind::io, path,
                        QCoreApplication::translate("Engine", "“%1” is too large to be kept in a version.").arg(path));
}

// Reads the file once, cutting it into chunks handed to `add` in order; its size. Each chunk is
// allocated at its own size: only the part of one that began in an earlier block is copied twice.
qint64 readInChunks(int source, const QString& path, const std::function<void(QByteArray)>& add)
{
    // Mapped, not taken from a thread's heap: given back to the system as soon as the file is read.
    void* const mapped = ::mmap(nullptr, readSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED)
        throw std::bad_alloc();
    const auto unmap = qScopeGuard([mapped] { ::munmap(mapped, readSize); });
    char* const buffer = static_cast<char*>(mapped);
    BlockChunker chunker;
    QByteArray carried; // the current chunk's bytes from earlier blocks
    qint64 size = 0;
    for (;;) {
        const size_t count = readSome(source, buffer, readSize, path);
        if (count == 0)
            break;
        size += qint64(count);
        // The kernel reads the next block while this one is cut and hashed.
        ::posix_fadvise(source, off_t(size), off_t(readSize), POSIX_FADV_WILLNEED);
        qsizetype offset = 0;
        for (const qsizetype end : chunker.cuts(QByteArrayView(buffer, qsizetype(count)))) {
            QByteArray chunk(carried.size() + (end - offset), Qt::Uninitialized);
            std::memcpy(chunk.data(), carried.constData(), size_t(carried.size()));
            std::memcpy(chunk.data() + carried.size(), buffer + offset, size_t(end - offset));
            carried.resize(0);
            add(std::move(chunk));
            offset = end;
        }
        carried.append(buffer + offset, qsizetype(count) - offset);
    }
    if (!carried.isEmpty())
        add(QByteArray(carried.constData(), carried.size()));
    return size;
}

} // namespace

ContentStore::Stored ContentStore::Batch::storeChunked(const QString& path, const KnownChunks& known)
{
    if (m_store.packsChunks())
        return storePacked(path, known);
    struct stat before {};
    const UniqueFd source = content_store::openSource(path, before);
    const std::shared_ptr<ChunkSource> local = m_store.chunkSource();
    ChunkWorkers workers(m_store.m_chunkBounds->heldChunks, [&](qsizetype, ChunkList::Chunk& chunk, const QByteArray& bytes) {
        chunk.hash = hashBytes(bytes);
        // What the base names is relied on once the share is seen to hold it, opened by name and
        // not read (an open per chunk, not a read of the whole file); one that is gone or cut
        // short (a restore, a sync tool, a damaged copy a copy-out set aside) is stored again
        // from these bytes.
        const bool named = known.chunks.contains(chunk.hash);
        if (named && m_store.foundAtSize(chunk.hash, bytes.size()))
            return;
        // Any other chunk the store holds is reused the same way, and touched: reading it back
        // to check it would cost a read of the share for every chunk it holds.
        if (named || !keepStoredChunk(chunk.hash, bytes.size()))
            storeHashed(chunk.hash, bytes, named);
        if (local)
            local->keep(chunk.hash, bytes);
    });

    OrderedHasher whole;
    const qint64 size = readInChunks(source.get(), path, [&](QByteArray chunk) {
        whole.add(chunk);
        workers.add(std::move(chunk));
    });
    content_store::checkUnchanged(source.get(), path, before, size);

    ChunkList list;
    list.chunks = workers.finish();
    return {whole.finish(), size, storeList(path, list, known)};
}

// One hash pass: each chunk is hashed once, on a worker, and the file's identity is its list's.
ContentStore::Stored ContentStore::Batch::storePacked(const QString& path, const KnownChunks& known)
{
    struct stat before {};
    const UniqueFd source = content_store::openSource(path, before);
    const std::shared_ptr<ChunkSource> local = m_store.chunkSource();
    PackWriter packs(m_store, *this, known);
    ChunkWorkers workers(m_store.m_chunkBounds->heldChunks,
                         [&](qsizetype index, ChunkList::Chunk& chunk, const QByteArray& bytes) {
                             chunk.hash = hashBytes(bytes);
                             if (packs.place(index, chunk, bytes) && local)
                                 local->keep(chunk.hash, bytes);
                         });
    qint64 size = 0;
    try {
        size = readInChunks(source.get(), path, [&](QByteArray chunk) { workers.add(std::move(chunk)); });
        content_store::checkUnchanged(source.get(), path, before, size);
    } catch (...) {
        packs.abandon();
        throw;
    }
    ChunkList list;
    list.chunks = workers.finish();
    list.packs = packs.finish();
    m_store.notePlaces(list);
    return {list.identity(), size, storeList(path, list, known)};
}

ContentStore::Stored ContentStore::identityInChunks(int source, const QString& path, const struct stat& before) const
{
    ChunkList list;
    const qint64 size = readInChunks(source, path, [&](QByteArray chunk) {
        list.chunks.append({hashBytes(chunk), chunk.size()});
    });
    content_store::checkUnchanged(source, path, before, size);
    return {list.identity(), size, std::nullopt};
}

ContentHash ContentStore::Batch::storeList(const QString& path, const ChunkList& list, const KnownChunks& known)
{
    const QByteArray encoded = list.encode();
    if (encoded.size() > readLimits::chunkList)
        throw tooManyChunks(path);
    const ContentHash listHash = hashBytes(encoded);
    if (listHash != known.list)
        storeHashed(listHash, encoded);
    else if (!m_store.foundAtSize(listHash, encoded.size()))
        storeHashed(listHash, encoded, true);
    return listHash;
}

} // namespace vantrel
