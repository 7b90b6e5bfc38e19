#include "engine/storage/change_watcher.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace vantrel {

namespace {

// What is watched on every folder. Links are never followed; events of a file that was
// removed while still open are of no interest.
constexpr quint32 watchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE
                              | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_DONT_FOLLOW | IN_ONLYDIR
                              | IN_EXCL_UNLINK;

QString keyOf(const QString& root)
{
    return QDir::cleanPath(QFileInfo(root).absoluteFilePath());
}

QString joined(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder + u'/' + name;
}

QString describe(const QString& what, int error)
{
    return what + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(error));
}

bool isDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
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
        return describe(QStringLiteral("The type of its file system could not be read"), errno);
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

void ChangeWatcher::readLoop()
{
    for (;;) {
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents != 0)
            return;
        const std::lock_guard lock(m_mutex);
        drainLocked();
    }
}

// Reads every event the kernel has queued and applies it. Queries call this first, so a change
// made before them is never missed because the reading thread had not come to it yet.
void ChangeWatcher::drainLocked()
{
    if (m_fd < 0)
        return;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t length = ::read(m_fd, buffer, sizeof buffer);
        if (length < 0 && errno == EINTR)
            continue;
        if (length <= 0) {
            if (length < 0 && errno != EAGAIN) {
                const QString reason = describe(QStringLiteral("Changes could not be read"), errno);
                for (const QString& key : m_roots.keys())
                    loseLocked(key, reason);
            }
            return;
        }
        for (const char* at = buffer; at < buffer + length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(at);
            const QByteArray name =
                event->len > 0 ? QByteArray(event->name, qsizetype(::strnlen(event->name, event->len))) : QByteArray();
            handleLocked(event->wd, event->mask, name);
            at += sizeof(inotify_event) + event->len;
        }
    }
}

void ChangeWatcher::handleLocked(int wd, quint32 mask, const QByteArray& name)
{
    if (mask & IN_Q_OVERFLOW) {
        for (const QString& key : m_roots.keys())
            loseLocked(key, QStringLiteral("Changes came faster than they could be read (the queue overflowed)."));
        return;
    }
    const auto found = m_folders.constFind(wd);
    if (found == m_folders.cend())
        return; // a watch removed here, whose last events were still queued
    const Folder folder = *found;
    if (mask & (IN_IGNORED | IN_UNMOUNT)) {
        // The kernel ended a watch whose folder was not removed: what happens there is unseen.
        loseLocked(folder.root, QStringLiteral("The watch of “%1” ended.").arg(folder.path));
        return;
    }
    if (mask & (IN_DELETE_SELF | IN_MOVE_SELF)) {
        if (folder.path.isEmpty()) {
            loseLocked(folder.root, QStringLiteral("The working copy was moved or removed."));
        } else if (mask & IN_DELETE_SELF) {
            m_folders.remove(wd);
            m_roots[folder.root].watches.remove(wd);
        }
        return; // a subfolder's removal or move is its parent's change
    }
    m_roots[folder.root].changed.insert(folder.path);
    if (name.isEmpty() || !(mask & IN_ISDIR))
        return;
    const QString childName = QFile::decodeName(name);
    if (QFile::encodeName(childName) != name) {
        loseLocked(folder.root, QStringLiteral("A folder in “%1” has a name that isn’t valid text.").arg(folder.path));
        return;
    }
    const QString child = joined(folder.path, childName);
    if (mask & IN_MOVED_FROM)
        removeTreeLocked(folder.root, child);
    if (mask & (IN_CREATE | IN_MOVED_TO))
        addTreeLocked(folder.root, child, true);
}

// Watches the folder `relative` of the root and every folder below it, listing each after its
// watch is in place: what was made in it before is found by the listing, what comes after by
// the watch. Returns false when the root was lost.
bool ChangeWatcher::addTreeLocked(const QString& rootKey, const QString& relative, bool markChanged)
{
    std::vector<QString> pending{relative};
    while (!pending.empty()) {
        const QString path = pending.back();
        pending.pop_back();
        const QByteArray native = QFile::encodeName(joined(rootKey, path));
        int wd = -1;
        if (m_watchLimit >= 0 && m_folders.size() >= m_watchLimit)
            errno = ENOSPC;
        else
            wd = ::inotify_add_watch(m_fd, native.constData(), watchMask);
        if (wd < 0) {
            const int error = errno;
            if (!path.isEmpty() && (error == ENOENT || error == ENOTDIR))
                continue; // gone again, or replaced by a file or link: its parent has seen that
            loseLocked(rootKey, describe(QStringLiteral("“%1” can’t be watched").arg(path), error));
            return false;
        }
        if (const auto existing = m_folders.constFind(wd);
            existing != m_folders.cend() && (existing->root != rootKey || existing->path != path)) {
            loseLocked(rootKey, QStringLiteral("“%1” is reachable at two places.").arg(path));
            return false;
        }
        Root& root = m_roots[rootKey];
        m_folders.insert(wd, Folder{rootKey, path});
        root.watches.insert(wd);
        if (markChanged)
            root.changed.insert(path);

        const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            const int error = errno;
            if (!path.isEmpty() && (error == ENOENT || error == ENOTDIR || error == ELOOP))
                continue;
            loseLocked(rootKey, describe(QStringLiteral("“%1” can’t be listed").arg(path), error));
            return false;
        }
        // A file system mounted inside the working copy may be one whose changes go unseen.
        struct stat folderStatus {};
        if (::fstat(fd, &folderStatus) != 0 || quint64(folderStatus.st_dev) != root.device) {
            ::close(fd);
            loseLocked(rootKey, QStringLiteral("Another file system is mounted at “%1”.").arg(path));
            return false;
        }
        DIR* listing = ::fdopendir(fd);
        if (!listing) {
            ::close(fd);
            loseLocked(rootKey, describe(QStringLiteral("“%1” can’t be listed").arg(path), ENOMEM));
            return false;
        }
        while (const dirent* entry = ::readdir(listing)) {
            if (isDot(entry->d_name))
                continue;
            bool isFolder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat status {};
                isFolder = ::fstatat(fd, entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(status.st_mode);
            }
            if (!isFolder)
                continue;
            const QByteArray rawName(entry->d_name);
            const QString name = QFile::decodeName(rawName);
            if (QFile::encodeName(name) != rawName) {
                ::closedir(listing);
                loseLocked(rootKey, QStringLiteral("A folder in “%1” has a name that isn’t valid text.").arg(path));
                return false;
            }
            pending.push_back(joined(path, name));
        }
        ::closedir(listing);
    }
    return true;
}

// A folder moved away: its watches go; where it went, if inside a watched folder, is a new one.
void ChangeWatcher::removeTreeLocked(const QString& rootKey, const QString& relative)
{
    Root& root = m_roots[rootKey];
    const QString below = relative + u'/';
    for (auto it = root.watches.begin(); it != root.watches.end();) {
        const QString& path = m_folders.value(*it).path;
        if (path == relative || path.startsWith(below)) {
            ::inotify_rm_watch(m_fd, *it);
            m_folders.remove(*it);
            it = root.watches.erase(it);
        } else {
            ++it;
        }
    }
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
        m_lost.insert(key, describe(QStringLiteral("Changes can’t be watched"), m_initError));
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
