// Copying a chunked content out of the store: its chunks fetched a few at a time, in parallel,
// from the chunk source or the store, and written in order, each checked, then the whole.

#include "engine/storage/atomic_file.h"
#include "engine/storage/chunks/chunk_fetch.h"
#include "engine/storage/chunks/chunk_pack.h"
#include "engine/storage/chunks/chunker.h"
#include "engine/storage/content_store.h"
#include "engine/storage/content_store_temporary.h"
#include "engine/storage/chunks/ordered_hasher.h"
#include "engine/storage/parallel_jobs.h"
#include "engine/storage/storage_error.h"

#include <QScopeGuard>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vantrel {

using namespace posix;

namespace chunk_fetch {

void fetchInOrder(qsizetype count, const std::function<QByteArray(qsizetype)>& fetch,
                  const std::function<void(const QByteArray&)>& consume, qsizetype window)
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<QByteArray>> ready(static_cast<size_t>(window));
    qsizetype next = 0;
    qsizetype consumed = 0;
    bool stop = false;
    std::exception_ptr failure;
    const auto work = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stop || next >= count || next < consumed + window; });
            if (stop || next >= count)
                return;
            const qsizetype index = next++;
            lock.unlock();
            std::optional<QByteArray> bytes;
            std::exception_ptr error;
            try {
                bytes = fetch(index);
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            if (error) {
                if (!failure)
                    failure = error;
                stop = true;
            } else {
                ready[size_t(index % window)] = std::move(bytes);
            }
            changed.notify_all();
        }
    };
    std::vector<std::thread> threads;
    const auto end = [&] {
        {
            const std::lock_guard lock(mutex);
            stop = true;
            changed.notify_all();
        }
        for (std::thread& thread : threads)
            thread.join();
    };
    const qsizetype threadCount = std::min<qsizetype>({qsizetype(storageWorkerCount()), window, count});
    try {
        for (qsizetype i = 0; i < threadCount; ++i)
            threads.emplace_back(work);
        for (qsizetype index = 0; index < count; ++index) {
            QByteArray bytes;
            {
                std::unique_lock lock(mutex);
                auto& slot = ready[size_t(index % window)];
                changed.wait(lock, [&] { return slot.has_value() || failure; });
                if (!slot)
                    std::rethrow_exception(failure);
                bytes = std::move(*slot);
                slot.reset();
                consumed = index + 1;
                changed.notify_all();
            }
            consume(bytes);
        }
    } catch (...) {
        end();
        throw;
    }
    end();
}

namespace {

std::atomic<int> loggedRepairs{0};

} // namespace

void logRepairFailure(const char* what, const StorageError& error)
{
    const int count = ++loggedRepairs;
    if (count <= 8)
        qWarning("A chunk could not be %s: %s", what, qUtf8Printable(error.debugDescription()));
}

} // namespace chunk_fetch

using chunk_fetch::logRepairFailure;

