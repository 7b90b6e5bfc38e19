#include "engine/storage/tree_snapshot.h"

#include "engine/storage/atomic_file.h"
#include "engine/storage/storage_error.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QThreadPool>

#include <QtConcurrent/QtConcurrentMap>
#include <numeric>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <exception>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

using namespace posix;

namespace {

qint64 wallClockNs()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Storage is mostly waiting on disks and networks: use a few threads even on a small machine.
int workerCount()
{
    return std::clamp(QThread::idealThreadCount(), 4, 16);
}

// Runs job(0) ... job(count - 1) on a thread pool of its own (a caller on a pool thread can't
// starve it) and reports the bytes the jobs return on the calling thread. The first failure,
// of a job or of `progress`, stops the jobs not yet started and is rethrown once the running
// ones have ended.
void runInParallel(qsizetype count, const std::function<qint64(qsizetype)>& job, qint64 totalBytes,
                   const TreeProgress& progress)
{
    if (progress)
        progress(0, totalBytes);
    if (count == 0)
        return;

    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        qsizetype remaining = 0;
        qint64 doneBytes = 0;
        std::exception_ptr failure;
        std::atomic<bool> stop = false;
    } state;
    state.remaining = count;

    QThreadPool pool;
    pool.setMaxThreadCount(int(std::min<qsizetype>(workerCount(), count)));
    for (qsizetype index = 0; index < count; ++index) {
        pool.start([&state, &job, index] {
            qint64 bytes = 0;
            std::exception_ptr failure;
            if (!state.stop.load()) {
                try {
                    bytes = job(index);
                } catch (...) {
                    failure = std::current_exception();
                    state.stop = true;
                }
            }
            const std::lock_guard lock(state.mutex);
            if (failure && !state.failure)
                state.failure = failure;
            state.doneBytes += bytes;
            --state.remaining;
            state.changed.notify_all();
        });
    }

    try {
        std::unique_lock lock(state.mutex);
        qint64 reported = 0;
        while (state.remaining > 0) {
            state.changed.wait(lock);
            if (progress && !state.stop && state.doneBytes != reported) {
                reported = state.doneBytes;
                lock.unlock();
                progress(reported, totalBytes);
                lock.lock();
            }
        }
    } catch (...) {
        state.stop = true;
        pool.waitForDone();
        throw;
    }
    pool.waitForDone();
    if (state.failure)
        std::rethrow_exception(state.failure);
}

StorageError unsupportedName(const QString& path)
{
    return StorageError(StorageError::Kind::io, path,
                        QCoreApplication::translate("Engine", "The name of “%1” can’t be kept in a version.").arg(path),
                        QCoreApplication::translate("Engine", "The name holds control characters or isn’t valid text."),
                        QCoreApplication::translate("Engine", "Rename the item, then try again."));
}

StorageError unsupportedKind(const QString& path)
{
    return StorageError(
        StorageError::Kind::io, path,
        QCoreApplication::translate("Engine", "“%1” is a socket, pipe or device, which can’t be kept in a version.")
            .arg(path),
        std::nullopt, QCoreApplication::translate("Engine", "Move it out of the package, then try again."));
}

struct SnapshotItem {
    ManifestEntry entry;
    QString path;     // where to read it
    QString cacheKey; // its absolute path
    StatCache::Entry observed;
    bool fromBase = false; // taken from the base version as it is
};

// What each folder of the base version directly holds ("" for the root), for the folders a
// snapshot takes from it without listing them.
class BaseFolders {
public:
    explicit BaseFolders(const Manifest& base)
    {
        m_children.insert(QString(), {});
        for (const ManifestEntry& entry : base.entries) {
            const qsizetype slash = entry.path.lastIndexOf(u'/');
            m_children[slash < 0 ? QString() : entry.path.left(slash)].append(&entry);
            if (entry.kind == ManifestEntry::Kind::directory && !m_children.contains(entry.path))
                m_children.insert(entry.path, {});
        }
    }

