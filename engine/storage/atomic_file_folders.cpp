// Folders: made (never a team bundle's that is gone) and made durable.

#include "engine/storage/atomic_file.h"

#include "engine/storage/shared_folders.h"

#include <QCoreApplication>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

using namespace posix;

namespace {

const QLatin1String teamBundleSuffix(".vantrelteam");

bool isFolder(const QByteArray& native)
{
    struct stat status {};
    return ::stat(native.constData(), &status) == 0 && S_ISDIR(status.st_mode);
}

StorageError unreachableTeamBundle(const QString& bundle)
{
    return StorageError(
        StorageError::Kind::io, bundle,
        QCoreApplication::translate("Engine", "The team bundle at “%1” can’t be reached.").arg(bundle),
        QCoreApplication::translate(
            "Engine", "Its folder isn’t there: the share may be disconnected, or the folder was moved or deleted."),
        QCoreApplication::translate("Engine", "Check the connection to the share, then try again."), ENOENT);
}

} // namespace

void ensureDirectory(const QString& path)
{
    const QByteArray native = nativePath(path);
    // A team bundle's folder is never made here, and its own folders only inside a bundle that
    // is there (its marker says so): mkdir -p below a share that was unmounted would make them on
    // the mount point, and what is written there would never reach the team.
    const QString parent = parentPath(path);
    if (path.endsWith(teamBundleSuffix) || parent.endsWith(teamBundleSuffix)) {
        if (isFolder(native))
            return;
        const QString bundle = path.endsWith(teamBundleSuffix) ? path : parent;
        struct stat marker {};
        if (bundle == path || ::lstat(nativePath(bundle + QStringLiteral("/team.json")).constData(), &marker) != 0)
            throw unreachableTeamBundle(bundle);
    }
    int error = makeSharedFolder(path);
    if (error == 0) {
        fsyncDirectory(parentPath(path));
        return;
    }
    if (error == ENOENT) {
        if (parent == path)
            throw StorageError::fromErrno(error, path, QStringLiteral("mkdir"));
        ensureDirectory(parent);
        error = makeSharedFolder(path);
        if (error == 0) {
            fsyncDirectory(parent);
            return;
        }
    }
    // Another process may have made it in between; anything else is in the way.
    struct stat status {};
    if (::stat(native.constData(), &status) == 0) {
        if (S_ISDIR(status.st_mode))
            return;
        throw StorageError::fromErrno(EEXIST, path, QStringLiteral("mkdir"));
    }
    throw StorageError::fromErrno(error, path, QStringLiteral("mkdir"));
}

void fsyncDirectory(const QString& path)
{
    UniqueFd fd = openFile(path, O_RDONLY | O_DIRECTORY, 0, path);
    int result;
    do {
        result = ::fsync(fd.get());
    } while (result != 0 && errno == EINTR);
    // Some file systems (SMB among them) can't sync a folder and say so; that's not a failure.
    if (result != 0 && errno != EINVAL && errno != ENOTSUP && errno != EOPNOTSUPP && errno != EBADF)
        throw StorageError::fromErrno(errno, path, QStringLiteral("fsync"));
    fd.close(path);
}

} // namespace vantrel
