#include "engine/storage/chunks/chunk_cache.h"

#include "engine/storage/atomic_file.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace vantrel {

namespace {

constexpr qint64 gib = 1024LL * 1024 * 1024;

int openQuietly(const QByteArray& path, int flags, mode_t mode = 0)
{
    int fd;
    do {
        fd = ::open(path.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

bool readExactly(int fd, char* data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, data + done, size_t(size - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += got;
    }
    char extra;
    ssize_t more;
    do {
        more = ::read(fd, &extra, 1);
    } while (more < 0 && errno == EINTR);
    return more == 0; // a file that grew since fstat() is not the entry that was asked for
}

bool writeExactly(int fd, const char* data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t wrote = ::write(fd, data + done, size_t(size - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += wrote;
    }
    return true;
}

std::atomic<int> loggedFailures{0};

// At most a few lines per process: a full disk would otherwise log every chunk.
void logFailure(const char* what, const QString& path, int error)
{
    const int count = ++loggedFailures;
    if (count <= 8)
        qWarning("The chunk cache could not %s %s: %s", what, qUtf8Printable(path), std::strerror(error));
    if (count == 8)
        qWarning("The chunk cache logs no more failures in this process.");
}

// The cache's folders are this user's alone: the names in them say which chunks the user holds.
bool makePrivateFolder(const QString& path)
{
    return ::mkdir(QFile::encodeName(path).constData(), 0700) == 0 || errno == EEXIST;
}

// `folder` and the shard folder `shard` in it, with its temporary folder, made where missing.
bool makeFolders(const QString& folder, const QString& shard)
{
    return QDir().mkpath(posix::parentPath(folder)) && makePrivateFolder(folder)
           && makePrivateFolder(folder + QStringLiteral("/tmp")) && makePrivateFolder(shard);
}

} // namespace

void ChunkCache::makePrivate(const QByteArray& folder)
{
    const int fd = openQuietly(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0)
        return;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && (status.st_mode & 077) != 0)
        ::fchmod(fd, 0700);
    ::close(fd);
}

ChunkCache::ChunkCache(QString folder, qint64 bound) : m_folder(std::move(folder)), m_bound(bound)
{
    // Made open to everyone by an earlier release: its shard folders follow in the first trim.
    makePrivate(QFile::encodeName(m_folder));
    m_threshold = m_bound;
    m_trimWanted = true; // learns what the folder holds, in the background
    m_trimmer = std::thread([this] { trimLoop(); });
    m_writer = std::thread([this] { writeLoop(); });
}

ChunkCache::~ChunkCache()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_queueChanged.notify_all();
    m_writer.join(); // once the entry being written, if any, is in place
    m_trimmer.join();
}

bool ChunkCache::sparesReadsOf(const QString& bundleRoot, const QString& cacheFolder)
{
    struct stat bundle {};
    if (::stat(QFile::encodeName(bundleRoot).constData(), &bundle) != 0)
        return true;
    // The cache folder may not exist yet: its nearest existing parent is where it will be.
    QString existing = cacheFolder;
    struct stat cache {};
    while (::stat(QFile::encodeName(existing).constData(), &cache) != 0) {
        const QString parent = posix::parentPath(existing);
        if (parent == existing || parent.isEmpty())
            return true;
        existing = parent;
    }
    return cache.st_dev != bundle.st_dev;
}

QString ChunkCache::folderFor(const QString& cacheFolder, const QString& teamId)
{
    const bool plain =
        !teamId.isEmpty() && teamId.size() <= 64 && std::all_of(teamId.begin(), teamId.end(), [](QChar c) {
            return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'-'
                   || c == u'_';
        });
    return cacheFolder + QStringLiteral("/chunks/") + (plain ? teamId : hashBytes(teamId.toUtf8()).toHex());
}

qint64 ChunkCache::defaultBound(const QString& folder)
{
    QString existing = folder;
    struct statvfs disk {};
    while (::statvfs(QFile::encodeName(existing).constData(), &disk) != 0) {
        const QString parent = posix::parentPath(existing);
        if (parent == existing || existing.isEmpty())
            return 5 * gib;
        existing = parent;
    }
    const qint64 size = qint64(disk.f_blocks) * qint64(disk.f_frsize);
    return std::clamp(size / 10, gib / 4, 50 * gib);
}

QString ChunkCache::entryPath(const ContentHash& hash) const
{
    const QString hex = hash.toHex();
    return m_folder + u'/' + hex.left(2) + u'/' + hex;
}

void ChunkCache::remove(const QString& path, ino_t expected) const
{
    // Only the entry that was found wrong: another thread may have put a good one in its place.
    struct stat status {};
    if (::lstat(QFile::encodeName(path).constData(), &status) == 0 && status.st_ino == expected)
        posix::removeTreeQuietly(path);
}

std::optional<QByteArray> ChunkCache::take(const ContentHash& hash, qint64 size)
{
    if (size < 0 || size > largestEntry)
        return std::nullopt;
    {
        const std::lock_guard lock(m_mutex);
        const auto queued = m_queued.constFind(hash);
        if (queued != m_queued.constEnd() && queued->size() == size)
            return *queued;
    }
    const QString path = entryPath(hash);
    const QByteArray native = QFile::encodeName(path);
    const int fd = openQuietly(native, O_RDONLY | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ELOOP) // a link where an entry belongs
            posix::removeFileQuietly(path);
        return std::nullopt;
    }
    struct stat status {};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size == size) {
        QByteArray read(size, Qt::Uninitialized);
        if (readExactly(fd, read.data(), size) && hashBytes(read) == hash) {
            bytes = std::move(read);
            ::futimens(fd, nullptr); // used now: the last to go
        }
    }
    ::close(fd);
    if (!bytes)
        remove(path, status.st_ino);
    return bytes;
}