    const QList<const ManifestEntry*>* children(const QString& folder) const
    {
        const auto found = m_children.constFind(folder);
        return found == m_children.cend() ? nullptr : &*found;
    }

private:
    QHash<QString, QList<const ManifestEntry*>> m_children;
};

constexpr qsizetype parallelLookThreshold = 16;

// Threads that only wait for file metadata; separate from the pools that copy contents.
QThreadPool& lookPool()
{
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool();
        created->setMaxThreadCount(8);
        return created;
    }();
    return *pool;
}

class TreeWalker {
public:
    TreeWalker(const SnapshotOptions& options, QList<SnapshotItem>& items) : m_options(options), m_items(items)
    {
        if (options.changedFolders && options.base && options.base->rootKind == Manifest::RootKind::directory)
            m_base.emplace(*options.base);
    }

    qint64 totalBytes() const { return m_totalBytes; }

    void walk(const QString& folder, const QString& cacheFolder, const QString& relativeFolder)
    {
        if (m_base && !m_options.changedFolders->contains(relativeFolder)) {
            if (const auto* children = m_base->children(relativeFolder)) {
                takeFromBase(folder, cacheFolder, *children);
                return;
            }
        }
        const QList<QByteArray> names = listFolder(folder);
        // The entries of a large folder are looked at in parallel: on a share, or with nothing
        // cached, each lstat waits for the storage, and the waits then overlap.
        struct Looked {
            struct stat status {};
            int error = 0;
        };
        std::vector<Looked> looked(static_cast<size_t>(names.size()));
        const QByteArray nativeFolder = nativePath(folder);
        const auto look = [&](qsizetype index) {
            const QByteArray nativeItem = nativeFolder + '/' + names.at(index);
            Looked& result = looked[static_cast<size_t>(index)];
            if (::lstat(nativeItem.constData(), &result.status) != 0)
                result.error = errno;
        };
        if (names.size() >= parallelLookThreshold) {
            std::vector<qsizetype> indexes(static_cast<size_t>(names.size()));
            std::iota(indexes.begin(), indexes.end(), qsizetype(0));
            QtConcurrent::blockingMap(&lookPool(), indexes, look);
        } else {
            for (qsizetype index = 0; index < names.size(); ++index)
                look(index);
        }

        for (qsizetype index = 0; index < names.size(); ++index) {
            const QByteArray& rawName = names.at(index);
            const QString name = QFile::decodeName(rawName);
            const QString path = folder + u'/' + name;
            if (QFile::encodeName(name) != rawName || !isValidManifestName(name))
                throw unsupportedName(path);
            const QString relativePath = relativeFolder.isEmpty() ? name : relativeFolder + u'/' + name;
            const QString cacheKey = cacheFolder + u'/' + name;

            const struct stat& status = looked[static_cast<size_t>(index)].status;
            if (const int error = looked[static_cast<size_t>(index)].error)
                throw StorageError::fromErrno(error, path, QStringLiteral("lstat"));

            SnapshotItem item;
            item.entry.path = relativePath;
            if (S_ISDIR(status.st_mode)) {
                if (m_options.excludeDirectory && m_options.excludeDirectory(relativePath))
                    continue;
                item.entry.kind = ManifestEntry::Kind::directory;
                m_items.append(std::move(item));
                walk(path, cacheKey, relativePath);
            } else if (S_ISLNK(status.st_mode)) {
                item.entry.kind = ManifestEntry::Kind::symlink;
                item.entry.target = readLinkText(path, status);
                m_items.append(std::move(item));
            } else if (S_ISREG(status.st_mode)) {
                addFile(std::move(item), path, cacheKey, status);
            } else if (m_options.skippedSpecialFiles) {
                m_options.skippedSpecialFiles->append(relativePath);
            } else {
                throw unsupportedKind(path);
            }
        }
    }

