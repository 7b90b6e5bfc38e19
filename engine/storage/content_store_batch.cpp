// Storing many contents at once, waiting for the disk a few times instead of twice per content.

#include "engine/storage/atomic_file.h"
#include "engine/storage/content_store.h"
#include "engine/storage/content_store_temporary.h"
#include "engine/storage/parallel_jobs.h"
#include "engine/storage/storage_error.h"

#include <QScopeGuard>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

namespace vantrel {

using namespace posix;

namespace {

// Temporary files flushed and moved together. Each holds a descriptor until then, so this also
// bounds the descriptors a batch holds; by the time the last of a group is written, the first
// ones are mostly on disk.
constexpr size_t groupSize = 64;

// Files up to this size are read whole before anything is written: their hash is then known,
// so they are written beside their place (see createTemporaryFor()), and not at all when stored
// already.
constexpr qint64 readWhole = 4 * 1024 * 1024;

// Renames `from` to `to` unless something is there; 0 or the errno.
int renameExclusively(const QByteArray& from, const QByteArray& to)
{
    int result;
    do {
        result = ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE);
    } while (result != 0 && errno == EINTR);
    return result == 0 ? 0 : errno;
}

// The answers of a file system (or a kernel) without an exclusive rename: sshfs, NFS, SMB.
bool exclusiveRenameUnsupported(int error)
{
    return error == EINVAL || error == ENOSYS || error == EOPNOTSUPP || error == ENOTTY;
}

} // namespace

struct ContentStore::Batch::Pending {
    Temporary temporary;
    Stored stored;
    bool named = false; // a version recorded already names it: never removed with a failed change
    bool pack = false;  // a pack of chunks, under packPathFor()
};

ContentStore::Batch::Batch(ContentStore& store, Written* written) : m_store(store), m_written(written) {}

ContentStore::Batch::~Batch() = default;

ContentStore::Stored ContentStore::Batch::storeFile(const QString& path)
{
    if (auto small = m_store.readSmallFile(path, readWhole)) {
        storeHashed(small->first.hash, small->second);
        return small->first;
    }
    Temporary temporary;
    const Stored stored = m_store.readIntoTemporary(path, temporary);
    {
        const std::lock_guard lock(m_mutex);
        if (m_accepted.contains(stored.hash))
            return stored; // the same content, stored through this batch already
    }
    if (m_store.reuseIntact(stored.hash, stored.size)) {
        keepName(stored.hash, stored.size);
        return stored;
    }
    add(std::move(temporary), stored);
    return stored;
}

ContentStore::Stored ContentStore::Batch::storeChunkedInTurn(const QString& path, const KnownChunks& known)
{
    std::counting_semaphore<>& cutting = m_store.m_chunkBounds->cuttingFiles;
    cutting.acquire();
    const auto release = qScopeGuard([&cutting] { cutting.release(); });
    return storeChunked(path, known);
}

ContentHash ContentStore::Batch::storeBytes(QByteArrayView data)
{
    const ContentHash hash = hashBytes(data);
    storeHashed(hash, data);
    return hash;
}

bool ContentStore::Batch::storeHashed(const ContentHash& hash, QByteArrayView data, bool named)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_accepted.contains(hash))
            return false;
    }
    if (m_store.reuseIntactBytes(hash, data.size())) {
        keepName(hash, data.size());
        return false;
    }
    Temporary temporary = m_store.createTemporaryFor(hash);
    writeAll(temporary.fd.get(), data.data(), static_cast<size_t>(data.size()), m_store.folder());
    add(std::move(temporary), {hash, data.size()}, named);
    return true;
}

bool ContentStore::Batch::keepStoredChunk(const ContentHash& hash, qint64 size)
{
    {
        const std::lock_guard lock(m_mutex);
        if (m_accepted.contains(hash))
            return true;
    }
    if (!m_store.foundAtSize(hash, size) || !m_store.refresh(hash))
        return false;
    keepName(hash, size);
    return true;
}

void ContentStore::Batch::add(Temporary&& temporary, const Stored& stored, bool named, bool pack)
{
    startWriteBack(temporary.fd.get());
    std::vector<Pending> full;
    {
        const std::lock_guard lock(m_mutex);
        if (!pack)
            m_accepted.insert(stored.hash);
        m_pending.push_back({std::move(temporary), stored, named, pack});
        if (m_pending.size() < groupSize)
            return;
        full.swap(m_pending);
    }
    installAll(full);
}

void ContentStore::Batch::install(Pending& item)
{
    const Stored& stored = item.stored;
    Placement placement = Placement::keptOther;
    // Where the share refuses to replace a file in use, an existing object of the right size is
    // kept.
    try {
        placement = placeNew(item);
    } catch (const StorageError&) {
        if (item.pack || !m_store.reuseExisting(stored.hash, stored.size))
            throw;
    }
    const QString target = item.pack ? m_store.packPathFor(stored.hash) : m_store.pathFor(stored.hash);
    // Noted as it is right after its rename: what a teammate who relies on it does to it
    // (touching it, or renaming a copy of its own over it) changes that.
    struct stat status {};
    if (placement == Placement::installed && m_written && !item.named
        && ::lstat(nativePath(target).constData(), &status) == 0 && S_ISREG(status.st_mode)
        && status.st_size == stored.size) {
        m_written->add({stored.hash, stored.size, quint64(status.st_dev), quint64(status.st_ino),
                        content_store::nanoseconds(status.st_mtim), content_store::nanoseconds(status.st_ctim),
                        item.pack});
    }
    keepName(stored.hash, stored.size, item.pack);
}

