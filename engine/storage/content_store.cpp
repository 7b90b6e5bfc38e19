#include "engine/storage/content_store.h"
#include "engine/storage/content_store_temporary.h"
#include "engine/storage/chunks/chunker.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_cache.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace vantrel {

using namespace posix;
using content_store::nanoseconds;
using content_store::openSource;
using content_store::temporaryFolder;

namespace {

constexpr size_t bufferSize = 256 << 10;

// One large buffer per thread, kept for the thread's life: allocating it for every file would
// cost a page fault per 4 KiB.
char* ioBuffer()
{
    thread_local std::unique_ptr<char[]> buffer(new char[bufferSize]);
    return buffer.get();
}

// Contents are read and written in blocks of up to a few MiB on many threads at once. glibc
// raises its threshold for handing a freed block back to the system to the size of the largest
// block freed, and then keeps up to twice that free at the top of each thread's heap: once a
// large file's read block (8 MiB) was freed, every storage thread's heap kept what it had held,
// free (an import of 2,000 files then peaked at some 270 MiB on 8 processors). Fixed thresholds
// give the blocks larger than any chunk or small file back as soon as they are freed, and what
// is free above 1 MiB at the top of a heap. Each thread that allocates also gets a heap of its
// own (up to eight per processor), and what is freed inside one stays with it: two heaps shared
// by every thread keep an import of 2,000 files some 15 MiB lower, for a few hundredths of a
// copy's time more.
void boundFreeMemoryKept()
{
#ifdef __GLIBC__
    static std::once_flag once;
    std::call_once(once, [] {
        ::mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024 + 64 * 1024);
        ::mallopt(M_TRIM_THRESHOLD, 1024 * 1024);
        ::mallopt(M_ARENA_MAX, 2);
    });
#endif
}

} // namespace

ContentStore::ContentStore(QString folder, QString owner)
    : m_folder(std::move(folder)),
      m_owner(std::move(owner)),
      m_chunkBounds(std::make_unique<ChunkBounds>()),
      m_leftovers(std::make_unique<Leftovers>()),
      m_recentTrees(std::make_unique<TreeCache>())
{
    while (m_folder.size() > 1 && m_folder.endsWith(u'/'))
        m_folder.chop(1);
    boundFreeMemoryKept();
}

ContentStore::~ContentStore() = default;

QString ContentStore::pathFor(const ContentHash& hash) const
{
    const QString hex = hash.toHex();
    return m_folder + u'/' + hex.left(2) + u'/' + hex;
}

void ContentStore::claimFolder(const QString& path, bool again)
{
    {
        std::lock_guard lock(m_claimedMutex);
        if (again)
            m_claimed.remove(path);
        else if (m_claimed.contains(path))
            return;
    }
    const QByteArray native = nativePath(path);
    struct stat status {};
    if (::lstat(native.constData(), &status) == 0 && S_ISLNK(status.st_mode) && ::unlink(native.constData()) != 0
        && errno != ENOENT)
        throw StorageError::fromErrno(errno, path, QStringLiteral("unlink"));
    ensureDirectory(path);
    if (::lstat(native.constData(), &status) != 0)
        throw StorageError::fromErrno(errno, path, QStringLiteral("lstat"));
    if (!S_ISDIR(status.st_mode))
        throw StorageError(StorageError::Kind::corrupt, path,
                           QCoreApplication::translate("Engine", "“%1” isn’t a folder.").arg(path));
    std::lock_guard lock(m_claimedMutex);
    m_claimed.insert(path);
}

ContentStore::Temporary ContentStore::createTemporaryIn(const QString& folder, const QString& name)
{
    const QString path = folder + u'/' + name;
    claimFolder(folder);
    try {
        return Temporary(path, openFile(path, O_WRONLY | O_CREAT | O_EXCL, 0666, m_folder), m_leftovers.get());
    } catch (const StorageError& error) {
        if (error.systemError() != ENOENT)
            throw;
    }
    claimFolder(folder, true); // removed since it was checked
    return Temporary(path, openFile(path, O_WRONLY | O_CREAT | O_EXCL, 0666, m_folder), m_leftovers.get());
}

ContentStore::Temporary ContentStore::createTemporary()
{
    return createTemporaryIn(temporaryFolder(m_folder), temporaryName());
}

ContentStore::Temporary ContentStore::createTemporaryFor(const ContentHash& hash)
{
    return createTemporaryIn(parentPath(pathFor(hash)), content_store::shardTemporaryPrefix + temporaryName());
}