    void addFile(SnapshotItem item, const QString& path, const QString& cacheKey, const struct stat& status)
    {
        item.entry.kind = ManifestEntry::Kind::file;
        item.entry.size = status.st_size;
        item.entry.executable = (status.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) != 0;
        item.path = path;
        item.cacheKey = cacheKey;
        item.observed = StatCache::Entry::fromStat(status);
        m_totalBytes += status.st_size;
        m_items.append(std::move(item));
    }

private:
    // A folder in which nothing changed: what it holds is what the base version holds there.
    // Its subfolders are walked, as something may have changed further down.
    void takeFromBase(const QString& folder, const QString& cacheFolder, const QList<const ManifestEntry*>& children)
    {
        for (const ManifestEntry* entry : children) {
            SnapshotItem item;
            item.entry = *entry;
            item.fromBase = true;
            if (entry->kind != ManifestEntry::Kind::directory) {
                m_items.append(std::move(item));
                continue;
            }
            if (m_options.excludeDirectory && m_options.excludeDirectory(entry->path))
                continue;
            m_items.append(std::move(item));
            const QString name = entry->path.mid(entry->path.lastIndexOf(u'/') + 1);
            walk(folder + u'/' + name, cacheFolder + u'/' + name, entry->path);
        }
    }

    static QList<QByteArray> listFolder(const QString& folder)
    {
        const QByteArray native = nativePath(folder);
        const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            throw StorageError::fromErrno(errno, folder, QStringLiteral("open"));
        DIR* listing = ::fdopendir(fd);
        if (!listing) {
            const int error = errno;
            ::close(fd);
            throw StorageError::fromErrno(error, folder, QStringLiteral("opendir"));
        }
        QList<QByteArray> names;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(listing);
            if (!entry) {
                const int error = errno;
                ::closedir(listing);
                if (error != 0)
                    throw StorageError::fromErrno(error, folder, QStringLiteral("readdir"));
                return names;
            }
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
                continue;
            names.append(QByteArray(name));
        }
    }

    static QString readLinkText(const QString& path, const struct stat& status)
    {
        const QByteArray native = nativePath(path);
        QByteArray target(qMax<qsizetype>(status.st_size, 255) + 1, Qt::Uninitialized);
        for (;;) {
            const ssize_t length = ::readlink(native.constData(), target.data(), size_t(target.size()));
            if (length < 0)
                throw StorageError::fromErrno(errno, path, QStringLiteral("readlink"));
            if (length < target.size()) {
                target.truncate(length);
                break;
            }
            target.resize(target.size() * 2); // The link changed since it was looked at.
        }
        const QString text = QFile::decodeName(target);
        if (text.isEmpty() || QFile::encodeName(text) != target)
            throw unsupportedName(path);
        return text;
    }

    const SnapshotOptions& m_options;
    QList<SnapshotItem>& m_items;
    std::optional<BaseFolders> m_base;
    qint64 m_totalBytes = 0;
};

void storeItem(SnapshotItem& item, ContentStore& store, StatCache* cache, const QSet<ContentHash>* inUse,
               qint64 startedNs)
{
    if (cache) {
        if (const auto hash = cache->unchangedHash(item.cacheKey, item.observed);
            hash && ((inUse && inUse->contains(*hash)) || store.refresh(*hash))) {
            item.entry.hash = *hash;
            return;
        }
    }
    const ContentStore::Stored stored = store.storeFile(item.path);
    item.entry.hash = stored.hash;
    item.entry.size = stored.size;
    if (cache) {
        if (stored.size == item.observed.size) {
            StatCache::Entry record = item.observed;
            record.hash = stored.hash;
            // When the listing began, so before the file was looked at: a write after that
            // moves its modification time past this.
            record.recordedNs = startedNs;
            cache->record(item.cacheKey, record);
        } else {
            cache->forget(item.cacheKey);
        }
    }
}