// Flushes the temporary file and moves it to its place unless an object is there by then: a
// teammate may have stored the same content since it was looked for, and relies on that copy,
// which a rename over it would replace unseen (and a failed change would then remove). An
// object found there is kept (touched) instead, or replaced when it is not intact.
ContentStore::Batch::Placement ContentStore::Batch::placeNew(Pending& item)
{
    Temporary& temporary = item.temporary;
    const Stored& stored = item.stored;
    syncFile(temporary.fd.get(), m_store.m_folder);
    temporary.fd.close(m_store.m_folder);
    const QString target = item.pack ? m_store.packPathFor(stored.hash) : m_store.pathFor(stored.hash);
    if (item.pack)
        m_store.claimFolder(parentPath(parentPath(target)));
    m_store.claimFolder(parentPath(target));
    const QByteArray from = nativePath(temporary.path);
    const QByteArray to = nativePath(target);
    int error = renameExclusively(from, to);
    if (error == ENOENT) {
        m_store.claimFolder(parentPath(target), true); // removed since it was checked
        error = renameExclusively(from, to);
    }
    if (error == 0) {
        temporary.release();
        return Placement::installed;
    }
    bool found = error == EEXIST;
    if (!found && !exclusiveRenameUnsupported(error))
        throw StorageError::fromErrno(error, target, QStringLiteral("rename"));
    // Without an exclusive rename the place is looked at right before: only a teammate's rename
    // within that round trip goes unseen.
    struct stat status {};
    if (!found)
        found = ::lstat(to.constData(), &status) == 0;
    // Checked whole: it may be the damaged copy found before this one was written. A pack of that
    // name holds the same chunks at the same places: one of its size is kept.
    if (found && item.pack && m_store.packFoundAtLeast(stored.hash, stored.size) == stored.size) {
        m_store.m_leftovers->noteReused(stored.hash); // before the touch, as in reuseExisting()
        if (::utimensat(AT_FDCWD, to.constData(), nullptr, AT_SYMLINK_NOFOLLOW) == 0)
            return Placement::keptOther;
    }
    if (found && !item.pack && m_store.reuseIntact(stored.hash, stored.size))
        return Placement::keptOther; // the temporary file goes with the batch
    renameFile(temporary.path, target, m_store.m_folder);
    temporary.release();
    return found ? Placement::replacedOther : Placement::installed;
}

void ContentStore::Batch::installAll(std::vector<Pending>& pending)
{
    for (Pending& item : pending)
        install(item);
}

// A content found stored is relied on as much as one written: its name is flushed too, in case
// whoever wrote it has not done so yet, and read back.
void ContentStore::Batch::keepName(const ContentHash& hash, qint64 size, bool pack)
{
    const QString folder = parentPath(pack ? m_store.packPathFor(hash) : m_store.pathFor(hash));
    const std::lock_guard lock(m_mutex);
    m_folders.insert(folder);
    (pack ? m_packNames : m_names).insert(hash, size);
}

// Each opened by name, without following a link, and of its size: a share may acknowledge a
// write it then loses (a full sshfs share answers some of them with EIO, others not at all), and
// what is not there now must fail the change before a record names it, not after.
void ContentStore::Batch::confirmNames(const QHash<ContentHash, qint64>& names, bool packs) const
{
    const QList<ContentHash> hashes = names.keys();
    runInParallel(
        hashes.size(),
        [&](qsizetype index) {
            const ContentHash& hash = hashes.at(index);
            const QString path = packs ? m_store.packPathFor(hash) : m_store.pathFor(hash);
            struct stat status {};
            try {
                openRegularFile(path, status, path);
            } catch (const StorageError& error) {
                if (error.kind() != StorageError::Kind::notFound)
                    throw;
                throw StorageError::notAsWritten(path, error.systemDetail());
            }
            if (status.st_size != names.value(hash))
                throw StorageError::notAsWritten(path, QStringLiteral("%1 bytes instead of %2")
                                                           .arg(QString::number(status.st_size),
                                                                QString::number(names.value(hash))));
            return qint64(0);
        },
        0, {});
}

void ContentStore::Batch::finish()
{
    std::vector<Pending> rest;
    {
        const std::lock_guard lock(m_mutex);
        rest.swap(m_pending);
    }
    // The last ones are flushed side by side: their waits for the disk overlap.
    runInParallel(
        qsizetype(rest.size()),
        [&](qsizetype index) {
            install(rest[size_t(index)]);
            return qint64(0);
        },
        0, {});
    QList<QString> folders;
    QHash<ContentHash, qint64> names;
    QHash<ContentHash, qint64> packs;
    {
        const std::lock_guard lock(m_mutex);
        folders = m_folders.values();
        m_folders.clear();
        names.swap(m_names);
        packs.swap(m_packNames);
    }
    runInParallel(
        folders.size(),
        [&](qsizetype index) {
            fsyncDirectory(folders.at(index));
            return qint64(0);
        },
        0, {});
    confirmNames(names, false);
    confirmNames(packs, true);
}

} // namespace vantrel
