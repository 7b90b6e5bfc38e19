#include "desktop/folder_users.h"

#include "desktop/launched_applications.h"
#include "desktop/proc_files.h"
#include "desktop/process_names.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QThread>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vantrel {

namespace {

// How much of a process's files is read: a command line beyond this is not looked at, nor the
// mapped files of a huge process beyond its first 32 MiB of listing.
constexpr qsizetype commandLineLimit = 256 * 1024;
constexpr qsizetype mapsLimit = 32 * 1024 * 1024;

using proc::ClosingFd;
using proc::linkAt;
using proc::readAt;

QByteArray realPath(const QByteArray& path)
{
    char buffer[PATH_MAX];
    return ::realpath(path.constData(), buffer) ? QByteArray(buffer) : QByteArray();
}

bool isInside(const QByteArray& path, const QByteArray& folder)
{
    return path.startsWith(folder) && (path.size() == folder.size() || path.at(folder.size()) == '/');
}

// A file or folder as the kernel knows it, whatever path a process reaches it by.
using Node = std::pair<quint64, quint64>;

Node nodeOf(const struct stat& status)
{
    return {quint64(status.st_dev), quint64(status.st_ino)};
}

// The folder looked for, as its real path (how the kernel names open files, working directories
// and mapped files) and as it was given (how this program hands out its paths).
class Target {
public:
    explicit Target(const QString& folder)
        : m_given(QFile::encodeName(QDir::cleanPath(QFileInfo(folder).absoluteFilePath()))),
          m_real(realPath(m_given))
    {
        if (m_real.isEmpty())
            m_real = m_given;
        // A path that reaches the folder through another link names the folder or one of its
        // entries on its way: only such arguments are worth resolving.
        m_names << m_given.mid(m_given.lastIndexOf('/') + 1);
        for (const QString& entry :
             QDir(folder).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot))
            m_names << QFile::encodeName(entry);
        // A process in a mount namespace of its own (a sandboxed editor reaching the home folder
        // through a bind mount) names the files by its own paths: the files themselves are
        // compared, by device and inode. Links inside are not followed out of the folder.
        struct stat status {};
        if (::stat(m_real.constData(), &status) == 0)
            m_nodes.insert(nodeOf(status));
        collectNodes(m_given);
    }

    bool isEmpty() const { return m_real.isEmpty() || m_real == "/"; }
    const QByteArray& given() const { return m_given; }
    const QByteArray& real() const { return m_real; }

    bool holds(const QByteArray& kernelPath) const { return !kernelPath.isEmpty() && isInside(kernelPath, m_real); }

    // Whether the magic link `name` of the /proc folder `folder` (an open file, the working
    // directory) leads to the folder or something inside, by its path or by the file itself.
    bool holdsLink(int folder, const char* name) const
    {
        const QByteArray path = linkAt(folder, name);
        if (holds(path))
            return true;
        // Pipes, sockets and the like have no path. The attributes the kernel holds are enough
        // (device and inode do not change): a file on a share that no longer answers is not
        // waited for.
        struct statx status {};
        return path.startsWith('/') && ::statx(folder, name, AT_STATX_DONT_SYNC, STATX_INO, &status) == 0
               && m_nodes.contains({quint64(makedev(status.stx_dev_major, status.stx_dev_minor)), status.stx_ino});
    }

    // Whether the process's list of mappings names a file inside, by the device and inode each
    // line gives ("start-end perms offset major:minor inode path") or by its path.
    bool holdsMapping(const QByteArray& maps) const
    {
        for (const QByteArray& line : maps.split('\n')) {
            const QList<QByteArray> columns = line.simplified().split(' ');
            if (columns.size() < 5)
                continue;
            const QList<QByteArray> device = columns.at(3).split(':');
            bool known = device.size() == 2;
            const unsigned major = known ? device.at(0).toUInt(&known, 16) : 0;
            const unsigned minor = known ? device.at(1).toUInt(&known, 16) : 0;
            const quint64 inode = known ? columns.at(4).toULongLong(&known) : 0;
            if (known && inode != 0 && m_nodes.contains({quint64(makedev(major, minor)), inode}))
                return true;
        }
        for (qsizetype at = maps.indexOf(m_real); at >= 0; at = maps.indexOf(m_real, at + 1)) {
            const qsizetype end = at + m_real.size();
            if (at > 0 && maps.at(at - 1) == ' '
                && (end == maps.size() || maps.at(end) == '/' || maps.at(end) == '\n' || maps.at(end) == ' '))
                return true;
        }
        return false;
    }

