#include "engine/storage/atomic_file.h"

#include "engine/storage/shared_folders.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace posix {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

UniqueFd::~UniqueFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

void UniqueFd::close(const QString& path)
{
    const int fd = std::exchange(m_fd, -1);
    if (fd < 0)
        return;
    // Linux releases the descriptor even when close() is interrupted, so EINTR is not retried.
    if (::close(fd) != 0 && errno != EINTR)
        throw StorageError::fromErrno(errno, path, QStringLiteral("close"));
}

QByteArray nativePath(const QString& path)
{
    return QFile::encodeName(path);
}

QString parentPath(const QString& path)
{
    QStringView view(path);
    while (view.size() > 1 && view.endsWith(u'/'))
        view.chop(1);
    const auto slash = view.lastIndexOf(u'/');
    if (slash < 0)
        return QStringLiteral(".");
    if (slash == 0)
        return QStringLiteral("/");
    return view.first(slash).toString();
}

QString randomToken()
{
    return QString::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, u'0');
}

QString temporarySiblingPath(const QString& path)
{
    return parentPath(path) + QStringLiteral("/.tmp-") + randomToken();
}

UniqueFd openFile(const QString& path, int flags, mode_t mode, const QString& pathForErrors)
{
    const QByteArray native = nativePath(path);
    int fd;
    do {
        fd = ::open(native.constData(), flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw StorageError::fromErrno(errno, pathForErrors, QStringLiteral("open"));
    // A file made here, never one that was there: in a team bundle shared with its group, the
    // group may write it whatever this user's umask.
    if ((flags & (O_CREAT | O_EXCL)) == (O_CREAT | O_EXCL))
        shareCreatedFile(fd, path);
    return UniqueFd(fd);
}

UniqueFd openRegularFile(const QString& path, struct stat& status, const QString& pathForErrors)
{
    UniqueFd fd;
    try {
        fd = openFile(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK, 0, pathForErrors);
    } catch (const StorageError& error) {
        // A symbolic link (ELOOP), or a socket or device that can't be opened (ENXIO, ENODEV).
        if (error.systemError() == ELOOP || error.systemError() == ENXIO || error.systemError() == ENODEV)
            throw StorageError::notRegularFile(pathForErrors);
        throw;
    }
    if (::fstat(fd.get(), &status) != 0)
        throw StorageError::fromErrno(errno, pathForErrors, QStringLiteral("fstat"));
    if (!S_ISREG(status.st_mode))
        throw StorageError::notRegularFile(pathForErrors);
    // Reads of a regular file never block; the flag only guarded the open.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0)
        ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

size_t readSome(int fd, char* buffer, size_t size, const QString& pathForErrors)
{
    for (;;) {
        const ssize_t count = ::read(fd, buffer, size);
        if (count >= 0)
            return static_cast<size_t>(count);
        if (errno != EINTR)
            throw StorageError::fromErrno(errno, pathForErrors, QStringLiteral("read"));
    }
}

void writeAll(int fd, const char* data, size_t size, const QString& pathForErrors)
{
    while (size > 0) {
        const ssize_t count = ::write(fd, data, size);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            throw StorageError::fromErrno(errno, pathForErrors, QStringLiteral("write"));
        }
        if (count == 0) // Not expected of a regular file; don't spin.
            throw StorageError::fromErrno(EIO, pathForErrors, QStringLiteral("write"));
        data += count;
        size -= static_cast<size_t>(count);
    }
}

void syncFile(int fd, const QString& pathForErrors)
{
    int result;
    do {
        result = ::fsync(fd);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        throw StorageError::fromErrno(errno, pathForErrors, QStringLiteral("fsync"));
}

void syncFileAt(const QString& path)
{
    const QByteArray native = nativePath(path);
    // Any descriptor will do: one for writing where the file can't be read.
    int fd = ::open(native.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EACCES)
        fd = ::open(native.constData(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw StorageError::fromErrno(errno, path, QStringLiteral("open"));
    UniqueFd file(fd);
    syncFile(file.get(), path);
    file.close(path);
}

void startWriteBack(int fd) noexcept
{
    while (::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE) != 0 && errno == EINTR) {
    }
}

void renameFile(const QString& from, const QString& to, const QString& pathForErrors,
                std::chrono::milliseconds heldOpen)
{
    const QByteArray nativeFrom = nativePath(from);
    const QByteArray nativeTo = nativePath(to);
    int error = retryWhileHeldOpen(heldOpen, true, [&] {
        int result;
        do {
            result = ::rename(nativeFrom.constData(), nativeTo.constData());
        } while (result != 0 && errno == EINTR);
        return result == 0 ? 0 : errno;
    });
    if (error == EPERM) {
        // Not a question of permission on the shares where it happens: the SFTP server behind an
        // sshfs mount lacks posix-rename and refuses to rename over an existing file.
        throw StorageError(
            StorageError::Kind::io, pathForErrors,
            QCoreApplication::translate("Engine", "“%1” couldn’t be replaced: the share refuses to rename a file "
                                                  "over an existing one. On an sshfs mount, mount it with the "
                                                  "option “-o workaround=rename”.")
                .arg(shownPath(pathForErrors)),
            QCoreApplication::translate("Engine", "Couldn’t Replace a File"),
            QCoreApplication::translate("Engine",
                                        "The share refuses to rename a file over an existing one. On an sshfs mount, "
                                        "mount it with the option “-o workaround=rename”."),
            EPERM);
    }
    // The file is there, and still in use elsewhere: "it exists" would say something untrue.
    if (error == EEXIST)
        error = EBUSY;
    if (error != 0)
        throw StorageError::fromErrno(error, pathForErrors, QStringLiteral("rename"));
}

void removeFileQuietly(const QString& path) noexcept
{
    const QByteArray native = nativePath(path);
    while (::unlink(native.constData()) != 0 && errno == EINTR) {
    }
}

QByteArray readByName(const QString& path, const std::function<QByteArray()>& read)
{
    constexpr int attempts = 3;
    for (int attempt = 1;; ++attempt) {
        try {
            return read();
        } catch (const StorageError& error) {
            if (error.systemError() != ESTALE)
                throw;
            if (attempt == attempts)
                throw StorageError::notFound(path, ESTALE, QStringLiteral("read"));
        }
    }
}

namespace {

// Removes the entry `name` of the folder `folder`, descending into folders (never into links).
void removeEntryAt(int folder, const char* name) noexcept
{
    struct stat status {};
    if (::fstatat(folder, name, &status, AT_SYMLINK_NOFOLLOW) != 0)
        return;
    if (!S_ISDIR(status.st_mode)) {
        ::unlinkat(folder, name, 0);
        return;
    }
    const int fd = ::openat(folder, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) {
        if (DIR* listing = ::fdopendir(fd)) {
            while (const dirent* entry = ::readdir(listing)) {
                const char* child = entry->d_name;
                if (child[0] == '.' && (child[1] == 0 || (child[1] == '.' && child[2] == 0)))
                    continue;
                removeEntryAt(::dirfd(listing), child);
            }
            ::closedir(listing);
        } else {
            ::close(fd);
        }
    }
    ::unlinkat(folder, name, AT_REMOVEDIR);
}

} // namespace

void removeTreeQuietly(const QString& path) noexcept
{
    try {
        const QByteArray native = nativePath(path);
        removeEntryAt(AT_FDCWD, native.constData());
    } catch (...) {
        // Encoding the name can only fail on allocation; there is nothing more to clean up then.
    }
}

} // namespace posix

using namespace posix;

void writeFileAtomically(const QString& path, const QByteArray& data, Durability durability,
                         std::chrono::milliseconds heldOpen)
{
    const QString temporary = temporarySiblingPath(path);
    UniqueFd fd = openFile(temporary, O_WRONLY | O_CREAT | O_EXCL, 0666, path);
    try {
        writeAll(fd.get(), data.constData(), static_cast<size_t>(data.size()), path);
        if (durability == Durability::durable)
            syncFile(fd.get(), path);
        fd.close(path);
        renameFile(temporary, path, path, heldOpen);
    } catch (...) {
        fd = UniqueFd();
        removeFileQuietly(temporary);
        throw;
    }
    if (durability == Durability::durable)
        fsyncDirectory(parentPath(path));
}

namespace {

QByteArray readWholeFileOnce(const QString& path, qint64 maxSize)
{
    struct stat status {};
    UniqueFd fd = openRegularFile(path, status, path);
    if (status.st_size > maxSize)
        throw StorageError::tooLarge(path, status.st_size, maxSize);

    // The size is a hint only: the file may grow or shrink while it is read. One byte more than
    // the limit tells a file that grew past it.
    const qsizetype bound = static_cast<qsizetype>(maxSize) + 1;
    QByteArray data;
    data.resize(std::min<qsizetype>(bound, std::max<qsizetype>(static_cast<qsizetype>(status.st_size) + 1, 4096)));
    qsizetype used = 0;
    for (;;) {
        if (used == data.size()) {
            if (used >= bound)
                throw StorageError::tooLarge(path, -1, maxSize);
            data.resize(std::min<qsizetype>(bound, data.size() * 2));
        }
        const size_t count = readSome(fd.get(), data.data() + used, static_cast<size_t>(data.size() - used), path);
        if (count == 0)
            break;
        used += static_cast<qsizetype>(count);
    }
    if (used > maxSize)
        throw StorageError::tooLarge(path, -1, maxSize);
    data.truncate(used);
    fd.close(path);
    return data;
}

} // namespace

QByteArray readWholeFile(const QString& path, qint64 maxSize)
{
    return readByName(path, [&] { return readWholeFileOnce(path, maxSize); });
}

bool publishFileExclusively(const QString& path, const QByteArray& data)
{
    const QString temporary = temporarySiblingPath(path);
    const QByteArray nativeTemporary = nativePath(temporary);
    const QByteArray nativeTarget = nativePath(path);
    bool published = false;
    bool linksUnsupported = false;
    {
        UniqueFd fd = openFile(temporary, O_WRONLY | O_CREAT | O_EXCL, 0666, path);
        try {
            writeAll(fd.get(), data.constData(), static_cast<size_t>(data.size()), path);
            syncFile(fd.get(), path);
            fd.close(path);
        } catch (...) {
            fd = UniqueFd();
            removeFileQuietly(temporary);
            throw;
        }
        int result;
        do {
            result = ::link(nativeTemporary.constData(), nativeTarget.constData());
        } while (result != 0 && errno == EINTR);
        const int linkError = result == 0 ? 0 : errno;
        if (linkError == 0) {
            published = true;
        } else {
            // Over NFS a link can be made by the server while its reply is lost, and the
            // retried request then fails; the link count of the temporary file tells.
            struct stat status {};
            if (::stat(nativeTemporary.constData(), &status) == 0 && status.st_nlink == 2) {
                published = true;
            } else if (isLinkUnsupportedError(linkError)) {
                linksUnsupported = true;
            } else if (linkError != EEXIST) {
                removeFileQuietly(temporary);
                throw StorageError::fromErrno(linkError, path, QStringLiteral("link"));
            }
        }
        removeFileQuietly(temporary);
    }

    if (linksUnsupported) {
        int fd;
        do {
            fd = ::open(nativeTarget.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            if (errno == EEXIST)
                return false;
            throw StorageError::fromErrno(errno, path, QStringLiteral("open"));
        }
        shareCreatedFile(fd, path);
        UniqueFd target(fd);
        try {
            writeAll(target.get(), data.constData(), static_cast<size_t>(data.size()), path);
            syncFile(target.get(), path);
            target.close(path);
        } catch (...) {
            // The file is ours: nobody else could create it. Leave no partial record behind.
            target = UniqueFd();
            removeFileQuietly(path);
            throw;
        }
        published = true;
    }

    if (published)
        fsyncDirectory(parentPath(path));
    return published;
}

bool isLinkUnsupportedError(int error)
{
    return error == EPERM || error == EOPNOTSUPP || error == ENOSYS || error == EXDEV || error == EMLINK;
}

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