bool ContentStore::reuseIntact(const ContentHash& hash, qint64 size)
{
    const QString path = pathFor(hash);
    struct stat status {};
    UniqueFd stored;
    try {
        stored = openRegularFile(path, status, path);
    } catch (const StorageError&) {
        return false;
    }
    if (status.st_size != size)
        return false;
    ::posix_fadvise(stored.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    char* buffer = ioBuffer();
    Sha256 sha;
    qint64 read = 0;
    try {
        for (;;) {
            // Never more than one byte past the expected size: enough to tell that it grew.
            const size_t wanted = static_cast<size_t>(std::min<qint64>(qint64(bufferSize), size + 1 - read));
            const size_t count = readSome(stored.get(), buffer, wanted, path);
            if (count == 0)
                break;
            read += static_cast<qint64>(count);
            if (read > size)
                return false;
            sha.update(buffer, count);
        }
    } catch (const StorageError&) {
        return false;
    }
    return read == size && sha.finish() == hash && refresh(hash);
}

bool ContentStore::reuseExisting(const ContentHash& hash, qint64 size)
{
    // A link in the store is never an object, whatever it points to: it is replaced.
    const QByteArray native = nativePath(pathFor(hash));
    struct stat status {};
    if (::lstat(native.constData(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size != size)
        return false;
    // Touching it keeps the garbage collector away for another grace period. When that fails
    // (the file is another user's, or it was just collected) the new copy replaces it.
    // Noted before the touch, so that a failed change of this process that removes it sees it.
    m_leftovers->noteReused(hash);
    return ::utimensat(AT_FDCWD, native.constData(), nullptr, AT_SYMLINK_NOFOLLOW) == 0;
}

void ContentStore::install(Temporary& temporary, const ContentHash& hash)
{
    place(temporary, hash);
    fsyncDirectory(parentPath(pathFor(hash)));
}

void ContentStore::place(Temporary& temporary, const ContentHash& hash)
{
    syncFile(temporary.fd.get(), m_folder);
    temporary.fd.close(m_folder);
    const QString target = pathFor(hash);
    claimFolder(parentPath(target));
    try {
        renameFile(temporary.path, target, m_folder);
    } catch (const StorageError& error) {
        if (error.systemError() != ENOENT)
            throw;
        claimFolder(parentPath(target), true);
        renameFile(temporary.path, target, m_folder);
    }
    temporary.release();
}

UniqueFd content_store::openSource(const QString& path, struct stat& before)
{
    UniqueFd source = openFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, path);
    if (::fstat(source.get(), &before) != 0)
        throw StorageError::fromErrno(errno, path, QStringLiteral("fstat"));
    if (!S_ISREG(before.st_mode))
        throw StorageError(StorageError::Kind::io, path,
                           QCoreApplication::translate("Engine", "“%1” isn’t a regular file.").arg(path));
    ::posix_fadvise(source.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    return source;
}

void content_store::checkUnchanged(int source, const QString& path, const struct stat& before, qint64 size)
{
    struct stat after {};
    if (::fstat(source, &after) != 0)
        throw StorageError::fromErrno(errno, path, QStringLiteral("fstat"));
    if (size != before.st_size || after.st_size != before.st_size
        || nanoseconds(after.st_mtim) != nanoseconds(before.st_mtim)) {
        throw StorageError(StorageError::Kind::io, path,
                           QCoreApplication::translate("Engine", "“%1” changed while it was being read.").arg(path),
                           QCoreApplication::translate("Engine", "Another app wrote to the file at the same time."),
                           QCoreApplication::translate("Engine", "Wait until the file is saved, then try again."));
    }
}

namespace {

// Reads all of `source`, hashing it and handing each piece to `consume`; fails when the file
// changed while it was read.
template<typename Consume>
ContentStore::Stored readAndHash(int source, const QString& path, const struct stat& before, Consume&& consume)
{
    char* buffer = ioBuffer();
    Sha256 sha;
    qint64 size = 0;
    for (;;) {
        const size_t count = readSome(source, buffer, bufferSize, path);
        if (count == 0)
            break;
        sha.update(buffer, count);
        consume(buffer, count);
        size += static_cast<qint64>(count);
    }
    content_store::checkUnchanged(source, path, before, size);
    return {sha.finish(), size};
}

} // namespace

ContentStore::Stored ContentStore::readIntoTemporary(const QString& path, Temporary& temporary)
{
    struct stat before {};
    UniqueFd source = openSource(path, before);
    temporary = createTemporary();
    return readAndHash(source.get(), path, before, [&](const char* data, size_t count) {
        writeAll(temporary.fd.get(), data, count, m_folder);
    });
}

ContentStore::Stored ContentStore::storeFile(const QString& path)
{
    Temporary temporary;
    const Stored stored = readIntoTemporary(path, temporary);
    // A content stored intact already is kept: the copy just read is dropped unflushed. A damaged
    // one is replaced by it.
    if (reuseIntact(stored.hash, stored.size))
        return stored;
    // Where the share refuses to replace a file in use, an existing object of the right size is
    // kept.
    try {
        install(temporary, stored.hash);
    } catch (const StorageError&) {
        if (!reuseExisting(stored.hash, stored.size))
            throw;
    }
    return stored;
}

std::optional<std::pair<ContentStore::Stored, QByteArray>> ContentStore::readSmallFile(const QString& path,
                                                                                     qint64 limit) const
{
    struct stat before {};
    UniqueFd source = openSource(path, before);
    if (before.st_size > limit)
        return std::nullopt;
    QByteArray bytes;
    bytes.reserve(qsizetype(before.st_size));
    const Stored stored = readAndHash(source.get(), path, before, [&](const char* data, size_t count) {
        // A file that grew while it was read is refused once read; what it grew by is not kept.
        if (bytes.size() + qint64(count) <= before.st_size)
            bytes.append(data, qsizetype(count));
    });
    return std::make_pair(stored, std::move(bytes));
}

ContentStore::Stored ContentStore::hashFile(const QString& path) const
{
    struct stat before {};
    UniqueFd source = openSource(path, before);
    if (packsChunks() && before.st_size > chunking::threshold)
        return identityInChunks(source.get(), path, before);
    return readAndHash(source.get(), path, before, [](const char*, size_t) {});
}

// Small contents are checked in full before an existing object is trusted.
bool ContentStore::reuseIntactBytes(const ContentHash& hash, qint64 size)
{
    if (!reuseExisting(hash, size))
        return false;
    try {
        return hashBytes(readWholeFile(pathFor(hash), size)) == hash;
    } catch (const StorageError&) {
        return false;
    }
}

ContentHash ContentStore::storeBytes(QByteArrayView data)
{
    const ContentHash hash = hashBytes(data);
    if (reuseIntactBytes(hash, data.size()))
        return hash;
    Temporary temporary = createTemporaryFor(hash);
    writeAll(temporary.fd.get(), data.data(), static_cast<size_t>(data.size()), m_folder);
    install(temporary, hash);
    return hash;
}

QByteArray ContentStore::readBytes(const ContentHash& hash, qint64 maxSize) const
{
    const QString path = pathFor(hash);
    QByteArray data;
    try {
        data = readWholeFile(path, maxSize);
    } catch (const StorageError& error) {
        if (error.kind() != StorageError::Kind::corrupt)
            throw;
        throw StorageError::corrupt(path, error.localizedDescription());
    }
    const ContentHash found = hashBytes(data);
    if (found != hash)
        throw StorageError::corrupt(path,
                                    QStringLiteral("Expected SHA-256 %1, found %2.").arg(hash.toHex(), found.toHex()));
    return data;
}

void ContentStore::copyOut(const ContentHash& hash, qint64 size, const QString& destination, bool executable,
                           bool synchronize) const
{
    const QString objectPath = pathFor(hash);
    struct stat status {};
    UniqueFd source;
    try {
        source = openRegularFile(objectPath, status, objectPath);
    } catch (const StorageError& error) {
        if (error.kind() != StorageError::Kind::corrupt)
            throw;
        throw StorageError::corrupt(destination, error.localizedDescription());
    }
    // Checked before anything is written: a stored file of another size is damaged, however
    // much of it there is.
    if (size < 0 || status.st_size != size)
        throw StorageError::corrupt(destination,
                                    QStringLiteral("The stored file %1 holds %2 bytes instead of %3.")
                                        .arg(objectPath, QString::number(status.st_size), QString::number(size)));
    ::posix_fadvise(source.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    content_store::writeDestination(destination, executable, synchronize, [&](int target) {
        char* buffer = ioBuffer();
        Sha256 sha;
        // Never more than one byte past the expected size: enough to tell that the file grew.
        qint64 copied = 0;
        for (;;) {
            const size_t wanted = static_cast<size_t>(std::min<qint64>(qint64(bufferSize), size + 1 - copied));
            const size_t count = readSome(source.get(), buffer, wanted, objectPath);
            if (count == 0)
                break;
            copied += static_cast<qint64>(count);
            if (copied > size)
                break;
            sha.update(buffer, count);
            writeAll(target, buffer, count, destination);
        }
        if (copied != size)
            throw StorageError::corrupt(
                destination, QStringLiteral("The stored file %1 changed size while it was read.").arg(objectPath));
        const ContentHash found = sha.finish();
        if (found != hash)
            throw StorageError::corrupt(
                destination, QStringLiteral("The stored file %1 has SHA-256 %2.").arg(objectPath, found.toHex()));
    });
}

void content_store::writeDestination(const QString& destination, bool executable, bool synchronize,
                                     const std::function<void(int fd)>& write)
{
    UniqueFd target =
        openFile(destination, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, executable ? 0777 : 0666, destination);
    try {
        write(target.get());
        if (synchronize)
            syncFile(target.get(), destination);
        else
            startWriteBack(target.get());
        target.close(destination);
    } catch (...) {
        target = UniqueFd();
        removeFileQuietly(destination);
        throw;
    }
}

bool ContentStore::contains(const ContentHash& hash) const
{
    const QByteArray native = nativePath(pathFor(hash));
    struct stat status {};
    return ::lstat(native.constData(), &status) == 0 && S_ISREG(status.st_mode);
}

bool ContentStore::refresh(const ContentHash& hash)
{
    // Only a stored file counts: a link in its place is not touched, nor what it points to.
    const QByteArray native = nativePath(pathFor(hash));
    struct stat status {};
    if (::lstat(native.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    m_leftovers->noteReused(hash); // before the touch, as in reuseExisting()
    return ::utimensat(AT_FDCWD, native.constData(), nullptr, AT_SYMLINK_NOFOLLOW) == 0;
}

} // namespace vantrel
