// Writing a large file's chunks into packs, in the file's order, and finding a packed file's
// identity.

#include "engine/storage/chunks/chunk_pack.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/chunks/chunker.h"
#include "engine/storage/storage_error.h"

#include <QtEndian>

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

using namespace posix;
using little_endian::append32;
using little_endian::append64;

namespace {

constexpr char packMagic[4] = {'V', 'P', 'C', 'K'};

} // namespace

QString ContentStore::packPathFor(const ContentHash& hash) const
{
    const QString hex = hash.toHex();
    return chunk_pack::folder(m_folder) + u'/' + hex.left(2) + u'/' + hex;
}

qint64 ContentStore::packFoundAtLeast(const ContentHash& pack, qint64 size) const
{
    const QString path = packPathFor(pack);
    struct stat status {};
    try {
        openRegularFile(path, status, path);
    } catch (const StorageError& error) {
        if (error.kind() == StorageError::Kind::notFound || error.kind() == StorageError::Kind::corrupt)
            return -1;
        throw;
    }
    if (status.st_size < size)
        return -1;
    // Opened by name too, so that the share is asked, not a listing it cached.
    const QByteArray marker = nativePath(path + chunk_pack::damagedSuffix);
    const int fd = ::open(marker.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return -1;
    }
    if (errno != ENOENT)
        throw StorageError::fromErrno(errno, path + chunk_pack::damagedSuffix, QStringLiteral("open"));
    return qint64(status.st_size);
}

void ContentStore::notePlaces(const ChunkList& list) const
{
    // Bounded: some 80 MiB at most, the chunks of about a terabyte.
    constexpr qsizetype most = 1 << 20;
    const std::lock_guard lock(m_placesMutex);
    if (m_places.size() + list.chunks.size() > most)
        m_places.clear();
    for (const ChunkList::Chunk& chunk : list.chunks)
        m_places.insert(chunk.hash, {list.packs.at(chunk.pack), chunk.offset});
}

std::optional<ContentStore::KnownChunks::Place> ContentStore::placeOf(const ContentHash& chunk) const
{
    const std::lock_guard lock(m_placesMutex);
    const auto found = m_places.constFind(chunk);
    if (found == m_places.constEnd())
        return std::nullopt;
    return *found;
}

PackWriter::PackWriter(ContentStore& store, ContentStore::Batch& batch, const ContentStore::KnownChunks& known)
    : m_store(store),
      m_batch(batch),
      m_known(known)
{
}

bool PackWriter::place(qsizetype index, ChunkList::Chunk& chunk, const QByteArray& bytes)
{
    const auto base = m_known.places.constFind(chunk.hash);
    const std::optional<ContentStore::KnownChunks::Place> found =
        base != m_known.places.constEnd() ? std::optional(*base) : m_store.placeOf(chunk.hash);
    std::unique_lock lock(m_mutex);
    m_turn.wait(lock, [&] { return m_next == index || m_abandoned; });
    if (m_abandoned) {
        // The chunk before failed: its failure (a full share, say) is what this file's storing
        // reports, whichever thread reports it first.
        if (m_failure)
            std::rethrow_exception(m_failure);
        throw StorageError(StorageError::Kind::io, m_store.folder(), QStringLiteral("abandoned"));
    }
    bool written = false;
    try {
        if (found && usable(found->pack, found->offset + chunk.size)) {
            chunk.pack = indexOf(found->pack);
            chunk.offset = found->offset;
        } else {
            append(chunk, bytes);
            written = true;
        }
    } catch (...) {
        m_abandoned = true;
        m_failure = std::current_exception();
        m_turn.notify_all();
        throw;
    }
    ++m_next;
    m_turn.notify_all();
    return written;
}

void PackWriter::abandon()
{
    const std::lock_guard lock(m_mutex);
    m_abandoned = true;
    m_turn.notify_all();
}

bool PackWriter::usable(const ContentHash& pack, qint64 end)
{
    auto seen = m_seen.find(pack);
    if (seen == m_seen.end()) {
        // Opened once for every chunk of it this file relies on, and touched as an object found
        // stored is: a collection keeps it for another grace period.
        qint64 size = m_store.packFoundAtLeast(pack, 0);
        const QByteArray path = nativePath(m_store.packPathFor(pack));
        if (size >= 0)
            m_store.m_leftovers->noteReused(pack); // before the touch, as in reuseExisting()
        if (size >= 0 && ::utimensat(AT_FDCWD, path.constData(), nullptr, AT_SYMLINK_NOFOLLOW) != 0)
            size = -1;
        if (size >= 0)
            m_batch.keepName(pack, size, true);
        seen = m_seen.insert(pack, size);
    }
    return seen.value() >= end;
}

qint32 PackWriter::indexOf(const ContentHash& pack)
{
    const qsizetype index = m_packs.indexOf(pack);
    if (index >= 0)
        return qint32(index);
    m_packs.append(pack);
    return qint32(m_packs.size() - 1);
}

void PackWriter::append(ChunkList::Chunk& chunk, const QByteArray& bytes)
{
    if (!m_open) {
        const QString folder = chunk_pack::folder(m_store.folder());
        m_open.emplace(m_store.createTemporaryIn(folder, content_store::shardTemporaryPrefix + m_store.temporaryName()));
        m_packs.append(ContentHash()); // named once closed
        m_openIndex = qint32(m_packs.size() - 1);
        m_written = 0;
        m_index.clear();
    }
    writeAll(m_open->fd.get(), bytes.constData(), size_t(bytes.size()), m_store.folder());
    chunk.pack = m_openIndex;
    chunk.offset = m_written;
    m_index.append(reinterpret_cast<const char*>(chunk.hash.data().data()), ContentHash::byteCount);
    append64(m_index, quint64(m_written));
    append32(m_index, quint32(chunk.size));
    m_written += chunk.size;
    if (m_written >= chunking::packSize)
        close();
}

void PackWriter::close()
{
    if (!m_open)
        return;
    QByteArray tail = m_index;
    tail.append(packMagic, 4);
    append32(tail, 1);
    append32(tail, quint32(m_index.size() / chunk_pack::indexEntrySize));
    append32(tail, quint32(m_index.size()));
    writeAll(m_open->fd.get(), tail.constData(), size_t(tail.size()), m_store.folder());
    const ContentHash name = hashBytes(m_index);
    m_packs[m_openIndex] = name;
    Closed closed{std::move(*m_open), name, m_written + tail.size(), {}};
    m_open.reset();
    // On a share the flush waits for the server's disk: it overlaps the writing of the next pack.
    // A failure shows when the batch flushes it again.
    // Without a thread for it, the batch's flush is the only one.
    const int fd = closed.temporary.fd.get();
    try {
        closed.flushed = std::async(std::launch::async, [fd] {
            while (::fsync(fd) != 0 && errno == EINTR) {
            }
        });
    } catch (const std::system_error&) {
    }
    m_closed.push_back(std::move(closed));
    // Two at most in flight: the batch bounds the descriptors the others hold.
    while (m_closed.size() > 2)
        handOver();
}

void PackWriter::handOver()
{
    Closed& closed = m_closed.front();
    if (closed.flushed.valid())
        closed.flushed.wait();
    m_batch.add(std::move(closed.temporary), {closed.name, closed.size}, false, true);
    m_closed.erase(m_closed.begin());
}

QList<ContentHash> PackWriter::finish()
{
    const std::lock_guard lock(m_mutex);
    close();
    while (!m_closed.empty())
        handOver();
    return m_packs;
}

} // namespace vantrel
