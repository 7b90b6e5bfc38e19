// Reading the files of a process's /proc folder, bounded and relative to a descriptor of that
// folder, so that what is read belongs to the process the folder was opened for.

#pragma once

#include <QByteArray>
#include <QString>

namespace vantrel::proc {

// A descriptor closed when it goes out of scope.
class ClosingFd {
public:
    explicit ClosingFd(int fd) : m_fd(fd) {}
    ClosingFd(const ClosingFd&) = delete;
    ClosingFd& operator=(const ClosingFd&) = delete;
    ~ClosingFd();
    int get() const { return m_fd; }

private:
    int m_fd;
};

// The folder /proc/<pid>, opened; -1 inside when the process is gone or can't be looked into.
ClosingFd openProcess(qint64 pid);
// At most `limit` bytes of the file `name` in `folder`; empty when it can't be read.
QByteArray readAt(int folder, const char* name, qsizetype limit);
// Where the link `name` in `folder` points; empty when it can't be read.
QByteArray linkAt(int folder, const char* name);
// The parent of the process whose folder is `folder`, as this program's pid namespace numbers it;
// 0 when it can't be read.
qint64 parentAt(int folder);
// The last part of `path`, without the " (deleted)" the kernel adds to a removed file.
QString baseName(const QByteArray& path);

} // namespace vantrel::proc
