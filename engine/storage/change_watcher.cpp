// The watches of working copies: starting and stopping them, what a check-in takes from them,
// and whether a folder is on a file system whose changes this kernel sees.

#include "engine/storage/change_watcher.h"

#include "engine/storage/storage_error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace vantrel {

namespace {

QString keyOf(const QString& root)
{
    return QDir::cleanPath(QFileInfo(root).absoluteFilePath());
}

} // namespace

bool isLocalFileSystemType(quint64 type)
{
    // A short list on purpose: a file system missing here is only walked, never trusted wrongly.
    switch (type) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // xfs
    case 0x9123683E: // btrfs
    case 0x01021994: // tmpfs
    case 0xF2F52010: // f2fs
    case 0x2FC12FC1: // zfs
    case 0xCA451A4E: // bcachefs
        return true;
    default:
        return false;
    }
}

std::optional<QString> whyNotLocalFileSystem(const QString& path)
{
    struct statfs status {};
    if (::statfs(QFile::encodeName(path).constData(), &status) != 0)
        return QStringLiteral("The type of its file system could not be read: ") + systemErrorText(errno);
    const auto type = quint64(quint32(status.f_type));
    if (isLocalFileSystemType(type))
        return std::nullopt;
    return QStringLiteral("It is on a file system (type 0x%1) that other computers or mounts may change unseen.")
        .arg(type, 0, 16);
}

std::shared_ptr<ChangeWatcher> ChangeWatcher::shared()
{
    static std::mutex mutex;
    static std::weak_ptr<ChangeWatcher> current;
    const std::lock_guard lock(mutex);
    auto watcher = current.lock();
    if (!watcher) {
        watcher = std::make_shared<ChangeWatcher>();
        current = watcher;
    }
    return watcher;
}

ChangeWatcher::ChangeWatcher()
{
    m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0) {
        m_initError = errno;
        return;
    }
    m_stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_stopFd < 0) {
        m_initError = errno;
        ::close(m_fd);
        m_fd = -1;
        return;
    }
    m_reader = std::thread([this] { readLoop(); });
}

ChangeWatcher::~ChangeWatcher()
{
    if (m_reader.joinable()) {
        const quint64 one = 1;
        [[maybe_unused]] const auto written = ::write(m_stopFd, &one, sizeof one);
        m_reader.join();
    }
    if (m_stopFd >= 0)
        ::close(m_stopFd);
    if (m_fd >= 0)
        ::close(m_fd);
}

void ChangeWatcher::forgetLocked(const QString& rootKey)
{
    const auto found = m_roots.constFind(rootKey);
    if (found == m_roots.cend())
        return;
    for (const int wd : found->watches) {
        ::inotify_rm_watch(m_fd, wd);
        m_folders.remove(wd);
    }
    m_roots.erase(found);
}

void ChangeWatcher::loseLocked(const QString& rootKey, const QString& reason)
{
    forgetLocked(rootKey);
    m_lost.insert(rootKey, reason);
}

// The root, when its watch is still continuous: the folder at its path must still be the one
// watched (a folder moved into its place, after the working copy's own folder was moved with
// its parent, would otherwise pass for it).
ChangeWatcher::Root* ChangeWatcher::continuousLocked(const QString& rootKey)
{
    drainLocked();
    const auto found = m_roots.find(rootKey);
    if (found == m_roots.end())
        return nullptr;
    struct stat status {};
    const QByteArray native = QFile::encodeName(rootKey);
    if (::lstat(native.constData(), &status) != 0 || !S_ISDIR(status.st_mode) || quint64(status.st_dev) != found->device
        || quint64(status.st_ino) != found->inode) {
        loseLocked(rootKey, QStringLiteral("The working copy was replaced."));
        return nullptr;
    }
    return &*found;
}