void createSymlink(const QString& target, const QString& path)
{
    const QByteArray nativeTarget = QFile::encodeName(target);
    const QByteArray nativeLink = nativePath(path);
    if (::symlink(nativeTarget.constData(), nativeLink.constData()) == 0)
        return;
    const int error = errno;
    if (error == EPERM || error == EOPNOTSUPP || error == ENOSYS)
        throw StorageError(
            StorageError::Kind::io, path,
            QCoreApplication::translate("Engine", "“%1” is a symbolic link, which this volume can’t hold.").arg(path),
            StorageError::fromErrno(error, path, QStringLiteral("symlink")).failureReason(),
            QCoreApplication::translate("Engine", "Choose a folder on another volume, then try again."), error);
    throw StorageError::fromErrno(error, path, QStringLiteral("symlink"));
}

void requireAbsent(const QString& destination)
{
    const QByteArray native = nativePath(destination);
    struct stat status {};
    if (::lstat(native.constData(), &status) == 0)
        throw StorageError::fromErrno(EEXIST, destination, QStringLiteral("create"));
    if (errno != ENOENT)
        throw StorageError::fromErrno(errno, destination, QStringLiteral("lstat"));
}

void writeTreeTo(const Manifest& manifest, const ContentStore& store, const QString& destination, bool durable,
                 const TreeProgress& progress)
{
    manifest.validate();
    requireAbsent(destination);

    if (manifest.rootKind == Manifest::RootKind::file) {
        const ManifestEntry& entry = manifest.entries.first();
        if (progress)
            progress(0, entry.size);
        store.copyOut(entry.hash, entry.size, destination, entry.executable, durable);
        if (progress)
            progress(entry.size, entry.size);
        return;
    }

    const QByteArray nativeDestination = nativePath(destination);
    if (::mkdir(nativeDestination.constData(), 0777) != 0)
        throw StorageError::fromErrno(errno, destination, QStringLiteral("mkdir"));
    try {
        // Folders come before what they hold, so one pass makes them all.
        QList<qsizetype> files;
        for (qsizetype index = 0; index < manifest.entries.size(); ++index) {
            const ManifestEntry& entry = manifest.entries.at(index);
            const QString path = destination + u'/' + entry.path;
            switch (entry.kind) {
            case ManifestEntry::Kind::directory: {
                const QByteArray native = nativePath(path);
                if (::mkdir(native.constData(), 0777) != 0)
                    throw StorageError::fromErrno(errno, path, QStringLiteral("mkdir"));
                break;
            }
            case ManifestEntry::Kind::symlink:
                createSymlink(entry.target, path);
                break;
            case ManifestEntry::Kind::file:
                files.append(index);
                break;
            }
        }
        runInParallel(
            files.size(),
            [&](qsizetype job) {
                const ManifestEntry& entry = manifest.entries.at(files.at(job));
                store.copyOut(entry.hash, entry.size, destination + u'/' + entry.path, entry.executable, durable);
                return entry.size;
            },
            manifest.totalSize(), progress);
        if (durable) {
            for (auto it = manifest.entries.crbegin(); it != manifest.entries.crend(); ++it) {
                if (it->kind == ManifestEntry::Kind::directory)
                    fsyncDirectory(destination + u'/' + it->path);
            }
            fsyncDirectory(destination);
        }
    } catch (...) {
        removeTreeQuietly(destination);
        throw;
    }
}