void ChunkCache::keep(const ContentHash& hash, const QByteArray& bytes)
{
    if (bytes.size() > largestEntry)
        return;
    std::unique_lock lock(m_mutex);
    // One chunk is always taken, however large: the bound holds within one entry.
    m_queueChanged.wait(lock, [&] { return m_queuedBytes == 0 || m_queuedBytes + bytes.size() <= queueBound; });
    if (m_queued.contains(hash))
        return;
    m_queue.push_back(hash);
    m_queued.insert(hash, bytes);
    m_queuedBytes += bytes.size();
    m_queueChanged.notify_all();
}

void ChunkCache::writeLoop()
{
    std::unique_lock lock(m_mutex);
    while (true) {
        m_queueChanged.wait(lock, [this] { return !m_queue.empty() || m_stopping; });
        // What still waits is dropped: closing never waits for a cache.
        if (m_stopping)
            break;
        const ContentHash hash = m_queue.front();
        m_queue.pop_front();
        const QByteArray bytes = m_queued.value(hash);
        lock.unlock();
        write(hash, bytes);
        lock.lock();
        m_queued.remove(hash);
        m_queuedBytes -= bytes.size();
        m_queueChanged.notify_all();
    }
}

void ChunkCache::write(const ContentHash& hash, const QByteArray& bytes)
{
    const QString path = entryPath(hash);
    const QByteArray native = QFile::encodeName(path);
    struct stat status {};
    if (::lstat(native.constData(), &status) == 0 && S_ISREG(status.st_mode) && status.st_size == bytes.size()) {
        // Kept already (take() checks it): used now all the same.
        ::utimensat(AT_FDCWD, native.constData(), nullptr, AT_SYMLINK_NOFOLLOW);
        return;
    }
    if (writeEntry(path, bytes))
        added(bytes.size());
}

bool ChunkCache::writeEntry(const QString& path, QByteArrayView bytes)
{
    const QString temporary = m_folder + QStringLiteral("/tmp/") + posix::randomToken();
    const QByteArray nativeTemporary = QFile::encodeName(temporary);
    // Once more after making the folders: the first entry, or the folder deleted under it.
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (attempt > 0 && !makeFolders(m_folder, posix::parentPath(path))) {
            logFailure("make its folder", m_folder, errno);
            return false;
        }
        const int fd = openQuietly(nativeTemporary, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd < 0) {
            if (errno == ENOENT && attempt == 0)
                continue;
            logFailure("write", temporary, errno);
            return false;
        }
        const bool written = writeExactly(fd, bytes.data(), bytes.size());
        const int error = errno;
        if (::close(fd) != 0 || !written) {
            logFailure("write", temporary, written ? errno : error);
            ::unlink(nativeTemporary.constData());
            return false;
        }
        if (::rename(nativeTemporary.constData(), QFile::encodeName(path).constData()) == 0)
            return true;
        const int renameError = errno;
        ::unlink(nativeTemporary.constData());
        if (renameError != ENOENT || attempt > 0) {
            logFailure("store", path, renameError);
            return false;
        }
    }
    return false;
}

} // namespace vantrel
