// Whole files: written atomically, read within a bound, published only where nothing is yet.

#include "engine/storage/atomic_file.h"

#include "engine/storage/shared_folders.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

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

bool publishFileExclusively(const QString& path, const QByteArray& data, const std::function<bool()>& mayPublish)
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
        if (mayPublish && !mayPublish()) {
            removeFileQuietly(temporary);
            return false;
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
        if (mayPublish && !mayPublish())
            return false;
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

} // namespace vantrel