// Renames `from` to `to` unless something is at `to` already. File systems without
// RENAME_NOREPLACE (network ones among them) get a hard link for a file, and a look first
// for a folder (a rename can't replace a folder that has anything in it).
void renameWithoutReplacing(const QString& from, const QString& to, bool isFile)
{
    const QByteArray nativeFrom = nativePath(from);
    const QByteArray nativeTo = nativePath(to);
    int result;
    do {
        result = ::renameat2(AT_FDCWD, nativeFrom.constData(), AT_FDCWD, nativeTo.constData(), RENAME_NOREPLACE);
    } while (result != 0 && errno == EINTR);
    if (result == 0)
        return;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
        throw StorageError::fromErrno(errno, to, QStringLiteral("rename"));

    requireAbsent(to);
    if (isFile) {
        if (::link(nativeFrom.constData(), nativeTo.constData()) == 0) {
            removeFileQuietly(from);
            return;
        }
        if (errno == EEXIST)
            throw StorageError::fromErrno(EEXIST, to, QStringLiteral("link"));
    }
    renameFile(from, to, to);
}

} // namespace

Manifest snapshotTree(const QString& source, ContentStore& store, const SnapshotOptions& options)
{
    const qint64 startedNs = wallClockNs();
    const QByteArray nativeSource = nativePath(source);
    struct stat status {};
    if (::lstat(nativeSource.constData(), &status) != 0)
        throw StorageError::fromErrno(errno, source, QStringLiteral("lstat"));
    if (S_ISLNK(status.st_mode))
        throw StorageError(
            StorageError::Kind::io, source,
            QCoreApplication::translate("Engine", "“%1” is a symbolic link, not a file or folder.").arg(source),
            std::nullopt, QCoreApplication::translate("Engine", "Choose the file or folder that the link points to."));

    const QString cacheKey = QDir::cleanPath(QFileInfo(source).absoluteFilePath());
    Manifest manifest;
    QList<SnapshotItem> items;
    TreeWalker walker(options, items);
    if (S_ISREG(status.st_mode)) {
        manifest.rootKind = Manifest::RootKind::file;
        walker.addFile(SnapshotItem(), source, cacheKey, status);
    } else if (S_ISDIR(status.st_mode)) {
        manifest.rootKind = Manifest::RootKind::directory;
        walker.walk(source, cacheKey, QString());
        std::sort(items.begin(), items.end(),
                  [](const SnapshotItem& a, const SnapshotItem& b) { return a.entry.path < b.entry.path; });
    } else {
        throw unsupportedKind(source);
    }

    QList<qsizetype> files;
    for (qsizetype index = 0; index < items.size(); ++index) {
        if (items.at(index).entry.kind == ManifestEntry::Kind::file && !items.at(index).fromBase)
            files.append(index);
    }
    SnapshotItem* const itemData = items.data(); // Workers must not touch the list itself.
    runInParallel(
        files.size(),
        [&](qsizetype job) {
            SnapshotItem& item = itemData[files.at(job)];
            storeItem(item, store, options.cache, options.inUse, startedNs);
            return item.entry.size;
        },
        walker.totalBytes(), options.progress);

    if (options.cache && options.saveCache && !files.isEmpty()) {
        try {
            options.cache->save();
        } catch (const StorageError&) {
            // Only a cache: the next snapshot reads the files again.
        }
    }

    manifest.entries.reserve(items.size());
    for (SnapshotItem& item : items)
        manifest.entries.append(std::move(item.entry));
    return manifest;
}

void writeTree(const Manifest& manifest, const ContentStore& store, const QString& destination,
               const TreeProgress& progress)
{
    writeTreeTo(manifest, store, destination, false, progress);
}

void writeTreeAtomically(const Manifest& manifest, const ContentStore& store, const QString& destination,
                         const TreeProgress& progress)
{
    manifest.validate();
    requireAbsent(destination);
    const QString temporary = temporarySiblingPath(destination);
    writeTreeTo(manifest, store, temporary, true, progress);
    try {
        renameWithoutReplacing(temporary, destination, manifest.rootKind == Manifest::RootKind::file);
    } catch (...) {
        removeTreeQuietly(temporary);
        throw;
    }
    fsyncDirectory(parentPath(destination));
}

void waitForFileLookups()
{
    lookPool().waitForDone();
}

} // namespace vantrel