namespace {

// A chunk read damaged from `store` is moved into its temporary folder under a name nobody's
// left-overs have (`.damaged-<random>`, removed by the garbage collection after its grace
// period), so that it is missing from now on and the next version holding its bytes stores it
// again (Batch::storeChunked()). Read there once more, it may check out after all (a fault of
// the read, or a good copy stored meanwhile): it is then put back, unless a copy is there again
// already, and its bytes are given. Nothing is followed out of the store: both folders are
// opened without following links, and only a regular file is moved.
std::optional<QByteArray> setAsideDamaged(const ContentStore& store, const ChunkList::Chunk& chunk)
{
    const QString object = store.pathFor(chunk.hash);
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const UniqueFd shard(::open(nativePath(parentPath(object)).constData(), flags));
    const QString temporaries = content_store::temporaryFolder(store.folder());
    UniqueFd aside(::open(nativePath(temporaries).constData(), flags));
    if (!aside.isOpen() && errno == ENOENT && shard.isOpen()) {
        try {
            ensureDirectory(temporaries);
        } catch (const StorageError&) {
            return std::nullopt;
        }
        aside = UniqueFd(::open(nativePath(temporaries).constData(), flags));
    }
    const QByteArray name = chunk.hash.toHex().toLatin1();
    struct stat status {};
    if (!shard.isOpen() || !aside.isOpen()
        || ::fstatat(shard.get(), name.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(status.st_mode))
        return std::nullopt;
    const QByteArray moved = (QStringLiteral(".damaged-") + randomToken()).toLatin1();
    if (::renameat(shard.get(), name.constData(), aside.get(), moved.constData()) != 0) {
        logRepairFailure("set aside", StorageError::fromErrno(errno, object, QStringLiteral("rename")));
        return std::nullopt;
    }
    std::optional<QByteArray> bytes;
    try {
        bytes = readWholeFile(temporaries + u'/' + QLatin1StringView(moved), chunking::maxSize);
    } catch (const StorageError&) {
    }
    if (!bytes || hashBytes(*bytes) != chunk.hash) {
        qWarning("A damaged chunk was set aside: %s", qUtf8Printable(object));
        return std::nullopt;
    }
    if (::linkat(aside.get(), moved.constData(), shard.get(), name.constData(), 0) != 0 && errno != EEXIST) {
        // A share without hard links.
        if (::renameat2(aside.get(), moved.constData(), shard.get(), name.constData(), RENAME_NOREPLACE) == 0)
            return bytes;
        if (errno != EEXIST) {
            logRepairFailure("put back", StorageError::fromErrno(errno, object, QStringLiteral("rename")));
            return bytes;
        }
    }
    ::unlinkat(aside.get(), moved.constData(), 0);
    return bytes;
}

} // namespace

void ContentStore::setChunkSource(std::shared_ptr<ChunkSource> source)
{
    const std::lock_guard lock(m_sourceMutex);
    m_chunkSource = std::move(source);
}

std::shared_ptr<ChunkSource> ContentStore::chunkSource() const
{
    const std::lock_guard lock(m_sourceMutex);
    return m_chunkSource;
}

QByteArray ContentStore::readChunk(const ChunkList::Chunk& chunk, ChunkSource* local) const
{
    if (local) {
        // Checked once: here, unless the source checked it as it read it.
        std::optional<QByteArray> bytes = local->take(chunk.hash, chunk.size);
        if (bytes && bytes->size() == chunk.size && (local->checksTaken() || hashBytes(*bytes) == chunk.hash)) {
            // The share is not read for it: what the share lost (a restore, a sync tool, a damaged
            // copy a teammate's copy-out set aside) is stored again from here.
            try {
                if (m_writable && !foundAtSize(chunk.hash, chunk.size))
                    const_cast<ContentStore*>(this)->storeBytes(*bytes); // only the share changes
            } catch (const StorageError& error) {
                logRepairFailure("stored again", error);
            }
            return std::move(*bytes);
        }
    }
    QByteArray bytes;
    try {
        // Never more than the list says it holds, which is within the bound of a chunk.
        bytes = readBytes(chunk.hash, chunk.size);
    } catch (const StorageError& error) {
        if (error.kind() != StorageError::Kind::corrupt || !m_writable)
            throw;
        std::optional<QByteArray> intact = setAsideDamaged(*this, chunk);
        if (!intact || intact->size() != chunk.size)
            throw;
        bytes = std::move(*intact);
    }
    if (bytes.size() != chunk.size)
        throw StorageError::corrupt(
            pathFor(chunk.hash),
            QStringLiteral("The chunk holds %1 bytes instead of %2.").arg(bytes.size()).arg(chunk.size));
    if (local)
        local->keep(chunk.hash, bytes);
    return bytes;
}

void ContentStore::copyOut(const Stored& content, const QString& destination, bool executable, bool synchronize) const
{
    if (!content.chunks) {
        copyOut(content.hash, content.size, destination, executable, synchronize);
        return;
    }
    // Read and checked before the destination is made: a damaged list writes nothing.
    const ChunkList list = ChunkList::read(*this, *content.chunks, content.size);
    if (list.packed()) {
        copyOutPacked(content, list, destination, executable, synchronize);
        return;
    }
    const std::shared_ptr<ChunkSource> local = chunkSource();
    // Among this store's own: a share that hangs holds up no other team bundle's copies.
    std::counting_semaphore<>& running = m_chunkBounds->runningCopies;
    running.acquire();
    const auto release = qScopeGuard([&running] { running.release(); });
    content_store::writeDestination(destination, executable, synchronize, [&](int target) {
        OrderedHasher whole; // beside the writing
        chunk_fetch::fetchInOrder(
            list.chunks.size(), [&](qsizetype index) { return readChunk(list.chunks.at(index), local.get()); },
            [&](const QByteArray& bytes) {
                whole.add(bytes);
                writeAll(target, bytes.constData(), size_t(bytes.size()), destination);
            });
        const ContentHash found = whole.finish();
        if (found != content.hash)
            throw StorageError::corrupt(destination, QStringLiteral("The chunks listed in %1 make up SHA-256 %2.")
                                                         .arg(pathFor(*content.chunks), found.toHex()));
    });
}

bool ContentStore::storedAtSize(const ContentHash& hash, qint64 size) const
{
    struct stat status {};
    const QString path = pathFor(hash);
    openRegularFile(path, status, path);
    return status.st_size == size;
}

bool ContentStore::foundAtSize(const ContentHash& hash, qint64 size) const
{
    try {
        return storedAtSize(hash, size);
    } catch (const StorageError& error) {
        // Nothing there, or something else than a file (notRegularFile is corrupt).
        if (error.kind() == StorageError::Kind::notFound || error.kind() == StorageError::Kind::corrupt)
            return false;
        throw;
    }
}

bool ContentStore::holds(const Stored& content) const
{
    if (!content.chunks)
        return storedAtSize(content.hash, content.size);
    const ChunkList list = ChunkList::read(*this, *content.chunks, content.size);
    if (list.packed()) {
        QList<qint64> ends(list.packs.size(), 0);
        for (const ChunkList::Chunk& chunk : list.chunks)
            ends[chunk.pack] = std::max(ends[chunk.pack], chunk.offset + chunk.size);
        for (qsizetype i = 0; i < list.packs.size(); ++i)
            if (packFoundAtLeast(list.packs.at(i), ends.at(i)) < 0)
                return false;
        return true;
    }
    return std::all_of(list.chunks.cbegin(), list.chunks.cend(),
                       [&](const ChunkList::Chunk& chunk) { return storedAtSize(chunk.hash, chunk.size); });
}

} // namespace vantrel
