// Reading the files of a snapshot: from the stat cache, compared with the base, or stored.

#include "engine/storage/snapshot.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/chunks/chunker.h"
#include "engine/storage/storage_error.h"

#include <fcntl.h>
#include <unistd.h>

namespace vantrel::snapshot {

using namespace posix;

namespace {

// A FUSE file system (sshfs) may answer fstat from attributes cached before a change made
// through another mount, and refresh them only once the file is read: the file would then seem
// to change while it is read. Reading its first byte brings them up to date.
void refreshAttributes(const QString& path)
{
    const int fd = ::open(nativePath(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return; // the read that follows reports it
    char byte = 0;
    [[maybe_unused]] const ssize_t read = ::pread(fd, &byte, 1, 0);
    ::close(fd);
}

} // namespace

const FolderEntry* Snapshot::baseEntry(const WalkedFile& file)
{
    const WalkedFolder& folder = m_folders[file.folder];
    const FolderEntry* before = nullptr;
    if (folder.isFile) {
        const FolderTree* root = m_base.folder(QString());
        before = root && root->isFile ? &root->entries.first() : nullptr;
    } else {
        before = m_base.entry(folder.relativePath, folder.nodes.at(file.node).entry.name);
    }
    return before && before->kind == FolderEntry::Kind::file ? before : nullptr;
}

bool Snapshot::storedInChunks(const WalkedFile& file) const
{
    return m_store.storesChunked() && file.observed.size > chunking::threshold;
}

// Files the cache knows are taken as it has them; the others are read, those the base has with
// the same size hashed first, so that nothing is written when they turn out unchanged. The cache
// knows a file's hash, not its chunk list: a file stored in chunks is taken from it only when the
// base has it, with the base's list.
void Snapshot::readFiles()
{
    qint64 totalBytes = 0;
    qint64 cachedBytes = 0;
    QList<int> toRead;
    for (int index = 0; index < m_files.size(); ++index) {
        WalkedFile& file = m_files[index];
        totalBytes += file.observed.size;
        const FolderEntry* before = baseEntry(file);
        if (m_trustCache) {
            if (const auto hash = m_options.cache->unchangedHash(file.cacheKey, file.observed)) {
                const bool asBefore = before && before->hash == *hash;
                if (asBefore || !storedInChunks(file)) {
                    file.state = WalkedFile::State::cached;
                    file.hash = *hash;
                    file.chunks = asBefore ? before->chunks : std::nullopt;
                    cachedBytes += file.observed.size;
                    continue;
                }
            }
        }
        if (before) {
            if (before->size == file.observed.size)
                file.expected = before->hash;
            file.baseChunks = before->chunks;
            file.baseSize = before->size;
        }
        toRead.append(index);
    }
    WalkedFile* const files = m_files.data(); // workers must not touch the list itself
    runInParallel(
        toRead.size(),
        [&](qsizetype job) {
            WalkedFile& file = files[toRead.at(job)];
            readFile(file);
            return file.size;
        },
        totalBytes, m_options.progress, cachedBytes);
}

void Snapshot::readFile(WalkedFile& file)
{
    if (!m_local)
        refreshAttributes(file.path);
    if (storedInChunks(file)) {
        readChunked(file);
        record(file);
        return;
    }
    ContentStore::Stored stored;
    if (file.expected) {
        stored = m_store.hashFile(file.path);
        if (stored.hash == *file.expected)
            file.state = WalkedFile::State::fromBase;
        else if (m_store.reuseIntact(stored.hash, stored.size))
            file.state = WalkedFile::State::stored;
        else
            stored = m_batch.storeFile(file.path);
    } else {
        stored = m_batch.storeFile(file.path);
    }
    if (file.state != WalkedFile::State::fromBase)
        file.state = WalkedFile::State::stored;
    file.hash = stored.hash;
    file.size = stored.size;
    record(file);
}

// Read once: the chunks the base's list names are relied on when the store holds them by name at
// their size, the others are stored unless the store holds them intact.
void Snapshot::readChunked(WalkedFile& file)
{
    ContentStore::KnownChunks known;
    if (file.baseChunks) {
        try {
            const ChunkList list = ChunkList::read(m_store, *file.baseChunks, file.baseSize);
            for (const ChunkList::Chunk& chunk : list.chunks) {
                known.chunks.insert(chunk.hash);
                if (list.packed())
                    known.places.insert(chunk.hash, {list.packs.at(chunk.pack), chunk.offset});
            }
            known.list = file.baseChunks;
        } catch (const StorageError& error) {
            // A list that is missing or damaged: as if the base had nothing there, every chunk is
            // looked for in the store. A share that fails fails the storing.
            if (error.kind() != StorageError::Kind::notFound && error.kind() != StorageError::Kind::corrupt)
                throw;
        }
    }
    const ContentStore::Stored stored = m_batch.storeChunkedInTurn(file.path, known);
    const bool asBefore = file.expected && stored.hash == *file.expected && stored.chunks == file.baseChunks;
    file.state = asBefore ? WalkedFile::State::fromBase : WalkedFile::State::stored;
    file.hash = stored.hash;
    file.size = stored.size;
    file.chunks = stored.chunks;
}

void Snapshot::record(const WalkedFile& file)
{
    if (!m_options.cache)
        return;
    if (file.size == file.observed.size) {
        StatCache::Entry entry = file.observed;
        entry.hash = file.hash;
        // When the listing began, so before the file was looked at: a write after that moves
        // its modification time past this.
        entry.recordedNs = m_startedNs;
        m_options.cache->record(file.cacheKey, entry);
    } else {
        m_options.cache->forget(file.cacheKey);
    }
}

} // namespace vantrel::snapshot
