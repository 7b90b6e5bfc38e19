#include "desktop/proc_files.h"

#include <QFile>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace vantrel::proc {

ClosingFd::~ClosingFd()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

ClosingFd openProcess(qint64 pid)
{
    return ClosingFd(
        ::open(QByteArray("/proc/" + QByteArray::number(pid)).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

QByteArray readAt(int folder, const char* name, qsizetype limit)
{
    const ClosingFd file(::openat(folder, name, O_RDONLY | O_CLOEXEC));
    QByteArray content;
    if (file.get() < 0)
        return content;
    char buffer[65536];
    while (content.size() < limit) {
        const ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        content.append(buffer, n);
    }
    return content;
}

QByteArray linkAt(int folder, const char* name)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlinkat(folder, name, buffer, sizeof buffer);
    return n > 0 ? QByteArray(buffer, n) : QByteArray();
}

qint64 parentAt(int folder)
{
    // "pid (name) state ppid ...": the name may hold spaces and parentheses, the rest does not.
    const QByteArray stat = readAt(folder, "stat", 4096);
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return 0;
    const QList<QByteArray> fields = stat.mid(close + 1).simplified().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() : 0;
}

QString baseName(const QByteArray& path)
{
    QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    if (name.endsWith(" (deleted)"))
        name.chop(10);
    return QFile::decodeName(name);
}

} // namespace vantrel::proc
