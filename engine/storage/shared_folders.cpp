#include "engine/storage/shared_folders.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace vantrel {

namespace {

struct Known {
    QString root;
    FolderSharing sharing;
    int count;
};

std::mutex knownMutex;
QList<Known> known;
// How many known bundles are shared with their group: most processes have none, and then no
// created file costs a look at the list.
std::atomic<int> groupShared{0};

bool holds(const QString& root, const QString& path)
{
    return path.size() == root.size() ? path == root
                                      : path.size() > root.size() && path.startsWith(root) && path[root.size()] == u'/';
}

bool sharedWithGroup(const QString& path)
{
    if (groupShared.load(std::memory_order_relaxed) == 0)
        return false;
    std::lock_guard lock(knownMutex);
    for (const Known& entry : std::as_const(known)) {
        if (entry.sharing == FolderSharing::group && holds(entry.root, path))
            return true;
    }
    return false;
}

// The owner's permissions given to the group too, and the setgid bit for a folder.
mode_t sharedMode(mode_t mode, bool folder)
{
    mode_t shared = (mode & 07777) | ((mode & S_IRWXU) >> 3);
    if (folder)
        shared |= S_ISGID;
    return shared;
}

void share(int fd, bool folder) noexcept
{
    struct stat status {};
    if (::fstat(fd, &status) != 0)
        return;
    const mode_t wanted = sharedMode(status.st_mode, folder);
    if (wanted != (status.st_mode & 07777))
        ::fchmod(fd, wanted);
}

} // namespace

FolderSharing sharingOfFolder(const QString& folder)
{
    struct stat status {};
    if (::stat(QFile::encodeName(folder).constData(), &status) != 0)
        return FolderSharing::umask;
    return (status.st_mode & (S_IWGRP | S_ISGID)) != 0 ? FolderSharing::group : FolderSharing::umask;
}

std::optional<FolderSharing> sharingRecorded(const QJsonValue& value)
{
    if (value.isUndefined())
        return FolderSharing::umask;
    for (const FolderSharing sharing : {FolderSharing::group, FolderSharing::umask}) {
        if (value.isString() && value.toString() == sharingName(sharing))
            return sharing;
    }
    return std::nullopt;
}

QString sharingName(FolderSharing sharing)
{
    return sharing == FolderSharing::group ? QStringLiteral("group") : QStringLiteral("umask");
}

SharedFolder::SharedFolder(QString root, FolderSharing sharing) : m_root(QDir::cleanPath(root)), m_sharing(sharing)
{
    std::lock_guard lock(knownMutex);
    for (Known& entry : known) {
        if (entry.root == m_root && entry.sharing == m_sharing) {
            ++entry.count;
            return;
        }
    }
    known.append(Known{m_root, m_sharing, 1});
    if (m_sharing == FolderSharing::group)
        ++groupShared;
}

SharedFolder::~SharedFolder()
{
    std::lock_guard lock(knownMutex);
    for (qsizetype i = 0; i < known.size(); ++i) {
        Known& entry = known[i];
        if (entry.root != m_root || entry.sharing != m_sharing)
            continue;
        if (--entry.count == 0) {
            known.removeAt(i);
            if (m_sharing == FolderSharing::group)
                --groupShared;
        }
        return;
    }
}

void shareCreatedFile(int fd, const QString& path) noexcept
{
    try {
        if (fd >= 0 && sharedWithGroup(path))
            share(fd, false);
    } catch (...) {
        // Only allocation can fail here; the file stays as it was made.
    }
}

void shareCreatedFolder(const QString& path) noexcept
{
    try {
        if (!sharedWithGroup(path))
            return;
        // Through a descriptor of the folder itself: a link put in its place is not followed.
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return;
        share(fd, true);
        ::close(fd);
    } catch (...) {
    }
}

void shareCreatedFolder(int fd, const QString& path) noexcept
{
    try {
        if (fd >= 0 && sharedWithGroup(path))
            share(fd, true);
    } catch (...) {
    }
}

int makeSharedFolder(const QString& path, mode_t mode) noexcept
{
    try {
        const QByteArray native = QFile::encodeName(path);
        int result;
        do {
            result = ::mkdir(native.constData(), mode);
        } while (result != 0 && errno == EINTR);
        if (result != 0)
            return errno;
        shareCreatedFolder(path);
        return 0;
    } catch (...) {
        return ENOMEM;
    }
}

void adoptGroupOf(const QString& folder, const QString& from) noexcept
{
    try {
        struct stat source {};
        if (::stat(QFile::encodeName(from).constData(), &source) != 0)
            return;
        const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0)
            return;
        struct stat status {};
        // Refused unless this user is a member of that group: the folder then keeps its own.
        if (::fstat(fd, &status) == 0 && status.st_gid != source.st_gid && ::fchown(fd, uid_t(-1), source.st_gid) == 0)
            share(fd, true); // a change of group may have cleared the setgid bit
        ::close(fd);
    } catch (...) {
    }
}

QString teamBundleRootOf(const QString& path)
{
    std::lock_guard lock(knownMutex);
    for (const Known& entry : std::as_const(known)) {
        if (holds(entry.root, path))
            return entry.root;
    }
    return {};
}

QString shownPath(const QString& path)
{
    const QString root = teamBundleRootOf(path);
    if (root.isEmpty() || root == path)
        return QDir::toNativeSeparators(path);
    // From the bundle's own name on: "Team.vantrelteam/locks/….lock".
    const qsizetype slash = root.lastIndexOf(u'/');
    return QDir::toNativeSeparators(path.mid(slash + 1));
}

} // namespace vantrel
