// Reading what the kernel queued and keeping the watches in step with the folders of each
// working copy: folders that appear are watched (and listed), folders moved away are dropped.

#include "engine/storage/change_watcher.h"

#include "engine/storage/storage_error.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vantrel {

namespace {

// What is watched on every folder. Links are never followed; events of a file that was
// removed while still open are of no interest.
constexpr quint32 watchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY | IN_CLOSE_WRITE
                              | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_DONT_FOLLOW | IN_ONLYDIR
                              | IN_EXCL_UNLINK;

QString joined(const QString& folder, const QString& name)
{
    return folder.isEmpty() ? name : folder + u'/' + name;
}

bool isDot(const char* name)
{
    return name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0));
}

} // namespace

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
                const QString reason = QStringLiteral("Changes could not be read: ") + systemErrorText(errno);
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
            loseLocked(rootKey, QStringLiteral("“%1” can’t be watched: %2").arg(path, systemErrorText(error)));
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
            loseLocked(rootKey, QStringLiteral("“%1” can’t be listed: %2").arg(path, systemErrorText(error)));
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
            loseLocked(rootKey, QStringLiteral("“%1” can’t be listed: %2").arg(path, systemErrorText(ENOMEM)));
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

} // namespace vantrel
