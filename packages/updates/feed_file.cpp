#include "packages/updates/feed_file.h"

#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel::updates {

namespace {

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString kindOf(mode_t mode)
{
    if (S_ISFIFO(mode))
        return QStringLiteral("a named pipe (FIFO)");
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    return QStringLiteral("not a regular file");
}

QString tooLarge(qint64 limit)
{
    return QStringLiteral("it is larger than %1 bytes").arg(limit);
}

} // namespace

FeedFileRead readFeedFile(const QString& path, qint64 limit)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    while ((fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC)) < 0 && errno == EINTR) {
    }
    if (fd < 0)
        return {{}, QStringLiteral("it cannot be opened (%1)").arg(systemText(errno))};
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return {{}, QStringLiteral("it cannot be read (%1)").arg(systemText(errno))};
    if (!S_ISREG(info.st_mode))
        return {{}, QStringLiteral("it is %1, not a regular file").arg(kindOf(info.st_mode))};
    if (info.st_size > limit)
        return {{}, tooLarge(limit)};

    // The size may change while it is read: one byte past the limit says it grew too large.
    QByteArray bytes;
    bytes.reserve(qsizetype(info.st_size) + 1);
    char buffer[64 * 1024];
    while (bytes.size() <= limit) {
        const auto wanted = std::min<qint64>(qint64(sizeof buffer), limit + 1 - bytes.size());
        const ssize_t count = ::read(fd, buffer, size_t(wanted));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return {{}, QStringLiteral("it cannot be read (%1)").arg(systemText(errno))};
        if (count == 0)
            break;
        bytes.append(buffer, count);
    }
    if (bytes.size() > limit)
        return {{}, tooLarge(limit)};
    return {bytes, {}};
}

} // namespace vantrel::updates
