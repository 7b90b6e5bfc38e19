// Copying a packed content out of the store: consecutive chunks of a pack read with one request,
// a few spans ahead of the writing, each chunk checked once.

#include "engine/storage/atomic_file.h"
#include "engine/storage/chunks/chunk_fetch.h"
#include "engine/storage/chunks/chunk_pack.h"
#include "engine/storage/content_store.h"
#include "engine/storage/content_store_temporary.h"
#include "engine/storage/storage_error.h"

#include <QHash>
#include <QScopeGuard>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel {

using namespace posix;

namespace {

// The packs one copy-out reads, each opened once (no link followed, nothing blocking).
class OpenPacks {
public:
    OpenPacks(const ContentStore& store, const ChunkList& list) : m_store(store), m_list(list) {}

    std::shared_ptr<UniqueFd> open(qint32 index)
    {
        {
            const std::lock_guard lock(m_mutex);
            if (const auto found = m_open.constFind(index); found != m_open.constEnd())
                return *found;
        }
        const QString path = m_store.packPathFor(m_list.packs.at(index));
        struct stat status {};
        auto fd = std::make_shared<UniqueFd>(openRegularFile(path, status, path));
        const std::lock_guard lock(m_mutex);
        return *m_open.insert(index, std::move(fd));
    }

private:
    const ContentStore& m_store;
    const ChunkList& m_list;
    std::mutex m_mutex;
    QHash<qint32, std::shared_ptr<UniqueFd>> m_open;
};

// Beside a pack found damaged, in a bundle this user may write: no check-in relies on it again,
// so that its chunks are stored anew; the collection removes the marker with the pack.
void markDamaged(const QString& pack)
{
    const QByteArray marker = nativePath(pack + chunk_pack::damagedSuffix);
    const int fd = ::open(marker.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd >= 0)
        ::close(fd);
    else if (errno != EEXIST)
        chunk_fetch::logRepairFailure("marked damaged", StorageError::fromErrno(errno, pack, QStringLiteral("open")));
    qWarning("A damaged pack was marked: %s", qUtf8Printable(pack));
}

} // namespace

namespace {

// Consecutive chunks of one pack, read with one request of at most `spanBytes` (or one chunk):
// on a share every request waits for the network, and a chunk averages some 600 KiB.
constexpr qint64 spanBytes = 1 << 20;
// Spans fetched ahead of the one being written: a few requests in flight keep a share busy,
// and the next pack is read while the end of this one is written out.
constexpr qsizetype spanWindow = 4;

struct Span {
    qsizetype first = 0; // chunks first .. end - 1 of the list
    qsizetype end = 0;
};

QList<Span> spansOf(const ChunkList& list)
{
    QList<Span> spans;
    qint64 spanned = 0;
    for (qsizetype index = 0; index < list.chunks.size(); ++index) {
        const ChunkList::Chunk& chunk = list.chunks.at(index);
        if (!spans.isEmpty()) {
            const ChunkList::Chunk& last = list.chunks.at(index - 1);
            if (last.pack == chunk.pack && last.offset + last.size == chunk.offset && spanned + chunk.size <= spanBytes) {
                spans.last().end = index + 1;
                spanned += chunk.size;
                continue;
            }
        }
        spans.append({index, index + 1});
        spanned = chunk.size;
    }
    return spans;
}

// Reads up to `size` bytes at `offset`: fewer only at the end of the file.
qint64 readAt(int fd, char* into, qint64 size, qint64 offset, const QString& path)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t count = ::pread(fd, into + done, size_t(size - done), off_t(offset + done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw StorageError::fromErrno(errno, path, QStringLiteral("read"));
        if (count == 0)
            break;
        done += count;
    }
    return done;
}

} // namespace

void ContentStore::copyOutPacked(const Stored& content, const ChunkList& list, const QString& destination,
                                 bool executable, bool synchronize) const
{
    // The identity is the list's: checked before anything is read, so each chunk is checked once
    // and the whole file never.
    if (list.identity() != content.hash)
        throw StorageError::corrupt(pathFor(*content.chunks), QStringLiteral("The list is not one of this file."));
    notePlaces(list);
    const std::shared_ptr<ChunkSource> local = chunkSource();
    OpenPacks packs(*this, list);
    const QList<Span> spans = spansOf(list);
    // A span's bytes: each chunk from the chunk source when it has it, the others read from the
    // pack, one request for each run of them, then each checked against its hash.
    const auto fetch = [&](qsizetype spanIndex) {
        const Span span = spans.at(spanIndex);
        const qint64 start = list.chunks.at(span.first).offset;
        const ChunkList::Chunk& lastChunk = list.chunks.at(span.end - 1);
        QByteArray bytes(lastChunk.offset + lastChunk.size - start, Qt::Uninitialized);
        std::vector<bool> given(size_t(span.end - span.first), false);
        if (local) {
            for (qsizetype index = span.first; index < span.end; ++index) {
                const ChunkList::Chunk& chunk = list.chunks.at(index);
                std::optional<QByteArray> taken = local->take(chunk.hash, chunk.size);
                if (taken && taken->size() == chunk.size && (local->checksTaken() || hashBytes(*taken) == chunk.hash)) {
                    std::memcpy(bytes.data() + (chunk.offset - start), taken->constData(), size_t(chunk.size));
                    given[size_t(index - span.first)] = true;
                }
            }
        }
        const QString path = packPathFor(list.packs.at(list.chunks.at(span.first).pack));
        for (qsizetype index = span.first; index < span.end;) {
            if (given[size_t(index - span.first)]) {
                ++index;
                continue;
            }
            qsizetype runEnd = index + 1;
            while (runEnd < span.end && !given[size_t(runEnd - span.first)])
                ++runEnd;
            const qint64 from = list.chunks.at(index).offset;
            const ChunkList::Chunk& runLast = list.chunks.at(runEnd - 1);
            const qint64 wanted = runLast.offset + runLast.size - from;
            const std::shared_ptr<UniqueFd> pack = packs.open(list.chunks.at(index).pack);
            const qint64 read = readAt(pack->get(), bytes.data() + (from - start), wanted, from, path);
            for (; index < runEnd; ++index) {
                const ChunkList::Chunk& chunk = list.chunks.at(index);
                const QByteArrayView view(bytes.constData() + (chunk.offset - start), chunk.size);
                if (chunk.offset + chunk.size > from + read || hashBytes(view) != chunk.hash) {
                    if (m_writable)
                        markDamaged(path);
                    throw StorageError::corrupt(
                        path, QStringLiteral("The chunk at %1 is damaged or cut short.").arg(chunk.offset));
                }
                if (local)
                    local->keep(chunk.hash, view.toByteArray());
            }
        }
        return bytes;
    };
    std::counting_semaphore<>& running = m_chunkBounds->runningCopies;
    running.acquire();
    const auto release = qScopeGuard([&running] { running.release(); });
    content_store::writeDestination(destination, executable, synchronize, [&](int target) {
        chunk_fetch::fetchInOrder(
            spans.size(), fetch,
            [&](const QByteArray& bytes) { writeAll(target, bytes.constData(), size_t(bytes.size()), destination); },
            spanWindow);
    });
}

} // namespace vantrel