    // Whether a command-line argument names a path inside: absolute, relative to the process's
    // working directory `cwd`, or a local "file://" URL.
    bool holdsArgument(QByteArray argument, const QByteArray& cwd) const
    {
        if (argument.startsWith("file://")) {
            const QUrl url = QUrl::fromEncoded(argument);
            if (!url.isLocalFile())
                return false;
            argument = QFile::encodeName(url.toLocalFile());
        }
        if (argument.isEmpty() || argument.startsWith('-'))
            return false;
        if (!argument.startsWith('/')) {
            if (cwd.isEmpty())
                return false;
            argument = cwd + '/' + argument;
        }
        const QByteArray path = QFile::encodeName(QDir::cleanPath(QFile::decodeName(argument)));
        if (isInside(path, m_real) || isInside(path, m_given))
            return true;
        if (!std::any_of(m_names.begin(), m_names.end(), [&](const QByteArray& name) { return path.contains(name); }))
            return false;
        const QByteArray resolved = realPath(path);
        return !resolved.isEmpty() && isInside(resolved, m_real);
    }

private:
    // The device and inode of everything below `folder`, links not followed. Folders are
    // listed side by side: their entries' attributes are mostly not in memory yet.
    void collectNodes(const QByteArray& folder)
    {
        std::mutex mutex;
        std::condition_variable changed;
        QList<QByteArray> folders{folder};
        int busy = 0;
        const auto work = [&] {
            std::unique_lock lock(mutex);
            for (;;) {
                changed.wait(lock, [&] { return !folders.isEmpty() || busy == 0; });
                if (folders.isEmpty())
                    return;
                const QByteArray path = folders.takeLast();
                ++busy;
                lock.unlock();
                QList<QByteArray> below;
                QList<Node> nodes;
                // The folder itself by its path as given; the folders below it never through a link.
                const int fd = ::open(path.constData(),
                                      O_RDONLY | O_DIRECTORY | O_CLOEXEC | (path.size() > folder.size() ? O_NOFOLLOW : 0));
                if (DIR* listing = fd >= 0 ? ::fdopendir(fd) : nullptr) {
                    while (const dirent* entry = ::readdir(listing)) {
                        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                            continue;
                        struct stat status {};
                        if (::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0)
                            continue;
                        nodes.append(nodeOf(status));
                        if (S_ISDIR(status.st_mode))
                            below.append(path + '/' + entry->d_name);
                    }
                    ::closedir(listing);
                } else if (fd >= 0) {
                    ::close(fd);
                }
                lock.lock();
                for (const Node& node : std::as_const(nodes))
                    m_nodes.insert(node);
                folders.append(below);
                --busy;
                changed.notify_all();
            }
        };
        std::vector<std::thread> threads;
        for (int helper = 1; helper < std::clamp(QThread::idealThreadCount(), 1, 8); ++helper)
            threads.emplace_back(work);
        work();
        for (std::thread& thread : threads)
            thread.join();
    }

    QByteArray m_given;
    QByteArray m_real;
    QList<QByteArray> m_names;
    QSet<Node> m_nodes;
};

// Whether the process whose /proc folder is `process` uses the folder. Cheapest looks first.
bool uses(int process, const Target& target)
{
    if (target.holdsLink(process, "cwd"))
        return true;
    const QByteArray cwd = linkAt(process, "cwd");
    const QByteArray commandLine = readAt(process, "cmdline", commandLineLimit);
    for (const QByteArray& argument : commandLine.split('\0')) {
        if (target.holdsArgument(argument, cwd))
            return true;
    }
    const int fds = ::openat(process, "fd", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fds >= 0) {
        DIR* list = ::fdopendir(fds);
        if (!list) {
            ::close(fds);
        } else {
            bool found = false;
            while (const dirent* entry = ::readdir(list)) {
                if (entry->d_name[0] != '.' && target.holdsLink(fds, entry->d_name)) {
                    found = true;
                    break;
                }
            }
            ::closedir(list);
            if (found)
                return true;
        }
    }
    return target.holdsMapping(readAt(process, "maps", mapsLimit));
}

} // namespace

