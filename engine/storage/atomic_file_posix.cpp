// The system-call helpers of the storage code (posix::): descriptors, reads and writes that
// retry when interrupted, renames that wait for a file another client holds open.

#include "engine/storage/atomic_file.h"

#include "engine/storage/shared_folders.h"

#include <QCoreApplication>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::posix {

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

} // namespace vantrel::posix
