// Writing stored versions back: exports, copies and working copies.

#include "engine/storage/atomic_file.h"
#include "engine/storage/folder_tree.h"
#include "engine/storage/shared_folders.h"
#include "engine/storage/storage_error.h"
#include "engine/storage/tree_snapshot.h"

#include <QCoreApplication>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

using namespace posix;

namespace {

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
            QCoreApplication::translate("Engine", "Links Not Supported"),
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
        store.copyOut({entry.hash, entry.size, entry.chunks}, destination, entry.executable, durable);
        if (progress)
            progress(entry.size, entry.size);
        return;
    }

    if (const int error = makeSharedFolder(destination))
        throw StorageError::fromErrno(error, destination, QStringLiteral("mkdir"));
    try {
        // Folders come before what they hold, so one pass makes them all.
        QList<qsizetype> files;
        for (qsizetype index = 0; index < manifest.entries.size(); ++index) {
            const ManifestEntry& entry = manifest.entries.at(index);
            const QString path = destination + u'/' + entry.path;
            switch (entry.kind) {
            case ManifestEntry::Kind::directory:
                if (const int error = makeSharedFolder(path))
                    throw StorageError::fromErrno(error, path, QStringLiteral("mkdir"));
                break;
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
                store.copyOut({entry.hash, entry.size, entry.chunks}, destination + u'/' + entry.path, entry.executable,
                              false);
                return entry.size;
            },
            manifest.totalSize(), progress);
        if (durable) {
            // Each file's write-out started as it was written: flushing them all afterwards waits
            // for the disk about once instead of once per file.
            runInParallel(
                files.size(),
                [&](qsizetype job) {
                    syncFileAt(destination + u'/' + manifest.entries.at(files.at(job)).path);
                    return qint64(0);
                },
                0, {});
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

void writeStoredTree(const ContentStore& store, const ContentHash& root, const QString& destination,
                     const TreeProgress& progress)
{
    writeTree(readTree(store, root), store, destination, progress);
}

void writeStoredTreeAtomically(const ContentStore& store, const ContentHash& root, const QString& destination,
                               const TreeProgress& progress)
{
    writeTreeAtomically(readTree(store, root), store, destination, progress);
}

} // namespace vantrel