QList<QList<FolderUser>> processesUsingFolders(const QStringList& folders)
{
    std::vector<std::unique_ptr<Target>> targets;
    QList<QList<FolderUser>> users(folders.size());
    for (const QString& folder : folders)
        targets.push_back(std::make_unique<Target>(folder));
    for (qsizetype at = 0; at < folders.size(); ++at) {
        const Target& target = *targets[size_t(at)];
        if (target.isEmpty())
            continue;
        const auto launched = [&](const QString& form) {
            for (const auto& launch : LaunchedApplications::shared().runningInside(form)) {
                if (std::none_of(users[at].begin(), users[at].end(),
                                 [&](const FolderUser& user) { return user.pid == launch.pid; }))
                    users[at].append({launch.pid, launch.applicationName});
            }
        };
        launched(QFile::decodeName(target.given()));
        if (target.real() != target.given())
            launched(QFile::decodeName(target.real()));
    }
    // Whether `pid` is to be looked into for the target at `at`: not one of the applications
    // this program started, found already.
    const auto unknown = [&](qsizetype at, qint64 pid) {
        return !targets[size_t(at)]->isEmpty()
               && std::none_of(users[at].begin(), users[at].end(), [pid](const FolderUser& user) { return user.pid == pid; });
    };

    QList<QByteArray> candidates;
    const qint64 self = ::getpid();
    const ClosingFd proc(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (DIR* listing = proc.get() >= 0 ? ::fdopendir(::dup(proc.get())) : nullptr) {
        while (const dirent* entry = ::readdir(listing)) {
            bool isNumber = false;
            const qint64 pid = QByteArray(entry->d_name).toLongLong(&isNumber);
            if (isNumber && pid != self)
                candidates.append(QByteArray(entry->d_name));
        }
        ::closedir(listing);
    }
    // Most of the time goes to the kernel writing out each process's files and mappings: the
    // processes are looked into side by side, each once for all the folders.
    const size_t count = size_t(folders.size());
    std::vector<char> usesFolder(size_t(candidates.size()) * count, 0);
    std::atomic<qsizetype> next = 0;
    const auto look = [&] {
        for (qsizetype index = next++; index < candidates.size(); index = next++) {
            const qint64 pid = candidates.at(index).toLongLong();
            const ClosingFd process(::openat(proc.get(), candidates.at(index).constData(),
                                             O_RDONLY | O_DIRECTORY | O_CLOEXEC));
            for (size_t at = 0; process.get() >= 0 && at < count; ++at)
                usesFolder[size_t(index) * count + at] =
                    unknown(qsizetype(at), pid) && uses(process.get(), *targets[at]);
        }
    };
    const qsizetype helpers = std::min<qsizetype>(std::clamp(QThread::idealThreadCount(), 1, 8) - 1,
                                                  candidates.size() / 16);
    std::vector<std::thread> threads;
    for (qsizetype helper = 0; helper < helpers; ++helper)
        threads.emplace_back(look);
    look();
    for (std::thread& thread : threads)
        thread.join();
    if (std::none_of(usesFolder.begin(), usesFolder.end(), [](char found) { return found != 0; }))
        return users;
    // Only read when something was found: a few hundred small files.
    const QHash<QString, QString> entries = desktopEntryNames();
    QHash<qint64, QString> launchNames;
    for (const auto& launch : LaunchedApplications::shared().running())
        launchNames.insert(launch.pid, launch.applicationName);
    for (qsizetype index = 0; index < candidates.size(); ++index) {
        const qint64 pid = candidates.at(index).toLongLong();
        std::optional<QString> name;
        for (size_t at = 0; at < count; ++at) {
            if (!usesFolder[size_t(index) * count + at])
                continue;
            if (!name)
                name = applicationName(pid, entries, launchNames);
            users[qsizetype(at)].append({pid, *name});
        }
    }
    return users;
}

QList<FolderUser> processesUsingFolder(const QString& folder)
{
    return processesUsingFolders({folder}).constFirst();
}

} // namespace vantrel
