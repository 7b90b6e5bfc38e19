// Copying a chunked content out of the store: its chunks fetched a few at a time, in parallel,
// from the chunk source or the store, and written in order, each checked, then the whole.

#include "engine/storage/atomic_file.h"
#include "engine/storage/chunker.h"
#include "engine/storage/content_store.h"
#include "engine/storage/content_store_temporary.h"
#include "engine/storage/ordered_hasher.h"
#include "engine/storage/parallel_jobs.h"
#include "engine/storage/storage_error.h"

#include <QScopeGuard>

#include <condition_variable>
#include <exception>
#include <semaphore>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace vantrel {

using namespace posix;

namespace {

// Chunks fetched ahead of the one being written: on a share each read waits for the network.
constexpr qsizetype fetchWindow = 8;

// Chunked copy-outs running at once in this process: each holds the chunks it fetched ahead, so
// writing a tree of many large files in parallel still holds a bounded number in memory.
std::counting_semaphore<>& runningCopies()
{
    static std::counting_semaphore<> running(4);
    return running;
}

// Runs fetch(0) ... fetch(count - 1) on threads of its own, at most `fetchWindow` ahead of
// consume(), which gets the results in order on the calling thread. The first failure stops
// the fetching and is rethrown once every thread has ended.
void fetchInOrder(qsizetype count, const std::function<QByteArray(qsizetype)>& fetch,
                  const std::function<void(const QByteArray&)>& consume)
{
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::optional<QByteArray>> ready(fetchWindow);
    qsizetype next = 0;
    qsizetype consumed = 0;
    bool stop = false;
    std::exception_ptr failure;
    const auto work = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            changed.wait(lock, [&] { return stop || next >= count || next < consumed + fetchWindow; });
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
                ready[size_t(index % fetchWindow)] = std::move(bytes);
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
    const qsizetype threadCount = std::min<qsizetype>({qsizetype(storageWorkerCount()), fetchWindow, count});
    try {
        for (qsizetype i = 0; i < threadCount; ++i)
            threads.emplace_back(work);
        for (qsizetype index = 0; index < count; ++index) {
            QByteArray bytes;
            {
                std::unique_lock lock(mutex);
                auto& slot = ready[size_t(index % fetchWindow)];
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
        // Checked here too: a cache is never trusted to be right.
        std::optional<QByteArray> bytes = local->take(chunk.hash, chunk.size);
        if (bytes && bytes->size() == chunk.size && hashBytes(*bytes) == chunk.hash)
            return std::move(*bytes);
    }
    const QString path = pathFor(chunk.hash);
    QByteArray bytes;
    try {
        // Never more than the list says it holds, which is within the bound of a chunk.
        bytes = readBytes(chunk.hash, chunk.size);
    } catch (const StorageError& error) {
        if (error.kind() != StorageError::Kind::notFound)
            throw;
        throw StorageError::corrupt(path, QStringLiteral("A chunk of a stored file is missing."));
    }
    if (bytes.size() != chunk.size)
        throw StorageError::corrupt(
            path, QStringLiteral("The chunk holds %1 bytes instead of %2.").arg(bytes.size()).arg(chunk.size));
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
    const std::shared_ptr<ChunkSource> local = chunkSource();
    runningCopies().acquire();
    const auto release = qScopeGuard([] { runningCopies().release(); });
    content_store::writeDestination(destination, executable, synchronize, [&](int target) {
        OrderedHasher whole; // beside the writing
        fetchInOrder(
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

bool ContentStore::holds(const Stored& content) const
{
    const auto held = [&](const ContentHash& hash, qint64 size) {
        struct stat status {};
        const QString path = pathFor(hash);
        openRegularFile(path, status, path);
        return status.st_size == size;
    };
    if (!content.chunks)
        return held(content.hash, content.size);
    const ChunkList list = ChunkList::read(*this, *content.chunks, content.size);
    return std::all_of(list.chunks.cbegin(), list.chunks.cend(),
                       [&](const ChunkList::Chunk& chunk) { return held(chunk.hash, chunk.size); });
}

} // namespace vantrel