bool ChangeWatcher::watch(const QString& root, const QString& base, const void* owner)
{
    const QString key = keyOf(root);
    const std::lock_guard lock(m_mutex);
    drainLocked();
    forgetLocked(key);
    m_lost.remove(key);
    if (m_fd < 0) {
        m_lost.insert(key, QStringLiteral("Changes can’t be watched: ") + systemErrorText(m_initError));
        return false;
    }
    struct stat status {};
    const QByteArray native = QFile::encodeName(key);
    if (::lstat(native.constData(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        m_lost.insert(key, QStringLiteral("The working copy isn’t a folder."));
        return false;
    }
    if (const auto notLocal = whyNotLocalFileSystem(key)) {
        m_lost.insert(key, *notLocal);
        return false;
    }
    Root& added = m_roots[key];
    added.base = base;
    added.generation = m_nextGeneration++;
    added.owner = owner;
    added.device = quint64(status.st_dev);
    added.inode = quint64(status.st_ino);
    return addTreeLocked(key, QString(), false);
}

void ChangeWatcher::unwatch(const QString& root)
{
    const QString key = keyOf(root);
    const std::lock_guard lock(m_mutex);
    forgetLocked(key);
    m_lost.remove(key);
}

std::function<void()> ChangeWatcher::release(const QString& root)
{
    const QString key = keyOf(root);
    const std::lock_guard lock(m_mutex);
    m_lost.remove(key);
    const auto found = m_roots.constFind(key);
    if (found == m_roots.cend())
        return [] {};
    // The job removes the watches through a descriptor of its own of the same instance.
    const int fd = ::fcntl(m_fd, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        forgetLocked(key);
        return [] {};
    }
    const QList<int> watches(found->watches.cbegin(), found->watches.cend());
    for (const int wd : watches)
        m_folders.remove(wd);
    m_roots.erase(found);
    // Their last events, and the kernel's word that each ended, are ignored: the watches are
    // not known here any more.
    const auto descriptor = std::shared_ptr<int>(new int(fd), [](int* owned) {
        ::close(*owned);
        delete owned;
    });
    return [descriptor, watches] {
        for (const int wd : watches)
            ::inotify_rm_watch(*descriptor, wd);
    };
}

void ChangeWatcher::unwatchAll(const void* owner)
{
    const std::lock_guard lock(m_mutex);
    for (const QString& key : m_roots.keys()) {
        if (m_roots.value(key).owner == owner)
            forgetLocked(key);
    }
}

std::optional<QSet<QString>> ChangeWatcher::changedFolders(const QString& root)
{
    const std::lock_guard lock(m_mutex);
    if (const Root* found = continuousLocked(keyOf(root)))
        return found->changed;
    return std::nullopt;
}

std::optional<QString> ChangeWatcher::whyNotWatched(const QString& root) const
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_lost.constFind(keyOf(root));
    if (found == m_lost.cend())
        return std::nullopt;
    return *found;
}

std::optional<ChangeWatcher::Taken> ChangeWatcher::take(const QString& root)
{
    const std::lock_guard lock(m_mutex);
    Root* found = continuousLocked(keyOf(root));
    if (!found)
        return std::nullopt;
    return Taken{found->base, std::exchange(found->changed, {}), found->generation};
}

void ChangeWatcher::putBack(const QString& root, const Taken& taken)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_roots.find(keyOf(root));
    if (found != m_roots.end() && found->generation == taken.generation)
        found->changed += taken.folders;
}

void ChangeWatcher::settle(const QString& root, const Taken& taken, const QString& newBase)
{
    const std::lock_guard lock(m_mutex);
    const auto found = m_roots.find(keyOf(root));
    if (found != m_roots.end() && found->generation == taken.generation)
        found->base = newBase;
}

void ChangeWatcher::simulateOverflowForTesting()
{
    const std::lock_guard lock(m_mutex);
    drainLocked();
    handleLocked(-1, IN_Q_OVERFLOW, QByteArray());
}

int ChangeWatcher::kernelWatchesForTesting() const
{
    QFile info(QStringLiteral("/proc/self/fdinfo/%1").arg(m_fd));
    if (!info.open(QIODevice::ReadOnly))
        return -1;
    int count = 0;
    for (const QByteArray& line : info.readAll().split('\n'))
        count += line.startsWith("inotify wd:") ? 1 : 0;
    return count;
}

void ChangeWatcher::setWatchLimitForTesting(int limit)
{
    const std::lock_guard lock(m_mutex);
    m_watchLimit = limit;
}

} // namespace vantrel
